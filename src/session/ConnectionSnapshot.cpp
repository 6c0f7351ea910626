#include "session/ConnectionSnapshot.h"

#include <cstdio>
#include <cstring>

#include "session/FixedText.h"

namespace varnel {

namespace {

uint32_t HashTuple(const char* localAddress, int32_t localPort, const char* remoteAddress, int32_t remotePort) {
    uint32_t h = 2166136261u;
    auto mix = [&h](unsigned char c) { h = (h ^ c) * 16777619u; };
    for (const char* p = localAddress; *p; ++p) mix(static_cast<unsigned char>(*p));
    mix(0);
    for (const char* p = remoteAddress; *p; ++p) mix(static_cast<unsigned char>(*p));
    h ^= static_cast<uint32_t>(localPort) * 0x9E3779B1u;
    h ^= static_cast<uint32_t>(remotePort) * 0x85EBCA77u;
    h ^= h >> 15;
    return h;
}

bool SameTuple(const SessionRecord& a, const SessionRecord& b) {
    return a.localPort == b.localPort && a.remotePort == b.remotePort &&
           std::strcmp(a.localAddress, b.localAddress) == 0 && std::strcmp(a.remoteAddress, b.remoteAddress) == 0;
}

void FormatAddress(uint32_t addr, char* out, size_t n) {
    const auto* b = reinterpret_cast<const unsigned char*>(&addr);
    std::snprintf(out, n, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
}

int PortToHost(uint32_t field) {
    const auto* b = reinterpret_cast<const unsigned char*>(&field);
    return b[0] * 256 + b[1];
}

}  // namespace

bool ConnectionSnapshot::StateKept(uint32_t state) {
    static constexpr bool kKept[12] = {true,  true,  true,  true,  true,  false,
                                       false, false, false, false, false, true};
    uint32_t index = state <= 1 ? 0 : state - 1;
    return index < 12 && kKept[index];
}

void ConnectionSnapshot::IndexPrevious(const SessionTable& table) {
    previousIndex_.fill(0);
    constexpr uint32_t mask = 2048 - 1;
    for (int slot = 0; slot < SessionTable::kSlots; ++slot) {
        const SessionRecord& r = table.previous[slot];
        if (r.localAddress[0] == '\0') continue;  // a never-filled slot matches no real connection
        uint32_t i = HashTuple(r.localAddress, r.localPort, r.remoteAddress, r.remotePort) & mask;
        for (;; i = (i + 1) & mask) {
            int16_t at = previousIndex_[i];
            if (at == 0) {
                previousIndex_[i] = static_cast<int16_t>(slot + 1);
                break;
            }
            if (SameTuple(table.previous[at - 1], r)) break;  // keep the first slot of equal tuples
        }
    }
}

uint32_t ConnectionSnapshot::CarriedFirstSeen(const SessionTable& table, const SessionRecord& r,
                                              uint32_t now) const {
    constexpr uint32_t mask = 2048 - 1;
    for (uint32_t i = HashTuple(r.localAddress, r.localPort, r.remoteAddress, r.remotePort) & mask;;
         i = (i + 1) & mask) {
        int16_t at = previousIndex_[i];
        if (at == 0) return now;
        const SessionRecord& p = table.previous[at - 1];
        if (SameTuple(p, r)) return p.firstSeen != 0 ? p.firstSeen : now;
    }
}

int ConnectionSnapshot::TakeSnapshot(SessionTable& table) {
    int reader;
    bool ok;
    if (table_.HasTcpExTableFromStack() && !table_.HasExtendedTcpTable()) {
        reader = 2;
        ok = table_.GetTcpExTableFromStack(rows_);
    } else if (table_.HasExtendedTcpTable()) {
        reader = 1;
        ok = table_.GetExtendedTcpTable(rows_);
    } else {
        reader = 3;
        ok = table_.GetTcpTable(rows_);
    }
    if (!ok) return 0;

    IndexPrevious(table);
    processNames_.BeginPoll();
    const uint32_t now = clock_.TickMs();
    int stored = 0;
    for (const TcpRow& row : rows_) {
        if (stored >= SessionTable::kSlots) break;
        SessionRecord& r = table.current[stored];
        FormatAddress(row.localAddr, r.localAddress, sizeof r.localAddress);
        FormatAddress(row.remoteAddr, r.remoteAddress, sizeof r.remoteAddress);
        if (std::strcmp(r.localAddress, "0.0.0.0") == 0 || std::strcmp(r.remoteAddress, "0.0.0.0") == 0 ||
            !StateKept(row.state)) {
            r.localAddress[0] = r.remoteAddress[0] = '\0';  // the slot stays all zero for the next row
            continue;
        }
        r.localPort = PortToHost(row.localPort);
        r.remotePort = PortToHost(row.remotePort);
        // The table readers leave the remote port of an unconnected row undefined; the "from
        // stack" reader does not.
        if (reader != 2 && (row.remoteAddr & 0xFF) == 0) r.remotePort = 0;
        if (hostNames_ != nullptr) {
            hostNames_->LookupHostName(r.localAddress, r.localHost, sizeof r.localHost);
            hostNames_->LookupHostName(r.remoteAddress, r.remoteHost, sizeof r.remoteHost);
        } else {
            std::memcpy(r.localHost, r.localAddress, sizeof r.localAddress);
            std::memcpy(r.remoteHost, r.remoteAddress, sizeof r.remoteAddress);
        }
        r.state = static_cast<int32_t>(row.state);
        if (reader != 3) {
            const int32_t pid = static_cast<int32_t>(row.owningPid);
            std::string_view name = processNames_.ProcessNameForPid(pid);
            char pidText[16];
            int pidLen = std::snprintf(pidText, sizeof pidText, "(%d)", pid);
            // The name is cut, never the PID.
            size_t nameRoom = sizeof r.processText - 1 - static_cast<size_t>(pidLen);
            size_t nameLen = CopyFixedText(r.processText, nameRoom + 1, name);
            std::memcpy(r.processText + nameLen, pidText, static_cast<size_t>(pidLen) + 1);
        }
        r.firstSeen = CarriedFirstSeen(table, r, now);
        ++stored;
    }
    return stored;
}

}  // namespace varnel
