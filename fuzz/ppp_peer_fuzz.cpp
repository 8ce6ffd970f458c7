// Peer files: any text reads without a fault, and a peer file we build from
// values that pass the checks reads back to the same values. The input is
// the text to read, then the entry name, interface, service and a part whose
// length sets the owner's uid, cut at 0x01 bytes.
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "platform/raspppd/PppText.h"

using namespace nebrin;
using namespace nebrin::pppd;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string_view> parts;
    std::string_view rest = fuzz::AsText(data, size);
    while (parts.size() < 4) {
        const std::size_t cut = rest.find('\x01');
        if (cut == std::string_view::npos) break;
        parts.push_back(rest.substr(0, cut));
        rest.remove_prefix(cut + 1);
    }
    parts.push_back(rest);
    parts.resize(5);

    const PeerInfo any = ReadPeerFile(parts[0]);
    (void)any;
    const std::vector<WordLine> lines = SplitWordLines(parts[0]);
    std::size_t at = 0;
    for (const WordLine& l : lines) {
        FUZZ_CHECK(l.begin == at && l.end >= l.begin && l.end <= parts[0].size());
        at = l.end;
    }
    FUZZ_CHECK(at == parts[0].size());

    const std::string entry(parts[1]);
    const PeerSettings settings{std::string(parts[2]), std::string(parts[3])};
    const std::uint32_t uid = static_cast<std::uint32_t>(parts[4].size() * 1000u);
    std::string why;
    const std::optional<std::string> file = BuildPeerFileChecked(entry, settings, uid, &why);
    FUZZ_CHECK(file.has_value() == why.empty());
    if (!file) return 0;
    const PeerInfo read = ReadPeerFile(*file);
    FUZZ_CHECK(read.ours && read.pppoe && read.passwordfd && read.ownerUid == uid);
    FUZZ_CHECK(read.interface == settings.interface);
    FUZZ_CHECK(read.service == settings.service);
    FUZZ_CHECK(read.user.empty());
    FUZZ_CHECK(read.linkname == entry);
    return 0;
}
