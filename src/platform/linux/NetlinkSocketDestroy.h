#pragma once

#include <cstdint>
#include <vector>

#include "platform/ConnectionReset.h"
#include "platform/linux/InetDiagCodec.h"

namespace varnel {

// Resets one connection with the kernel's SOCK_DESTROY request (NETLINK_SOCK_DIAG): the socket
// with the row's local and remote address and port is aborted, and its peer receives a reset.
//
// The socket is first looked up by its four-tuple and then destroyed by its cookie, so only that
// very connection is touched: the kernel's four-tuple lookup falls back to a listening socket on
// the local port when the connection is gone, and destroying by four-tuple alone would then close
// the listener. A lookup that finds a listener, or a socket with other addresses, means
// kNoSuchConnection. For an IPv4 row a socket of AF_INET is tried first, then an IPv6 socket with
// IPv4-mapped addresses; an IPv6 row is looked up among the AF_INET6 sockets only, by its IPv6
// addresses, with the same checks.
//
// Only a connection that can still carry data at the moment of the lookup is destroyed: one
// established, being opened (SYN-SENT, SYN-RECV) or half-closed (FIN-WAIT-1, FIN-WAIT-2,
// CLOSE-WAIT: one direction is still open, and can carry as much as a whole connection). One in
// any other state (CLOSING, LAST-ACK, TIME-WAIT) carries nothing more: it is left to finish and
// answered kNoSuchConnection, so that a caller counting kOk as a cut never counts a connection
// that was ending anyway.
//
// Results: kOk; kPermissionDenied (EPERM/EACCES: the caller lacks CAP_NET_ADMIN in the network
// namespace's user namespace); kNotSupported (EOPNOTSUPP: a kernel without socket destroy);
// kNoSuchConnection (with ENOENT: no such socket, or one that has ended); kFailed with the errno
// otherwise (EINVAL for a row whose state is not kTcpDeleteTcb). Nothing is retried or hidden.
// Threads: one call at a time per object. The netlink socket is opened on first use and kept.
class NetlinkSocketDestroy : public ConnectionReset {
  public:
    NetlinkSocketDestroy();
    ~NetlinkSocketDestroy() override;

    ResetResult SetTcpEntry(const TcpRow& row) override;

    static ResetResult FromErrno(int error);
    // True when the looked-up `socket` is the connection `row` names (same addresses and ports,
    // not a listener) and in a state that a reset still cuts (established, being opened or
    // half-closed).
    static bool Resettable(const inet_diag_msg& socket, const TcpRow& row);

  private:
    // Looks the socket up in `family` and destroys it; kNoSuchConnection if it is not there.
    ResetResult Attempt(uint8_t family, const TcpRow& row);
    // Sends `request` and reads the answer to `seq`; false with `error` set when that fails.
    bool Exchange(const InetDiagCodec::Request& request, size_t length, uint32_t seq,
                  InetDiagCodec::ExactReply& reply, int& error);
    bool Open(int& error);
    void Close();

    int fd_ = -1;
    uint32_t seq_ = 0;
    std::vector<uint8_t> buffer_;
};

}  // namespace varnel
