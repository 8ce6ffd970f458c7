// hbTar: the theme package container.
//
// Layout (little-endian, no padding):
//   0            3 bytes     "NBT"
//   3            int32       count of members (0..255)
//   7            8 * count   directory: per member int32 size, int32 unused
//   7 + 8*count  data        the members' bytes back to back, in order
// Members are known only by their position. Bytes after the last member are
// ignored.
//
// The reader checks every declared length against the bytes that are really
// there before using it, so nothing is ever allocated beyond the size of the
// input: a count above 255 or below 0, a negative member size and a package
// shorter than its directory or members declare are refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace nebrin {

class EArchiveError : public std::runtime_error {
public:
    using runtime_error::runtime_error;
};

// An allocator whose elements made without a value are left as they are:
// a buffer that a read fills is then not zeroed first.
template <class T>
struct UnzeroedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UnzeroedAllocator<U>;
    };
    UnzeroedAllocator() = default;
    template <class U>
    UnzeroedAllocator(const UnzeroedAllocator<U>&) noexcept {}
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

// A package's bytes as held.
using PackageBytes = std::vector<std::uint8_t, UnzeroedAllocator<std::uint8_t>>;

inline constexpr int kMaxPackageMembers = 255;
inline constexpr std::size_t kPackageHeaderSize = 7;
inline constexpr std::size_t kPackageEntrySize = 8;

// What opening a package came to.
enum class PackageStatus {
    Ok,
    BadMagic,    // not a package: it does not start with "NBT"
    Broken,      // a package whose header, directory or members do not fit
    Unreadable,  // the file cannot be opened or read
};

class ThbTar {
public:
    ThbTar() = default;

    // Number of members held; 0 until a package was opened.
    [[nodiscard]] int Count() const { return static_cast<int>(members_.size()); }

    // Reads the package file. False when the file does not start with "NBT"
    // (nothing changes). Throws EArchiveError when the file cannot be opened
    // ("Cannot open file "<name>". <reason>"), for a negative count ("Range
    // check error") and for a count above 255, a negative member size or a
    // package shorter than it declares. On any failure the members held
    // before stay; a successful open replaces them.
    bool Open(const std::string& fileName);
    // The same rules over bytes in memory (the bytes are copied).
    bool OpenBytes(std::span<const std::uint8_t> bytes);

    // Non-throwing forms, which the throwing ones are made from: Ok, or what
    // failed with a short reason in *reason ("bad magic", "truncated
    // directory", "truncated member 3", "Cannot open file ...").
    [[nodiscard]] PackageStatus Open(const std::string& fileName, std::string* reason);
    [[nodiscard]] PackageStatus OpenBytes(std::span<const std::uint8_t> bytes, std::string* reason);

    // Member `index` (0..Count-1), valid until the next successful open or the
    // object's end. Throws EArchiveError("List index out of bounds (<index>)")
    // for any other index.
    std::span<const std::uint8_t> GetMember(int index) const;

private:
    [[nodiscard]] PackageStatus ReadBytes(std::span<const std::uint8_t> bytes, std::string& reason);
    PackageStatus ReadFile(const std::string& fileName, std::string& reason);
    // Takes `data`, whose layout was checked, as the package.
    void Adopt(PackageBytes data, const std::vector<std::size_t>& offsets, const std::vector<std::size_t>& sizes);

    struct Member {
        std::size_t offset;
        std::size_t size;
    };
    PackageBytes data_;
    std::vector<Member> members_;
};

// A package holding `members` in order, directory second words 0. Throws
// EArchiveError for more than 255 members or a member of 2 GiB or more.
std::vector<std::uint8_t> BuildPackage(const std::vector<std::vector<std::uint8_t>>& members);

// BuildPackage written with WriteFileAtomically (mode 0644). False with
// *error set on any failure; the previous file then stays.
[[nodiscard]] bool WritePackage(const std::string& path, const std::vector<std::vector<std::uint8_t>>& members,
                                std::string* error);

}  // namespace nebrin
