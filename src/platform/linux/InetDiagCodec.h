#pragma once

#include <linux/inet_diag.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/TcpRow.h"
#include "platform/linux/SocketIdentity.h"

namespace varnel {

// The messages of the kernel's socket-diagnostics netlink protocol (NETLINK_SOCK_DIAG) that the
// connection table and the connection reset exchange, built and read on plain byte buffers so
// they can be checked without a socket. Stateless; any thread.
//
// Rows follow TcpRow. An IPv6 socket whose two addresses are both IPv4-mapped (::ffff:a.b.c.d)
// carries an IPv4 connection and becomes an IPv4 row with the IPv4 addresses; any other IPv6
// socket becomes an IPv6 row.
class InetDiagCodec {
  public:
    static constexpr size_t kMaxRequestSize = 128;
    using Request = std::array<uint8_t, kMaxRequestSize>;

    // A dump request (SOCK_DIAG_BY_FAMILY with NLM_F_DUMP) for every TCP socket of `family`
    // (AF_INET or AF_INET6) in the connection states. With `onlyV4Mapped` (AF_INET6 only) a filter
    // is attached so that the kernel sends only the sockets whose two addresses are IPv4-mapped.
    // Returns the number of bytes of `out` to send.
    static size_t BuildDump(uint8_t family, bool onlyV4Mapped, uint32_t seq, Request& out);

    // A dump request of the older form (TCPDIAG_GETSOCK, struct inet_diag_req) for the TCP sockets
    // of both families in the kernel states of the bit mask `states`: the kernel walks its socket
    // hash once for both, where BuildDump needs one walk per family. With `onlyV4Mapped` the filter
    // keeps the AF_INET sockets and the IPv4-mapped AF_INET6 ones. The answer's socket messages
    // carry type TCPDIAG_GETSOCK; ParseDump reads them like those of BuildDump. A `states` of 0
    // makes a dump that walks nothing, which tells whether the kernel takes the request.
    static size_t BuildSingleWalkDump(bool onlyV4Mapped, uint32_t states, uint32_t seq, Request& out);

    // A request about the one socket named by `row`'s four-tuple: `type` SOCK_DIAG_BY_FAMILY
    // (look it up) or SOCK_DESTROY (abort it; asks for an acknowledgement). An IPv6 row's addresses
    // are sent as they are (with `family` AF_INET6); for an IPv4 row and AF_INET6 they are sent in
    // IPv4-mapped form. `cookie` is INET_DIAG_NOCOOKIE twice, or the cookie
    // of a looked-up socket so that only that very socket is acted on.
    static size_t BuildExact(uint16_t type, uint8_t family, const TcpRow& row, const uint32_t cookie[2],
                             uint32_t seq, Request& out);

    enum class Chunk {
        kMore,   // every message was read; the dump goes on in the next datagram
        kDone,   // the dump's end was reached
        kError,  // the kernel reported an error (in `error`, a positive errno) or a message was malformed
                 // (EBADMSG)
    };

    // Reads one received datagram of a dump answered to request `seq` (either form) and appends
    // one row (and its identity) per TCP socket of either IP family. Messages of another
    // sequence number are skipped. Never reads outside `data[0, len)`. (The IPv4-mapped filter of
    // the requests above, when attached, leaves only the IPv4 connections to come.)
    static Chunk ParseDump(const uint8_t* data, size_t len, uint32_t seq, std::vector<TcpRow>& rows,
                           std::vector<SocketIdentity>& ids, int& error);

    // The row and identity of one socket message; false when the socket is of neither IP family
    // or its state has no table code.
    static bool RowFromMessage(const inet_diag_msg& msg, TcpRow& row, SocketIdentity& id);

    struct ExactReply {
        bool present = false;  // a message answering `seq` was found
        int error = 0;  // positive errno from the kernel; 0 with `hasSocket` or for a plain acknowledgement
        bool hasSocket = false;
        inet_diag_msg socket{};  // valid when hasSocket
    };
    // Reads the answer to an exact request `seq` from one received datagram.
    static ExactReply ParseExact(const uint8_t* data, size_t len, uint32_t seq);
};

}  // namespace varnel
