#include "stats/PerfData.h"

#include <vector>

namespace nebrin {

namespace {

using namespace perf;

class Bytes {
public:
    explicit Bytes(std::span<const std::uint8_t> data) : data_(data) {}

    std::size_t size() const { return data_.size(); }

    // True when [offset, offset + length) lies inside [0, end) and end inside the data.
    bool Fits(std::uint64_t offset, std::uint64_t length, std::uint64_t end) const {
        return end <= data_.size() && offset <= end && length <= end - offset;
    }

    std::uint32_t U32(std::uint64_t offset) const {
        const std::uint8_t* p = data_.data() + offset;
        return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
               static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    }

    std::uint16_t U16(std::uint64_t offset) const {
        const std::uint8_t* p = data_.data() + offset;
        return static_cast<std::uint16_t>(p[0] | p[1] << 8);
    }

private:
    std::span<const std::uint8_t> data_;
};

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The UTF-16 name of `units` code units at `offset`, up to its first NUL,
// in UTF-8 with ASCII letters lower-cased. Unpaired surrogates become U+FFFD.
std::string InstanceName(const Bytes& b, std::uint64_t offset, std::uint64_t units) {
    std::string name;
    for (std::uint64_t i = 0; i < units; ++i) {
        char32_t c = b.U16(offset + 2 * i);
        if (c == 0) break;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units) {
            const char32_t low = b.U16(offset + 2 * (i + 1));
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            } else {
                c = 0xFFFD;
            }
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
        AppendUtf8(name, c);
    }
    return name;
}

struct Counter {
    std::uint32_t index;
    std::uint32_t offset;
};

// Reads the wanted counters of the counter block at `block`, which must lie
// inside [.., end). Returns the offset after the block, or 0 when it does not fit.
std::uint64_t ReadCounterBlock(const Bytes& b, std::uint64_t block, std::uint64_t end,
                               const std::vector<Counter>& counters, int slot, PerfSlots& slots) {
    if (!b.Fits(block, kCounterBlockSize, end)) return 0;
    const std::uint32_t length = b.U32(block);
    if (length < kCounterBlockSize || !b.Fits(block, length, end)) return 0;
    for (const Counter& c : counters) {
        if (c.index != kBytesSentIndex && c.index != kBytesReceivedIndex) continue;
        if (!b.Fits(block + c.offset, 4, block + length)) return 0;
        const std::uint32_t value = b.U32(block + c.offset);
        auto& stored = c.index == kBytesSentIndex ? slots.sent[static_cast<std::size_t>(slot)]
                                                  : slots.received[static_cast<std::size_t>(slot)];
        if (value > stored) stored = value;
    }
    return block + length;
}

}  // namespace

PerfWalk WalkPerfData(std::span<const std::uint8_t> data, int firstSlot, PerfSlots& slots) {
    const Bytes b(data);
    if (b.size() < kMinData) return PerfWalk::TooShort;
    const std::uint32_t numObjects = b.U32(kBlockNumObjectTypes);
    if (numObjects == 0) return PerfWalk::NoObjects;
    const std::uint64_t end = b.size();
    if (b.U32(kBlockTotalByteLength) > end) return PerfWalk::Malformed;

    int slot = firstSlot;
    std::uint64_t object = b.U32(kBlockHeaderLength);
    std::vector<Counter> counters;
    for (std::uint32_t k = 0; k < numObjects; ++k) {
        if (!b.Fits(object, kObjSize, end)) return PerfWalk::Malformed;
        const std::uint32_t objectLength = b.U32(object + kObjTotalByteLength);
        if (objectLength < kObjSize || !b.Fits(object, objectLength, end)) return PerfWalk::Malformed;
        const std::uint64_t objectEnd = object + objectLength;

        const std::uint32_t numCounters = b.U32(object + kObjNumCounters);
        if (numCounters > kMaxCounters) return PerfWalk::TooManyCounters;
        counters.clear();
        std::uint64_t p = object + b.U32(object + kObjHeaderLength);
        for (std::uint32_t c = 0; c < numCounters; ++c) {
            if (!b.Fits(p, kDefSize, objectEnd)) return PerfWalk::Malformed;
            const std::uint32_t defLength = b.U32(p + kDefByteLength);
            if (defLength < kDefSize || !b.Fits(p, defLength, objectEnd)) return PerfWalk::Malformed;
            counters.push_back({b.U32(p + kDefNameTitleIndex), b.U32(p + kDefCounterOffset)});
            p += defLength;
        }

        const auto numInstances = static_cast<std::int32_t>(b.U32(object + kObjNumInstances));
        if (numInstances < 1) {
            if (slot <= kRasSlots - 1) {
                slots.labels[static_cast<std::size_t>(slot)] = "all";
                if (ReadCounterBlock(b, p, objectEnd, counters, slot, slots) == 0) return PerfWalk::Malformed;
            }
        } else {
            for (std::int32_t i = 0; i < numInstances && slot <= kRasSlots - 1; ++i) {
                if (!b.Fits(p, kInstSize, objectEnd)) return PerfWalk::Malformed;
                const std::uint32_t instLength = b.U32(p + kInstByteLength);
                if (instLength < kInstSize || !b.Fits(p, instLength, objectEnd)) return PerfWalk::Malformed;
                const std::uint32_t nameOffset = b.U32(p + kInstNameOffset);
                const std::uint32_t nameLength = b.U32(p + kInstNameLength);
                if (!b.Fits(p + nameOffset, nameLength, p + instLength)) return PerfWalk::Malformed;
                slots.labels[static_cast<std::size_t>(slot)] = InstanceName(b, p + nameOffset, nameLength / 2);
                p = ReadCounterBlock(b, p + instLength, objectEnd, counters, slot, slots);
                if (p == 0) return PerfWalk::Malformed;
                ++slots.totPorts;
                ++slot;
            }
        }
        object += objectLength;
    }
    return PerfWalk::Ok;
}

}  // namespace nebrin
