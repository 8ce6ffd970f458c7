#include "storage/hbTar.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

#include "base/AtomicFile.h"
#include "base/Endian.h"

namespace nebrin {
namespace {

constexpr std::uint8_t kMagic[3] = {'N', 'B', 'T'};

std::int32_t LoadInt32(const std::uint8_t* p) { return static_cast<std::int32_t>(LoadLe32(p)); }

// A view that only moves forward; every read states its length first and is
// refused when fewer bytes remain.
class Cursor {
public:
    explicit Cursor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::size_t Offset() const { return pos_; }
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
    const std::uint8_t* Here() const { return bytes_.data() + pos_; }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

enum class Outcome { Ok, BadMagic, Broken };

bool HasMagic(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 3 && std::memcmp(bytes.data(), kMagic, 3) == 0;
}

// Checks the count read from a header. Empty when acceptable.
std::string CountProblem(std::int32_t count) {
    if (count < 0) return "Range check error";
    if (count > kMaxPackageMembers) return "too many members (" + std::to_string(count) + ")";
    return {};
}

struct Layout {
    std::vector<std::size_t> offsets;
    std::vector<std::size_t> sizes;
    std::size_t end = 0;  // first byte after the last member
};

// Reads the package structure from `bytes`.
Outcome Parse(std::span<const std::uint8_t> bytes, Layout& layout, std::string& reason) {
    if (!HasMagic(bytes)) {
        reason = "bad magic";
        return Outcome::BadMagic;
    }
    Cursor in(bytes);
    in.Skip(3);
    std::int32_t count = 0;
    if (!in.Int32(count)) {
        reason = "truncated header";
        return Outcome::Broken;
    }
    reason = CountProblem(count);
    if (!reason.empty()) return Outcome::Broken;
    const std::size_t n = static_cast<std::size_t>(count);
    if (in.Remaining() < n * kPackageEntrySize) {
        reason = "truncated directory";
        return Outcome::Broken;
    }
    layout.sizes.assign(n, 0);
    layout.offsets.assign(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        std::int32_t size = 0;
        std::int32_t unused = 0;
        in.Int32(size);
        in.Int32(unused);
        if (size < 0) {
            reason = "negative size of member " + std::to_string(i);
            return Outcome::Broken;
        }
        layout.sizes[i] = static_cast<std::size_t>(size);
    }
    for (std::size_t i = 0; i < n; ++i) {
        layout.offsets[i] = in.Offset();
        if (!in.Skip(layout.sizes[i])) {
            reason = "truncated member " + std::to_string(i);
            return Outcome::Broken;
        }
    }
    layout.end = in.Offset();
    return Outcome::Ok;
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
// follows) into `data`. The file's size is checked against every declared
// length before anything of that length is allocated.
Outcome ReadPackageFile(const std::string& fileName, std::vector<std::uint8_t>& data, std::string& reason) {
    int fd;
    do {
        fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) throw EArchiveError(CannotOpen(fileName, std::strerror(errno)));
    FileCloser closer(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0) throw EArchiveError(CannotOpen(fileName, std::strerror(errno)));
    if (!S_ISREG(st.st_mode)) {
        throw EArchiveError(CannotOpen(fileName, S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "Not a regular file"));
    }
    const auto fileSize = static_cast<std::uint64_t>(st.st_size);
    auto readFail = [&] { return EArchiveError("Cannot read file \"" + fileName + "\". " + std::strerror(errno)); };

    std::uint8_t header[kPackageHeaderSize];
    const long got = ReadUpTo(fd, header, sizeof header);
    if (got < 0) throw readFail();
    if (!HasMagic({header, static_cast<std::size_t>(got)})) {
        reason = "bad magic";
        return Outcome::BadMagic;
    }
    if (got < static_cast<long>(kPackageHeaderSize)) {
        reason = "truncated header";
        return Outcome::Broken;
    }
    const std::int32_t count = LoadInt32(header + 3);
    reason = CountProblem(count);
    if (!reason.empty()) return Outcome::Broken;

    const std::size_t dirEnd = kPackageHeaderSize + kPackageEntrySize * static_cast<std::size_t>(count);
    if (fileSize < dirEnd) {
        reason = "truncated directory";
        return Outcome::Broken;
    }
    std::vector<std::uint8_t> bytes(header, header + kPackageHeaderSize);
    bytes.resize(dirEnd);
    long n = ReadUpTo(fd, bytes.data() + kPackageHeaderSize, dirEnd - kPackageHeaderSize);
    if (n < 0) throw readFail();
    if (static_cast<std::size_t>(n) != dirEnd - kPackageHeaderSize) {
        reason = "truncated directory";
        return Outcome::Broken;
    }
    std::uint64_t end = dirEnd;
    for (std::int32_t i = 0; i < count; ++i) {
        const std::int32_t size = LoadInt32(bytes.data() + kPackageHeaderSize + kPackageEntrySize * i);
        if (size < 0) {
            reason = "negative size of member " + std::to_string(i);
            return Outcome::Broken;
        }
        end += static_cast<std::uint64_t>(size);
        if (end > fileSize) {
            reason = "truncated member " + std::to_string(i);
            return Outcome::Broken;
        }
    }
    bytes.resize(static_cast<std::size_t>(end));
    n = ReadUpTo(fd, bytes.data() + dirEnd, bytes.size() - dirEnd);
    if (n < 0) throw readFail();
    if (static_cast<std::size_t>(n) != bytes.size() - dirEnd) {
        // The file shrank while being read; Parse names the member.
        bytes.resize(dirEnd + static_cast<std::size_t>(n));
    }
    data = std::move(bytes);
    return Outcome::Ok;
}

}  // namespace

bool ThbTar::Adopt(std::vector<std::uint8_t> data, std::string* reason) {
    Layout layout;
    std::string why;
    if (Parse(data, layout, why) != Outcome::Ok) {
        if (reason) *reason = why;
        return false;
    }
    data.resize(layout.end);  // what follows the last member is not kept
    std::vector<Member> members(layout.sizes.size());
    for (std::size_t i = 0; i < members.size(); ++i) members[i] = {layout.offsets[i], layout.sizes[i]};
    data_ = std::move(data);
    members_ = std::move(members);
    if (reason) reason->clear();
    return true;
}

bool ThbTar::OpenBytes(std::span<const std::uint8_t> bytes, std::string* reason) {
    // Check before copying, so a broken package costs no allocation.
    Layout layout;
    std::string why;
    if (Parse(bytes, layout, why) != Outcome::Ok) {
        if (reason) *reason = why;
        return false;
    }
    return Adopt(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(layout.end)),
                 reason);
}

bool ThbTar::OpenBytes(std::span<const std::uint8_t> bytes) {
    std::string reason;
    if (OpenBytes(bytes, &reason)) return true;
    if (reason == "bad magic") return false;
    throw EArchiveError(reason);
}

bool ThbTar::Open(const std::string& fileName) {
    std::vector<std::uint8_t> data;
    std::string reason;
    switch (ReadPackageFile(fileName, data, reason)) {
        case Outcome::BadMagic: return false;
        case Outcome::Broken: throw EArchiveError(reason);
        case Outcome::Ok: break;
    }
    if (!Adopt(std::move(data), &reason)) throw EArchiveError(reason);
    return true;
}

bool ThbTar::Open(const std::string& fileName, std::string* reason) {
    try {
        std::vector<std::uint8_t> data;
        std::string why;
        if (ReadPackageFile(fileName, data, why) != Outcome::Ok) {
            if (reason) *reason = why;
            return false;
        }
        return Adopt(std::move(data), reason);
    } catch (const std::exception& e) {
        if (reason) *reason = e.what();
        return false;
    }
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
