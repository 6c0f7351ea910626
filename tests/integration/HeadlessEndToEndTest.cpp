// varnel --headless --autokill as a real process against real loopback connections, inside the
// private network namespace the integration tests run in.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "integration/NetnsGuard.h"
#include "integration/VarnelProcess.h"

namespace {

namespace fs = std::filesystem;

struct Pair {
    int server = -1, client = -1, accepted = -1;
    int serverPort = 0, clientPort = 0;
    ~Pair() {
        for (int fd : {server, client, accepted})
            if (fd >= 0) close(fd);
    }
};

int PortOf(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

// A connection from `from` to a new listener on `to`:`port` (any free port when 0), all loopback.
void Connect(Pair& p, const char* from = nullptr, const char* to = "127.0.0.1", int port = 0) {
    p.server = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, to, &a.sin_addr);
    a.sin_port = htons(static_cast<uint16_t>(port));
    ASSERT_EQ(bind(p.server, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(p.server, 4), 0);
    p.serverPort = PortOf(p.server);
    a.sin_port = htons(static_cast<uint16_t>(p.serverPort));
    p.client = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    if (from != nullptr) inet_pton(AF_INET, from, &local.sin_addr);
    ASSERT_TRUE(from == nullptr || bind(p.client, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0);
    ASSERT_EQ(connect(p.client, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    p.accepted = accept(p.server, nullptr, nullptr);
    ASSERT_GE(p.accepted, 0);
    p.clientPort = PortOf(p.client);
}

// A name server that takes every question and never answers, on 127.0.0.2 port 53.
struct SilentNameServer {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    bool ok = false;
    SilentNameServer() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(53);
        inet_pton(AF_INET, "127.0.0.2", &a.sin_addr);
        ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~SilentNameServer() { close(fd); }
};

using varnel_test::Child;
using varnel_test::SeesAbort;
using varnel_test::StartVarnel;
using varnel_test::Stop;

class HeadlessEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_PRIVATE_NETNS();
        char tmpl[] = "/tmp/varnel-headless-XXXXXX";
        dir = mkdtemp(tmpl);
    }
    void TearDown() override {
        if (!dir.empty()) fs::remove_all(dir);
    }
    void WriteRules(const Pair& p) {
        // Only the client end of this test's connection: its remote port is the server's.
        std::ofstream(dir + "/varnel_autoblock.txt") << "# test rule\r\nIP2=127.0.0.1,PORT2=" << p.serverPort << "\r\n";
    }
    std::string dir;
};

TEST_F(HeadlessEndToEndTest, ResetsTheConnectionItsRuleNamesAndLogsItOnce) {
    Pair p;
    Connect(p);
    Pair bystander;
    Connect(bystander);
    WriteRules(p);
    Child c = StartVarnel(dir, false);
    ASSERT_GT(c.pid, 0);
    EXPECT_TRUE(SeesAbort(p.client, 5000)) << "the client end must see the reset";
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));  // two more ticks: nothing more to cut
    std::string out, err;
    EXPECT_EQ(Stop(c, out, err), 0) << err;

    // The other connection lives on.
    ASSERT_EQ(send(bystander.client, "x", 1, 0), 1);
    char ch;
    EXPECT_EQ(recv(bystander.accepted, &ch, 1, 0), 1);

    std::regex line("BLOCKED \\[\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2}\\] 127\\.0\\.0\\.1:" +
                    std::to_string(p.clientPort) + " 127\\.0\\.0\\.1:" + std::to_string(p.serverPort) +
                    " varnel_integrat[a-z_]*\\(" + std::to_string(getpid()) + "\\)");
    std::istringstream lines(out);
    std::string first, extra;
    ASSERT_TRUE(std::getline(lines, first)) << "stdout: " << out << "\nstderr: " << err;
    EXPECT_TRUE(std::regex_match(first, line)) << first;
    EXPECT_FALSE(std::getline(lines, extra)) << "exactly one BLOCKED line, got also: " << extra;

    std::time_t now = std::time(nullptr);
    char name[64];
    std::strftime(name, sizeof name, "dunmoth_autoblock%Y%m.log", std::localtime(&now));
    std::ifstream log(dir + "/" + name, std::ios::binary);
    ASSERT_TRUE(log.good()) << "no block log " << name;
    std::stringstream text;
    text << log.rdbuf();
    EXPECT_EQ(text.str(), first + "\r\n");
}

// One half-closed connection kept busy in its open direction: `from` sends, `to` reads. The rules
// cut its client end; its server end is the peer, and `peerError` the first error that end meets.
struct OpenHalf {
    int from, to, peer;
    size_t bytes = 0;
    long long cutAfterMs = -1;
    int peerError = 0;

    void Step(std::chrono::steady_clock::time_point start) {
        static const char chunk[4096] = {};
        static char sink[65536];
        if (cutAfterMs >= 0) return;
        const ssize_t sent = send(from, chunk, sizeof chunk, MSG_NOSIGNAL);
        const int sendError = sent < 0 ? errno : 0;
        const ssize_t got = recv(to, sink, sizeof sink, 0);
        if (got > 0) bytes += static_cast<size_t>(got);
        const int error = from == peer ? sendError : got == 0 ? -1 : got < 0 ? errno : 0;
        if (error == 0 || error == EAGAIN) return;
        peerError = error;
        cutAfterMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                .count();
    }
};

// A half-closed connection still carries data one way, as long as its sender likes. Both ways of
// half-closing: the server shuts its side while the client keeps sending, and the client shuts its
// side while the server keeps streaming. Once a rule names their port (a reload, so that the rule
// never sees them established), each is cut within two ticks: the peer of the cut end sees the
// reset and no more data passes.
TEST_F(HeadlessEndToEndTest, HalfClosedConnectionsOnARuledPortAreCutWithinTwoTicks) {
    Pair serverShut, clientShut;
    Connect(serverShut);
    Connect(clientShut);
    std::ofstream(dir + "/varnel_autoblock.txt") << "PORT2=1\r\n";  // names no connection here
    Child c = StartVarnel(dir, false);
    ASSERT_GT(c.pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    for (int fd : {serverShut.client, serverShut.accepted, clientShut.client, clientShut.accepted})
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    ASSERT_EQ(shutdown(serverShut.accepted, SHUT_WR), 0);
    ASSERT_EQ(shutdown(clientShut.client, SHUT_WR), 0);
    OpenHalf halves[2] = {{serverShut.client, serverShut.accepted, serverShut.accepted},
                          {clientShut.accepted, clientShut.client, clientShut.accepted}};
    auto pump = [&](long long ms) {
        const auto start = std::chrono::steady_clock::now();
        while ((halves[0].cutAfterMs < 0 || halves[1].cutAfterMs < 0) &&
               std::chrono::steady_clock::now() - start < std::chrono::milliseconds(ms)) {
            for (OpenHalf& h : halves) h.Step(start);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    };
    pump(1100);  // two ticks under a rule that names neither
    for (const OpenHalf& h : halves) {
        ASSERT_EQ(h.cutAfterMs, -1) << "cut before its rule was there";
        EXPECT_GT(h.bytes, 100'000u) << "the open half carries data";
    }

    std::ofstream(dir + "/varnel_autoblock.txt")
        << "IP2=127.0.0.1,PORT2=" << serverShut.serverPort
        << "\r\nIP2=127.0.0.1,PORT2=" << clientShut.serverPort << "\r\n";
    ASSERT_EQ(kill(c.pid, SIGHUP), 0);
    pump(3000);
    for (const OpenHalf& h : halves) {
        EXPECT_GE(h.cutAfterMs, 0);
        EXPECT_LE(h.cutAfterMs, 1200) << "not cut within two ticks";
    }
    EXPECT_EQ(halves[0].peerError, ECONNRESET) << "the reading peer";
    EXPECT_TRUE(halves[1].peerError == EPIPE || halves[1].peerError == ECONNRESET) << halves[1].peerError;
    // The data stops: the cut ends send no more and, their queues read, receive nothing more.
    char byte;
    EXPECT_LT(send(serverShut.client, &byte, 1, MSG_NOSIGNAL), 0);
    ssize_t n;
    while ((n = recv(clientShut.client, &byte, 1, 0)) > 0) {
    }
    EXPECT_TRUE(n == 0 || errno != EAGAIN) << "the client end is still open";

    std::string out, err;
    EXPECT_EQ(Stop(c, out, err), 0) << err;
    for (const Pair* p : {&serverShut, &clientShut})
        EXPECT_NE(out.find("127.0.0.1:" + std::to_string(p->clientPort) +
                           " 127.0.0.1:" + std::to_string(p->serverPort)),
                  std::string::npos)
            << out;
}

TEST_F(HeadlessEndToEndTest, WithoutTheRightToResetTheFailureIsReportedOnce) {
    Pair p;
    Connect(p);
    WriteRules(p);
    Child c = StartVarnel(dir, true);
    ASSERT_GT(c.pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(2200));  // four ticks or more
    std::string out, err;
    EXPECT_EQ(Stop(c, out, err), 0);
    EXPECT_EQ(out, "") << "a failed reset is no block";
    size_t first = err.find("NOT BLOCKED 127.0.0.1:" + std::to_string(p.clientPort));
    ASSERT_NE(first, std::string::npos) << err;
    EXPECT_EQ(err.find("NOT BLOCKED", first + 1), std::string::npos) << "reported once, not every tick:\n" << err;
    EXPECT_NE(err.find("CAP_NET_ADMIN"), std::string::npos) << err;
    // And the connection survived.
    ASSERT_EQ(send(p.client, "y", 1, 0), 1);
    char ch;
    EXPECT_EQ(recv(p.accepted, &ch, 1, 0), 1);
}

TEST_F(HeadlessEndToEndTest, SighupReloadsTheRulesInsteadOfEnding) {
    Pair p;
    Connect(p);
    std::ofstream(dir + "/varnel_autoblock.txt") << "PORT2=1\r\n";  // names no connection here
    Child c = StartVarnel(dir, false);
    ASSERT_GT(c.pid, 0);
    EXPECT_FALSE(SeesAbort(p.client, 1200)) << "cut before its rule was there";
    WriteRules(p);
    ASSERT_EQ(kill(c.pid, SIGHUP), 0);
    EXPECT_TRUE(SeesAbort(p.client, 5000)) << "the reloaded rule must cut the connection";
    std::string out, err;
    EXPECT_EQ(Stop(c, out, err), 0) << "SIGHUP must not end it:\n" << err;
    EXPECT_NE(err.find("varnel: reloaded the rules and settings; auto kill on, 1 rule from " + dir +
                       "/varnel_autoblock.txt"),
              std::string::npos)
        << err;
    EXPECT_NE(out.find("127.0.0.1:" + std::to_string(p.serverPort)), std::string::npos) << out;
}

TEST_F(HeadlessEndToEndTest, AClosedStandardOutputIsToldOnceAndTheLogGoesOn) {
    Pair p;
    Connect(p);
    // The second connection opens only after the first cut, so that its cut comes after the
    // failed write; its server listens already, so that the rules can name its port.
    Pair q;
    q.server = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(q.server, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(q.server, 4), 0);
    q.serverPort = PortOf(q.server);
    std::ofstream(dir + "/varnel_autoblock.txt")
        << "IP2=127.0.0.1,PORT2=" << p.serverPort << "\r\nIP2=127.0.0.1,PORT2=" << q.serverPort << "\r\n";
    Child c = StartVarnel(dir, false);
    ASSERT_GT(c.pid, 0);
    close(c.out);  // the reader goes away, as `head` does
    c.out = -1;
    EXPECT_TRUE(SeesAbort(p.client, 5000));
    q.client = socket(AF_INET, SOCK_STREAM, 0);
    a.sin_port = htons(static_cast<uint16_t>(q.serverPort));
    ASSERT_EQ(connect(q.client, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    q.accepted = accept(q.server, nullptr, nullptr);
    EXPECT_TRUE(SeesAbort(q.client, 5000)) << "cutting goes on after the failed write";
    std::string out, err;
    EXPECT_EQ(Stop(c, out, err), 0) << "a closed pipe must not end it:\n" << err;
    size_t first =
        err.find("varnel: standard output closed; block-log lines go on to " + dir + "/dunmoth_autoblock");
    ASSERT_NE(first, std::string::npos) << err;
    EXPECT_EQ(err.find("standard output closed", err.find('\n', first)), std::string::npos) << "told once:\n"
                                                                                            << err;

    std::time_t now = std::time(nullptr);
    char name[64];
    std::strftime(name, sizeof name, "dunmoth_autoblock%Y%m.log", std::localtime(&now));
    std::ifstream log(dir + "/" + name, std::ios::binary);
    std::stringstream text;
    text << log.rdbuf();
    EXPECT_NE(text.str().find(":" + std::to_string(p.serverPort) + " "), std::string::npos) << text.str();
    EXPECT_NE(text.str().find(":" + std::to_string(q.serverPort) + " "), std::string::npos) << text.str();
}

TEST_F(HeadlessEndToEndTest, StartedWithStandardOutputClosedItSaysSoAndWritesNothingIntoItsSockets) {
    Pair p;
    Connect(p);
    WriteRules(p);
    int err[2];
    ASSERT_EQ(pipe(err), 0);
    Child c;
    c.pid = fork();
    if (c.pid == 0) {  // `varnel --headless >&-`
        dup2(err[1], 2);
        close(1);
        execl(VARNEL_BINARY, VARNEL_BINARY, "--headless", "--autokill", "--no-resolve", "--config-dir",
              dir.c_str(), static_cast<char*>(nullptr));
        _exit(91);
    }
    close(err[1]);
    c.err = err[0];
    EXPECT_TRUE(SeesAbort(p.client, 5000)) << "it cuts as ever";
    // Descriptor 1 is /dev/null, not the first socket the program opened.
    char target[256] = {};
    EXPECT_GT(readlink(("/proc/" + std::to_string(c.pid) + "/fd/1").c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "/dev/null");
    std::string out, errText;
    EXPECT_EQ(Stop(c, out, errText), 0) << errText;
    const std::string said = "varnel: standard output closed; block-log lines go on to " + dir + "/";
    EXPECT_NE(errText.find(said), std::string::npos) << errText;
}

// Host names with a name server that never answers: varnel resolves names with /etc/resolv.conf
// naming the silent server and /etc/hosts naming a few peers, both bind-mounted in a private mount
// namespace of its own.
class HeadlessNamesTest : public HeadlessEndToEndTest {
  protected:
    void SetUp() override {
        HeadlessEndToEndTest::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(dns.ok) << "cannot bind 127.0.0.2:53";
        fs::create_directory(dir + "/etc");
        std::ofstream(dir + "/etc/resolv.conf") << "nameserver 127.0.0.2\noptions timeout:30 attempts:5\n";
        std::ofstream(dir + "/etc/hosts") << "127.0.0.1 localhost\n127.0.0.77 named-peer.example.net\n"
                                          << "127.0.0.88 " << LongName() << "\n";
    }
    // 200 characters ending in ".example.com", in labels of at most 63.
    static std::string LongName() {
        return std::string(62, 'l') + "." + std::string(62, 'm') + "." + std::string(62, 'n') +
               ".example.com";
    }
    // Starts varnel with the name files; false (the test is skipped) where no mount namespace can be made.
    bool Start(const std::string& rules) {
        std::ofstream(dir + "/varnel_autoblock.txt") << rules;
        child = StartVarnel(dir, false, dir + "/etc");
        if (child.pid <= 0) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        int status = 0;
        if (waitpid(child.pid, &status, WNOHANG) == child.pid) {
            child.pid = -1;
            return false;
        }
        return true;
    }
    std::string StopAndOutput() {
        std::string out, err;
        EXPECT_EQ(Stop(child, out, err), 0) << err;
        return out;
    }
    static double Seconds(std::chrono::steady_clock::time_point since) {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
    }
    SilentNameServer dns;
    Child child;
};

// The README's example: an ALLOW rule on a host, then a port rule. A name that never comes holds
// the port rule back for two seconds at most.
TEST_F(HeadlessNamesTest, APortRuleAfterAHostRuleCutsWithinTwoAndAHalfSeconds) {
    if (!Start("PORT2=7009\r\nALLOW=1,HOST2=.updates.example.org\r\nPORT2=6667\r\n"))
        GTEST_SKIP() << "no private mount namespace for the name files";
    // The marker is cut at a tick: the connection below then opens a little before the next one,
    // so that the time measured is the hold and not where a tick happened to fall.
    Pair marker;
    Connect(marker, nullptr, "127.0.0.1", 7009);
    ASSERT_TRUE(SeesAbort(marker.client, 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    Pair p;
    const auto opened = std::chrono::steady_clock::now();
    Connect(p, "127.0.0.1", "127.0.0.9", 6667);  // 127.0.0.9 has no name: its lookup hangs
    EXPECT_TRUE(SeesAbort(p.client, 2500)) << "not cut within 2.5 s";
    EXPECT_LT(Seconds(opened), 2.5);
    const std::string out = StopAndOutput();
    EXPECT_NE(out.find(" localhost:" + std::to_string(p.clientPort) + " 127.0.0.9:6667 "), std::string::npos)
        << "logged as an address without a name:\n"
        << out;
}

// Sixty peers whose reverse lookups hang do not keep a name that /etc/hosts answers waiting, and a
// host rule sees the whole of a 200-character name.
TEST_F(HeadlessNamesTest, HangingPeersDelayNoNameFromTheHostsFileAndRulesSeeWholeNames) {
    if (!Start("HOST2=.example.net\r\nHOST2=.example.com\r\n"))
        GTEST_SKIP() << "no private mount namespace for the name files";
    std::vector<Pair> hanging(60);
    for (size_t i = 0; i < hanging.size(); ++i)
        Connect(hanging[i], ("127.0.0." + std::to_string(10 + i)).c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(700));  // their lookups are under way
    Pair named, longName;
    const auto opened = std::chrono::steady_clock::now();
    Connect(named, "127.0.0.77");
    Connect(longName, "127.0.0.88");
    EXPECT_TRUE(SeesAbort(named.client, 5000)) << "named-peer.example.net not known within 5 s";
    EXPECT_LT(Seconds(opened), 5.0);
    EXPECT_TRUE(SeesAbort(longName.client, 1000)) << "the name was cut short before the rule saw it";
    for (Pair& h : hanging) EXPECT_FALSE(SeesAbort(h.client, 0)) << "a peer without a name was cut";
    const std::string out = StopAndOutput();
    EXPECT_NE(out.find(" named-peer.example.net:" + std::to_string(named.clientPort) + " "),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(" " + LongName() + ":" + std::to_string(longName.clientPort) + " "), std::string::npos)
        << out;
}

// The body of an HTTP GET of `path` from 127.0.0.1:`port`, or "" when nothing answers.
std::string HttpGet(int port, const std::string& path) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    std::string reply;
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        const std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
            char buf[65536];
            ssize_t n;
            while ((n = recv(fd, buf, sizeof buf, 0)) > 0) reply.append(buf, static_cast<size_t>(n));
        }
    }
    close(fd);
    const size_t body = reply.find("\r\n\r\n");
    return body == std::string::npos ? "" : reply.substr(body + 4);
}

// Debian's prometheus-node-exporter, on loopback, with nothing but its textfile collector.
struct NodeExporter {
    static constexpr const char* kBinary = "/usr/bin/prometheus-node-exporter";
    static constexpr int kPort = 9100;  // free: the namespace is the test's own
    pid_t pid = -1;
    explicit NodeExporter(const std::string& textfileDir) {
        pid = fork();
        if (pid == 0) {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            const std::string listen = "--web.listen-address=127.0.0.1:" + std::to_string(kPort);
            const std::string folder = "--collector.textfile.directory=" + textfileDir;
            execl(kBinary, kBinary, listen.c_str(), "--collector.disable-defaults", "--collector.textfile",
                  folder.c_str(), static_cast<char*>(nullptr));
            _exit(91);
        }
    }
    ~NodeExporter() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
};

// The fleet's view: node_exporter's textfile collector reads the metrics file of a running
// `varnel --headless --metrics-file` and serves the cut by its rule's line; promtool accepts the file.
TEST_F(HeadlessEndToEndTest, NodeExporterServesTheCutFromTheMetricsFile) {
    if (access(NodeExporter::kBinary, X_OK) != 0) GTEST_SKIP() << "prometheus-node-exporter is not installed";
    const std::string textfiles = dir + "/textfile";
    fs::create_directory(textfiles);
    NodeExporter exporter(textfiles);
    Pair p;
    Connect(p);
    WriteRules(p);  // its rule is on line 2
    Child c = StartVarnel(dir, false, "", {"--metrics-file", textfiles + "/varnel.prom"});
    ASSERT_GT(c.pid, 0);
    EXPECT_TRUE(SeesAbort(p.client, 5000));
    // The file is written at the first tick (nothing cut yet) and every 10 s after.
    std::string scraped;
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(15)) {
        scraped = HttpGet(NodeExporter::kPort, "/metrics");
        if (scraped.find("\nvarnel_blocked_total 1\n") != std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    EXPECT_NE(scraped.find("\nvarnel_blocked_total 1\n"), std::string::npos) << scraped;
    EXPECT_NE(scraped.find("\nvarnel_blocked_by_rule_total{line=\"2\"} 1\n"), std::string::npos) << scraped;
    EXPECT_NE(scraped.find("\nvarnel_up 1\n"), std::string::npos) << scraped;
    EXPECT_NE(scraped.find("\nnode_textfile_scrape_error 0\n"), std::string::npos) << scraped;
    std::string out, err;
    EXPECT_EQ(Stop(c, out, err), 0) << err;
    EXPECT_EQ(err.find("metrics file"), std::string::npos) << err;

    const std::string file = textfiles + "/varnel.prom";
    EXPECT_NE(HttpGet(NodeExporter::kPort, "/metrics").find("\nvarnel_up 0\n"), std::string::npos)
        << "the file left at the end says it ended";
    if (access("/usr/bin/promtool", X_OK) == 0) {
        const std::string report = dir + "/promtool.out";
        const int status =
            std::system(("/usr/bin/promtool check metrics < '" + file + "' > '" + report + "' 2>&1").c_str());
        std::ifstream said(report);
        const std::string text(std::istreambuf_iterator<char>(said), {});
        EXPECT_EQ(status, 0) << text;
        EXPECT_EQ(text, "") << "promtool's lint found problems";
    }
}

// The fields of one entry in the journal's native protocol: "KEY=value\n", or "KEY\n", a 64-bit
// little-endian length, the value's bytes and "\n" for a value that holds a line break.
std::map<std::string, std::string> JournalFields(const std::string& d) {
    std::map<std::string, std::string> fields;
    size_t at = 0;
    while (at < d.size()) {
        const size_t eol = d.find('\n', at);
        if (eol == std::string::npos) break;
        const size_t eq = d.find('=', at);
        if (eq != std::string::npos && eq < eol) {
            fields[d.substr(at, eq - at)] = d.substr(eq + 1, eol - eq - 1);
            at = eol + 1;
            continue;
        }
        uint64_t length = 0;
        if (eol + 9 > d.size()) break;
        for (int i = 7; i >= 0; --i) length = length << 8 | static_cast<unsigned char>(d[eol + 1 + i]);
        if (eol + 9 + length + 1 > d.size()) break;
        fields[d.substr(at, eol - at)] = d.substr(eol + 9, length);
        at = eol + 9 + length + 1;
    }
    return fields;
}

// Under systemd (JOURNAL_STREAM names standard output) a cut is a structured journal entry, sent
// to the journal's socket: here a datagram socket standing in for it in a private mount namespace.
// Standard error, which is no journal stream here, keeps its text lines.
TEST_F(HeadlessEndToEndTest, UnderSystemdACutIsAJournalEntryWithItsFields) {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", "/run/systemd", "tmpfs", 0, "mode=0755") != 0)
        GTEST_SKIP() << "no private mount namespace over /run/systemd";
    ASSERT_EQ(mkdir("/run/systemd/journal", 0755), 0);
    const int journal = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strcpy(a.sun_path, "/run/systemd/journal/socket");
    ASSERT_EQ(bind(journal, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);

    Pair p;
    Connect(p);
    WriteRules(p);  // its rule is on line 2
    int out[2], err[2];
    ASSERT_EQ(pipe(out), 0);
    ASSERT_EQ(pipe(err), 0);
    Child c;
    c.pid = fork();
    if (c.pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        struct stat st {};
        fstat(1, &st);
        setenv("JOURNAL_STREAM", (std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino)).c_str(), 1);
        execl(VARNEL_BINARY, VARNEL_BINARY, "--headless", "--autokill", "--no-resolve", "--config-dir",
              dir.c_str(), static_cast<char*>(nullptr));
        _exit(91);
    }
    close(out[1]);
    close(err[1]);
    c.out = out[0];
    c.err = err[0];
    EXPECT_TRUE(SeesAbort(p.client, 5000));

    std::map<std::string, std::string> entry;
    pollfd pfd{journal, POLLIN, 0};
    while (entry["VARNEL_EVENT"] != "blocked" && poll(&pfd, 1, 3000) > 0) {
        char buf[65536];
        const ssize_t n = recv(journal, buf, sizeof buf, 0);
        if (n > 0) entry = JournalFields(std::string(buf, static_cast<size_t>(n)));
    }
    std::string stdoutText, stderrText;
    EXPECT_EQ(Stop(c, stdoutText, stderrText), 0) << stderrText;
    close(journal);

    ASSERT_EQ(entry["VARNEL_EVENT"], "blocked") << "no cut reached the journal's socket";
    EXPECT_EQ(entry["PRIORITY"], "5");
    EXPECT_EQ(entry["SYSLOG_IDENTIFIER"], "varnel");
    EXPECT_EQ(entry["VARNEL_RULE_LINE"], "2");
    EXPECT_EQ(entry["VARNEL_LOCAL"], "127.0.0.1:" + std::to_string(p.clientPort));
    EXPECT_EQ(entry["VARNEL_REMOTE"], "127.0.0.1:" + std::to_string(p.serverPort));
    EXPECT_EQ(entry["VARNEL_HOST2"], "127.0.0.1");
    EXPECT_EQ(entry["VARNEL_PID"], std::to_string(getpid()));
    EXPECT_EQ(entry["VARNEL_PROCESS"].rfind("varnel_integrat", 0), 0u) << entry["VARNEL_PROCESS"];
    EXPECT_EQ(entry["MESSAGE"].rfind("BLOCKED [", 0), 0u) << entry["MESSAGE"];
    EXPECT_EQ(stdoutText, "") << "the cut went to the journal, not twice";
    EXPECT_EQ(stderrText.rfind("varnel: monitoring; auto kill on, 1 rule from ", 0), 0u) << stderrText;
}

}  // namespace
