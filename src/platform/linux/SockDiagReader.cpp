#include "platform/linux/SockDiagReader.h"

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

SockDiagReader::Probe SockDiagReader::AfterProbe(int error, bool withFilter) {
    if (error == 0) return Probe::kSingleWalk;
    // A kernel refuses an unknown request type with EINVAL, so EINVAL with the filter may be the
    // filter's refusal instead: only the same request without it tells.
    if (error == EINVAL && withFilter) return Probe::kAgainWithoutFilter;
    // No older request (EINVAL), or no handler for it (ENOENT, EOPNOTSUPP).
    if (error == EINVAL || error == ENOENT || error == EOPNOTSUPP) return Probe::kPerFamily;
    return Probe::kFailed;
}

SockDiagReader::SockDiagReader(Walk preferred, bool ipv6Rows)
    : ipv6Rows_(ipv6Rows), kernelFilter_(!ipv6Rows), buffer_(kReceiveBufferSize) {
    if (preferred == Walk::kPerFamily) {
        walk_ = Walk::kPerFamily;
        return;
    }
    if (!Open() || !Decide()) Close();
}

SockDiagReader::~SockDiagReader() {
    Close();
}

bool SockDiagReader::Open() {
    if (fd_ >= 0) return true;
    fd_ = OpenSockDiagSocket(lastError_);
    return fd_ >= 0;
}

void SockDiagReader::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

bool SockDiagReader::Decide() {
    // A single-walk dump of no state: the kernel takes or refuses the request and its filter as
    // it would a real one, and answers at once with an empty dump.
    std::vector<TcpRow> noRows;
    std::vector<SocketIdentity> noIds;
    for (;;) {
        InetDiagCodec::Request request;
        const uint32_t seq = ++seq_;
        const size_t length = InetDiagCodec::BuildSingleWalkDump(kernelFilter_, 0, seq, request);
        const int error = Exchange(request, length, seq, noRows, noIds);
        switch (AfterProbe(error, kernelFilter_)) {
            case Probe::kSingleWalk:
                walk_ = Walk::kSingle;
                return true;
            case Probe::kAgainWithoutFilter:
                kernelFilter_ = false;
                continue;
            case Probe::kPerFamily:
                // The per-family dumps find out about the filter for themselves.
                walk_ = Walk::kPerFamily;
                kernelFilter_ = !ipv6Rows_;
                return true;
            case Probe::kFailed:
                kernelFilter_ = !ipv6Rows_;  // the next decision starts over
                break;
        }
        lastError_ = error;
        return false;
    }
}

bool SockDiagReader::Dump(std::vector<TcpRow>& rows, std::vector<SocketIdentity>& ids) {
    rows.clear();
    ids.clear();
    bool ok = Open() && (walk_ != Walk::kUndecided || Decide());
    if (ok) {
        ok = walk_ == Walk::kSingle
                 ? DumpWith(Request::kBothFamilies, rows, ids)
                 : DumpWith(Request::kInet, rows, ids) && DumpWith(Request::kInet6, rows, ids);
    }
    if (!ok) {
        // An unfinished dump would leave its remainder queued on the socket; start afresh.
        Close();
        rows.clear();
        ids.clear();
        return false;
    }
    if (!ipv6Rows_ && !kernelFilter_) {
        // The kernel sent every IPv6 socket: keep the IPv4 rows, in place.
        size_t kept = 0;
        for (size_t i = 0; i < rows.size(); ++i) {
            if (rows[i].v6) continue;
            rows[kept] = rows[i];
            ids[kept++] = ids[i];
        }
        rows.resize(kept);
        ids.resize(kept);
    }
    lastError_ = 0;
    return true;
}

bool SockDiagReader::DumpWith(Request kind, std::vector<TcpRow>& rows, std::vector<SocketIdentity>& ids) {
    const size_t rowsBefore = rows.size();
    for (;;) {
        const bool filter = kind != Request::kInet && kernelFilter_;
        InetDiagCodec::Request request;
        const uint32_t seq = ++seq_;
        const size_t length =
            kind == Request::kBothFamilies
                ? InetDiagCodec::BuildSingleWalkDump(filter, KernelTcp::kAllConnectionStates, seq, request)
                : InetDiagCodec::BuildDump(kind == Request::kInet ? AF_INET : AF_INET6, filter, seq, request);
        const int error = Exchange(request, length, seq, rows, ids);
        if (error == 0) return true;
        if (filter && error == EINVAL) {
            // This kernel does not take the filter: read every IPv6 socket and drop the ones that
            // are not IPv4-mapped after the dump.
            kernelFilter_ = false;
            rows.resize(rowsBefore);
            ids.resize(rowsBefore);
            continue;
        }
        lastError_ = error;
        return false;
    }
}

int SockDiagReader::Exchange(const InetDiagCodec::Request& request, size_t length, uint32_t seq,
                             std::vector<TcpRow>& rows, std::vector<SocketIdentity>& ids) {
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    ssize_t sent;
    do {
        sent = sendto(fd_, request.data(), length, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel);
    } while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(length)) return sent < 0 ? errno : EIO;
    for (;;) {
        iovec iov{buffer_.data(), buffer_.size()};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        const ssize_t got = recvmsg(fd_, &msg, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (msg.msg_flags & MSG_TRUNC) return EMSGSIZE;
        int error = 0;
        const auto chunk =
            InetDiagCodec::ParseDump(buffer_.data(), static_cast<size_t>(got), seq, rows, ids, error);
        if (chunk == InetDiagCodec::Chunk::kDone) return 0;
        if (chunk == InetDiagCodec::Chunk::kError) return error;
    }
}

}  // namespace varnel
