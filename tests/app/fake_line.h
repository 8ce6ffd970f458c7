// A line library inside the process for the status ticker: the connections
// listed, their states and their byte counts come from plain fields, served
// by C functions behind a RasApi table that the loader is pointed at. No call
// takes memory from the heap, so it can stand under an allocation count.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "connection/hbRas.h"
#include "platform/Ras.h"

namespace nebrin::testing {

class FakeLine {
public:
    struct Connection {
        HRASCONN handle = 0;
        char entry[RAS_MaxEntryName + 1] = {};
        std::uint32_t state = RASCS_Connected;
        // Counts since the connection came up, and at the last clearing.
        std::uint32_t sent = 0, received = 0;
        std::uint32_t sentCleared = 0, receivedCleared = 0;
        char addresses[128] = {};  // as the line lists them
    };

    static FakeLine& I() {
        static FakeLine line;
        return line;
    }

    // Points the loader at this line and empties it.
    static void Install() {
        I() = FakeLine{};
        ResetRasApiForTesting();
        SetRasApiForTesting(Table());
    }
    static void Uninstall() { ResetRasApiForTesting(); }

    Connection& Add(HRASCONN handle, const char* entry, std::uint32_t state = RASCS_Connected) {
        Connection& c = conns_[count_++];
        c = Connection{};
        c.handle = handle;
        std::strncpy(c.entry, entry, RAS_MaxEntryName);
        c.state = state;
        return c;
    }
    void Remove(HRASCONN handle) {
        auto end = std::remove_if(conns_.begin(), conns_.begin() + count_,
                                  [handle](const Connection& c) { return c.handle == handle; });
        count_ = static_cast<std::size_t>(end - conns_.begin());
    }
    void Clear() { count_ = 0; }
    Connection* Find(HRASCONN handle) {
        for (std::size_t i = 0; i < count_; ++i)
            if (conns_[i].handle == handle) return &conns_[i];
        return nullptr;
    }
    // Traffic on a connection.
    void Move(HRASCONN handle, std::uint32_t sent, std::uint32_t received) {
        if (Connection* c = Find(handle)) {
            c->sent += sent;
            c->received += received;
        }
    }

    // Bytes received between two reads of the statistics, as on a line
    // that counts while the program looks.
    std::uint32_t receivedPerRead = 0;

    int enumCalls = 0, statusCalls = 0, statsCalls = 0, clearCalls = 0;

    static RasApi Table() {
        RasApi a;
        a.RasDialA = [](void*, const char*, RASDIALPARAMSA*, RAS_DWORD, void*, HRASCONN*) -> RAS_DWORD {
            return RAS_ERROR_CANNOT_OPEN_PHONEBOOK;
        };
        a.RasHangUpA = [](HRASCONN h) -> RAS_DWORD {
            I().Remove(h);
            return 0;
        };
        a.RasGetConnectStatusA = [](HRASCONN h, RASCONNSTATUSA* st) -> RAS_DWORD {
            FakeLine& l = I();
            ++l.statusCalls;
            const Connection* c = l.Find(h);
            if (!c) return RAS_ERROR_INVALID_HANDLE;
            const RAS_DWORD size = st->dwSize;
            std::memset(st, 0, size);
            st->dwSize = size;
            st->rasconnstate = c->state;
            std::strcpy(st->szDeviceType, "PPPoE");
            std::strcpy(st->szDeviceName, "Line");
            return 0;
        };
        a.RasEnumConnectionsA = [](RASCONNA* conns, RAS_DWORD* cb, RAS_DWORD* count) -> RAS_DWORD {
            FakeLine& l = I();
            ++l.enumCalls;
            const RAS_DWORD stride = conns->dwSize;
            auto* out = reinterpret_cast<std::uint8_t*>(conns);
            const RAS_DWORD need = static_cast<RAS_DWORD>(l.count_) * stride;
            for (std::size_t i = 0; i < l.count_ && (i + 1) * stride <= *cb; ++i) {
                RASCONNA rec;
                std::memset(&rec, 0, sizeof rec);
                rec.dwSize = stride;
                rec.hrasconn = l.conns_[i].handle;
                std::memcpy(rec.szEntryName, l.conns_[i].entry, sizeof rec.szEntryName);
                std::strcpy(rec.szDeviceType, "PPPoE");
                std::strcpy(rec.szDeviceName, "Line");
                std::memcpy(out + i * stride, &rec, stride);
            }
            const bool fits = need <= *cb;
            *count = static_cast<RAS_DWORD>(l.count_);
            *cb = need;
            return fits ? 0 : RAS_ERROR_BUFFER_TOO_SMALL;
        };
        a.RasGetErrorStringA = [](std::uint32_t, char* buffer, RAS_DWORD size) -> RAS_DWORD {
            if (size > 0) buffer[0] = 0;
            return RAS_ERROR_INVALID_PARAMETER;
        };
        a.RasGetConnectionStatistics = &Statistics;
        a.RasGetLinkStatistics = [](HRASCONN h, RAS_DWORD, RAS_STATS* st) { return Statistics(h, st); };
        a.NebrinRasAddresses = [](HRASCONN h, char* text, RAS_DWORD size) -> RAS_DWORD {
            const Connection* c = I().Find(h);
            if (!c) return RAS_ERROR_INVALID_HANDLE;
            if (std::strlen(c->addresses) >= size) return RAS_ERROR_BUFFER_TOO_SMALL;
            std::strcpy(text, c->addresses);
            return 0;
        };
        a.RasClearConnectionStatistics = [](HRASCONN h) -> RAS_DWORD {
            FakeLine& l = I();
            ++l.clearCalls;
            Connection* c = l.Find(h);
            if (!c) return RAS_ERROR_INVALID_HANDLE;
            c->sentCleared = c->sent;
            c->receivedCleared = c->received;
            return 0;
        };
        return a;
    }

private:
    static RAS_DWORD Statistics(HRASCONN h, RAS_STATS* st) {
        FakeLine& l = I();
        ++l.statsCalls;
        const Connection* c = l.Find(h);
        if (!c) return RAS_ERROR_INVALID_HANDLE;
        l.Move(h, 0, l.receivedPerRead);
        st->dwBytesXmited = c->sent - c->sentCleared;
        st->dwBytesRcved = c->received - c->receivedCleared;
        st->dwBps = 100000000;
        return 0;
    }

    std::array<Connection, 8> conns_{};
    std::size_t count_ = 0;
};

}  // namespace nebrin::testing
