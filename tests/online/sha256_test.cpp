#include "online/Sha256.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace nebrin {
namespace {

struct Vector {
    std::string message;
    const char* digest;
};

// The published examples of the algorithm, and lengths around the padding
// boundaries (55 bytes fit one block with the length, 56 do not).
TEST(Sha256, KnownDigests) {
    const Vector vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrs"
         "tnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {std::string(119, 'a'), "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
        {std::string(120, 'a'), "2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c"},
        {std::string(1'000'000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Vector& v : vectors) EXPECT_EQ(ToHex(Sha256::Of(v.message)), v.digest) << v.message.size();
}

// Feeding the same bytes in pieces of any size gives the same digest.
TEST(Sha256, PiecesGiveTheSameDigest) {
    std::string data;
    for (int i = 0; i < 300; ++i) data.push_back(static_cast<char>(i * 7 + 3));
    for (std::size_t len : {0u, 1u, 63u, 64u, 65u, 127u, 128u, 200u, 300u}) {
        const auto whole = Sha256::Of(std::string_view(data).substr(0, len));
        for (std::size_t piece : {1u, 3u, 63u, 64u, 65u}) {
            Sha256 s;
            for (std::size_t at = 0; at < len; at += piece)
                s.Update(std::string_view(data).substr(at, std::min(piece, len - at)));
            EXPECT_EQ(s.Final(), whole) << len << "/" << piece;
        }
    }
    // Final resets the object for the next message.
    Sha256 s;
    s.Update("junk");
    s.Final();
    s.Update("abc");
    EXPECT_EQ(ToHex(s.Final()), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Sha256, ParsesHexDigests) {
    const std::string lower = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    const auto abc = Sha256::Of("abc");
    std::string upper = lower;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(ParseSha256Hex(lower), abc);
    EXPECT_EQ(ParseSha256Hex(upper), abc);
    EXPECT_EQ(ParseSha256Hex("  " + lower + "\t"), abc);
    for (const std::string& bad : {std::string(), lower.substr(1), lower + "0", "g" + lower.substr(1),
                                   lower.substr(0, 32) + " " + lower.substr(33)})
        EXPECT_FALSE(ParseSha256Hex(bad)) << bad;
}

TEST(Sha256, HashesFiles) {
    char path[] = "/tmp/nebrin-sha-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    std::string content(200'000, 'x');
    content += "tail";
    ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    ::close(fd);
    std::string error;
    EXPECT_EQ(Sha256OfFile(path, &error), Sha256::Of(content));
    ::unlink(path);
    EXPECT_FALSE(Sha256OfFile(path, &error));
    EXPECT_NE(error.find(path), std::string::npos);
}

}  // namespace
}  // namespace nebrin
