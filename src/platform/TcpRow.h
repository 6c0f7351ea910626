#pragma once

#include <cstdint>

namespace varnel {

// One row of the machine's IPv4 TCP connection table, in the layout every consumer relies on:
// addresses in network byte order (first octet in the lowest-addressed byte), each port in network
// byte order in the low 16 bits of its field, state codes 1..12 as below. owningPid is 0 when the
// table that produced the row carries no owner, or when the owner could not be found.
struct TcpRow {
    uint32_t state;
    uint32_t localAddr;
    uint32_t localPort;
    uint32_t remoteAddr;
    uint32_t remotePort;
    uint32_t owningPid;
};

// State codes of the connection table.
enum TcpState : uint32_t {
    kTcpClosed = 1,
    kTcpListen = 2,
    kTcpSynSent = 3,
    kTcpSynRcvd = 4,
    kTcpEstablished = 5,
    kTcpFinWait1 = 6,
    kTcpFinWait2 = 7,
    kTcpCloseWait = 8,
    kTcpClosing = 9,
    kTcpLastAck = 10,
    kTcpTimeWait = 11,
    kTcpDeleteTcb = 12,
};

}  // namespace varnel
