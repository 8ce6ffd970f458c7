#include <gtest/gtest.h>

#include <memory>

#include "stats/PerfData.h"
#include "stats_fakes.h"

namespace nebrin {
namespace {

using testing::Patch32;
using testing::PerfBuilder;

// Walks a heap copy of exactly the data's size, so that a read past its end
// is a read outside the allocation (caught by the address sanitizer).
PerfWalk Walk(const std::vector<std::uint8_t>& data, int firstSlot, PerfSlots& slots) {
    std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[data.size()]);
    std::copy(data.begin(), data.end(), exact.get());
    return WalkPerfData({exact.get(), data.size()}, firstSlot, slots);
}

PerfBuilder Ports(std::size_t count) {
    PerfBuilder b;
    PerfBuilder::Object o;
    o.instances = true;
    for (std::size_t i = 0; i < count; ++i)
        o.list.push_back({u"RAS" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)),
                          static_cast<std::uint32_t>(100 + i), static_cast<std::uint32_t>(1000 + i)});
    b.objects.push_back(o);
    return b;
}

TEST(PerfDataTest, TotalsAndPortsWithTheMaximumRule) {
    PerfBuilder totals;
    totals.objects.push_back({.sent = 500, .received = 7000});
    PerfSlots slots;
    slots.sent[0] = 600;  // larger than the reading: kept
    ASSERT_EQ(Walk(totals.Build(), 0, slots), PerfWalk::Ok);
    EXPECT_EQ(slots.sent[0], 600u);
    EXPECT_EQ(slots.received[0], 7000u);
    EXPECT_EQ(slots.labels[0], "all");
    EXPECT_EQ(slots.totPorts, 0);

    PerfBuilder ports = Ports(2);
    ports.objects[0].list[1].name = u"Com\u017b2";  // converted, ASCII lower-cased
    ASSERT_EQ(Walk(ports.Build(), 1, slots), PerfWalk::Ok);
    EXPECT_EQ(slots.labels[1], "rasa");
    EXPECT_EQ(slots.labels[2],
              "com\xC5\xBB"
              "2");
    EXPECT_EQ(slots.sent[1], 100u);
    EXPECT_EQ(slots.received[2], 1001u);
    EXPECT_EQ(slots.totPorts, 2);
}

TEST(PerfDataTest, RefusalsByContent) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> data;
        PerfWalk expected;
    };
    PerfBuilder fifty, fiftyOne, none;
    fifty.objects.push_back({.numCounters = 50, .sent = 1, .received = 2});
    fiftyOne.objects.push_back({.numCounters = 51, .sent = 1, .received = 2});
    none.objects.push_back({});
    none.numObjectsOverride = 0;
    const Case cases[] = {
        {"99 bytes", std::vector<std::uint8_t>(99, 0), PerfWalk::TooShort},
        {"no object types", none.Build(), PerfWalk::NoObjects},
        {"50 counters", fifty.Build(), PerfWalk::Ok},
        {"51 counters", fiftyOne.Build(), PerfWalk::TooManyCounters},
    };
    for (const Case& c : cases) {
        PerfSlots slots;
        EXPECT_EQ(Walk(c.data, 0, slots), c.expected) << c.what;
    }
}

TEST(PerfDataTest, InstancesPastSlot30AreNotRead) {
    PerfBuilder b = Ports(35);
    std::vector<std::uint8_t> data = b.Build();
    // The 31st instance would land past slot 30; make it lie to prove that
    // nothing of it is read.
    std::size_t at = b.firstInstanceAt[0];
    for (int i = 0; i < 30; ++i) {
        const std::uint32_t instLength = data[at] | data[at + 1] << 8;
        at += instLength;
        at += data[at] | data[at + 1] << 8;  // its counter block
    }
    Patch32(data, at, 0xFFFFFFF0u);
    PerfSlots slots;
    ASSERT_EQ(Walk(data, 1, slots), PerfWalk::Ok);
    EXPECT_EQ(slots.totPorts, 30);
    EXPECT_EQ(slots.sent[30], 129u);
    EXPECT_EQ(slots.labels[30], "rasd");
}

TEST(PerfDataTest, EveryTruncationIsRefusedWithoutReadingOutside) {
    PerfBuilder b = Ports(3);
    b.objects.insert(b.objects.begin(), PerfBuilder::Object{.sent = 5, .received = 6});
    const std::vector<std::uint8_t> full = b.Build();
    for (std::size_t n = perf::kMinData; n < full.size(); ++n) {
        std::vector<std::uint8_t> cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
        Patch32(cut, perf::kBlockTotalByteLength, static_cast<std::uint32_t>(n));  // the header agrees
        PerfSlots slots;
        const PerfWalk r = Walk(cut, 0, slots);
        ASSERT_TRUE(r == PerfWalk::Malformed) << "cut at " << n;
    }
}

TEST(PerfDataTest, LyingOffsetsAndLengthsAreRefused) {
    PerfBuilder b = Ports(2);
    const std::vector<std::uint8_t> good = b.Build();
    const std::size_t obj = b.objectAt[0], def = b.firstDefAt[0], inst = b.firstInstanceAt[0],
                      block = b.firstCounterBlockAt[0];
    struct Case {
        const char* what;
        std::size_t at;
        std::uint32_t value;
    };
    const Case cases[] = {
        {"block total beyond the data", perf::kBlockTotalByteLength, 0x7FFFFFFF},
        {"first object beyond the data", perf::kBlockHeaderLength, 0xFFFFFFF0u},
        {"object longer than the data", obj + perf::kObjTotalByteLength, 0x10000},
        {"object shorter than its header", obj + perf::kObjTotalByteLength, 0},
        {"definitions beyond the object", obj + perf::kObjHeaderLength, 0x8000},
        {"definition of length 0", def + perf::kDefByteLength, 0},
        {"definition longer than the object", def + perf::kDefByteLength, 0xFFFFFF00u},
        {"counter outside its block", def + perf::kDefCounterOffset, 0x1000},
        {"counter straddling the block end", def + perf::kDefCounterOffset, 10},
        {"instance of length 0", inst + perf::kInstByteLength, 0},
        {"instance longer than the object", inst + perf::kInstByteLength, 0x40000000},
        {"name beyond the instance", inst + perf::kInstNameOffset, 0xFFFFFFFEu},
        {"name longer than the instance", inst + perf::kInstNameLength, 0x100},
        {"counter block of length 0", block, 0},
        {"counter block beyond the object", block, 0x7FFFFFF0},
        {"more instances than there are", obj + perf::kObjNumInstances, 3},
        {"more objects than there are", perf::kBlockNumObjectTypes, 2},
        {"four billion objects", perf::kBlockNumObjectTypes, 0xFFFFFFFFu},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> data = good;
        Patch32(data, c.at, c.value);
        PerfSlots slots;
        EXPECT_EQ(Walk(data, 1, slots), PerfWalk::Malformed) << c.what;
    }
}

}  // namespace
}  // namespace nebrin
