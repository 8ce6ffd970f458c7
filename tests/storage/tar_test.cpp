// The theme package container: layout, reader checks, writer.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "base/AtomicFile.h"
#include "storage/hbTar.h"
#include "tests/storage/alloc_probe.h"

using alloc_probe::gLargest;
using alloc_probe::gTrack;

namespace nebrin {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Of(std::string_view s) { return {s.begin(), s.end()}; }

void PutInt32(Bytes& b, std::int64_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(u >> (8 * i)));
}

// A package by hand: magic, count, (size, second word) entries, then data.
Bytes Package(std::int64_t count, const std::vector<std::int64_t>& sizes, const Bytes& data,
              std::string_view magic = "NBT") {
    Bytes b(magic.begin(), magic.end());
    PutInt32(b, count);
    for (const std::int64_t s : sizes) {
        PutInt32(b, s);
        PutInt32(b, 0x55AA55AA);  // ignored by the reader
    }
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "nebrin-tar-XXXXXX").string();
        path_ = ::mkdtemp(tmpl.data());
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    void Put(const std::string& name, const Bytes& b) const {
        std::ofstream(File(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }

private:
    std::string path_;
};

std::string Reason(const Bytes& b) {
    ThbTar tar;
    std::string reason;
    EXPECT_NE(tar.OpenBytes(b, &reason), PackageStatus::Ok);
    return reason;
}

TEST(PackageArchive, WriterLayoutAndReaderRoundTrip) {
    const std::vector<Bytes> members = {Of("settings"), {}, Of("xy"), Bytes(1000, 0xEE)};
    const Bytes pkg = BuildPackage(members);

    // Exact layout: magic, count, entries with second word 0, data back to back.
    Bytes expected = {'N', 'B', 'T', 4, 0, 0, 0};
    for (const auto& m : members) {
        PutInt32(expected, static_cast<std::int64_t>(m.size()));
        PutInt32(expected, 0);
    }
    for (const auto& m : members) expected.insert(expected.end(), m.begin(), m.end());
    EXPECT_EQ(pkg, expected);

    TempDir dir;
    std::string error;
    ASSERT_TRUE(WritePackage(dir.File("default.nbt"), members, &error)) << error;
    for (const bool fromFile : {false, true}) {
        SCOPED_TRACE(fromFile ? "file" : "bytes");
        ThbTar tar;
        ASSERT_TRUE(fromFile ? tar.Open(dir.File("default.nbt")) : tar.OpenBytes(pkg));
        ASSERT_EQ(tar.Count(), 4);
        for (int i = 0; i < 4; ++i) {
            const auto m = tar.GetMember(i);
            EXPECT_EQ(Bytes(m.begin(), m.end()), members[static_cast<std::size_t>(i)]) << "member " << i;
        }
        // The empty member takes no room: member 2 starts right after member 0.
        EXPECT_EQ(tar.GetMember(2).data(), tar.GetMember(0).data() + 8);
        // A member can be read again and again.
        EXPECT_EQ(tar.GetMember(3).data(), tar.GetMember(3).data());
    }

    // Writing into a folder that does not exist fails and says why.
    EXPECT_FALSE(WritePackage(dir.File("no/such/folder.nbt"), members, &error));
    EXPECT_FALSE(error.empty());
}

TEST(PackageArchive, EmptyPackageAndIndexChecks) {
    ThbTar tar;
    EXPECT_EQ(tar.Count(), 0);
    ASSERT_TRUE(tar.OpenBytes(Package(0, {}, {})));
    EXPECT_EQ(tar.Count(), 0);
    ASSERT_TRUE(tar.OpenBytes(BuildPackage({Of("a"), Of("b")})));
    for (const int bad : {-1, 2, 1000}) {
        try {
            tar.GetMember(bad);
            ADD_FAILURE() << "index " << bad << " accepted";
        } catch (const EArchiveError& e) {
            EXPECT_EQ(std::string(e.what()), "List index out of bounds (" + std::to_string(bad) + ")");
        }
    }
}

TEST(PackageArchive, FullPackageOf255Members) {
    std::vector<Bytes> members;
    for (int i = 0; i < 255; ++i) members.push_back(Bytes(1, static_cast<std::uint8_t>(i)));
    const Bytes pkg = BuildPackage(members);
    ASSERT_EQ(pkg.size(), 7u + 2040u + 255u);
    EXPECT_EQ(pkg[2047], 0);  // member 0 right after the 2040-byte directory
    EXPECT_EQ(pkg[2048], 1);
    ThbTar tar;
    ASSERT_TRUE(tar.OpenBytes(pkg));
    ASSERT_EQ(tar.Count(), 255);
    EXPECT_EQ(tar.GetMember(254)[0], 254);

    members.push_back(Of("one too many"));
    EXPECT_THROW(BuildPackage(members), EArchiveError);
    TempDir dir;
    std::string error;
    EXPECT_FALSE(WritePackage(dir.File("x.nbt"), members, &error));
    EXPECT_FALSE(std::filesystem::exists(dir.File("x.nbt")));
}

TEST(PackageArchive, WrongMagicIsFalseAndKeepsMembers) {
    TempDir dir;
    for (const std::string_view magic : {"nbt", "NBt", "XBT", "NB", ""}) {
        SCOPED_TRACE(std::string(magic));
        ThbTar tar;
        ASSERT_TRUE(tar.OpenBytes(BuildPackage({Of("kept")})));
        const Bytes bad = magic.size() == 3 ? Package(1, {4}, Of("data"), magic) : Bytes(magic.begin(), magic.end());
        EXPECT_FALSE(tar.OpenBytes(bad));
        EXPECT_EQ(Reason(bad), "bad magic");
        std::string reason;
        EXPECT_EQ(ThbTar().OpenBytes(bad, &reason), PackageStatus::BadMagic);
        dir.Put("bad.nbt", bad);
        EXPECT_FALSE(tar.Open(dir.File("bad.nbt")));
        ASSERT_EQ(tar.Count(), 1);
        EXPECT_EQ(tar.GetMember(0)[0], 'k');
    }
}

TEST(PackageArchive, BrokenHeadersAreRefused) {
    struct Case {
        const char* name;
        Bytes bytes;
        std::string reason;
    };
    const Case cases[] = {
        {"negative count", Package(-1, {}, {}), "Range check error"},
        {"count far below zero", Package(INT32_MIN, {}, {}), "Range check error"},
        {"count 256", Package(256, std::vector<std::int64_t>(256, 0), {}), "too many members (256)"},
        {"negative member size", Package(2, {1, -5}, Of("abcdef")), "negative size of member 1"},
        {"2 GiB member in a small file", Package(1, {0x7FFFFFFF}, Bytes(85, 0)), "truncated member 0"},
        {"huge count, no directory", Package(255, {}, Bytes(100, 0)), "truncated directory"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Reason(c.bytes), c.reason);
        std::string reason;
        EXPECT_EQ(ThbTar().OpenBytes(c.bytes, &reason), PackageStatus::Broken);
        ThbTar tar;
        ASSERT_TRUE(tar.OpenBytes(BuildPackage({Of("kept")})));
        dir.Put("broken.nbt", c.bytes);
        gLargest = 0;
        gTrack = true;
        try {
            tar.OpenBytes(c.bytes);
            ADD_FAILURE() << "accepted";
        } catch (const EArchiveError& e) {
            EXPECT_EQ(e.what(), c.reason);
        }
        try {
            tar.Open(dir.File("broken.nbt"));
            ADD_FAILURE() << "file accepted";
        } catch (const EArchiveError& e) {
            EXPECT_EQ(e.what(), c.reason);
        }
        gTrack = false;
        // Nothing anywhere near a declared size was allocated.
        EXPECT_LT(gLargest.load(), 4096u + c.bytes.size());
        EXPECT_EQ(tar.Count(), 1);  // the previous package stays
    }
}

TEST(PackageArchive, EveryTruncationIsRefused) {
    const Bytes pkg = BuildPackage({Of("first"), {}, Of("third member")});
    TempDir dir;
    for (std::size_t len = 3; len < pkg.size(); ++len) {
        SCOPED_TRACE(len);
        const Bytes cut(pkg.begin(), pkg.begin() + static_cast<std::ptrdiff_t>(len));
        ThbTar tar;
        EXPECT_THROW(tar.OpenBytes(cut), EArchiveError);
        dir.Put("cut.nbt", cut);
        EXPECT_THROW(tar.Open(dir.File("cut.nbt")), EArchiveError);
        std::string reason;
        EXPECT_EQ(tar.Open(dir.File("cut.nbt"), &reason), PackageStatus::Broken);
        const char* expected = len < 7    ? "truncated header"
                               : len < 31 ? "truncated directory"
                               : len < 36 ? "truncated member 0"
                                          : "truncated member 2";
        EXPECT_EQ(reason, expected);
        EXPECT_EQ(tar.Count(), 0);
    }
}

TEST(PackageArchive, TrailingBytesAreIgnored) {
    Bytes pkg = BuildPackage({Of("ab"), Of("cd")});
    pkg.insert(pkg.end(), {'j', 'u', 'n', 'k'});
    ThbTar tar;
    ASSERT_TRUE(tar.OpenBytes(pkg));
    ASSERT_EQ(tar.Count(), 2);
    EXPECT_EQ(Bytes(tar.GetMember(1).begin(), tar.GetMember(1).end()), Of("cd"));
}

TEST(PackageArchive, FileErrorsAreRaised) {
    TempDir dir;
    const std::string missing = dir.File("missing.nbt");
    try {
        ThbTar().Open(missing);
        ADD_FAILURE() << "missing file opened";
    } catch (const EArchiveError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + missing + "\". No such file or directory");
    }
    std::filesystem::create_directory(dir.File("folder.nbt"));
    EXPECT_THROW(ThbTar().Open(dir.File("folder.nbt")), EArchiveError);
    std::string reason;
    EXPECT_EQ(ThbTar().Open(missing, &reason), PackageStatus::Unreadable);
    EXPECT_NE(reason.find("Cannot open file"), std::string::npos);
}

}  // namespace
}  // namespace nebrin
