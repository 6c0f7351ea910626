#include "platform/linux/SockDiagReader.h"

#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/InetDiagCodec.h"

namespace varnel {

SockDiagReader::SockDiagReader() : buffer_(kReceiveBufferSize) {}

SockDiagReader::~SockDiagReader() {
    Close();
}

bool SockDiagReader::Open() {
    if (fd_ >= 0) return true;
    fd_ = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd_ < 0) {
        lastError_ = errno;
        return false;
    }
    // A dump always ends, but a tick must never hang on the kernel: give up after a second.
    timeval timeout{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    return true;
}

void SockDiagReader::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

bool SockDiagReader::Dump(std::vector<TcpRow>& rows, std::vector<SocketIdentity>& ids) {
    rows.clear();
    ids.clear();
    if (!Open() || !DumpFamily(AF_INET, rows, ids) || !DumpFamily(AF_INET6, rows, ids)) {
        // An unfinished dump would leave its remainder queued on the socket; start afresh.
        Close();
        rows.clear();
        ids.clear();
        return false;
    }
    lastError_ = 0;
    return true;
}

bool SockDiagReader::DumpFamily(uint8_t family, std::vector<TcpRow>& rows, std::vector<SocketIdentity>& ids) {
    const size_t rowsBefore = rows.size();
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool filter = family == AF_INET6 && kernelFilter_;
        InetDiagCodec::Request request;
        const uint32_t seq = ++seq_;
        const size_t length = InetDiagCodec::BuildDump(family, filter, seq, request);
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        ssize_t sent;
        do {
            sent =
                sendto(fd_, request.data(), length, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel);
        } while (sent < 0 && errno == EINTR);
        if (sent != static_cast<ssize_t>(length)) {
            lastError_ = sent < 0 ? errno : EIO;
            return false;
        }
        for (;;) {
            iovec iov{buffer_.data(), buffer_.size()};
            msghdr msg{};
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            const ssize_t got = recvmsg(fd_, &msg, 0);
            if (got < 0) {
                if (errno == EINTR) continue;
                lastError_ = errno;
                return false;
            }
            if (msg.msg_flags & MSG_TRUNC) {
                lastError_ = EMSGSIZE;
                return false;
            }
            int error = 0;
            const auto chunk =
                InetDiagCodec::ParseDump(buffer_.data(), static_cast<size_t>(got), seq, rows, ids, error);
            if (chunk == InetDiagCodec::Chunk::kDone) return true;
            if (chunk == InetDiagCodec::Chunk::kError) {
                if (filter && error == EINVAL && attempt == 0) {
                    // This kernel does not take the filter: read every IPv6 socket and let the
                    // codec drop the ones that are not IPv4-mapped.
                    kernelFilter_ = false;
                    rows.resize(rowsBefore);
                    ids.resize(rowsBefore);
                    break;
                }
                lastError_ = error;
                return false;
            }
        }
    }
    return false;
}

}  // namespace varnel
