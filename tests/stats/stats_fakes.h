// Test doubles of the traffic sampler's sources, and a builder of
// performance data blocks.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "stats/PerfData.h"
#include "stats/StatsPlatform.h"

namespace nebrin::testing {

// Registry keys by root and path, each with values and subkey names.
class FakeRegistry : public IStatsRegistry {
public:
    struct KeyData {
        std::map<std::string, std::vector<std::uint8_t>> values;
        std::vector<std::string> subKeys;
    };

    KeyData& Add(Root root, const std::string& path) { return keys_[{root, path}]; }
    void SetDword(Root root, const std::string& path, const std::string& name, std::uint32_t v) {
        Add(root, path).values[name] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                                        static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
    }
    void Remove(Root root, const std::string& path) { keys_.erase({root, path}); }

    std::int32_t OpenKey(Root root, const std::string& path, bool fullAccess, Key& key) override {
        auto it = keys_.find({root, path});
        if (it == keys_.end()) return kStatusFileNotFound;
        key = next_++;
        open_[key] = &it->second;
        opened.push_back(path + (fullAccess ? " (full)" : ""));
        return 0;
    }
    std::int32_t QueryValue(Key key, const std::string& name, std::uint8_t* data, std::uint32_t& size) override {
        KeyData* k = open_.at(key);
        auto it = k->values.find(name);
        queried.push_back(name);
        if (it == k->values.end()) return kStatusFileNotFound;
        const auto needed = static_cast<std::uint32_t>(it->second.size());
        if (data == nullptr) {
            size = needed;
            return 0;
        }
        if (size < needed) {
            size = needed;
            return kStatusMoreData;
        }
        std::memcpy(data, it->second.data(), needed);
        size = needed;
        return 0;
    }
    std::int32_t QuerySubKeyCount(Key key, std::uint32_t& count) override {
        count = static_cast<std::uint32_t>(open_.at(key)->subKeys.size());
        return 0;
    }
    std::int32_t EnumKey(Key key, std::uint32_t index, std::string& name) override {
        const auto& subs = open_.at(key)->subKeys;
        if (index >= subs.size()) return 259;
        if (subs[index].size() > 32) return kStatusMoreData;
        name = subs[index];
        return 0;
    }
    void CloseKey(Key key) override {
        if (open_.erase(key) == 0) ++badCloses;
    }

    int OpenCount() const { return static_cast<int>(open_.size()); }

    std::vector<std::string> opened;
    std::vector<std::string> queried;
    int badCloses = 0;

private:
    std::map<std::pair<Root, std::string>, KeyData> keys_;
    std::map<Key, KeyData*> open_;
    Key next_ = 1;
};

// Answers each object with fixed bytes, like the performance key: too small
// a buffer gets kStatusMoreData.
class FakePerfData : public IPerfData {
public:
    std::int32_t Query(const std::string& object, std::uint8_t* data, std::uint32_t& size) override {
        ++queries;
        capacities.push_back(size);
        auto it = objects.find(object);
        if (it == objects.end()) {
            size = 0;
            return kStatusFileNotFound;
        }
        if (size < it->second.size()) return kStatusMoreData;
        std::memcpy(data, it->second.data(), it->second.size());
        size = static_cast<std::uint32_t>(it->second.size());
        return 0;
    }
    void Close() override { ++closes; }

    std::map<std::string, std::vector<std::uint8_t>> objects;
    int queries = 0;
    int closes = 0;
    std::vector<std::uint32_t> capacities;
};

class FakePdh : public IPdhApi {
public:
    struct Reading {
        std::int32_t status = 0;
        std::uint32_t cstatus = 0;
        std::int64_t value = 0;
    };

    bool Load() override { return available; }
    std::int32_t OpenQuery(Handle& query) override {
        if (openStatus != 0) return openStatus;
        query = 77;
        ++opens;
        return 0;
    }
    std::int32_t AddCounter(Handle query, const std::string& path, Handle& counter) override {
        paths.push_back(path);
        if (paths.size() == failAddAt) return addStatus;
        counter = path.find("Received") != std::string::npos ? 1 : 2;
        return 0;
    }
    std::int32_t CollectQueryData(Handle) override { return collectStatus; }
    std::int32_t GetRawCounterValue(Handle counter, std::uint32_t& type, PdhRawCounter& value) override {
        auto& queue = counter == 1 ? received : sent;
        reads.push_back(counter == 1 ? "received" : "sent");
        Reading r;  // nothing queued: a valid 0
        if (!queue.empty()) {
            r = queue.front();
            queue.pop_front();
        }
        value.CStatus = r.cstatus;
        value.FirstValue = r.value;
        return r.status;
    }
    void CloseQuery(Handle query) override { closed.push_back(query); }

    bool available = true;
    std::int32_t openStatus = 0;
    std::size_t failAddAt = 0;  // 1-based AddCounter call that fails
    std::int32_t addStatus = 0;
    std::int32_t collectStatus = 0;
    std::deque<Reading> sent, received;
    std::vector<std::string> paths, reads;
    std::vector<Handle> closed;
    int opens = 0;
};

class FakeRas : public IRasStatsApi {
public:
    bool Load() override { return loads; }
    bool HasStatistics() override { return loads && statistics; }
    std::uint32_t GetConnectionStatistics(Handle h, RasStatsRecord& stats) override {
        gets.push_back(h);
        auto it = connections.find(h);
        if (it == connections.end()) return 6;
        stats = it->second;
        return 0;
    }
    std::uint32_t GetLinkStatistics(Handle h, std::uint32_t, RasStatsRecord& stats) override {
        return GetConnectionStatistics(h, stats);
    }
    std::uint32_t ClearConnectionStatistics(Handle h) override {
        clears.push_back(h);
        return connections.count(h) ? 0 : 6;
    }
    std::string ErrorString(std::uint32_t code) override { return errorTexts[code]; }
    std::string SystemMessage(std::uint32_t code) override { return "system " + std::to_string(code); }

    bool loads = true;
    bool statistics = true;
    std::map<Handle, RasStatsRecord> connections;
    std::map<std::uint32_t, std::string> errorTexts;
    std::vector<Handle> gets, clears;
};

// Builds performance data: a block header followed by object types, each
// with counter definitions and either one counter block or instances.
class PerfBuilder {
public:
    struct Instance {
        std::u16string name;
        std::uint32_t sent = 0, received = 0;
    };
    struct Object {
        std::uint32_t numCounters = 2;  // bytes sent (872) and received (874) first, then fillers
        bool instances = false;
        std::uint32_t sent = 0, received = 0;    // without instances
        std::vector<Instance> list{};            // with instances
        std::int32_t numInstancesOverride = -2;  // -2: the list's size
    };

    std::vector<Object> objects;
    std::uint32_t numObjectsOverride = UINT32_MAX;

    // Offsets of interesting fields in the last build, for tests that lie.
    std::vector<std::size_t> objectAt, firstDefAt, firstInstanceAt, firstCounterBlockAt;

    std::vector<std::uint8_t> Build() {
        using namespace perf;
        out_.assign(kBlockSize + 16, 0);  // header, then the system name area
        objectAt.clear();
        firstDefAt.clear();
        firstInstanceAt.clear();
        firstCounterBlockAt.clear();
        Put(0, 'P');
        Put(2, 'E');
        Put(4, 'R');
        Put(6, 'F');
        Put32(kBlockHeaderLength, static_cast<std::uint32_t>(out_.size()));
        Put32(kBlockNumObjectTypes,
              numObjectsOverride != UINT32_MAX ? numObjectsOverride : static_cast<std::uint32_t>(objects.size()));
        for (const Object& o : objects) {
            const std::size_t obj = out_.size();
            objectAt.push_back(obj);
            out_.resize(obj + kObjSize, 0);
            Put32(obj + kObjHeaderLength, kObjSize);
            Put32(obj + kObjNumCounters, o.numCounters);
            const std::int32_t n = o.numInstancesOverride != -2 ? o.numInstancesOverride
                                   : o.instances                ? static_cast<std::int32_t>(o.list.size())
                                                                : -1;
            Put32(obj + kObjNumInstances, static_cast<std::uint32_t>(n));
            firstDefAt.push_back(out_.size());
            for (std::uint32_t c = 0; c < o.numCounters; ++c) {
                const std::size_t def = out_.size();
                out_.resize(def + kDefSize, 0);
                Put32(def + kDefByteLength, kDefSize);
                Put32(def + kDefNameTitleIndex, c == 0 ? kBytesSentIndex : c == 1 ? kBytesReceivedIndex : 900 + c);
                Put32(def + kDefCounterSize, 4);
                Put32(def + kDefCounterOffset, 4 + 4 * c);
            }
            Put32(obj + kObjDefinitionLength, static_cast<std::uint32_t>(out_.size() - obj));
            if (!o.instances) {
                firstCounterBlockAt.push_back(out_.size());
                CounterBlock(o.numCounters, o.sent, o.received);
            } else {
                for (std::size_t i = 0; i < o.list.size(); ++i) {
                    const Instance& inst = o.list[i];
                    const std::size_t at = out_.size();
                    if (i == 0) firstInstanceAt.push_back(at);
                    const std::size_t nameBytes = (inst.name.size() + 1) * 2;
                    const std::size_t length = (kInstSize + nameBytes + 7) / 8 * 8;
                    out_.resize(at + length, 0);
                    Put32(at + kInstByteLength, static_cast<std::uint32_t>(length));
                    Put32(at + kInstNameOffset, kInstSize);
                    Put32(at + kInstNameLength, static_cast<std::uint32_t>(nameBytes));
                    for (std::size_t k = 0; k < inst.name.size(); ++k)
                        Put16(at + kInstSize + 2 * k, static_cast<std::uint16_t>(inst.name[k]));
                    if (i == 0) firstCounterBlockAt.push_back(out_.size());
                    CounterBlock(o.numCounters, inst.sent, inst.received);
                }
            }
            Put32(obj + kObjTotalByteLength, static_cast<std::uint32_t>(out_.size() - obj));
        }
        Put32(kBlockTotalByteLength, static_cast<std::uint32_t>(out_.size()));
        return out_;
    }

private:
    void CounterBlock(std::uint32_t numCounters, std::uint32_t sent, std::uint32_t received) {
        const std::size_t at = out_.size();
        const std::size_t length = 4 + 4 * std::max<std::uint32_t>(numCounters, 2);
        out_.resize(at + length, 0);
        Put32(at, static_cast<std::uint32_t>(length));
        if (numCounters > 0) Put32(at + 4, sent);
        if (numCounters > 1) Put32(at + 8, received);
    }
    void Put(std::size_t at, std::uint8_t v) { out_[at] = v; }
    void Put16(std::size_t at, std::uint16_t v) {
        out_[at] = static_cast<std::uint8_t>(v);
        out_[at + 1] = static_cast<std::uint8_t>(v >> 8);
    }
    void Put32(std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out_[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    }

    std::vector<std::uint8_t> out_;
};

inline void Patch32(std::vector<std::uint8_t>& data, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) data[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace nebrin::testing
