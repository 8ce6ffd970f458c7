// The page nebrin-web reads out for screen readers, as the dialer receives
// it: a page taken keeps every rule, and whatever nebrin-web reads out of a
// page (the input taken as a text and as an address) is sent in a form the
// dialer takes.
#include "app/PageReading.h"
#include "fuzz/FuzzCheck.h"

using namespace nebrin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = fuzz::AsText(data, size);
    if (const auto pieces = web::DecodePage(input)) {
        FUZZ_CHECK(pieces->size() <= web::kMaxPagePieces);
        for (const web::PagePiece& p : *pieces) {
            FUZZ_CHECK(!p.text.empty() && p.text.size() <= web::kMaxPieceText);
            FUZZ_CHECK(p.target.size() <= web::kMaxLinkTarget);
            FUZZ_CHECK(p.target.find_first_of(std::string_view(" \n\r\t\0", 5)) == std::string::npos);
        }
        // Sent again, the page is taken again.
        FUZZ_CHECK(web::DecodePage(web::EncodePage(*pieces)).has_value());
    }
    const std::string text(input);
    const std::vector<web::PagePiece> read = {{text, text}, {text, ""}, {"Link", text}};
    std::vector<std::size_t> kept;
    const std::string sent = web::EncodePage(read, &kept);
    FUZZ_CHECK(sent.size() <= web::kMaxPageBytes);
    const auto back = web::DecodePage(sent);
    FUZZ_CHECK(back.has_value() && back->size() == kept.size());
    return 0;
}
