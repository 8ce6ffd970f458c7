#include "storage/hbTar.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

#include "base/AtomicFile.h"
#include "base/Endian.h"
#include "base/Posix.h"

namespace nebrin {
namespace {

constexpr std::uint8_t kMagic[3] = {'N', 'B', 'T'};

std::int32_t LoadInt32(const std::uint8_t* p) { return static_cast<std::int32_t>(LoadLe32(p)); }

// A view that only moves forward; every read states its length first and is
// refused when fewer bytes remain.
class Cursor {
public:
    explicit Cursor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::size_t Remaining() const { return bytes_.size() - pos_; }
    bool Skip(std::size_t n) {
        if (n > Remaining()) return false;
        pos_ += n;
        return true;
    }
    bool Int32(std::int32_t& v) {
        if (Remaining() < 4) return false;
        v = LoadInt32(bytes_.data() + pos_);
        pos_ += 4;
        return true;
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

bool HasMagic(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 3 && std::memcmp(bytes.data(), kMagic, 3) == 0;
}

struct Layout {
    std::vector<std::size_t> offsets;
    std::vector<std::size_t> sizes;
    std::size_t end = 0;  // first byte after the last member
};

PackageStatus Broken(std::string& reason, std::string why) {
    reason = std::move(why);
    return PackageStatus::Broken;
}

// The one check of a package's layout. `head` is the start of the package
// (at least its header and directory when they are there), `total` the size
// of the whole package. Every declared length is checked against `total`
// before it is used.
PackageStatus CheckLayout(std::span<const std::uint8_t> head, std::uint64_t total, Layout& layout,
                          std::string& reason) {
    if (!HasMagic(head)) {
        reason = "bad magic";
        return PackageStatus::BadMagic;
    }
    Cursor in(head);
    in.Skip(3);
    std::int32_t count = 0;
    if (!in.Int32(count)) return Broken(reason, "truncated header");
    if (count < 0) return Broken(reason, "Range check error");
    if (count > kMaxPackageMembers) return Broken(reason, "too many members (" + std::to_string(count) + ")");
    const std::size_t n = static_cast<std::size_t>(count);
    const std::size_t dirEnd = kPackageHeaderSize + n * kPackageEntrySize;
    if (total < dirEnd || head.size() < dirEnd) return Broken(reason, "truncated directory");
    layout.sizes.assign(n, 0);
    layout.offsets.assign(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        std::int32_t size = 0;
        std::int32_t unused = 0;
        in.Int32(size);
        in.Int32(unused);
        if (size < 0) return Broken(reason, "negative size of member " + std::to_string(i));
        layout.sizes[i] = static_cast<std::size_t>(size);
    }
    std::uint64_t at = dirEnd;
    for (std::size_t i = 0; i < n; ++i) {
        if (layout.sizes[i] > total - at) return Broken(reason, "truncated member " + std::to_string(i));
        layout.offsets[i] = static_cast<std::size_t>(at);
        at += layout.sizes[i];
    }
    layout.end = static_cast<std::size_t>(at);
    reason.clear();
    return PackageStatus::Ok;
}

// Reads up to `size` bytes; the count actually read, or -1 with errno.
long ReadUpTo(int fd, std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, data + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<long>(done);
}

class FileCloser {
public:
    explicit FileCloser(int fd) : fd_(fd) {}
    ~FileCloser() { ::close(fd_); }
    FileCloser(const FileCloser&) = delete;
    FileCloser& operator=(const FileCloser&) = delete;

private:
    int fd_;
};

std::string CannotOpen(const std::string& fileName, const std::string& why) {
    return "Cannot open file \"" + fileName + "\". " + why;
}

// Reads the package part of a file (header, directory, members; not what
// follows) into `data` and checks it. The file's size is checked against
// every declared length before anything of that length is allocated.
PackageStatus ReadPackageFile(const std::string& fileName, PackageBytes& data, Layout& layout, std::string& reason) {
    auto unreadable = [&](std::string why) {
        reason = std::move(why);
        return PackageStatus::Unreadable;
    };
    int fd;
    do {
        fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return unreadable(CannotOpen(fileName, ErrnoText(errno)));
    FileCloser closer(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0) return unreadable(CannotOpen(fileName, ErrnoText(errno)));
    if (!S_ISREG(st.st_mode)) {
        return unreadable(CannotOpen(fileName, S_ISDIR(st.st_mode) ? ErrnoText(EISDIR) : "Not a regular file"));
    }
    const auto fileSize = static_cast<std::uint64_t>(st.st_size);
    auto readFail = [&] { return unreadable("Cannot read file \"" + fileName + "\". " + ErrnoText(errno)); };

    // The header and the longest directory there can be, or the whole file
    // when it is shorter.
    constexpr std::size_t kLongestHead = kPackageHeaderSize + kPackageEntrySize * kMaxPackageMembers;
    // Not zeroed: only what the reads filled is ever looked at.
    PackageBytes bytes(static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kLongestHead)));
    long n = ReadUpTo(fd, bytes.data(), bytes.size());
    if (n < 0) return readFail();
    bytes.resize(static_cast<std::size_t>(n));
    const PackageStatus status = CheckLayout(bytes, fileSize, layout, reason);
    if (status != PackageStatus::Ok) return status;

    const std::size_t head = bytes.size();
    bytes.reserve(layout.end);  // no more than the package
    bytes.resize(layout.end);
    if (layout.end > head) {
        n = ReadUpTo(fd, bytes.data() + head, layout.end - head);
        if (n < 0) return readFail();
        if (static_cast<std::size_t>(n) != layout.end - head) {
            // The file shrank while being read: checked again as it is, which
            // names the member.
            bytes.resize(head + static_cast<std::size_t>(n));
            const PackageStatus again = CheckLayout(bytes, bytes.size(), layout, reason);
            if (again != PackageStatus::Ok) return again;
        }
    }
    data = std::move(bytes);
    return PackageStatus::Ok;
}

// The throwing forms: a package that is not one is false, any other failure
// throws.
bool OpenedOrThrow(PackageStatus status, const std::string& reason) {
    switch (status) {
        case PackageStatus::Ok: return true;
        case PackageStatus::BadMagic: return false;
        case PackageStatus::Broken:
        case PackageStatus::Unreadable: break;
    }
    throw EArchiveError(reason);
}

}  // namespace

void ThbTar::Adopt(PackageBytes data, const std::vector<std::size_t>& offsets, const std::vector<std::size_t>& sizes) {
    std::vector<Member> members(sizes.size());
    for (std::size_t i = 0; i < members.size(); ++i) members[i] = {offsets[i], sizes[i]};
    data_ = std::move(data);
    members_ = std::move(members);
}

PackageStatus ThbTar::ReadBytes(std::span<const std::uint8_t> bytes, std::string& reason) {
    // Checked before copying, so a broken package costs no allocation; what
    // follows the last member is not kept.
    Layout layout;
    const PackageStatus status = CheckLayout(bytes, bytes.size(), layout, reason);
    if (status != PackageStatus::Ok) return status;
    Adopt(PackageBytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(layout.end)), layout.offsets,
          layout.sizes);
    return PackageStatus::Ok;
}

PackageStatus ThbTar::ReadFile(const std::string& fileName, std::string& reason) {
    PackageBytes data;
    Layout layout;
    const PackageStatus status = ReadPackageFile(fileName, data, layout, reason);
    if (status != PackageStatus::Ok) return status;
    Adopt(std::move(data), layout.offsets, layout.sizes);
    return PackageStatus::Ok;
}

PackageStatus ThbTar::OpenBytes(std::span<const std::uint8_t> bytes, std::string* reason) {
    std::string why;
    const PackageStatus status = ReadBytes(bytes, why);
    if (reason) *reason = why;
    return status;
}

bool ThbTar::OpenBytes(std::span<const std::uint8_t> bytes) {
    std::string reason;
    return OpenedOrThrow(ReadBytes(bytes, reason), reason);
}

bool ThbTar::Open(const std::string& fileName) {
    std::string reason;
    return OpenedOrThrow(ReadFile(fileName, reason), reason);
}

PackageStatus ThbTar::Open(const std::string& fileName, std::string* reason) {
    std::string why;
    PackageStatus status = PackageStatus::Unreadable;
    try {
        status = ReadFile(fileName, why);
    } catch (const std::exception& e) {  // out of memory
        why = e.what();
    }
    if (reason) *reason = why;
    return status;
}

std::span<const std::uint8_t> ThbTar::GetMember(int index) const {
    if (index < 0 || index >= Count()) {
        throw EArchiveError("List index out of bounds (" + std::to_string(index) + ")");
    }
    const Member& m = members_[static_cast<std::size_t>(index)];
    return {data_.data() + m.offset, m.size};
}

std::vector<std::uint8_t> BuildPackage(const std::vector<std::vector<std::uint8_t>>& members) {
    if (members.size() > static_cast<std::size_t>(kMaxPackageMembers)) {
        throw EArchiveError("too many members (" + std::to_string(members.size()) + ")");
    }
    std::size_t total = kPackageHeaderSize + kPackageEntrySize * members.size();
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (members[i].size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
            throw EArchiveError("member " + std::to_string(i) + " is too large");
        }
        total += members[i].size();
    }
    std::vector<std::uint8_t> out(total);
    std::memcpy(out.data(), kMagic, 3);
    StoreLe32(out.data() + 3, static_cast<std::uint32_t>(members.size()));
    std::uint8_t* entry = out.data() + kPackageHeaderSize;
    for (const auto& m : members) {
        StoreLe32(entry, static_cast<std::uint32_t>(m.size()));
        StoreLe32(entry + 4, 0);
        entry += kPackageEntrySize;
    }
    std::uint8_t* dst = entry;
    for (const auto& m : members) {
        if (!m.empty()) std::memcpy(dst, m.data(), m.size());
        dst += m.size();
    }
    return out;
}

bool WritePackage(const std::string& path, const std::vector<std::vector<std::uint8_t>>& members, std::string* error) {
    std::vector<std::uint8_t> bytes;
    try {
        bytes = BuildPackage(members);
    } catch (const std::exception& e) {
        if (error) *error = e.what();
        return false;
    }
    return WriteFileAtomically(path, bytes, 0644, error);
}

}  // namespace nebrin
