#include "session/ConnectionSnapshot.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "session/AddressText.h"
#include "text/FixedText.h"

namespace varnel {

namespace {

// The port is in network byte order in the low 16 bits of its field, on any machine.
uint16_t PortToHost(uint32_t field) {
    return ntohs(static_cast<uint16_t>(field & 0xFFFFu));
}

// The first octet of a network-order address ("0" of "0.x.x.x").
uint32_t FirstOctet(uint32_t networkOrder) {
    return ntohl(networkOrder) >> 24;
}

}  // namespace

bool ConnectionSnapshot::StateKept(uint32_t state) {
    static constexpr bool kKept[12] = {true,  true,  true,  true,  true,  false,
                                       false, false, false, false, false, true};
    uint32_t index = state <= 1 ? 0 : state - 1;
    return index < 12 && kKept[index];
}

void ConnectionSnapshot::ReadTable() {
    if (table_.HasTcpExTableFromStack() && !table_.HasExtendedTcpTable()) {
        readReader_ = 2;
        readOk_ = table_.GetTcpExTableFromStack(rows_);
    } else if (table_.HasExtendedTcpTable()) {
        readReader_ = 1;
        readOk_ = table_.GetExtendedTcpTable(rows_);
    } else {
        readReader_ = 3;
        readOk_ = table_.GetTcpTable(rows_);
    }
}

int ConnectionSnapshot::TakeSnapshot(SessionTable& table, bool alreadyRead) {
    if (!alreadyRead) ReadTable();
    const int reader = readReader_;
    const bool ok = readOk_;
    kept_.clear();
    shownKept_ = 0;
    listable_ = 0;
    lastReadOk_ = ok;
    if (!ok) {
        firstSeen_.Forget();
        return 0;
    }

    processNames_.BeginPoll();
    withProcess_ = reader != 3;
    ++polls_;
    kept6_.clear();
    halfClosed_.clear();
    for (const TcpRow& row : rows_) {
        KeptConnection k;
        if (!KeepRow(row, reader == 2, k)) continue;
        const bool halfClosed = IsHalfClosedState(row.state);
        (k.key.v6 && !showIpv6_ ? kept6_ : halfClosed ? halfClosed_ : kept_).push_back(k);
    }
    // What the list does not show goes after every connection it may show, so the list's slots
    // take the same connections as when the table had no IPv6 and no half-closed rows.
    const size_t listable = kept_.size();
    kept_.insert(kept_.end(), halfClosed_.begin(), halfClosed_.end());
    shownKept_ = kept_.size();
    kept_.insert(kept_.end(), kept6_.begin(), kept6_.end());
    firstSeen_.CarryOver(kept_, clock_.TickMs());
    listable_ = listable;
    if (rowFilter_) return StoreFiltered(table, listable);
    const int stored = static_cast<int>(std::min<size_t>(listable, SessionTable::kSlots));
    for (int i = 0; i < stored; ++i)
        FillRecord(kept_[static_cast<size_t>(i)], table.current[static_cast<size_t>(i)]);
    return stored;
}

int ConnectionSnapshot::StoreFiltered(SessionTable& table, size_t listable) {
    // The accepted connections move to the front in their order, the rejected ones follow them,
    // also in order, so entry i is still the connection of slot i.
    rejected_.clear();
    size_t accepted = 0;
    for (size_t i = 0; i < listable; ++i) {
        const KeptConnection k = kept_[i];
        FillRecord(k, scratch_);
        if (!rowFilter_(scratch_)) {
            rejected_.push_back(k);
            continue;
        }
        if (accepted < static_cast<size_t>(SessionTable::kSlots)) table.current[accepted] = scratch_;
        kept_[accepted++] = k;
    }
    std::copy(rejected_.begin(), rejected_.end(), kept_.begin() + static_cast<std::ptrdiff_t>(accepted));
    return static_cast<int>(std::min<size_t>(accepted, SessionTable::kSlots));
}

bool ConnectionSnapshot::KeepRow(const TcpRow& row, bool remotePortDefined, KeptConnection& k) {
    if (!IsHalfClosedState(row.state) && !StateKept(row.state)) return false;
    k = KeptConnection{};
    if (row.v6) {
        // "::" on either side is a listener or a socket not yet connected.
        if (row.localAddr6.IsUnspecified() || row.remoteAddr6.IsUnspecified()) return false;
        k.key.v6 = true;
        k.key.local6 = row.localAddr6;
        k.key.remote6 = row.remoteAddr6;
    } else {
        // "0.0.0.0" on either side is a listener or a socket not yet connected.
        if (row.localAddr == 0 || row.remoteAddr == 0) return false;
        k.key.localAddr = row.localAddr;
        k.key.remoteAddr = row.remoteAddr;
    }
    k.key.localPort = PortToHost(row.localPort);
    k.key.remotePort = PortToHost(row.remotePort);
    // The table readers leave the remote port of an unconnected row undefined.
    if (!row.v6 && !remotePortDefined && FirstOctet(row.remoteAddr) == 0) k.key.remotePort = 0;
    k.state = row.state;
    k.pid = row.owningPid;
    return true;
}

size_t ConnectionSnapshot::FormatProcessText(const KeptConnection& k, char* out, size_t outSize) {
    if (!withProcess_) {
        out[0] = '\0';
        return 0;
    }
    const int32_t pid = static_cast<int32_t>(k.pid);
    std::string_view name = processNames_.ProcessNameForPid(pid);
    char pidText[16];
    int pidLen = std::snprintf(pidText, sizeof pidText, "(%d)", pid);
    // The name is cut, never the PID.
    size_t nameRoom = outSize - 1 - static_cast<size_t>(pidLen);
    size_t nameLen = CopyFixedText(out, nameRoom + 1, name);
    std::memcpy(out + nameLen, pidText, static_cast<size_t>(pidLen) + 1);
    return nameLen + static_cast<size_t>(pidLen);
}

void ConnectionSnapshot::FillRecord(const KeptConnection& k, SessionRecord& r, HostNames names) {
    std::memset(static_cast<void*>(&r), 0, sizeof r);
    AddressText::FormatLocal(k.key, r.localAddress);
    AddressText::FormatRemote(k.key, r.remoteAddress);
    r.localPort = k.key.localPort;
    r.remotePort = k.key.remotePort;
    r.key = k.key;
    r.pid = k.pid;
    if (names == HostNames::kNone) {
        // The host texts stay empty.
    } else if (hostNames_ != nullptr) {
        hostNames_->LookupHostName(r.localAddress, r.localHost, sizeof r.localHost);
        hostNames_->LookupHostName(r.remoteAddress, r.remoteHost, sizeof r.remoteHost);
    } else {
        std::memcpy(r.localHost, r.localAddress, sizeof r.localAddress);
        std::memcpy(r.remoteHost, r.remoteAddress, sizeof r.remoteAddress);
    }
    r.state = static_cast<int32_t>(k.state);
    FormatProcessText(k, r.processText, sizeof r.processText);
    r.firstSeen = k.firstSeen;
}

}  // namespace varnel
