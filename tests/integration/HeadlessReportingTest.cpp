// The reports of varnel --headless --autokill as a real process: its metrics file as the fleet
// scrapes it, and its cuts as journal entries. Inside the private network namespace the
// integration tests run in.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "integration/HeadlessEndToEndTest.h"
#include "integration/VarnelProcess.h"

namespace {

namespace fs = std::filesystem;

using varnel_test::Child;
using varnel_test::Connect;
using varnel_test::HeadlessEndToEndTest;
using varnel_test::Pair;
using varnel_test::SeesAbort;
using varnel_test::StartVarnel;
using varnel_test::Stop;

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
