// Which looked-up socket the reset destroys: only the connection asked for, and only while it can
// still carry data (established, being opened or half-closed). The states of a connection that
// carries nothing more are answered "no such connection" so they are never counted as cuts.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <cstring>

#include "platform/linux/NetlinkSocketDestroy.h"

namespace varnel {
namespace {

constexpr uint32_t kLocal = 0x0100007Fu;   // 127.0.0.1 in network order
constexpr uint32_t kRemote = 0x0200007Fu;  // 127.0.0.2

TcpRow Request() {
    return TcpRow{kTcpDeleteTcb, kLocal, htons(40000), kRemote, htons(443), 0};
}

inet_diag_msg Socket(unsigned kernelState) {
    inet_diag_msg m{};
    m.idiag_family = AF_INET;
    m.idiag_state = static_cast<uint8_t>(kernelState);
    m.id.idiag_src[0] = kLocal;
    m.id.idiag_dst[0] = kRemote;
    m.id.idiag_sport = htons(40000);
    m.id.idiag_dport = htons(443);
    return m;
}

// The kernel's state numbers (include/net/tcp_states.h).
enum : unsigned {
    kEstablished = 1,
    kSynSent,
    kSynRecv,
    kFinWait1,
    kFinWait2,
    kTimeWait,
    kClose,
    kCloseWait,
    kLastAck,
    kListen,
    kClosing,
    kNewSynRecv,
};

TEST(NetlinkSocketDestroyTest, OnlyAConnectionThatCanStillCarryDataIsDestroyed) {
    for (unsigned state : {kEstablished, kSynSent, kSynRecv, kNewSynRecv, kFinWait1, kFinWait2, kCloseWait})
        EXPECT_TRUE(NetlinkSocketDestroy::Resettable(Socket(state), Request())) << "kernel state " << state;
    for (unsigned state : {kTimeWait, kClose, kLastAck, kListen, kClosing})
        EXPECT_FALSE(NetlinkSocketDestroy::Resettable(Socket(state), Request())) << "kernel state " << state;
    EXPECT_FALSE(NetlinkSocketDestroy::Resettable(Socket(13), Request())) << "a state with no table code";
}

TEST(NetlinkSocketDestroyTest, ASocketWithAnyOtherAddressOrPortIsNotTheConnection) {
    inet_diag_msg m = Socket(kEstablished);
    m.id.idiag_src[0] = kRemote;
    EXPECT_FALSE(NetlinkSocketDestroy::Resettable(m, Request()));
    m = Socket(kEstablished);
    m.id.idiag_dst[0] = kLocal;
    EXPECT_FALSE(NetlinkSocketDestroy::Resettable(m, Request()));
    m = Socket(kEstablished);
    m.id.idiag_sport = htons(40001);
    EXPECT_FALSE(NetlinkSocketDestroy::Resettable(m, Request()));
    m = Socket(kEstablished);
    m.id.idiag_dport = htons(80);
    EXPECT_FALSE(NetlinkSocketDestroy::Resettable(m, Request()));
    // Bits above the port's 16 in the request are not part of the port.
    TcpRow wide = Request();
    wide.localPort |= 0xABCD0000u;
    EXPECT_TRUE(NetlinkSocketDestroy::Resettable(Socket(kEstablished), wide));
}

TEST(NetlinkSocketDestroyTest, AnIpv6SocketCountsOnlyWithBothAddressesIpv4Mapped) {
    inet_diag_msg m = Socket(kEstablished);
    m.idiag_family = AF_INET6;
    const uint32_t mapped = htonl(0x0000FFFFu);
    m.id.idiag_src[2] = mapped;
    m.id.idiag_src[3] = kLocal;
    m.id.idiag_dst[2] = mapped;
    m.id.idiag_dst[3] = kRemote;
    m.id.idiag_src[0] = 0;
    m.id.idiag_dst[0] = 0;
    EXPECT_TRUE(NetlinkSocketDestroy::Resettable(m, Request()));
    m.idiag_state = kLastAck;
    EXPECT_FALSE(NetlinkSocketDestroy::Resettable(m, Request()));
    m.idiag_state = kEstablished;
    m.id.idiag_dst[2] = 0;  // a real IPv6 peer
    EXPECT_FALSE(NetlinkSocketDestroy::Resettable(m, Request()));
}

// An IPv6 connection: the request names the 16-byte addresses; the same checks hold.
TcpRow Request6() {
    TcpRow r{kTcpDeleteTcb, 0, htons(7000), 0, htons(40002), 0};
    r.v6 = true;
    inet_pton(AF_INET6, "2001:db8::7", r.localAddr6.bytes);
    inet_pton(AF_INET6, "2001:db8::9", r.remoteAddr6.bytes);
    return r;
}

inet_diag_msg Socket6(unsigned kernelState) {
    const TcpRow r = Request6();
    inet_diag_msg m{};
    m.idiag_family = AF_INET6;
    m.idiag_state = static_cast<uint8_t>(kernelState);
    std::memcpy(m.id.idiag_src, r.localAddr6.bytes, 16);
    std::memcpy(m.id.idiag_dst, r.remoteAddr6.bytes, 16);
    m.id.idiag_sport = htons(7000);
    m.id.idiag_dport = htons(40002);
    return m;
}

TEST(NetlinkSocketDestroyTest, AnIpv6ConnectionIsDestroyedOnlyWhenItIsExactlyTheOneAskedFor) {
    for (unsigned state : {kEstablished, kSynSent, kSynRecv, kNewSynRecv, kFinWait1, kCloseWait})
        EXPECT_TRUE(NetlinkSocketDestroy::Resettable(Socket6(state), Request6())) << "kernel state " << state;
    for (unsigned state : {kTimeWait, kLastAck, kListen})
        EXPECT_FALSE(NetlinkSocketDestroy::Resettable(Socket6(state), Request6())) << "kernel state " << state;

    // The kernel's fallback to a listener on the local port: "::" with the port, never the connection.
    inet_diag_msg listener = Socket6(kListen);
    std::memset(listener.id.idiag_src, 0, 16);
    std::memset(listener.id.idiag_dst, 0, 16);
    listener.id.idiag_dport = 0;
    EXPECT_FALSE(NetlinkSocketDestroy::Resettable(listener, Request6()));
    listener.idiag_state = kEstablished;  // even if it were reported established
    EXPECT_FALSE(NetlinkSocketDestroy::Resettable(listener, Request6()));

    // One byte of either address, or a port, differs: another socket.
    for (int byte : {0, 15}) {
        inet_diag_msg m = Socket6(kEstablished);
        reinterpret_cast<uint8_t*>(m.id.idiag_src)[byte] ^= 1;
        EXPECT_FALSE(NetlinkSocketDestroy::Resettable(m, Request6())) << "local byte " << byte;
        m = Socket6(kEstablished);
        reinterpret_cast<uint8_t*>(m.id.idiag_dst)[byte] ^= 1;
        EXPECT_FALSE(NetlinkSocketDestroy::Resettable(m, Request6())) << "remote byte " << byte;
    }
    inet_diag_msg m = Socket6(kEstablished);
    m.id.idiag_sport = htons(7001);
    EXPECT_FALSE(NetlinkSocketDestroy::Resettable(m, Request6()));

    // An IPv4 socket never answers for an IPv6 request, nor the other way round.
    EXPECT_FALSE(NetlinkSocketDestroy::Resettable(Socket(kEstablished), Request6()));
    EXPECT_FALSE(NetlinkSocketDestroy::Resettable(Socket6(kEstablished), Request()));
}

}  // namespace
}  // namespace varnel
