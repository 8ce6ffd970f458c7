// Unsealing arbitrary bytes under a fixed pass phrase: a clean refusal or a
// plain result of the length the stream declares; the streaming unsealer fed
// in pieces agrees with the one-shot call; sealing and unsealing round-trip.
#include <algorithm>
#include <exception>

#include "fuzz/FuzzCheck.h"
#include "storage/hbCrypt.h"

using namespace nebrin;

namespace {

struct Phrase {
    Phrase() { SetPassPhrase("q7c2m9x4ka"); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Phrase phrase;
    const std::span<const std::uint8_t> input(data, size);

    const Bytes prefix = {0xAA, 0xBB};
    Bytes plain = prefix;
    bool refused = false;
    try {
        DecryptStream(input, plain);
    } catch (const ECipherException&) {
        refused = true;
    }
    const std::size_t blocks = size / kCipherBlockSize;
    if (refused) {
        FUZZ_CHECK(plain == prefix);  // nothing appended stays behind
    } else {
        FUZZ_CHECK(blocks >= 2);
        FUZZ_CHECK(std::equal(prefix.begin(), prefix.end(), plain.begin()));
        const std::size_t got = plain.size() - prefix.size();
        FUZZ_CHECK(got >= kCipherBlockSize * (blocks - 2) && got < kCipherBlockSize * (blocks - 1));
    }

    // The streaming unsealer, fed in pieces whose sizes come from the input.
    Bytes streamed;
    bool streamRefused = false;
    try {
        StreamUnsealer unsealer;
        std::size_t at = 0;
        std::size_t step = size > 0 ? data[0] % 37 + 1 : 1;
        while (at < size) {
            const std::size_t n = std::min(step, size - at);
            unsealer.Update(input.subspan(at, n), streamed);
            at += n;
            step = step * 7 % 41 + 1;
        }
        unsealer.Finish(streamed);
    } catch (const ECipherException&) {
        streamRefused = true;
    }
    FUZZ_CHECK(streamRefused == refused);
    if (!refused) FUZZ_CHECK(std::equal(streamed.begin(), streamed.end(), plain.begin() + 2, plain.end()));

    // The input as plain text seals and unseals back to itself.
    const Bytes sealed = EncryptStream(input);
    FUZZ_CHECK(sealed.size() == SealedSize(size));
    Bytes back;
    DecryptStream(sealed, back);
    FUZZ_CHECK(back.size() == size && std::equal(back.begin(), back.end(), data));
    return 0;
}
