// The Linux connection table against the real kernel, inside the private network namespace of
// in-netns.sh: child processes hold loopback connections and every reader must report them.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <string>
#include <thread>

#include "integration/NetnsGuard.h"
#include "platform/linux/LinuxConnectionTable.h"
#include "platform/linux/ProcProcessList.h"
#include "support/LoopbackFleet.h"

namespace varnel {
namespace {

using testing::LoopbackFleet;

const uint32_t kLoopback = htonl(INADDR_LOOPBACK);

uint32_t Port(uint16_t hostPort) {
    return htons(hostPort);
}

const TcpRow* FindRow(const std::vector<TcpRow>& rows, uint32_t localAddr, uint16_t localPort,
                      uint32_t remoteAddr, uint16_t remotePort) {
    for (const TcpRow& r : rows)
        if (!r.v6 && r.localAddr == localAddr && r.localPort == Port(localPort) && r.remoteAddr == remoteAddr &&
            r.remotePort == Port(remotePort))
            return &r;
    return nullptr;
}

const TcpRow* FindRow6(const std::vector<TcpRow>& rows, const in6_addr& localAddr, uint16_t localPort,
                       const in6_addr& remoteAddr, uint16_t remotePort) {
    for (const TcpRow& r : rows)
        if (r.v6 && std::memcmp(r.localAddr6.bytes, &localAddr, 16) == 0 && r.localPort == Port(localPort) &&
            std::memcmp(r.remoteAddr6.bytes, &remoteAddr, 16) == 0 && r.remotePort == Port(remotePort))
            return &r;
    return nullptr;
}

bool AnyRowWithPort(const std::vector<TcpRow>& rows, uint16_t port) {
    for (const TcpRow& r : rows)
        if (r.localPort == Port(port) || r.remotePort == Port(port)) return true;
    return false;
}

std::string OwnExecutableName() {
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    const std::string path(exe, n > 0 ? static_cast<size_t>(n) : 0);
    return path.substr(path.rfind('/') + 1);
}

uint16_t LocalPort(int fd) {
    sockaddr_storage at{};
    socklen_t len = sizeof at;
    getsockname(fd, reinterpret_cast<sockaddr*>(&at), &len);
    return at.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&at)->sin6_port)
                                    : ntohs(reinterpret_cast<sockaddr_in*>(&at)->sin_port);
}

int Listener4() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = kLoopback;
    bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at);
    listen(fd, 16);
    return fd;
}

int Connect4(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = kLoopback;
    to.sin_port = htons(port);
    return connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 ? fd : -1;
}

class LinuxTableIntegrationTest : public ::testing::Test {
  protected:
    void SetUp() override { REQUIRE_PRIVATE_NETNS(); }
};

TEST_F(LinuxTableIntegrationTest, EveryReaderReportsTheFleetsConnectionsWithOwners) {
    LoopbackFleet fleet;
    ASSERT_TRUE(fleet.Start(4, 60)) << fleet.error();
    ASSERT_EQ(fleet.connectionCount(), 240u);

    LinuxConnectionTable table;
    ASSERT_TRUE(table.HasExtendedTcpTable());
    ASSERT_TRUE(table.HasTcpExTableFromStack());

    std::map<int32_t, std::string> names;
    ProcProcessList processes;
    ASSERT_TRUE(
        processes.Enumerate([&](int32_t pid, std::string_view name) { names[pid] = std::string(name); }));

    std::vector<TcpRow> rows;
    for (int reader = 0; reader < 3; ++reader) {
        SCOPED_TRACE(reader == 0 ? "extended" : reader == 1 ? "from stack" : "plain");
        const bool ok = reader == 0   ? table.GetExtendedTcpTable(rows)
                        : reader == 1 ? table.GetTcpExTableFromStack(rows)
                                      : table.GetTcpTable(rows);
        ASSERT_TRUE(ok);
        // 480 connected ends and 4 listeners, each once.
        size_t fleetRows = 0;
        for (const auto& child : fleet.children())
            for (const TcpRow& r : rows)
                if (r.localPort == Port(child.listenPort) || r.remotePort == Port(child.listenPort))
                    ++fleetRows;
        EXPECT_EQ(fleetRows, 484u);
        for (const auto& child : fleet.children()) {
            const uint32_t pid = reader == 2 ? 0u : static_cast<uint32_t>(child.pid);
            const TcpRow* listener = FindRow(rows, kLoopback, child.listenPort, 0, 0);
            ASSERT_NE(listener, nullptr);
            EXPECT_EQ(listener->state, kTcpListen);
            EXPECT_EQ(listener->owningPid, pid);
            for (const auto& pair : child.pairs) {
                const TcpRow* client = FindRow(rows, kLoopback, pair.clientPort, kLoopback, child.listenPort);
                const TcpRow* server = FindRow(rows, kLoopback, child.listenPort, kLoopback, pair.clientPort);
                ASSERT_NE(client, nullptr) << pair.clientPort;
                ASSERT_NE(server, nullptr) << pair.clientPort;
                EXPECT_EQ(client->state, kTcpEstablished);
                EXPECT_EQ(server->state, kTcpEstablished);
                EXPECT_EQ(client->owningPid, pid);
                EXPECT_EQ(server->owningPid, pid);
            }
            if (reader == 0) {
                EXPECT_EQ(names[child.pid], OwnExecutableName());
            }
        }
    }
}

TEST_F(LinuxTableIntegrationTest, OwnersFollowNewConnectionsAndSearchOnlyForThem) {
    LoopbackFleet fleet;
    ASSERT_TRUE(fleet.Start(3, 50)) << fleet.error();
    LinuxConnectionTable table;
    std::vector<TcpRow> rows;
    ASSERT_TRUE(table.GetExtendedTcpTable(rows));
    const SocketOwnerMap::Stats first = table.ownerStats();

    ASSERT_TRUE(table.GetExtendedTcpTable(rows));
    EXPECT_EQ(table.ownerStats().searches, first.searches) << "a steady table needs no search";

    ASSERT_TRUE(fleet.Churn(1, 5));
    ASSERT_TRUE(table.GetExtendedTcpTable(rows));
    EXPECT_EQ(table.ownerStats().searches, first.searches + 1);
    const auto& child = fleet.children()[1];
    for (const auto& pair : child.pairs) {
        const TcpRow* client = FindRow(rows, kLoopback, pair.clientPort, kLoopback, child.listenPort);
        ASSERT_NE(client, nullptr);
        EXPECT_EQ(client->owningPid, static_cast<uint32_t>(child.pid));
    }
}

TEST_F(LinuxTableIntegrationTest, ListeningAndTimeWaitSocketsCarryTheirCodes) {
    const int listener = Listener4();
    const uint16_t port = LocalPort(listener);
    const int client = Connect4(port);
    ASSERT_GE(client, 0);
    const int server = accept(listener, nullptr, nullptr);
    ASSERT_GE(server, 0);
    const uint16_t clientPort = LocalPort(client);
    // The client closes first and so ends in TIME_WAIT once the server has closed too.
    close(client);
    char byte;
    ASSERT_EQ(read(server, &byte, 1), 0);
    close(server);

    LinuxConnectionTable table;
    std::vector<TcpRow> rows;
    const TcpRow* timeWait = nullptr;
    for (int attempt = 0; attempt < 100 && timeWait == nullptr; ++attempt) {
        ASSERT_TRUE(table.GetExtendedTcpTable(rows));
        timeWait = FindRow(rows, kLoopback, clientPort, kLoopback, port);
        if (timeWait != nullptr && timeWait->state != kTcpTimeWait) timeWait = nullptr;
        if (timeWait == nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_NE(timeWait, nullptr);
    EXPECT_EQ(timeWait->owningPid, 0u);
    const TcpRow* listening = FindRow(rows, kLoopback, port, 0, 0);
    ASSERT_NE(listening, nullptr);
    EXPECT_EQ(listening->state, kTcpListen);
    EXPECT_EQ(listening->owningPid, static_cast<uint32_t>(getpid()));

    ASSERT_TRUE(table.GetTcpExTableFromStack(rows));
    const TcpRow* fromStack = FindRow(rows, kLoopback, clientPort, kLoopback, port);
    ASSERT_NE(fromStack, nullptr);
    EXPECT_EQ(fromStack->state, kTcpTimeWait);
    close(listener);
}

TEST_F(LinuxTableIntegrationTest, DualStackSocketsCarryingIpv4AppearAsIpv4AndPureIpv6AsIpv6) {
    // A dual-stack server on :: with an IPv4 client ...
    const int dual = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int no = 0;
    setsockopt(dual, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
    sockaddr_in6 any{};
    any.sin6_family = AF_INET6;
    any.sin6_addr = in6addr_any;
    ASSERT_EQ(bind(dual, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    ASSERT_EQ(listen(dual, 16), 0);
    const uint16_t dualPort = LocalPort(dual);
    const int client4 = Connect4(dualPort);
    ASSERT_GE(client4, 0);
    const int accepted4 = accept(dual, nullptr, nullptr);
    ASSERT_GE(accepted4, 0);
    const uint16_t client4Port = LocalPort(client4);

    // ... and a pure IPv6 connection over ::1 to a server of its own.
    const int v6 = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 loop6{};
    loop6.sin6_family = AF_INET6;
    loop6.sin6_addr = in6addr_loopback;
    ASSERT_EQ(bind(v6, reinterpret_cast<sockaddr*>(&loop6), sizeof loop6), 0);
    ASSERT_EQ(listen(v6, 16), 0);
    loop6.sin6_port = htons(LocalPort(v6));
    const int client6 = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(connect(client6, reinterpret_cast<sockaddr*>(&loop6), sizeof loop6), 0);
    const int accepted6 = accept(v6, nullptr, nullptr);
    ASSERT_GE(accepted6, 0);
    const uint16_t v6Port = LocalPort(v6);
    const uint16_t client6Port = LocalPort(client6);

    LinuxConnectionTable table;
    std::vector<TcpRow> rows;
    for (int reader = 0; reader < 3; ++reader) {
        SCOPED_TRACE(reader);
        ASSERT_TRUE(reader == 0   ? table.GetExtendedTcpTable(rows)
                    : reader == 1 ? table.GetTcpExTableFromStack(rows)
                                  : table.GetTcpTable(rows));
        const TcpRow* server = FindRow(rows, kLoopback, dualPort, kLoopback, client4Port);
        ASSERT_NE(server, nullptr) << "the accepted IPv6 socket of an IPv4 connection";
        EXPECT_EQ(server->state, kTcpEstablished);
        EXPECT_EQ(server->owningPid, reader == 2 ? 0u : static_cast<uint32_t>(getpid()));
        ASSERT_NE(FindRow(rows, kLoopback, client4Port, kLoopback, dualPort), nullptr);
        EXPECT_EQ(FindRow(rows, 0, dualPort, 0, 0), nullptr) << "a listener on :: is IPv6";
        const TcpRow* listener6 = FindRow6(rows, in6addr_any, dualPort, in6addr_any, 0);
        ASSERT_NE(listener6, nullptr);
        EXPECT_EQ(listener6->state, kTcpListen);
        // The pure IPv6 connection: both ends, with their ::1 addresses, ports, state and owner.
        for (auto [local, remote] : {std::pair{client6Port, v6Port}, std::pair{v6Port, client6Port}}) {
            const TcpRow* end = FindRow6(rows, in6addr_loopback, local, in6addr_loopback, remote);
            ASSERT_NE(end, nullptr) << local << " -> " << remote;
            EXPECT_EQ(end->state, kTcpEstablished);
            EXPECT_EQ(end->localAddr, 0u);
            EXPECT_EQ(end->remoteAddr, 0u);
            EXPECT_EQ(end->owningPid, reader == 2 ? 0u : static_cast<uint32_t>(getpid()));
        }
        size_t dualRows = 0;
        for (const TcpRow& r : rows)
            dualRows += !r.v6 && (r.localPort == Port(dualPort) || r.remotePort == Port(dualPort));
        EXPECT_EQ(dualRows, 2u);
    }
    for (int fd : {dual, client4, accepted4, v6, client6, accepted6}) close(fd);
}

}  // namespace
}  // namespace varnel
