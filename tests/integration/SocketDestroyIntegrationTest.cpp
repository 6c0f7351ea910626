// NetlinkSocketDestroy against the real kernel, inside the private network namespace of
// in-netns.sh (where the test holds CAP_NET_ADMIN). Only the test's own loopback connections are
// named, by their exact four-tuples.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "integration/NetnsGuard.h"
#include "platform/linux/LinuxConnectionTable.h"
#include "platform/linux/NetlinkSocketDestroy.h"

namespace varnel {
namespace {

const uint32_t kLoopback = htonl(INADDR_LOOPBACK);

uint16_t LocalPort(int fd) {
    sockaddr_storage at{};
    socklen_t len = sizeof at;
    getsockname(fd, reinterpret_cast<sockaddr*>(&at), &len);
    return at.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&at)->sin6_port)
                                    : ntohs(reinterpret_cast<sockaddr_in*>(&at)->sin_port);
}

// One loopback connection: `client` connected to `server` (accepted from `listener`).
struct Connection {
    int listener = -1, client = -1, server = -1;
    uint16_t listenPort = 0, clientPort = 0;

    explicit Connection(bool dualStackServer = false) {
        if (dualStackServer) {
            listener = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
            int no = 0;
            setsockopt(listener, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
            sockaddr_in6 any{};
            any.sin6_family = AF_INET6;
            any.sin6_addr = in6addr_any;
            bind(listener, reinterpret_cast<sockaddr*>(&any), sizeof any);
        } else {
            listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in at{};
            at.sin_family = AF_INET;
            at.sin_addr.s_addr = kLoopback;
            bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at);
        }
        listen(listener, 16);
        listenPort = LocalPort(listener);
        client = Connect();
        server = accept(listener, nullptr, nullptr);
        clientPort = LocalPort(client);
    }
    ~Connection() {
        for (int fd : {listener, client, server})
            if (fd >= 0) close(fd);
    }
    int Connect() const {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = kLoopback;
        to.sin_port = htons(listenPort);
        return connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 ? fd : -1;
    }
    bool ok() const { return listener >= 0 && client >= 0 && server >= 0; }
    TcpRow ServerEnd() const {
        return TcpRow{kTcpDeleteTcb, kLoopback, htons(listenPort), kLoopback, htons(clientPort), 0};
    }
    TcpRow ClientEnd() const {
        return TcpRow{kTcpDeleteTcb, kLoopback, htons(clientPort), kLoopback, htons(listenPort), 0};
    }
};

// What the client end sees within a second: the error of its next read, 0 for an orderly end,
// or -1 while the connection stays quiet and alive.
int ClientOutcome(int fd) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 1000) <= 0) return -1;
    char byte;
    const ssize_t n = recv(fd, &byte, 1, 0);
    if (n < 0) return errno;
    return 0;
}

// Data still flows from client to server.
bool Flows(const Connection& c) {
    if (send(c.client, "x", 1, MSG_NOSIGNAL) != 1) return false;
    pollfd p{c.server, POLLIN, 0};
    char byte = 0;
    return poll(&p, 1, 1000) == 1 && recv(c.server, &byte, 1, 0) == 1 && byte == 'x';
}

class SocketDestroyIntegrationTest : public ::testing::Test {
  protected:
    void SetUp() override { REQUIRE_PRIVATE_NETNS(); }
    NetlinkSocketDestroy destroy;
};

TEST_F(SocketDestroyIntegrationTest, DestroyingTheServerEndResetsTheClient) {
    Connection c;
    ASSERT_TRUE(c.ok());
    ASSERT_TRUE(Flows(c));
    const ResetResult r = destroy.SetTcpEntry(c.ServerEnd());
    ASSERT_TRUE(r.ok()) << r.Describe();
    const int outcome = ClientOutcome(c.client);
    EXPECT_TRUE(outcome == ECONNRESET || outcome == 0) << outcome;

    // Gone from the table (or in a state the snapshot drops).
    LinuxConnectionTable table;
    std::vector<TcpRow> rows;
    ASSERT_TRUE(table.GetExtendedTcpTable(rows));
    for (const TcpRow& row : rows) {
        if (row.localPort == htons(c.listenPort) && row.remotePort == htons(c.clientPort)) {
            EXPECT_NE(row.state, kTcpEstablished);
        }
    }

    // A second reset finds nothing.
    EXPECT_EQ(destroy.SetTcpEntry(c.ServerEnd()).status, ResetStatus::kNoSuchConnection);
}

TEST_F(SocketDestroyIntegrationTest, DestroyingTheClientEndAbortsIt) {
    Connection c;
    ASSERT_TRUE(c.ok());
    const ResetResult r = destroy.SetTcpEntry(c.ClientEnd());
    ASSERT_TRUE(r.ok()) << r.Describe();
    const int outcome = ClientOutcome(c.client);
    EXPECT_TRUE(outcome == ECONNABORTED || outcome == ECONNRESET || outcome == 0) << outcome;
    // The peer got the reset as well.
    pollfd p{c.server, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 1000), 1);
    char byte;
    EXPECT_LE(recv(c.server, &byte, 1, 0), 0);
}

TEST_F(SocketDestroyIntegrationTest, DualStackSocketOfAnIpv4ConnectionIsReset) {
    Connection c(true);
    ASSERT_TRUE(c.ok());
    const ResetResult r = destroy.SetTcpEntry(c.ServerEnd());
    ASSERT_TRUE(r.ok()) << r.Describe();
    const int outcome = ClientOutcome(c.client);
    EXPECT_TRUE(outcome == ECONNRESET || outcome == 0) << outcome;
}

TEST_F(SocketDestroyIntegrationTest, AGoneConnectionIsNoSuchConnectionAndTheListenerLives) {
    Connection c;
    ASSERT_TRUE(c.ok());
    // A four-tuple on the listener's port that no connection has: the kernel's lookup would fall
    // back to the listener itself.
    TcpRow stale = c.ServerEnd();
    stale.remotePort = htons(static_cast<uint16_t>(c.clientPort == 65535 ? 65534 : c.clientPort + 1));
    EXPECT_EQ(destroy.SetTcpEntry(stale).status, ResetStatus::kNoSuchConnection);
    const int another = c.Connect();
    ASSERT_GE(another, 0);
    const int accepted = accept(c.listener, nullptr, nullptr);
    EXPECT_GE(accepted, 0) << "the listener still accepts";
    close(another);
    if (accepted >= 0) close(accepted);
    EXPECT_TRUE(Flows(c));
}

// The kernel's state of a socket this test holds (TCP_ESTABLISHED, TCP_CLOSE_WAIT, ...), -1 when
// it cannot be read.
int KernelState(int fd) {
    tcp_info info{};
    socklen_t len = sizeof info;
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) != 0) return -1;
    return info.tcpi_state;
}

// Waits up to a second for `fd` to reach `state`.
bool ReachesState(int fd, int state) {
    for (int i = 0; i < 100; ++i) {
        if (KernelState(fd) == state) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return KernelState(fd) == state;
}

// The table's state of the row with this local and remote port (host order), 0 when no row has them.
uint32_t TableState(uint16_t localPort, uint16_t remotePort) {
    LinuxConnectionTable table;
    std::vector<TcpRow> rows;
    if (!table.GetExtendedTcpTable(rows)) return 0;
    for (const TcpRow& row : rows)
        if (row.localPort == htons(localPort) && row.remotePort == htons(remotePort)) return row.state;
    return 0;
}

// The client has sent its FIN and the server acknowledged it: the client end waits in FIN-WAIT-2,
// the server end in CLOSE-WAIT, and data still flows from server to client.
struct HalfClosed : Connection {
    bool halfClosed = false;
    HalfClosed() {
        halfClosed = ok() && shutdown(client, SHUT_WR) == 0 && ReachesState(client, TCP_FIN_WAIT2) &&
                     ReachesState(server, TCP_CLOSE_WAIT) &&
                     TableState(listenPort, clientPort) == kTcpCloseWait &&
                     TableState(clientPort, listenPort) == kTcpFinWait2;
    }
};

// The error a send on `fd` meets within a second (the peer's reset arriving), 0 if every send
// goes through.
int SendError(int fd) {
    for (int i = 0; i < 100; ++i) {
        if (send(fd, "z", 1, MSG_NOSIGNAL) < 0) return errno;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
}

// Both sides have closed: the client's end of the connection waits in TIME-WAIT (a socket of its
// own; the descriptor's socket is closed) and carries nothing more.
struct Ended : Connection {
    bool ended = false;
    Ended() {
        ended = ok() && shutdown(client, SHUT_WR) == 0 && ReachesState(server, TCP_CLOSE_WAIT) &&
                close(server) == 0;
        server = -1;
        for (int i = 0; ended && i < 100 && TableState(clientPort, listenPort) != kTcpTimeWait; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ended = ended && TableState(clientPort, listenPort) == kTcpTimeWait;
    }
};

TEST_F(SocketDestroyIntegrationTest, AConnectionInCloseWaitStillSendsAndIsDestroyed) {
    HalfClosed c;
    ASSERT_TRUE(c.halfClosed);
    const ResetResult r = destroy.SetTcpEntry(c.ServerEnd());
    ASSERT_TRUE(r.ok()) << r.Describe();
    EXPECT_EQ(ClientOutcome(c.client), ECONNRESET) << "the half-closed peer sees the reset";
    EXPECT_EQ(TableState(c.listenPort, c.clientPort), 0u);
    EXPECT_EQ(destroy.SetTcpEntry(c.ServerEnd()).status, ResetStatus::kNoSuchConnection);
}

TEST_F(SocketDestroyIntegrationTest, AConnectionInFinWait2StillReceivesAndIsDestroyed) {
    HalfClosed c;
    ASSERT_TRUE(c.halfClosed);
    const ResetResult r = destroy.SetTcpEntry(c.ClientEnd());
    ASSERT_TRUE(r.ok()) << r.Describe();
    const int error = SendError(c.server);
    EXPECT_TRUE(error == EPIPE || error == ECONNRESET) << "the peer's sending must stop: " << error;
    EXPECT_EQ(TableState(c.clientPort, c.listenPort), 0u);
}

// Its program closed the half-closed end (an orphan): some kernels answer 0 to its destroy and keep
// it, so the answer must agree with the table: a cut only when the socket is gone.
TEST_F(SocketDestroyIntegrationTest, AnOrphanedHalfClosedEndIsACutOnlyWhenItIsGone) {
    HalfClosed c;
    ASSERT_TRUE(c.halfClosed);
    close(c.client);
    c.client = -1;
    ASSERT_EQ(TableState(c.clientPort, c.listenPort), kTcpFinWait2);
    const ResetResult r = destroy.SetTcpEntry(c.ClientEnd());
    EXPECT_EQ(r.ok(), TableState(c.clientPort, c.listenPort) == 0u) << r.Describe();
    EXPECT_NE(destroy.SetTcpEntry(c.ClientEnd()).status, ResetStatus::kOk) << "never cut twice";
}

TEST_F(SocketDestroyIntegrationTest, AnEndedConnectionBesideAnEstablishedOneLeavesOnlyTheLatterCut) {
    Ended ended;
    ASSERT_TRUE(ended.ended);
    ASSERT_EQ(TableState(ended.clientPort, ended.listenPort), kTcpTimeWait);
    Connection live;
    ASSERT_TRUE(live.ok());
    EXPECT_EQ(destroy.SetTcpEntry(ended.ClientEnd()).status, ResetStatus::kNoSuchConnection);
    const ResetResult r = destroy.SetTcpEntry(live.ServerEnd());
    ASSERT_TRUE(r.ok()) << r.Describe();
    const int outcome = ClientOutcome(live.client);
    EXPECT_TRUE(outcome == ECONNRESET || outcome == 0) << outcome;
    EXPECT_EQ(TableState(ended.clientPort, ended.listenPort), kTcpTimeWait) << "left to finish";
}

TEST_F(SocketDestroyIntegrationTest, AConnectionBeingOpenedIsDestroyed) {
    // A listener with no room in its accept queue drops every further SYN, so a connection to it
    // stays in SYN-SENT, retrying.
    Connection c;
    ASSERT_TRUE(c.ok());
    const int full = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = kLoopback;
    ASSERT_EQ(bind(full, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(listen(full, 0), 0);
    at.sin_port = htons(LocalPort(full));
    int opening[2];
    for (int& fd : opening) {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        const int rc = connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at);
        ASSERT_TRUE(rc == 0 || errno == EINPROGRESS) << errno;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    // The first may have been queued (with a SYN cookie); the second is refused room.
    const int fd = opening[1];
    ASSERT_EQ(KernelState(fd), TCP_SYN_SENT);
    const TcpRow row{kTcpDeleteTcb, kLoopback, htons(LocalPort(fd)), kLoopback, at.sin_port, 0};
    const ResetResult r = destroy.SetTcpEntry(row);
    EXPECT_TRUE(r.ok()) << r.Describe();
    EXPECT_TRUE(ReachesState(fd, TCP_CLOSE));
    int error = 0;
    socklen_t len = sizeof error;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len);
    EXPECT_EQ(error, ECONNABORTED);
    for (int f : {opening[0], opening[1], full}) close(f);
}

// Drops CAP_NET_ADMIN from the effective and permitted sets of the calling process.
bool DropNetAdmin() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    const unsigned word = CAP_NET_ADMIN / 32;
    const uint32_t bit = 1u << (CAP_NET_ADMIN % 32);
    data[word].effective &= ~bit;
    data[word].permitted &= ~bit;
    data[word].inheritable &= ~bit;
    return syscall(SYS_capset, &header, data) == 0;
}

TEST_F(SocketDestroyIntegrationTest, WithoutCapNetAdminTheResetIsRefusedAndTheConnectionLives) {
    Connection c;
    ASSERT_TRUE(c.ok());
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(report[0]);
        int answer[2] = {-1, 0};
        if (DropNetAdmin()) {
            NetlinkSocketDestroy unprivileged;
            const ResetResult r = unprivileged.SetTcpEntry(c.ServerEnd());
            answer[0] = static_cast<int>(r.status);
            answer[1] = r.error;
        }
        (void)!write(report[1], answer, sizeof answer);
        _exit(0);
    }
    close(report[1]);
    int answer[2] = {-2, 0};
    ASSERT_EQ(read(report[0], answer, sizeof answer), static_cast<ssize_t>(sizeof answer));
    close(report[0]);
    waitpid(child, nullptr, 0);
    ASSERT_NE(answer[0], -1) << "the child could not drop CAP_NET_ADMIN";
    EXPECT_EQ(answer[0], static_cast<int>(ResetStatus::kPermissionDenied));
    EXPECT_EQ(answer[1], EPERM);
    EXPECT_TRUE(Flows(c)) << "the connection survives a refused reset";
}

}  // namespace
}  // namespace varnel
