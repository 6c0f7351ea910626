#include "platform/linux/NetlinkSocketDestroy.h"

#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/KernelTcp.h"
#include "platform/linux/SockDiagSocket.h"

namespace varnel {

namespace {

constexpr size_t kBufferSize = 8 * 1024;

}  // namespace

bool NetlinkSocketDestroy::Resettable(const inet_diag_msg& socket, const TcpRow& row) {
    TcpRow found;
    SocketIdentity id;
    if (!InetDiagCodec::RowFromMessage(socket, found, id)) return false;
    // Every state in which the connection can still carry data, in either direction.
    const bool live = found.state == kTcpEstablished || found.state == kTcpSynSent ||
                      found.state == kTcpSynRcvd || found.state == kTcpFinWait1 ||
                      found.state == kTcpFinWait2 || found.state == kTcpCloseWait;
    return live && found.v6 == row.v6 && found.localAddr6 == row.localAddr6 &&
           found.remoteAddr6 == row.remoteAddr6 && found.localAddr == row.localAddr &&
           static_cast<uint16_t>(found.localPort) == static_cast<uint16_t>(row.localPort) &&
           found.remoteAddr == row.remoteAddr &&
           static_cast<uint16_t>(found.remotePort) == static_cast<uint16_t>(row.remotePort);
}

NetlinkSocketDestroy::NetlinkSocketDestroy() : buffer_(kBufferSize) {}

NetlinkSocketDestroy::~NetlinkSocketDestroy() {
    Close();
}

ResetResult NetlinkSocketDestroy::FromErrno(int error) {
    switch (error) {
        case 0:
            return {ResetStatus::kOk, 0};
        case EPERM:
        case EACCES:
            return {ResetStatus::kPermissionDenied, error};
        case EOPNOTSUPP:
            return {ResetStatus::kNotSupported, error};
        case ENOENT:
            return {ResetStatus::kNoSuchConnection, error};
        default:
            return {ResetStatus::kFailed, error};
    }
}

bool NetlinkSocketDestroy::Open(int& error) {
    if (fd_ >= 0) return true;
    fd_ = OpenSockDiagSocket(error);
    return fd_ >= 0;
}

void NetlinkSocketDestroy::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

bool NetlinkSocketDestroy::Exchange(const InetDiagCodec::Request& request, size_t length, uint32_t seq,
                                    InetDiagCodec::ExactReply& reply, int& error) {
    if (!Open(error)) return false;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    ssize_t sent;
    do {
        sent = sendto(fd_, request.data(), length, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel);
    } while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(length)) {
        error = sent < 0 ? errno : EIO;
        Close();
        return false;
    }
    // Answers to earlier requests that timed out may still be queued: skip them by sequence number.
    for (;;) {
        const ssize_t got = recv(fd_, buffer_.data(), buffer_.size(), 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            error = errno;
            Close();
            return false;
        }
        reply = InetDiagCodec::ParseExact(buffer_.data(), static_cast<size_t>(got), seq);
        if (reply.present) return true;
    }
}

ResetResult NetlinkSocketDestroy::Attempt(uint8_t family, const TcpRow& row) {
    static const uint32_t kNoCookie[2] = {INET_DIAG_NOCOOKIE, INET_DIAG_NOCOOKIE};
    InetDiagCodec::Request request;
    InetDiagCodec::ExactReply reply;
    int error = 0;

    uint32_t seq = ++seq_;
    size_t length = InetDiagCodec::BuildExact(SOCK_DIAG_BY_FAMILY, family, row, kNoCookie, seq, request);
    if (!Exchange(request, length, seq, reply, error)) return FromErrno(error);
    if (!reply.hasSocket) {
        if (reply.error == 0 || reply.error == ENOENT) return {ResetStatus::kNoSuchConnection, ENOENT};
        return FromErrno(reply.error);
    }
    if (!Resettable(reply.socket, row)) return {ResetStatus::kNoSuchConnection, ENOENT};

    // A socket whose program has closed it (no inode: a half-closed orphan still sending its
    // queue) is one that kernels before the fix for "forever orphan" sockets answer 0 for and
    // leave alone; such a socket is looked up again, so that it is never counted as a cut.
    const bool orphan = reply.socket.idiag_inode == 0;
    uint32_t cookie[2] = {reply.socket.id.idiag_cookie[0], reply.socket.id.idiag_cookie[1]};
    seq = ++seq_;
    length = InetDiagCodec::BuildExact(SOCK_DESTROY, family, row, cookie, seq, request);
    if (!Exchange(request, length, seq, reply, error)) return FromErrno(error);
    if (reply.hasSocket) return {ResetStatus::kFailed, EPROTO};
    // ESTALE: the four-tuple now names another socket than the one looked up; ours is gone.
    if (reply.error == ESTALE) return {ResetStatus::kNoSuchConnection, ENOENT};
    if (reply.error != 0 || !orphan) return FromErrno(reply.error);

    seq = ++seq_;
    length = InetDiagCodec::BuildExact(SOCK_DIAG_BY_FAMILY, family, row, cookie, seq, request);
    if (!Exchange(request, length, seq, reply, error)) return FromErrno(error);
    if (reply.hasSocket && Resettable(reply.socket, row))
        return {ResetStatus::kFailed, EBUSY,
                "this kernel does not cut a connection its program has already closed"};
    return FromErrno(0);
}

ResetResult NetlinkSocketDestroy::SetTcpEntry(const TcpRow& row) {
    if (row.state != kTcpDeleteTcb) return {ResetStatus::kFailed, EINVAL};
    if (row.v6) return Attempt(AF_INET6, row);
    ResetResult result = Attempt(AF_INET, row);
    if (result.status == ResetStatus::kNoSuchConnection) result = Attempt(AF_INET6, row);
    return result;
}

}  // namespace varnel
