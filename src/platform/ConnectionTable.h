#pragma once

#include <vector>

#include "platform/TcpRow.h"

namespace varnel {

// The operating system's IPv4 TCP connection table, as three readers of different reach.
//
// Which readers exist is fixed when the object is built (HasExtendedTcpTable /
// HasTcpExTableFromStack never change afterwards); the caller picks one at every poll.
//   GetExtendedTcpTable    - all sockets with their owning PID (the preferred reader).
//   GetTcpExTableFromStack - the same content from another source, also with owning PIDs.
//   GetTcpTable            - all sockets, owningPid always 0.
// Each reader replaces the content of `rows` with the table in table order and returns true, or
// leaves `rows` empty and returns false when the table could not be read. `rows` keeps its capacity,
// so a caller that reuses one vector does not allocate per poll once it has grown.
//
// Threads: one caller of the readers at a time (the tick's thread, or a thread it waits for). The
// Has* questions, fixed at construction, may be asked from any thread meanwhile. Not copyable.
class ConnectionTable {
public:
    ConnectionTable() = default;
    ConnectionTable(const ConnectionTable&) = delete;
    ConnectionTable& operator=(const ConnectionTable&) = delete;
    virtual ~ConnectionTable() = default;

    virtual bool HasExtendedTcpTable() const = 0;
    virtual bool HasTcpExTableFromStack() const = 0;

    virtual bool GetExtendedTcpTable(std::vector<TcpRow>& rows) = 0;
    virtual bool GetTcpExTableFromStack(std::vector<TcpRow>& rows) = 0;
    virtual bool GetTcpTable(std::vector<TcpRow>& rows) = 0;
};

}  // namespace varnel
