#include "app/WebMessage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace nebrin::web;

namespace {

std::vector<Message> DecodeAll(Decoder& d) {
    std::vector<Message> out;
    Message m;
    while (d.Next(m) == Decoder::Result::Message) out.push_back(m);
    return out;
}

const std::vector<Message> kSamples = {
    {Kind::Hello, {4242}, ""},
    {Kind::Heartbeat, {}, ""},
    {Kind::EmbedPane, {0x1e00007, 10, 24, -1, 1LL << 40}, ""},
    {Kind::Navigate, {}, "/home/ola/moje strony/offline.html"},
    {Kind::ShowPopup, {77, 330, 222}, std::string("http://x/?a=\0b\xff", 16)},
    {Kind::PaneLoaded, {0}, ""},
    {Kind::PlacePopup, {77, 400, 300}, ""},
    {Kind::PageContent, {1, 7}, std::string("\0\x0c\0Rozłączony", 15)},
    {Kind::FollowLink, {0, 7, 3}, ""},
    {Kind::MarkLink, {1, 7, -1}, ""},
};

}  // namespace

TEST(WebMessageTest, RoundTripWholeAndByteByByte) {
    std::string stream;
    for (const Message& m : kSamples) {
        const std::string frame = Encode(m);
        ASSERT_FALSE(frame.empty());
        stream += frame;
    }
    Decoder whole;
    whole.Feed(stream);
    EXPECT_EQ(DecodeAll(whole), kSamples);

    // A frame cut anywhere waits for the rest.
    Decoder trickle;
    std::vector<Message> got;
    for (char c : stream) {
        trickle.Feed(std::string_view(&c, 1));
        for (Message& m : DecodeAll(trickle)) got.push_back(m);
    }
    EXPECT_EQ(got, kSamples);
    Message m;
    EXPECT_EQ(trickle.Next(m), Decoder::Result::NeedMore);
}

TEST(WebMessageTest, EncodeRefusesWhatTheOtherSideWouldRefuse) {
    EXPECT_TRUE(Encode({Kind::EmbedPane, {1, 2}, ""}).empty());  // too few numbers
    EXPECT_TRUE(Encode({Kind::Heartbeat, {1}, ""}).empty());     // one too many
    EXPECT_TRUE(Encode({static_cast<Kind>(99), {}, ""}).empty());
    EXPECT_TRUE(Encode({Kind::Navigate, {}, std::string(kMaxPayload, 'a')}).empty());
    EXPECT_FALSE(Encode({Kind::Navigate, {}, std::string(kMaxPayload - 2, 'a')}).empty());
}

TEST(WebMessageTest, BadFramesBreakTheStreamForGood) {
    const std::string good = Encode({Kind::Heartbeat, {}, ""});
    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"zero length", std::string("\0\0\0\0", 4)},
        {"one byte payload", std::string("\1\0\0\0\2", 5)},
        {"over the limit", std::string("\x01\x00\x01\x00", 4)},  // 65537
        {"huge", std::string("\xff\xff\xff\xff", 4)},
        {"unknown kind", std::string("\2\0\0\0\x63\0", 6)},
        {"wrong count", std::string("\2\0\0\0\x02\x01", 6)},
        {"numbers past the payload", std::string("\3\0\0\0\x01\x01\0", 7)},
    };
    for (const Case& c : cases) {
        Decoder d;
        d.Feed(good + c.bytes + good);
        Message m;
        EXPECT_EQ(d.Next(m), Decoder::Result::Message) << c.what;
        EXPECT_EQ(d.Next(m), Decoder::Result::Broken) << c.what;
        EXPECT_FALSE(d.Error().empty()) << c.what;
        d.Feed(good);
        EXPECT_EQ(d.Next(m), Decoder::Result::Broken) << c.what;
    }
}
