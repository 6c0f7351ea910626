#pragma once

#include <string>

#include "platform/TcpRow.h"

namespace varnel {

enum class ResetStatus {
    kOk,                // the kernel destroyed the socket; the peer sees the connection aborted
    kPermissionDenied,  // the caller lacks the right to reset connections (CAP_NET_ADMIN on Linux)
    kNotSupported,      // the kernel cannot destroy sockets
    kNoSuchConnection,  // no socket has that four-tuple (already gone)
    kFailed,            // anything else; `error` holds the errno
    kPending,           // cannot be done yet (the right to reset is being asked for); try again later
    kRefused,           // the privileged helper is not available or turned the request down; `detail` says why
};

struct ResetResult {
    ResetStatus status = ResetStatus::kFailed;
    int error = 0;       // errno of the failing call, 0 on success
    std::string detail;  // kPending, kRefused and some kFailed: why, for a person; else empty

    bool ok() const { return status == ResetStatus::kOk; }
    // One line for a person: why the reset failed and, where there is one, what would help.
    std::string Describe() const;
};

// Resets one connection, as the table's "delete the control block" request: `row` names the
// connection by its four-tuple (state should be kTcpDeleteTcb; owningPid is ignored), in the
// byte orders of TcpRow.
//
// Threads: any, one call at a time per object.
class ConnectionReset {
public:
    ConnectionReset() = default;
    ConnectionReset(const ConnectionReset&) = delete;
    ConnectionReset& operator=(const ConnectionReset&) = delete;
    virtual ~ConnectionReset() = default;

    virtual ResetResult SetTcpEntry(const TcpRow& row) = 0;
};

}  // namespace varnel
