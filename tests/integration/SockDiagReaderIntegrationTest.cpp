// The netlink reader against the real kernel, inside the private network namespace of
// in-netns.sh: the single-walk request and the per-family requests must read the same table, and
// the kernel must apply the IPv4-mapped filter to the single walk.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/netlink.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <tuple>
#include <vector>

#include "integration/NetnsGuard.h"
#include "platform/linux/InetDiagCodec.h"
#include "platform/linux/KernelTcp.h"
#include "platform/linux/SockDiagReader.h"
#include "support/LoopbackFleet.h"

namespace varnel {
namespace {

using testing::LoopbackFleet;

uint16_t LocalPort(int fd) {
    sockaddr_in6 at{};
    socklen_t len = sizeof at;
    getsockname(fd, reinterpret_cast<sockaddr*>(&at), &len);
    return ntohs(at.sin6_port);  // sin_port sits at the same offset
}

// Sockets of both families: a dual-stack listener on :: with an IPv4 connection accepted (an
// IPv4-mapped AF_INET6 socket), and a pure IPv6 connection over ::1. Closed by the destructor.
class MixedSockets {
  public:
    bool Open() {
        const int dual = Keep(socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
        int no = 0;
        setsockopt(dual, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
        sockaddr_in6 any{};
        any.sin6_family = AF_INET6;
        any.sin6_addr = in6addr_any;
        if (bind(dual, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0 || listen(dual, 8) != 0)
            return false;
        sockaddr_in to4{};
        to4.sin_family = AF_INET;
        to4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to4.sin_port = htons(LocalPort(dual));
        const int client4 = Keep(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (connect(client4, reinterpret_cast<sockaddr*>(&to4), sizeof to4) != 0) return false;
        if (Keep(accept(dual, nullptr, nullptr)) < 0) return false;

        const int v6 = Keep(socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in6 loop6{};
        loop6.sin6_family = AF_INET6;
        loop6.sin6_addr = in6addr_loopback;
        if (bind(v6, reinterpret_cast<sockaddr*>(&loop6), sizeof loop6) != 0 || listen(v6, 8) != 0)
            return false;
        loop6.sin6_port = htons(LocalPort(v6));
        const int client6 = Keep(socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (connect(client6, reinterpret_cast<sockaddr*>(&loop6), sizeof loop6) != 0) return false;
        return Keep(accept(v6, nullptr, nullptr)) >= 0;
    }
    ~MixedSockets() {
        for (int fd : fds_)
            if (fd >= 0) close(fd);
    }

  private:
    int Keep(int fd) {
        fds_.push_back(fd);
        return fd;
    }
    std::vector<int> fds_;
};

using Bytes16 = std::array<uint8_t, 16>;
using Entry = std::tuple<uint32_t, bool, uint32_t, Bytes16, uint32_t, uint32_t, Bytes16, uint32_t, uint32_t,
                         uint32_t>;

Bytes16 BytesOf(const Ip6Address& a) {
    Bytes16 b;
    std::memcpy(b.data(), a.bytes, 16);
    return b;
}

// The rows of open sockets, sorted. Sockets closed by earlier tests in the same namespace
// (TIME_WAIT, orphans finishing their close) have inode 0 and change state on their own.
std::vector<Entry> OpenSockets(const std::vector<TcpRow>& rows, const std::vector<SocketIdentity>& ids) {
    std::vector<Entry> out;
    for (size_t i = 0; i < rows.size(); ++i) {
        const TcpRow& r = rows[i];
        if (ids[i].inode == 0) continue;
        out.emplace_back(r.state, r.v6, r.localAddr, BytesOf(r.localAddr6), r.localPort, r.remoteAddr,
                         BytesOf(r.remoteAddr6), r.remotePort, ids[i].inode, ids[i].uid);
    }
    std::sort(out.begin(), out.end());
    return out;
}

class SockDiagReaderIntegrationTest : public ::testing::Test {
  protected:
    void SetUp() override { REQUIRE_PRIVATE_NETNS(); }
};

TEST_F(SockDiagReaderIntegrationTest, SingleWalkAndPerFamilyDumpsReadTheSameTable) {
    LoopbackFleet fleet;
    ASSERT_TRUE(fleet.Start(2, 40)) << fleet.error();
    MixedSockets mixed;
    ASSERT_TRUE(mixed.Open());

    SockDiagReader single;
    SockDiagReader perFamily(SockDiagReader::Walk::kPerFamily);
    ASSERT_NE(single.walk(), SockDiagReader::Walk::kUndecided) << single.lastError();
    EXPECT_EQ(perFamily.walk(), SockDiagReader::Walk::kPerFamily);

    std::vector<TcpRow> rows;
    std::vector<SocketIdentity> ids;
    ASSERT_TRUE(single.Dump(rows, ids)) << single.lastError();
    ASSERT_EQ(rows.size(), ids.size());
    const std::vector<Entry> a = OpenSockets(rows, ids);
    ASSERT_TRUE(perFamily.Dump(rows, ids)) << perFamily.lastError();
    const std::vector<Entry> b = OpenSockets(rows, ids);
    EXPECT_EQ(a, b);
    // 160 fleet ends and 2 listeners; the IPv4 client and the IPv4-mapped accepted socket; the
    // listeners on :: and ::1, the IPv6 client and its peer.
    EXPECT_EQ(a.size(), 168u);
    size_t ipv6 = 0;
    for (const Entry& e : a) {
        EXPECT_EQ(std::get<9>(e), static_cast<uint32_t>(getuid()));
        ipv6 += std::get<1>(e);
    }
    EXPECT_EQ(ipv6, 4u);

    // Readers of IPv4 rows only read the table without the four, both ways.
    SockDiagReader single4(SockDiagReader::Walk::kSingle, false);
    SockDiagReader perFamily4(SockDiagReader::Walk::kPerFamily, false);
    ASSERT_TRUE(single4.Dump(rows, ids)) << single4.lastError();
    const std::vector<Entry> a4 = OpenSockets(rows, ids);
    ASSERT_TRUE(perFamily4.Dump(rows, ids)) << perFamily4.lastError();
    EXPECT_EQ(OpenSockets(rows, ids), a4);
    EXPECT_EQ(a4.size(), 164u);
    for (const Entry& e : a4) EXPECT_FALSE(std::get<1>(e));
}

TEST_F(SockDiagReaderIntegrationTest, KernelAppliesTheFilterToTheSingleWalk) {
    MixedSockets mixed;
    ASSERT_TRUE(mixed.Open());
    SockDiagReader reader(SockDiagReader::Walk::kSingle, false);
    if (reader.walk() != SockDiagReader::Walk::kSingle) GTEST_SKIP() << "this kernel has no single walk";
    EXPECT_TRUE(reader.kernelFilter());
    EXPECT_FALSE(SockDiagReader().kernelFilter()) << "a reader of both versions asks for every socket";

    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    ASSERT_GE(fd, 0);
    timeval timeout{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    // Counts the answer's open sockets: AF_INET, IPv4-mapped AF_INET6, other AF_INET6.
    auto count = [fd](bool filter, int counts[3]) {
        InetDiagCodec::Request request;
        const size_t length =
            InetDiagCodec::BuildSingleWalkDump(filter, KernelTcp::kAllConnectionStates, 5, request);
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        ASSERT_EQ(sendto(fd, request.data(), length, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel),
                  static_cast<ssize_t>(length));
        std::vector<uint8_t> buffer(SockDiagReader::kReceiveBufferSize);
        for (bool done = false; !done;) {
            const ssize_t got = recv(fd, buffer.data(), buffer.size(), 0);
            ASSERT_GT(got, 0);
            for (size_t at = 0; at + NLMSG_HDRLEN <= static_cast<size_t>(got);) {
                nlmsghdr h;
                std::memcpy(&h, buffer.data() + at, sizeof h);
                ASSERT_GE(h.nlmsg_len, NLMSG_HDRLEN);
                ASSERT_NE(h.nlmsg_type, NLMSG_ERROR);
                if (h.nlmsg_type == NLMSG_DONE) done = true;
                if (h.nlmsg_type == TCPDIAG_GETSOCK) {
                    inet_diag_msg m;
                    std::memcpy(&m, buffer.data() + at + NLMSG_HDRLEN, sizeof m);
                    uint32_t v4;
                    const bool mapped =
                        KernelTcp::UnmapV4(m.id.idiag_src, v4) && KernelTcp::UnmapV4(m.id.idiag_dst, v4);
                    if (m.idiag_inode != 0) ++counts[m.idiag_family == AF_INET ? 0 : mapped ? 1 : 2];
                }
                at += NLMSG_ALIGN(h.nlmsg_len);
            }
        }
    };
    int filtered[3] = {0, 0, 0};
    count(true, filtered);
    int all[3] = {0, 0, 0};
    count(false, all);
    close(fd);
    EXPECT_EQ(filtered[0], 1);  // the IPv4 client
    EXPECT_EQ(filtered[1], 1);  // its accepted IPv4-mapped peer
    EXPECT_EQ(filtered[2], 0) << "pure IPv6 sockets are left out by the kernel";
    EXPECT_EQ(all[0], 1);
    EXPECT_EQ(all[1], 1);
    EXPECT_EQ(all[2], 4);  // the listeners on :: and ::1, the IPv6 client and its peer
}

TEST_F(SockDiagReaderIntegrationTest, RepeatedDumpsReuseTheVectors) {
    LoopbackFleet fleet;
    ASSERT_TRUE(fleet.Start(2, 30)) << fleet.error();
    SockDiagReader reader;
    std::vector<TcpRow> rows;
    std::vector<SocketIdentity> ids;
    ASSERT_TRUE(reader.Dump(rows, ids));
    const TcpRow* rowData = rows.data();
    const SocketIdentity* idData = ids.data();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(reader.Dump(rows, ids));
        EXPECT_EQ(OpenSockets(rows, ids).size(), 122u);
        EXPECT_EQ(rows.data(), rowData);
        EXPECT_EQ(ids.data(), idData);
    }
}

}  // namespace
}  // namespace varnel
