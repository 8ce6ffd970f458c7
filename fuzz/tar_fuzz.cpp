// The theme package reader over arbitrary bytes: it refuses or opens, never
// reads outside the input, and what it opens describes the input exactly.
#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "storage/hbTar.h"

using namespace nebrin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);

    ThbTar tar;
    std::string reason;
    const PackageStatus status = tar.OpenBytes(input, &reason);
    const bool opened = status == PackageStatus::Ok;
    FUZZ_CHECK(opened == reason.empty());

    // The throwing form agrees: true, false only for a bad magic, or a throw.
    ThbTar other;
    bool threw = false;
    bool otherOpened = false;
    try {
        otherOpened = other.OpenBytes(input);
    } catch (const EArchiveError&) {
        threw = true;
    }
    FUZZ_CHECK(otherOpened == opened);
    FUZZ_CHECK(threw == (!opened && status != PackageStatus::BadMagic));

    if (!opened) {
        FUZZ_CHECK(tar.Count() == 0);
        return 0;
    }
    FUZZ_CHECK(tar.Count() >= 0 && tar.Count() <= kMaxPackageMembers);
    std::size_t at = kPackageHeaderSize + kPackageEntrySize * static_cast<std::size_t>(tar.Count());
    std::vector<std::vector<std::uint8_t>> members;
    for (int i = 0; i < tar.Count(); ++i) {
        const std::span<const std::uint8_t> m = tar.GetMember(i);
        FUZZ_CHECK(at + m.size() <= size);
        FUZZ_CHECK(std::equal(m.begin(), m.end(), data + at));
        at += m.size();
        members.emplace_back(m.begin(), m.end());
    }
    for (const int bad : {-1, tar.Count()}) {
        try {
            (void)tar.GetMember(bad);
            FUZZ_CHECK(!"an index out of range was accepted");
        } catch (const EArchiveError&) {}
    }

    // Writing the members again gives a package that opens to the same members.
    const std::vector<std::uint8_t> rebuilt = BuildPackage(members);
    ThbTar again;
    FUZZ_CHECK(again.OpenBytes(rebuilt, &reason) == PackageStatus::Ok);
    FUZZ_CHECK(again.Count() == tar.Count());
    for (int i = 0; i < tar.Count(); ++i) {
        const auto a = tar.GetMember(i);
        const auto b = again.GetMember(i);
        FUZZ_CHECK(a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin()));
    }

    // A failed open keeps what was held.
    const std::uint8_t broken[] = {'N', 'B', 'T', 1, 0, 0, 0};
    FUZZ_CHECK(tar.OpenBytes(broken, &reason) == PackageStatus::Broken);
    FUZZ_CHECK(tar.Count() == again.Count());
    return 0;
}
