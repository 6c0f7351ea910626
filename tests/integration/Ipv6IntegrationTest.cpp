// IPv6 connections against the real kernel, inside the private network namespace of in-netns.sh:
// on ::1 and on documentation addresses given to the namespace's loopback, they are rows with their
// own addresses, ports, state and owner; a rule cuts one through the program itself, and neither a
// listener nor an IPv4 connection of a dual-stack server is ever taken for one.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "integration/NetnsGuard.h"
#include "integration/VarnelProcess.h"
#include "platform/linux/LinuxConnectionTable.h"
#include "platform/linux/NetlinkSocketDestroy.h"
#include "platform/linux/ProcProcessList.h"
#include "platform/linux/SystemClock.h"
#include "session/SessionMonitor.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

std::string OwnExecutableName() {
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    std::string path(exe, n > 0 ? static_cast<size_t>(n) : 0);
    return path.substr(path.rfind('/') + 1);
}

sockaddr_in6 At(const char* text, uint16_t port) {
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    inet_pton(AF_INET6, text, &a.sin6_addr);
    a.sin6_port = htons(port);
    return a;
}

uint16_t PortOf(int fd) {
    sockaddr_in6 a{};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin6_port);  // sin_port sits at the same offset
}

// Gives the namespace's loopback the address `text` unless it has it (the namespace is this test
// run's own, so nothing outside sees it). False when that cannot be done.
bool HaveAddress(const char* text) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in6 a = At(text, 0);
        const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        close(fd);
        if (bound) return true;
        const std::string command = std::string("ip -6 addr add ") + text + "/128 dev lo nodad 2>/dev/null";
        if (std::system(command.c_str()) != 0) return false;
    }
    return false;
}

// One IPv6 connection: `client` (bound to `from`, or any) connected to a listener on `to`:`port`.
struct Connection6 {
    int listener = -1, client = -1, server = -1;
    uint16_t listenPort = 0, clientPort = 0;

    bool Open(const char* to, uint16_t port, const char* from = nullptr) {
        listener = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int yes = 1;
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in6 a = At(to, port);
        if (bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener, 8) != 0)
            return false;
        listenPort = PortOf(listener);
        return Connect(to, from);
    }
    // A (further) client of the same listener.
    bool Connect(const char* to, const char* from = nullptr) {
        if (client >= 0) close(client);
        if (server >= 0) close(server);
        client = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (from != nullptr) {
            sockaddr_in6 f = At(from, 0);
            if (bind(client, reinterpret_cast<sockaddr*>(&f), sizeof f) != 0) return false;
        }
        sockaddr_in6 a = At(to, listenPort);
        if (connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return false;
        server = accept(listener, nullptr, nullptr);
        clientPort = PortOf(client);
        return server >= 0;
    }
    bool Alive() const {
        char c = 0;
        return send(client, "x", 1, MSG_NOSIGNAL) == 1 && recv(server, &c, 1, 0) == 1 && c == 'x';
    }
    ~Connection6() {
        for (int fd : {listener, client, server})
            if (fd >= 0) close(fd);
    }
};

const SessionRow* FindRow(const SessionMonitor& m, const std::string& local, uint16_t localPort) {
    for (int i = 0; i < m.listCount(); ++i)
        if (m.Row(i)[kColLocalAddress] == local && m.Row(i)[kColLocalPort] == std::to_string(localPort))
            return &m.Row(i);
    return nullptr;
}

class Ipv6IntegrationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_PRIVATE_NETNS();
        if (!HaveAddress("::1")) GTEST_SKIP() << "no IPv6 in this namespace";
    }
};

TEST_F(Ipv6IntegrationTest, Ipv6ConnectionsAreRowsWithTheirAddressesPortsStateAndOwner) {
    ASSERT_TRUE(HaveAddress("2001:db8::1"));
    ASSERT_TRUE(HaveAddress("2001:db8::2"));
    Connection6 loop, doc;
    ASSERT_TRUE(loop.Open("::1", 0));
    ASSERT_TRUE(doc.Open("2001:db8::1", 0, "2001:db8::2"));
    // A dual-stack server with an IPv4 client.
    const int dual = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int no = 0;
    setsockopt(dual, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
    sockaddr_in6 any = At("::", 0);
    ASSERT_EQ(bind(dual, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    ASSERT_EQ(listen(dual, 8), 0);
    const uint16_t dualPort = PortOf(dual);
    const int client4 = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to4{};
    to4.sin_family = AF_INET;
    to4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to4.sin_port = htons(dualPort);
    ASSERT_EQ(connect(client4, reinterpret_cast<sockaddr*>(&to4), sizeof to4), 0);
    const int accepted4 = accept(dual, nullptr, nullptr);
    ASSERT_GE(accepted4, 0);
    const uint16_t client4Port = PortOf(client4);

    LinuxConnectionTable table;
    ProcProcessList processes;
    SystemClock clock;
    auto monitor = std::make_unique<SessionMonitor>(table, processes, clock, UiLanguage::English());
    monitor->SetShowIpv6(true);
    monitor->Start();
    monitor->Tick();
    const std::string owner = OwnExecutableName() + "(" + std::to_string(getpid()) + ")";
    struct Expected {
        const char* local;
        uint16_t localPort;
        const char* remote;
        uint16_t remotePort;
    } ends[] = {
        {"::1", loop.clientPort, "::1", loop.listenPort},
        {"::1", loop.listenPort, "::1", loop.clientPort},
        {"2001:db8::2", doc.clientPort, "2001:db8::1", doc.listenPort},
        {"2001:db8::1", doc.listenPort, "2001:db8::2", doc.clientPort},
        {"127.0.0.1", client4Port, "127.0.0.1", dualPort},
        {"127.0.0.1", dualPort, "127.0.0.1", client4Port},  // not ::ffff:127.0.0.1
    };
    EXPECT_EQ(monitor->listCount(), 6) << "no listener, whatever its family";
    for (const Expected& e : ends) {
        SCOPED_TRACE(std::string(e.local) + " " + std::to_string(e.localPort));
        const SessionRow* row = FindRow(*monitor, e.local, e.localPort);
        ASSERT_NE(row, nullptr);
        EXPECT_STREQ(row->text[kColRemoteAddress], e.remote);
        EXPECT_EQ(row->text[kColRemotePort], std::to_string(e.remotePort));
        EXPECT_STREQ(row->text[kColLocalHost], e.local) << "resolution is off";
        EXPECT_STREQ(row->text[kColStatus], "Connecting");
        EXPECT_EQ(row->text[kColProcess], owner);
    }

    // ShowIPv6 off: the IPv4 rows alone, as before; the IPv6 connections are still kept for auto kill.
    monitor->SetShowIpv6(false);
    monitor->Tick();
    EXPECT_EQ(monitor->listCount(), 2);
    EXPECT_NE(FindRow(*monitor, "127.0.0.1", dualPort), nullptr);
    EXPECT_NE(FindRow(*monitor, "127.0.0.1", client4Port), nullptr);
    EXPECT_EQ(monitor->kept().size(), 6u);
    for (int fd : {dual, client4, accepted4}) close(fd);
}

TEST_F(Ipv6IntegrationTest, TheResetCutsTheIpv6ConnectionItNamesAndNeverItsListener) {
    Connection6 c;
    ASSERT_TRUE(c.Open("::1", 0));
    NetlinkSocketDestroy reset;
    TcpRow row{kTcpDeleteTcb, 0, htons(c.clientPort), 0, htons(c.listenPort), 0};
    row.v6 = true;
    inet_pton(AF_INET6, "::1", row.localAddr6.bytes);
    row.remoteAddr6 = row.localAddr6;
    // The listener's own endpoint (unconnected peer) is no connection.
    TcpRow listenerRow = row;
    listenerRow.localPort = htons(c.listenPort);
    listenerRow.remotePort = 0;
    std::memset(listenerRow.remoteAddr6.bytes, 0, 16);
    EXPECT_EQ(reset.SetTcpEntry(listenerRow).status, ResetStatus::kNoSuchConnection);

    const ResetResult r = reset.SetTcpEntry(row);
    ASSERT_TRUE(r.ok()) << r.Describe();
    EXPECT_TRUE(varnel_test::SeesAbort(c.client, 2000));
    // Gone now: the kernel's lookup would fall back to the listener on the port; it is left alone.
    EXPECT_EQ(reset.SetTcpEntry(row).status, ResetStatus::kNoSuchConnection);
    ASSERT_TRUE(c.Connect("::1"));
    EXPECT_TRUE(c.Alive()) << "the listener still takes connections";
    // An IPv4 request with the same ports names no IPv6 connection.
    TcpRow asIpv4{kTcpDeleteTcb,          htonl(INADDR_LOOPBACK), htons(c.clientPort),
                  htonl(INADDR_LOOPBACK), htons(c.listenPort),    0};
    EXPECT_EQ(reset.SetTcpEntry(asIpv4).status, ResetStatus::kNoSuchConnection);
    EXPECT_TRUE(c.Alive());
}

TEST_F(Ipv6IntegrationTest, HeadlessAutoKillCutsAnIpv6ConnectionByPortOnceAndLeavesTheListener) {
    ASSERT_TRUE(HaveAddress("2001:db8::1"));
    ASSERT_TRUE(HaveAddress("2001:db8::2"));
    char tmpl[] = "/tmp/varnel-ipv6-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    Connection6 target, bystander;
    ASSERT_TRUE(target.Open("::1", 7000));
    ASSERT_TRUE(bystander.Open("2001:db8::1", 0, "2001:db8::2"));
    std::ofstream(dir + "/varnel_autoblock.txt") << "# cut every client of port 7000\r\nPORT2=7000\r\n";

    varnel_test::Child child = varnel_test::StartVarnel(dir, false);
    ASSERT_GT(child.pid, 0);
    EXPECT_TRUE(varnel_test::SeesAbort(target.client, 5000)) << "the client must see the abort";
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));  // two more ticks: nothing more to cut

    // The listener is still there while varnel runs.
    LinuxConnectionTable table;
    std::vector<TcpRow> rows;
    ASSERT_TRUE(table.GetExtendedTcpTable(rows));
    bool listening = false;
    for (const TcpRow& r : rows) listening |= r.v6 && r.state == kTcpListen && r.localPort == htons(7000);
    EXPECT_TRUE(listening);
    std::string out, err;
    EXPECT_EQ(varnel_test::Stop(child, out, err), 0) << err;

    EXPECT_TRUE(bystander.Alive()) << "a connection the rule does not name lives on";
    ASSERT_TRUE(target.Connect("::1"));
    EXPECT_TRUE(target.Alive()) << "the listener on [::1]:7000 still takes connections";

    const std::regex line("BLOCKED \\[\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2}\\] ::1:\\d+ ::1:7000 " +
                          OwnExecutableName() + "\\(" + std::to_string(getpid()) + "\\)");
    std::istringstream lines(out);
    std::string first, extra;
    ASSERT_TRUE(std::getline(lines, first)) << "stdout: " << out << "\nstderr: " << err;
    EXPECT_TRUE(std::regex_match(first, line)) << first;
    EXPECT_FALSE(std::getline(lines, extra)) << "exactly one BLOCKED line, got also: " << extra;
    EXPECT_EQ(err.find("NOT BLOCKED"), std::string::npos) << err;
    fs::remove_all(dir);
}

}  // namespace
}  // namespace varnel
