#include "app/PageReading.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using nebrin::web::DecodePage;
using nebrin::web::EncodePage;
using nebrin::web::kMaxLinkTarget;
using nebrin::web::kMaxPageBytes;
using nebrin::web::kMaxPagePieces;
using nebrin::web::kMaxPieceText;
using nebrin::web::PagePiece;
using nebrin::web::PageText;

namespace {

std::vector<PagePiece> RoundTrip(const std::vector<PagePiece>& pieces) {
    std::string why;
    const auto back = DecodePage(EncodePage(pieces), &why);
    EXPECT_TRUE(back) << why;
    return back.value_or(std::vector<PagePiece>{});
}

// One piece as nebrin-web would put it, whatever the text and address hold.
std::string Raw(unsigned char kind, const std::string& text, const std::string* target = nullptr) {
    std::string out(1, static_cast<char>(kind));
    auto put = [&out](const std::string& s) {
        out.push_back(static_cast<char>(s.size() & 0xFF));
        out.push_back(static_cast<char>(s.size() >> 8));
        out += s;
    };
    put(text);
    if (target) put(*target);
    return out;
}

}  // namespace

TEST(PageReadingTest, RoundTripKeepsOrderTextsAndLinks) {
    const std::vector<PagePiece> page = {
        {"Rozłączony", ""},
        {"Naciśnij przycisk zasilania, aby połączyć się z Internetem.", ""},
        {"Pomoc techniczna", "https://example.net/pomoc?a=1&b=ż"},
        {"Skrót klawiszowy: Shift+F1", ""},
        {"Regulamin", "file:///usr/share/nebrin/html/regulamin.html"},
    };
    EXPECT_EQ(RoundTrip(page), page);
    EXPECT_EQ(PageText(page).rfind("Rozłączony Naciśnij", 0), 0u);
    EXPECT_EQ(RoundTrip({}), std::vector<PagePiece>{});
}

TEST(PageReadingTest, SenderCleansWhatTheReceiverWouldRefuse) {
    const std::string longTarget = "https://x/" + std::string(kMaxLinkTarget, 'a');
    struct Case {
        const char* what;
        PagePiece in;
        std::vector<PagePiece> out;
    } cases[] = {
        {"controls and runs of blanks",
         {"  a\t\tb\r\n\x7f"
          "c\xc2\x85 ",
          ""},
         {{"a b c", ""}}},
        {"invalid bytes", {"z\xff\xc3", ""}, {{"z", ""}}},
        {"blank piece dropped", {" \n\t ", "https://x/"}, {}},
        {"address with a space: plain text", {"Link", "https://x/a b"}, {{"Link", ""}}},
        {"address with a newline: plain text", {"Link", "https://x/\nb"}, {{"Link", ""}}},
        {"address too long: plain text", {"Link", longTarget}, {{"Link", ""}}},
    };
    for (const Case& c : cases) EXPECT_EQ(RoundTrip({c.in}), c.out) << c.what;

    // A long text is cut between characters, within the limit.
    const std::string polish(kMaxPieceText, 'x');
    const auto cut = RoundTrip({{"ą" + polish, ""}});
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_LE(cut[0].text.size(), kMaxPieceText);
    EXPECT_EQ(cut[0].text.rfind("ą", 0), 0u);

    // Too many pieces, or too many bytes: the first ones go, in order.
    std::vector<PagePiece> many(kMaxPagePieces + 5, PagePiece{"Tekst", ""});
    many[0].text = "Pierwszy";
    const auto kept = RoundTrip(many);
    ASSERT_EQ(kept.size(), kMaxPagePieces);
    EXPECT_EQ(kept[0].text, "Pierwszy");
    const std::vector<PagePiece> big(200, PagePiece{std::string(kMaxPieceText, 'b'), ""});
    EXPECT_LE(EncodePage(big).size(), kMaxPageBytes);
    EXPECT_LT(RoundTrip(big).size(), big.size());

    // Where each piece sent came from: links are followed by that place.
    std::vector<std::size_t> from;
    EncodePage({{" ", ""}, {"A", "https://a/"}, {"\n", "https://b/"}, {"C", "https://c/"}}, &from);
    EXPECT_EQ(from, (std::vector<std::size_t>{1, 3}));
}

TEST(PageReadingTest, ReceiverRefusesAPageThatBreaksARule) {
    const std::string good = Raw(0, "Tekst");
    const std::string space = "https://x/a b", empty, ok = "https://x/", tooLong(kMaxLinkTarget + 1, 'a');
    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"unknown kind", Raw(2, "Tekst")},
        {"text past the end", good.substr(0, good.size() - 1)},
        {"length cut", std::string("\0\5", 2)},
        {"empty text", Raw(0, "")},
        {"text too long", Raw(0, std::string(kMaxPieceText + 1, 'a'))},
        {"invalid UTF-8", Raw(0, "a\xc3(")},
        {"overlong UTF-8", Raw(0, "\xc0\xaf")},
        {"surrogate", Raw(0, "\xed\xa0\x80")},
        {"newline", Raw(0, "a\nb")},
        {"C1 control", Raw(0,
                           "a\xc2\x9b"
                           "b")},
        {"link without address", Raw(1, "Link")},
        {"link with empty address", Raw(1, "Link", &empty)},
        {"address with a space", Raw(1, "Link", &space)},
        {"address too long", Raw(1, "Link", &tooLong)},
    };
    for (const Case& c : cases) {
        std::string why;
        // Good pieces around a bad one: the whole page is refused.
        EXPECT_FALSE(DecodePage(good + c.bytes + Raw(1, "Link", &ok), &why)) << c.what;
        EXPECT_FALSE(why.empty()) << c.what;
    }
    std::string tooMany;
    for (std::size_t i = 0; i <= kMaxPagePieces; ++i) tooMany += good;
    EXPECT_FALSE(DecodePage(tooMany));
    EXPECT_TRUE(DecodePage(tooMany.substr(good.size())));
}
