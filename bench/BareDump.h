#pragma once
// The netlink dump requests of SockDiagReader sent and received bare, nothing parsed: the
// kernel's share of a poll, the yardstick SnapshotBench measures the tick against.

#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <vector>

#include "platform/linux/InetDiagCodec.h"
#include "platform/linux/KernelTcp.h"
#include "platform/linux/SockDiagReader.h"

namespace varnel {

// The requests the reader sends on this kernel, as its constructor decided them.
struct DumpPlan {
    SockDiagReader::Walk walk = SockDiagReader::Walk::kUndecided;
    bool filter = true;
};
inline DumpPlan gPlan;

// One pass of the dump requests of `walk`, reading only far enough to see each dump's end.
inline bool DumpOnce(int fd, std::vector<uint8_t>& buffer, uint32_t& seq, uint64_t& bytes,
                     SockDiagReader::Walk walk = gPlan.walk) {
    const int requests = walk == SockDiagReader::Walk::kSingle ? 1 : 2;
    for (int i = 0; i < requests; ++i) {
        InetDiagCodec::Request request;
        const size_t length =
            requests == 1
                ? InetDiagCodec::BuildSingleWalkDump(gPlan.filter, KernelTcp::kAllConnectionStates, ++seq,
                                                     request)
                : InetDiagCodec::BuildDump(i == 0 ? AF_INET : AF_INET6, gPlan.filter, ++seq, request);
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        sendto(fd, request.data(), length, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel);
        for (bool done = false; !done;) {
            const ssize_t got = recv(fd, buffer.data(), buffer.size(), 0);
            if (got <= 0) return false;
            bytes += static_cast<uint64_t>(got);
            for (size_t at = 0; at + NLMSG_HDRLEN <= static_cast<size_t>(got);) {
                const auto* h = reinterpret_cast<const nlmsghdr*>(buffer.data() + at);
                if (h->nlmsg_type == NLMSG_DONE || h->nlmsg_type == NLMSG_ERROR) done = true;
                if (h->nlmsg_len < NLMSG_HDRLEN) break;
                at += NLMSG_ALIGN(h->nlmsg_len);
            }
        }
    }
    return true;
}

}  // namespace varnel
