#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/Clock.h"
#include "platform/ConnectionTable.h"
#include "session/FirstSeenTable.h"
#include "session/HostNameSource.h"
#include "session/KeptConnection.h"
#include "session/ProcessNameCache.h"
#include "session/SessionTable.h"

namespace varnel {

// One poll of the connection table, written straight into the current array of a SessionTable.
//
// Which reader serves is decided at every poll from the table's fixed availability: the
// "from stack" reader when it alone has owners, else the extended reader, else the plain one
// (then no row carries a process). Listening endpoints (0.0.0.0 or :: on either side) and the
// states that carry no more data (CLOSING, LAST_ACK, TIME_WAIT) are dropped; what is left are the
// poll's kept connections, of both IP versions. The list shows the states it always showed
// (StateKept): the first 600 such connections in table order are stored as records; the list
// shows at most 599, but the poll remembers every kept connection (kept()), so that auto kill sees
// those the list has no room for or does not show. Half-closed connections (FIN_WAIT1, FIN_WAIT2,
// CLOSE_WAIT: one direction still carries data) are kept for auto kill but never stored; they
// follow the connections the list may show. IPv6 connections are shown only while SetShowIpv6 is
// on; otherwise they come last in kept() and are never stored, so the list is what it is on a
// table without IPv6 and without half-closed connections. A connection's identity is its
// four-tuple; its first-seen tick is carried over from the previous poll when that poll kept it
// (stored or not), else it is now; a connection back in a listed state from a half-closed one is
// new again, as one back from a state that is not kept.
//
// Dependencies are borrowed and must outlive the snapshot. Tick's thread only. A poll allocates
// nothing once its buffers have grown to the table's size.
class ConnectionSnapshot {
  public:
    ConnectionSnapshot(ConnectionTable& table, ProcessNameCache& processNames, Clock& clock)
        : table_(table), processNames_(processNames), clock_(clock) {}

    // nullptr: host-name resolution off, the host texts are the addresses.
    void SetHostNameSource(HostNameSource* source) { hostNames_ = source; }
    HostNameSource* hostNameSource() const { return hostNames_; }

    // Whether IPv6 connections may be stored and shown (off at first). Takes effect at the next poll.
    void SetShowIpv6(bool on) { showIpv6_ = on; }
    bool showIpv6() const { return showIpv6_; }

    bool ProcessInfoAvailable() const {
        return table_.HasTcpExTableFromStack() || table_.HasExtendedTcpTable();
    }

    // Narrows the stored rows to the connections `filter` accepts, looked at in table order
    // before the 600-slot limit, so the list fills with matching connections however many others
    // there are. The rejected ones move behind the accepted ones in kept() (auto kill still sees
    // every kept connection). Empty: no filter. The filter sees each record as FillRecord makes it.
    using RowFilter = std::function<bool(const SessionRecord&)>;
    void SetRowFilter(RowFilter filter) { rowFilter_ = std::move(filter); }
    // The connections of the last poll the list could show without the filter (not limited).
    size_t listableCount() const { return listable_; }

    // Precondition: table.current is all zero. Returns the number of rows stored in table.current
    // (0..600). A failed read stores nothing and forgets every first-seen tick. `alreadyRead`: the
    // table was read by ReadTable since the last poll, and that read is used.
    int TakeSnapshot(SessionTable& table, bool alreadyRead = false);
    // Only the read of the connection table (the slow part of a poll), for a caller that reads it on
    // another thread while the tick's thread goes on judging kernel events: while it runs, that
    // other thread may use everything of this snapshot but TakeSnapshot and ReadTable (the read
    // touches only the table and its own buffer). The caller orders the two threads (a join).
    void ReadTable();
    // False when the last TakeSnapshot could not read the connection table (its empty result is
    // then no empty table); true before the first.
    bool lastReadOk() const { return lastReadOk_; }

    // Every kept connection of the last poll: those in a state the list shows, then the half-closed
    // ones, then the unshown IPv6 ones (of any kept state), each group in table order. Entry i is
    // stored in slot i for every i below the poll's count of stored rows.
    const std::vector<KeptConnection>& kept() const { return kept_; }
    // How many entries of kept() are of an IP version the list shows (all of them while IPv6 is
    // shown, else the IPv4 ones), half-closed ones included; they come first.
    size_t shownKeptCount() const { return shownKept_; }

    // Whether FillRecord asks the host-name source for the host texts.
    enum class HostNames {
        kLookUp,  // the cached name, or "(address)" and a lookup started (as for a stored row)
        kNone,    // left empty, nothing asked: for a caller that works the names out itself
    };
    // Fills `r` (cleared first) with what the poll would have stored for `k`: key, address texts,
    // host names as `names` says, ports, state, process text, PID and first-seen tick.
    void FillRecord(const KeptConnection& k, SessionRecord& r, HostNames names = HostNames::kLookUp);
    // The process text "name(pid)" of `k` (empty when the last poll's reader names no owners).
    // Returns its length; `out` is terminated and cut to `outSize`.
    size_t FormatProcessText(const KeptConnection& k, char* out, size_t outSize);

    // The connection `row` names as a poll keeps it (key, state, owner; no first-seen tick), or
    // false when a poll would drop it: a listener, a socket not yet connected, or a state that
    // carries no more data. `remotePortDefined`: the reader fills the remote port of an
    // unconnected row (the "from stack" reader and the kernel's own events do).
    static bool KeepRow(const TcpRow& row, bool remotePortDefined, KeptConnection& k);
    // How many polls have read the table (the process texts follow the last one's reader).
    uint64_t polls() const { return polls_; }

    // The list's state filter: CLOSED, LISTEN, SYN_SENT, SYN_RCVD, ESTABLISHED, DELETE_TCB (a code
    // of 1 or less counts as CLOSED). Half-closed connections are kept besides, for auto kill only.
    static bool StateKept(uint32_t state);

  private:
    int StoreFiltered(SessionTable& table, size_t listable);

    ConnectionTable& table_;
    ProcessNameCache& processNames_;
    Clock& clock_;
    HostNameSource* hostNames_ = nullptr;
    std::vector<TcpRow> rows_;
    std::vector<KeptConnection> kept_;
    std::vector<KeptConnection> kept6_;  // the poll's unshown IPv6 connections, before they join kept_
    std::vector<KeptConnection> halfClosed_;  // its shown-version half-closed ones, likewise
    bool showIpv6_ = false;
    size_t shownKept_ = 0;
    size_t listable_ = 0;
    RowFilter rowFilter_;
    std::vector<KeptConnection> rejected_;  // the filter's rejects of a poll, before they rejoin kept_
    SessionRecord scratch_{};
    FirstSeenTable firstSeen_;
    bool withProcess_ = false;  // the last poll's reader names owners
    bool lastReadOk_ = true;
    uint64_t polls_ = 0;
    int readReader_ = 3;  // the last ReadTable's reader: 1 extended, 2 from stack, 3 plain
    bool readOk_ = false;
};

}  // namespace varnel
