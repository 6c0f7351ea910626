#pragma once

#include <cstdint>

namespace varnel {

// An IPv6 address: its 16 bytes in network order.
struct Ip6Address {
    uint8_t bytes[16];

    bool operator==(const Ip6Address&) const = default;
    bool IsUnspecified() const {
        for (uint8_t b : bytes)
            if (b != 0) return false;
        return true;
    }
};

// One row of the machine's TCP connection table, in the layout every consumer relies on:
// IPv4 addresses in network byte order (first octet in the lowest-addressed byte), each port in
// network byte order in the low 16 bits of its field, state codes 1..12 as below. owningPid is 0
// when the table that produced the row carries no owner, or when the owner could not be found.
// An IPv6 row (v6 true) names its addresses in localAddr6 and remoteAddr6 and leaves localAddr and
// remoteAddr 0; an IPv4 row leaves the IPv6 fields zero. A socket of the IPv6 family whose two
// addresses are IPv4-mapped carries an IPv4 connection and is an IPv4 row.
struct TcpRow {
    uint32_t state;
    uint32_t localAddr;
    uint32_t localPort;
    uint32_t remoteAddr;
    uint32_t remotePort;
    uint32_t owningPid;
    bool v6 = false;
    Ip6Address localAddr6{};
    Ip6Address remoteAddr6{};
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
