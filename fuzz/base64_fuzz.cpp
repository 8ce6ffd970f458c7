// Base64 decoding of arbitrary text: a clean refusal or bytes of the length
// the text declares; encoding any bytes decodes back to them.
#include "fuzz/FuzzCheck.h"
#include "storage/Base64.h"
#include "storage/hbCrypt.h"

using namespace nebrin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    try {
        const std::vector<std::uint8_t> bytes = Base64Decode(input);
        FUZZ_CHECK(size % 4 == 0);
        std::size_t pads = 0;
        if (size >= 1 && data[size - 1] == '=') ++pads;
        if (size >= 2 && data[size - 2] == '=') ++pads;
        FUZZ_CHECK(bytes.size() == size / 4 * 3 - pads);
        // Encoding gives text that decodes to the same bytes (the unused low
        // bits of a padded group may differ from the input's).
        const std::string text = Base64Encode(bytes);
        FUZZ_CHECK(text.size() == size);
        FUZZ_CHECK(Base64Decode(text) == bytes);
    } catch (const EBase64Error&) {}

    const std::string encoded = Base64Encode(input);
    FUZZ_CHECK(encoded.size() == (size + 2) / 3 * 4);
    const std::vector<std::uint8_t> decoded = Base64Decode(encoded);
    FUZZ_CHECK(decoded.size() == size && std::equal(decoded.begin(), decoded.end(), data));

    // The credentials' text form: refused cleanly or unsealed.
    try {
        (void)DecryptString(fuzz::AsText(data, size));
    } catch (const EBase64Error&) {
    } catch (const ECipherException&) {}
    return 0;
}
