// Damaged theme packages: a valid package cut at every length, with every bit
// of its header and directory flipped, and with a sample of flipped bits in
// its member data. The reader refuses each or opens it without a fault, from
// memory and from a file alike, unsealing what it opened fails cleanly or
// succeeds, and nothing is allocated beyond the file's size. The whole theme
// load over the same damage ends in success or a failed step, never worse.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/ThemeLoader.h"
#include "storage/PassPhrases.h"
#include "storage/hbCrypt.h"
#include "storage/hbTar.h"
#include "tests/app/theme_fixture.h"
#include "tests/storage/alloc_probe.h"

namespace nebrin {
namespace {

using testing::PlainMembers;
using testing::Seal;

// Room for fixed-size bookkeeping (messages, the member table); declared
// lengths in the damaged packages reach 2 GiB, so anything allocated by a
// declared length before it was checked shows far above this.
constexpr std::size_t kSlack = 512;

class MalformedPackage : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sealed_ = new std::vector<Bytes>(Seal(PlainMembers()));
        package_ = new Bytes(BuildPackage(*sealed_));
    }
    static void TearDownTestSuite() {
        delete sealed_;
        delete package_;
    }
    void SetUp() override {
        const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string tmpl = std::string(base) + "/nebrin-malformed-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        std::filesystem::create_directories(dir_ + "/skin");
        std::filesystem::create_directories(dir_ + "/html");
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string PackagePath() const { return dir_ + "/skin/default.nbt"; }
    void WriteFile(const Bytes& bytes) const {
        std::ofstream f(PackagePath(), std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(f.good());
    }

    struct Outcome {
        bool opened = false;
        std::string reason;
        std::vector<Bytes> members;  // as opened
        std::vector<bool> unsealed;  // member i unsealed
    };

    // Opens `bytes` from memory and from a file, unseals every member, checks
    // that both ways agree and that the allocations stayed within the size.
    Outcome Try(const Bytes& bytes) const {
        WriteFile(bytes);
        Outcome out;
        ThbTar fromBytes;
        ThbTar fromFile;
        std::string fileReason;
        alloc_probe::gLargest = 0;
        alloc_probe::gTrack = true;
        const PackageStatus status = fromBytes.OpenBytes(bytes, &out.reason);
        out.opened = status == PackageStatus::Ok;
        const PackageStatus fileStatus = fromFile.Open(PackagePath(), &fileReason);
        std::vector<std::size_t> plainSizes;
        if (out.opened) {
            for (int i = 0; i < fromBytes.Count(); ++i) {
                Bytes plain;
                bool ok = true;
                try {
                    SetPassPhrase(MemberPassPhrase(i % kThemeMemberCount));
                    DecryptStream(fromBytes.GetMember(i), plain);
                } catch (const ECipherException&) {
                    ok = false;
                }
                out.unsealed.push_back(ok);
                plainSizes.push_back(plain.size());
            }
        }
        alloc_probe::gTrack = false;
        const std::size_t largest = alloc_probe::gLargest;

        EXPECT_LE(largest, bytes.size() + kSlack);
        // Both refuse alike, for the same reason.
        EXPECT_EQ(fileStatus, status);
        EXPECT_EQ(fileReason, out.reason);
        EXPECT_EQ(out.opened, out.reason.empty());
        if (!out.opened) {
            EXPECT_EQ(fromBytes.Count(), 0);
            return out;
        }
        EXPECT_EQ(fromFile.Count(), fromBytes.Count());
        std::size_t at = kPackageHeaderSize + kPackageEntrySize * static_cast<std::size_t>(fromBytes.Count());
        for (int i = 0; i < fromBytes.Count(); ++i) {
            const auto m = fromBytes.GetMember(i);
            const auto f = fromFile.GetMember(i);
            EXPECT_TRUE(m.size() == f.size() && std::equal(m.begin(), m.end(), f.begin())) << "member " << i;
            EXPECT_LE(at + m.size(), bytes.size());
            at += m.size();
            out.members.emplace_back(m.begin(), m.end());
            if (out.unsealed[static_cast<std::size_t>(i)]) {
                EXPECT_LT(plainSizes[static_cast<std::size_t>(i)], m.size());
            }
        }
        return out;
    }

    // The whole theme load over `bytes`: success, or a failed step from
    // `earliestStep` on, with a reason.
    void LoadWhole(const Bytes& bytes, int earliestStep) const {
        WriteFile(bytes);
        ThemeData theme;
        const bool loaded = LoadTheme({PackagePath(), dir_ + "/html"}, theme);
        if (loaded) {
            EXPECT_EQ(theme.failedStep, 0);
        } else {
            EXPECT_GE(theme.failedStep, earliestStep) << theme.reason;
            EXPECT_LE(theme.failedStep, 24);
            EXPECT_FALSE(theme.reason.empty());
        }
    }

    static Bytes Flipped(std::size_t bit) {
        Bytes b = *package_;
        b[bit / 8] = static_cast<std::uint8_t>(b[bit / 8] ^ (1u << (bit % 8)));
        return b;
    }

    static std::vector<Bytes>* sealed_;
    static Bytes* package_;
    std::string dir_;
};

std::vector<Bytes>* MalformedPackage::sealed_ = nullptr;
Bytes* MalformedPackage::package_ = nullptr;

TEST_F(MalformedPackage, TheIntactPackageLoads) {
    const Outcome o = Try(*package_);
    ASSERT_TRUE(o.opened) << o.reason;
    EXPECT_EQ(o.members, *sealed_);
    EXPECT_EQ(std::count(o.unsealed.begin(), o.unsealed.end(), true), kThemeMembers);
    LoadWhole(*package_, 25);  // no step may fail
}

TEST_F(MalformedPackage, EveryTruncationIsRefused) {
    const Bytes& whole = *package_;
    for (std::size_t length = 0; length < whole.size(); ++length) {
        SCOPED_TRACE("cut at " + std::to_string(length));
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
        const Outcome o = Try(cut);
        EXPECT_FALSE(o.opened);
        EXPECT_EQ(o.reason == "bad magic", length < 3);
        if (length % 61 == 0) LoadWhole(cut, 1);
        if (HasFailure()) return;
    }
}

TEST_F(MalformedPackage, EveryFlipInHeaderAndDirectory) {
    const std::size_t dirEnd = kPackageHeaderSize + kPackageEntrySize * kThemeMembers;
    for (std::size_t bit = 0; bit < dirEnd * 8; ++bit) {
        SCOPED_TRACE("bit " + std::to_string(bit));
        const std::size_t byte = bit / 8;
        const Bytes damaged = Flipped(bit);
        const Outcome o = Try(damaged);
        if (byte < 3) {
            EXPECT_EQ(o.reason, "bad magic");
        } else if (byte >= kPackageHeaderSize && (byte - kPackageHeaderSize) % kPackageEntrySize >= 4) {
            // The directory's second words are not used.
            EXPECT_TRUE(o.opened) << o.reason;
            EXPECT_EQ(o.members, *sealed_);
        }
        LoadWhole(damaged, 1);
        if (HasFailure()) return;
    }
}

TEST_F(MalformedPackage, SampledFlipsInMemberData) {
    const std::size_t dirEnd = kPackageHeaderSize + kPackageEntrySize * kThemeMembers;
    std::vector<std::size_t> starts;  // first byte of each member
    std::size_t at = dirEnd;
    for (const Bytes& m : *sealed_) {
        starts.push_back(at);
        at += m.size();
    }
    for (std::size_t bit = dirEnd * 8; bit < package_->size() * 8; bit += 29) {
        SCOPED_TRACE("bit " + std::to_string(bit));
        const std::size_t byte = bit / 8;
        const int member = static_cast<int>(std::upper_bound(starts.begin(), starts.end(), byte) - starts.begin()) - 1;
        const Bytes damaged = Flipped(bit);
        const Outcome o = Try(damaged);
        ASSERT_TRUE(o.opened) << o.reason;
        for (int i = 0; i < kThemeMembers; ++i) {
            if (i == member) continue;
            EXPECT_EQ(o.members[static_cast<std::size_t>(i)], (*sealed_)[static_cast<std::size_t>(i)]);
            EXPECT_TRUE(o.unsealed[static_cast<std::size_t>(i)]) << "member " << i;
        }
        // A theme fails no earlier than at the damaged member's step.
        if (bit % 3 == 0) LoadWhole(damaged, ThemeStepOfMember(member));
        if (HasFailure()) return;
    }
}

}  // namespace
}  // namespace nebrin
