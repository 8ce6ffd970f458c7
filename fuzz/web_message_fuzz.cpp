// The stream from nebrin-web (or from the dialer, on nebrin-web's side) in
// pieces of any size: every message read encodes back to the very bytes it
// came from, and a broken stream stays broken.
#include <algorithm>

#include "app/WebMessage.h"
#include "fuzz/FuzzCheck.h"

using namespace nebrin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = fuzz::AsText(data, size);
    web::Decoder decoder;
    std::string consumed;
    std::size_t at = 0;
    std::size_t step = size > 0 ? data[0] % 13 + 1 : 1;
    bool broken = false;
    web::Message m;
    while (at < size) {
        const std::size_t n = std::min(step, size - at);
        decoder.Feed(input.substr(at, n));
        at += n;
        step = step * 7 % 31 + 1;
        for (;;) {
            const auto r = decoder.Next(m);
            if (r == web::Decoder::Result::NeedMore) break;
            if (r == web::Decoder::Result::Broken) {
                FUZZ_CHECK(!decoder.Error().empty());
                broken = true;
                break;
            }
            FUZZ_CHECK(!broken);
            FUZZ_CHECK(static_cast<int>(m.numbers.size()) == web::NumberCount(static_cast<std::uint8_t>(m.kind)));
            const std::string frame = web::Encode(m);
            FUZZ_CHECK(!frame.empty());
            consumed += frame;
        }
    }
    // What was read is exactly the start of the input.
    FUZZ_CHECK(input.substr(0, consumed.size()) == consumed);
    if (broken) FUZZ_CHECK(decoder.Next(m) == web::Decoder::Result::Broken);
    return 0;
}
