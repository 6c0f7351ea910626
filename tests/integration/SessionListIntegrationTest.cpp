// The session list as the user sees it, from the real kernel: several processes hold loopback
// connections; one tick of the monitor on the Linux table must show each of them once, with its
// addresses, ports, state, age and owner, and nothing else.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "integration/NetnsGuard.h"
#include "platform/linux/LinuxConnectionTable.h"
#include "platform/linux/ProcProcessList.h"
#include "platform/linux/SystemClock.h"
#include "session/SessionMonitor.h"
#include "support/LoopbackFleet.h"

namespace varnel {
namespace {

std::string OwnExecutableName() {
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    std::string path(exe, n > 0 ? static_cast<size_t>(n) : 0);
    return path.substr(path.rfind('/') + 1);
}

// A connection left in TIME_WAIT: the client closes first and the server answers.
uint16_t MakeTimeWait() {
    int server = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(server, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(server, 1);
    socklen_t len = sizeof a;
    getsockname(server, reinterpret_cast<sockaddr*>(&a), &len);
    int client = socket(AF_INET, SOCK_STREAM, 0);
    connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int accepted = accept(server, nullptr, nullptr);
    close(client);
    char c;
    while (recv(accepted, &c, 1, 0) > 0) {
    }
    close(accepted);
    close(server);
    return ntohs(a.sin_port);
}

TEST(SessionListIntegrationTest, OneTickShowsEveryConnectionOfEveryProcessOnce) {
    REQUIRE_PRIVATE_NETNS();
    const uint16_t timeWaitPort = MakeTimeWait();
    testing::LoopbackFleet fleet;
    ASSERT_TRUE(fleet.Start(4, 60)) << fleet.error();  // 480 sockets in 4 processes

    LinuxConnectionTable table;
    ProcProcessList processes;
    SystemClock clock;
    auto monitor = std::make_unique<SessionMonitor>(table, processes, clock, UiLanguage::English());
    monitor->Start();
    monitor->Tick();
    ASSERT_TRUE(monitor->ProcessInfoAvailable());

    // Every expected row, keyed by "localPort remotePort", with its owner.
    std::map<std::string, std::string> expected;
    const std::string exe = OwnExecutableName();
    for (const auto& child : fleet.children()) {
        const std::string owner = exe + "(" + std::to_string(child.pid) + ")";
        for (const auto& pair : child.pairs) {
            expected[std::to_string(pair.clientPort) + " " + std::to_string(child.listenPort)] = owner;
            expected[std::to_string(child.listenPort) + " " + std::to_string(pair.clientPort)] = owner;
        }
    }
    ASSERT_EQ(expected.size(), 480u);
    ASSERT_EQ(monitor->listCount(), 480) << "only the fleet's connections: no listener, no TIME_WAIT";

    std::set<std::string> seen;
    for (int i = 0; i < monitor->listCount(); ++i) {
        const SessionRow& row = monitor->Row(i);
        std::string key = std::string(row[kColLocalPort]) + " " + row[kColRemotePort];
        ASSERT_TRUE(expected.count(key)) << key;
        EXPECT_TRUE(seen.insert(key).second) << "shown twice: " << key;
        EXPECT_STREQ(row[kColLocalAddress], "127.0.0.1");
        EXPECT_STREQ(row[kColRemoteAddress], "127.0.0.1");
        EXPECT_STREQ(row[kColLocalHost], "127.0.0.1") << "resolution is off";
        EXPECT_STREQ(row[kColStatus], "Connecting");
        EXPECT_STREQ(row[kColTime], "00s");
        EXPECT_EQ(row[kColProcess], expected[key]) << key;
        EXPECT_NE(std::string(row[kColLocalPort]), std::to_string(timeWaitPort));
        EXPECT_NE(std::string(row[kColRemotePort]), std::to_string(timeWaitPort));
    }
    EXPECT_EQ(monitor->CounterText(), " Connections (Max) :  480 ( 480)");

    // A second later the same connections keep their first-seen tick.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    monitor->Tick();
    ASSERT_EQ(monitor->listCount(), 480);
    EXPECT_STREQ(monitor->Row(0)[kColTime], "01s");
    EXPECT_STREQ(monitor->Row(479)[kColTime], "01s");
}

// The program's `--list --all --ipv6 --no-resolve` output, or "" when it could not run.
std::string ListAll() {
    std::string text;
    FILE* p = popen(VARNEL_BINARY " --list --all --ipv6 --no-resolve 2>&1", "r");
    if (p == nullptr) return text;
    char buf[65536];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) text.append(buf, n);
    return pclose(p) == 0 ? text : "";
}

// 2,000 sockets (IPv4 and IPv6, some half-closed) listed by the program: each of them once, with its
// addresses, ports, state and owner, after the title line, and the same bytes on a second run.
TEST(SessionListIntegrationTest, ListAllShowsTwoThousandConnectionsEachOnceAndTheSameTwice) {
    REQUIRE_PRIVATE_NETNS();
    testing::LoopbackFleet fleet;
    ASSERT_TRUE(fleet.Start(10, 100, 3, 2)) << fleet.error();

    std::map<std::string, std::string> expected;  // "local port remote port" -> the rest of the line
    const std::string exe = OwnExecutableName();
    for (size_t c = 0; c < fleet.children().size(); ++c) {
        const auto& child = fleet.children()[c];
        const std::string a = child.ipv6 ? "::1" : "127.0.0.1";
        const std::string owner = exe + "(" + std::to_string(child.pid) + ")";
        const bool halfClosed = c < 2;
        const std::string server = std::to_string(child.listenPort);
        for (const auto& pair : child.pairs) {
            const std::string client = std::to_string(pair.clientPort);
            auto line = [&](const std::string& local, const std::string& remote, const char* state) {
                return a + "\t" + a + "\t" + local + "\t" + a + "\t" + a + "\t" + remote + "\t" + state +
                       "\t00s\t" + owner;
            };
            expected[client + " " + server] = line(client, server, halfClosed ? "FIN WAIT2" : "Connecting");
            expected[server + " " + client] = line(server, client, halfClosed ? "CLOSE WAIT" : "Connecting");
        }
    }
    ASSERT_EQ(expected.size(), 2000u);

    const std::string first = ListAll();
    ASSERT_FALSE(first.empty());
    std::set<std::string> seen;
    size_t at = first.find('\n') + 1;  // after the title line
    for (size_t end; (end = first.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = first.substr(at, end - at);
        std::vector<std::string> f;
        for (size_t b = 0, e;; b = e + 1) {
            e = line.find('\t', b);
            f.push_back(line.substr(b, e - b));
            if (e == std::string::npos) break;
        }
        ASSERT_EQ(f.size(), 9u) << line;
        const std::string key = f[2] + " " + f[5];
        ASSERT_TRUE(expected.count(key)) << line;
        EXPECT_EQ(line, expected[key]);
        EXPECT_TRUE(seen.insert(key).second) << "listed twice: " << line;
    }
    EXPECT_EQ(seen.size(), expected.size());
    EXPECT_EQ(ListAll(), first) << "a second run on the same connections";
}

}  // namespace
}  // namespace varnel
