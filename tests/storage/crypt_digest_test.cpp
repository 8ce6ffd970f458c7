#include <gtest/gtest.h>

#include "storage/hbCrypt.h"
#include "tests/storage/crypt_support.h"

namespace nebrin {
namespace {

using testing::BytesOf;
using testing::Hex;

struct DigestCase {
    const char* input;
    const char* first32;
};

// "abc" and the empty input are the published check values; the 8- and
// 10-byte phrases (8 and 6 padding bytes) were computed with an independent
// reference implementation of the same algorithm.
const DigestCase kDigestCases[] = {
    {"abc", "2aa17baa76a4c4cd4b73a5f934b4cc1a6492b853fc94eb88eeb34e7ce128867b"},
    {"", "0bd132aa831c56ac1f92e61084a342d27e4f9a70b731ca1d0b76a3b9da8ece2c"},
    {"12345678", "b71bccfc7a8c64aae7e3b7c6716ad7d6a9f5dad21930dbc2d4965db7c56e1fe8"},
    {"nebrin2024", "fde0f62fbaa4e0cbb8ed57f3cb0f2ee1e4d118fe34060610938fd7d9cccce0d8"},
};

TEST(CryptDigest, MatchesCheckValues) {
    for (const auto& c : kDigestCases) {
        EXPECT_EQ(PhraseDigest(BytesOf(c.input), 32), Hex(c.first32)) << '"' << c.input << '"';
    }
}

TEST(CryptDigest, SizeIsClampedAndShorterResultsArePrefixes) {
    const auto data = BytesOf("abcdefghij");
    const Bytes full = PhraseDigest(data, 300);
    ASSERT_EQ(full.size(), 256u);
    EXPECT_EQ(PhraseDigest(data, 256), full);
    EXPECT_EQ(PhraseDigest(data, 16), Bytes(full.begin(), full.begin() + 16));
    EXPECT_EQ(PhraseDigest(data, 32), Bytes(full.begin(), full.begin() + 32));
    EXPECT_TRUE(PhraseDigest(data, 0).empty());
}

}  // namespace
}  // namespace nebrin
