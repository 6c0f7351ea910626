#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "platform/Clock.h"
#include "platform/ConnectionTable.h"
#include "session/HostNameSource.h"
#include "session/ProcessNameCache.h"
#include "session/SessionTable.h"

namespace varnel {

// One poll of the connection table, written straight into the current array of a SessionTable.
//
// Which reader serves is decided at every poll from the table's fixed availability: the
// "from stack" reader when it alone has owners, else the extended reader, else the plain one
// (then no row carries a process). Rows are kept in table order, at most 600; listening endpoints
// (0.0.0.0 on either side) and the closing states (FIN_WAIT1 .. TIME_WAIT) are dropped. A
// connection's identity is its four-tuple; its first-seen tick is carried over from the previous
// poll's record of the same four-tuple, else it is now.
//
// Dependencies are borrowed and must outlive the snapshot. Tick's thread only. A poll allocates
// nothing once the row buffer has grown to the table's size.
class ConnectionSnapshot {
public:
    ConnectionSnapshot(ConnectionTable& table, ProcessNameCache& processNames, Clock& clock)
        : table_(table), processNames_(processNames), clock_(clock) {}

    // nullptr: host-name resolution off, the host texts are the addresses.
    void SetHostNameSource(HostNameSource* source) { hostNames_ = source; }
    HostNameSource* hostNameSource() const { return hostNames_; }

    bool ProcessInfoAvailable() const { return table_.HasTcpExTableFromStack() || table_.HasExtendedTcpTable(); }

    // Precondition: table.current is all zero; table.previous holds the last poll's rows.
    // Returns the number of rows stored in table.current (0..600).
    int TakeSnapshot(SessionTable& table);

    static bool StateKept(uint32_t state);

private:
    void IndexPrevious(const SessionTable& table);
    uint32_t CarriedFirstSeen(const SessionTable& table, const SessionRecord& r, uint32_t now) const;

    ConnectionTable& table_;
    ProcessNameCache& processNames_;
    Clock& clock_;
    HostNameSource* hostNames_ = nullptr;
    std::vector<TcpRow> rows_;
    // Open-addressed index of the previous array by four-tuple: slot number + 1, 0 = empty. It
    // finds the same record as a scan from slot 0 would (the first of equal four-tuples).
    std::array<int16_t, 2048> previousIndex_{};
};

}  // namespace varnel
