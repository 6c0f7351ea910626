// The real varnel-reset-helper as a child on pipes, inside the private network namespace of
// in-netns.sh: it cuts the test's own loopback connection by its four-tuple and refuses or
// answers everything else, one line per request.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "integration/NetnsGuard.h"
#include "integration/VarnelProcess.h"
#include "platform/PrivilegedReset.h"
#include "platform/ResetRequestLine.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeConnectionReset.h"
#include "platform/linux/PkexecHelperLauncher.h"

namespace {

uint16_t PortOf(int fd) {
    sockaddr_storage at{};
    socklen_t len = sizeof at;
    getsockname(fd, reinterpret_cast<sockaddr*>(&at), &len);
    return at.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&at)->sin6_port)
                                    : ntohs(reinterpret_cast<sockaddr_in*>(&at)->sin_port);
}

// A loopback connection of `family`: client connected to server, accepted from listener.
struct Loopback {
    int listener = -1, client = -1, server = -1;
    uint16_t listenPort = 0, clientPort = 0;
    std::string address;

    explicit Loopback(int family) : address(family == AF_INET6 ? "::1" : "127.0.0.1") {
        sockaddr_storage at{};
        socklen_t len;
        if (family == AF_INET6) {
            auto* a = reinterpret_cast<sockaddr_in6*>(&at);
            a->sin6_family = AF_INET6;
            a->sin6_addr = in6addr_loopback;
            len = sizeof *a;
        } else {
            auto* a = reinterpret_cast<sockaddr_in*>(&at);
            a->sin_family = AF_INET;
            a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            len = sizeof *a;
        }
        listener = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (bind(listener, reinterpret_cast<sockaddr*>(&at), len) != 0 || listen(listener, 4) != 0) return;
        listenPort = PortOf(listener);
        if (family == AF_INET6)
            reinterpret_cast<sockaddr_in6*>(&at)->sin6_port = htons(listenPort);
        else
            reinterpret_cast<sockaddr_in*>(&at)->sin_port = htons(listenPort);
        client = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (connect(client, reinterpret_cast<sockaddr*>(&at), len) != 0) return;
        server = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        clientPort = PortOf(client);
    }
    ~Loopback() {
        for (int fd : {listener, client, server})
            if (fd >= 0) close(fd);
    }
    bool ok() const { return server >= 0; }
    // The server end's four-tuple as a request.
    std::string ServerEnd() const {
        return "RESET " + address + " " + std::to_string(listenPort) + " " + address + " " +
               std::to_string(clientPort);
    }
};

// The helper binary as a child: requests to `in`, answers from `out`.
class Helper {
  public:
    explicit Helper(bool dropNetAdmin = false) {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            if (dropNetAdmin && prctl(PR_CAPBSET_DROP, 12 /* CAP_NET_ADMIN */, 0, 0, 0) != 0) _exit(90);
            execl(VARNEL_RESET_HELPER, VARNEL_RESET_HELPER, static_cast<char*>(nullptr));
            _exit(91);
        }
        close(in[0]);
        close(out[1]);
        in_ = in[1];
        out_ = out[0];
        greeting_ = ReadLine();
    }
    ~Helper() {
        CloseInput();
        if (out_ >= 0) close(out_);
        if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    // Sends one request line and returns the answer line, or "" if none came within a second.
    std::string Ask(const std::string& line) {
        const std::string request = line + "\n";
        if (write(in_, request.data(), request.size()) != static_cast<ssize_t>(request.size())) return "";
        return ReadLine();
    }
    std::string ReadLine() {
        std::string answer;
        for (;;) {
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, 1000) != 1) return "";
            char c;
            if (read(out_, &c, 1) != 1) return "";
            if (c == '\n') return answer;
            answer += c;
        }
    }
    void CloseInput() {
        if (in_ >= 0) close(in_);
        in_ = -1;
    }
    // The exit status, or -1 if the helper has not ended within `ms`.
    int WaitExit(int ms) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    pid_t pid() const { return pid_; }
    const std::string& greeting() const { return greeting_; }

  private:
    std::string greeting_;
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;
};

// The error the connection end `fd` reads within a second: ECONNRESET or ECONNABORTED when it
// was cut, 0 for an orderly end, -1 while it stays quiet and alive.
int ReadError(int fd) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 1000) <= 0) return -1;
    char byte;
    return recv(fd, &byte, 1, 0) < 0 ? errno : 0;
}

bool Aborted(int fd) {
    const int error = ReadError(fd);
    return error == ECONNRESET || error == ECONNABORTED;
}

class ResetHelperIntegrationTest : public ::testing::Test {
  protected:
    void SetUp() override { REQUIRE_PRIVATE_NETNS(); }
};

TEST_F(ResetHelperIntegrationTest, ResetsAnIpv4ConnectionAndThePeerSeesTheAbort) {
    Loopback c(AF_INET);
    ASSERT_TRUE(c.ok());
    Helper helper;
    EXPECT_EQ(helper.Ask(c.ServerEnd()), "OK");
    EXPECT_TRUE(Aborted(c.client));
    // It is gone now: asked again, the helper says so.
    EXPECT_EQ(helper.Ask(c.ServerEnd()), "GONE");
}

TEST_F(ResetHelperIntegrationTest, ResetsAnIpv6Connection) {
    Loopback c(AF_INET6);
    ASSERT_TRUE(c.ok());
    Helper helper;
    EXPECT_EQ(helper.Ask(c.ServerEnd()), "OK");
    EXPECT_TRUE(Aborted(c.client));
}

TEST_F(ResetHelperIntegrationTest, RefusesOrAnswersEverythingElseAndLeavesTheConnection) {
    Loopback c(AF_INET);
    ASSERT_TRUE(c.ok());
    Helper helper;
    const std::string port = std::to_string(c.listenPort);
    EXPECT_EQ(helper.Ask("RESET 127.0.0.1 " + port + " 0.0.0.0 0"), "REFUSED listener");
    // A tuple on the listener's port that no connection has: the kernel's lookup would find the
    // listener, which must not be cut.
    EXPECT_EQ(helper.Ask("RESET 127.0.0.1 " + port + " 127.0.0.1 1"), "GONE");
    EXPECT_EQ(helper.Ask("RESET 127.0.0.1 " + port), "REFUSED malformed");
    EXPECT_EQ(helper.Ask("KILL 127.0.0.1 " + port + " 127.0.0.1 " + std::to_string(c.clientPort)),
              "REFUSED unknown-request");
    EXPECT_EQ(helper.Ask(std::string(1000, 'R')), "REFUSED line-too-long");

    // The listener and the connection are untouched.
    EXPECT_FALSE(varnel_test::SeesAbort(c.client, 100));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(c.listenPort);
    const int another = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(connect(another, reinterpret_cast<sockaddr*>(&to), sizeof to), 0) << "listener was cut";
    close(another);
}

TEST_F(ResetHelperIntegrationTest, WithoutNetAdminItAnswersPermissionDenied) {
    Loopback c(AF_INET);
    ASSERT_TRUE(c.ok());
    Helper helper(/*dropNetAdmin=*/true);
    EXPECT_EQ(helper.Ask(c.ServerEnd()), "ERROR EPERM");
    EXPECT_FALSE(varnel_test::SeesAbort(c.client, 100));
}

// A line of /proc/<pid>/status after its name: the capability sets ("CapEff:\t0000000000001000"),
// the ids ("Uid:\t65534\t65534\t65534\t65534") and so on.
std::string StatusLine(pid_t pid, const std::string& name) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(name + ":", 0) == 0) return line.substr(name.size() + 2);
    return "";
}

TEST_F(ResetHelperIntegrationTest, KeepsOnlyNetAdminAsNobodyAndStillCuts) {
    Helper helper;
    // Once it has said it is ready, it has dropped its privileges.
    ASSERT_EQ(helper.greeting(), "READY");
    EXPECT_EQ(StatusLine(helper.pid(), "CapEff"), "0000000000001000");
    EXPECT_EQ(StatusLine(helper.pid(), "CapPrm"), "0000000000001000");
    EXPECT_EQ(StatusLine(helper.pid(), "CapInh"), "0000000000000000");
    EXPECT_EQ(StatusLine(helper.pid(), "CapBnd"), "0000000000001000");
    EXPECT_EQ(StatusLine(helper.pid(), "NoNewPrivs"), "1");
    // Started by the machine's root, it is nobody now (real, effective, saved and file-system ids)
    // without groups; a namespace of in-netns.sh run by a user maps no nobody to switch to.
    std::ifstream map("/proc/self/uid_map");
    std::string inside, outside, count;
    map >> inside >> outside >> count;
    if (geteuid() == 0 && inside == "0" && outside == "0" && count == "4294967295") {
        const passwd* nobody = getpwnam("nobody");
        const std::string uid = std::to_string(nobody != nullptr ? nobody->pw_uid : 65534);
        EXPECT_EQ(StatusLine(helper.pid(), "Uid"), uid + "\t" + uid + "\t" + uid + "\t" + uid);
        EXPECT_EQ(StatusLine(helper.pid(), "Groups").find_first_not_of(' '), std::string::npos);
    }
    // And CAP_NET_ADMIN alone still cuts.
    Loopback c(AF_INET);
    ASSERT_TRUE(c.ok());
    EXPECT_EQ(helper.Ask(c.ServerEnd()), "OK");
    EXPECT_TRUE(Aborted(c.client));
}

TEST_F(ResetHelperIntegrationTest, ExitsZeroWithinASecondWhenInputCloses) {
    Helper helper;
    EXPECT_EQ(helper.Ask("RESET 127.0.0.1 1 127.0.0.1 2"), "GONE");
    helper.CloseInput();
    EXPECT_EQ(helper.WaitExit(1000), 0);
}

using namespace varnel;

// The window's way to the helper: a launcher program standing in for pkexec (the password prompt
// cannot be answered in a test) starts the real helper, or refuses as pkexec does.
class LauncherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_PRIVATE_NETNS();
        char tmpl[] = "/tmp/varnel-launcher-XXXXXX";
        dir_ = mkdtemp(tmpl);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // A launcher script with `body` after its #! line; "$1" is the helper's path.
    std::string StandIn(const std::string& body) {
        const std::string path = dir_ + "/pkexec";
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        chmod(path.c_str(), 0755);
        return path;
    }
    // Resets through `reset` until it is no longer pending (at most 3 s).
    static ResetResult Settled(PrivilegedReset& reset, const TcpRow& row) {
        ResetResult r;
        for (int i = 0; i < 300; ++i) {
            r = reset.SetTcpEntry(row);
            if (r.status != ResetStatus::kPending) return r;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return r;
    }
    static bool Gone(pid_t pid) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("State:", 0) == 0) return line.find('Z') != std::string::npos;
        return true;
    }

    std::string dir_;
    FakeConnectionReset direct;
    FakeClock clock;
};

TEST_F(LauncherTest, ThroughTheLauncherTheHelperCutsAndEndsWithItsStarter) {
    Loopback c(AF_INET);
    ASSERT_TRUE(c.ok());
    // The stand-in holds the helper back until the test says "go", as a password prompt would:
    // otherwise, on a busy machine, the helper may be ready before the first reset looks.
    PkexecHelperLauncher launcher(VARNEL_RESET_HELPER,
                                  StandIn("echo $$ >" + dir_ + "/pid\nwhile [ ! -e " + dir_ +
                                          "/go ]; do sleep 0.01; done\nexec \"$1\""));
    pid_t helperPid = 0;
    {
        PrivilegedReset reset(direct, /*holdsRight=*/false, launcher, clock);
        const TcpRow row = ResetRequestLine::Parse(c.ServerEnd()).row;
        EXPECT_EQ(reset.SetTcpEntry(row).status, ResetStatus::kPending) << "the first reset only starts it";
        std::ofstream(dir_ + "/go").close();
        const ResetResult r = Settled(reset, row);
        EXPECT_TRUE(r.ok()) << r.Describe();
        EXPECT_TRUE(Aborted(c.client));
        EXPECT_EQ(Settled(reset, row).status, ResetStatus::kNoSuchConnection);
        EXPECT_TRUE(direct.calls.empty());
        std::ifstream(dir_ + "/pid") >> helperPid;
        ASSERT_GT(helperPid, 0);
        EXPECT_FALSE(Gone(helperPid));
    }
    // Its starter gone, the helper is too, at once.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (!Gone(helperPid) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(Gone(helperPid));
}

// A helper that is ready by the time the first reset asks (a prompt answered at once, a kept
// authorization) cuts at that reset, and a row it cut is never cut, nor counted, again.
TEST_F(LauncherTest, AHelperReadyBeforeTheFirstResetCutsAtOnceAndOnlyOnce) {
    Loopback c(AF_INET);
    ASSERT_TRUE(c.ok());
    PkexecHelperLauncher launcher(VARNEL_RESET_HELPER, StandIn("exec \"$1\""));
    PrivilegedReset reset(direct, /*holdsRight=*/false, launcher, clock);
    reset.StartHelper(/*byHand=*/true);
    for (int i = 0; i < 300 && reset.Poll() == PrivilegedReset::HelperState::kStarting; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(reset.Poll(), PrivilegedReset::HelperState::kReady) << reset.failure();
    const TcpRow row = ResetRequestLine::Parse(c.ServerEnd()).row;
    const ResetResult r = reset.SetTcpEntry(row);
    EXPECT_TRUE(r.ok()) << r.Describe();
    EXPECT_TRUE(Aborted(c.client));
    for (int again = 0; again < 3; ++again)
        EXPECT_EQ(reset.SetTcpEntry(row).status, ResetStatus::kNoSuchConnection);
}

TEST_F(LauncherTest, EveryWayOfNotStartingIsARefusalThatSaysWhy) {
    const TcpRow row = ResetRequestLine::Parse("RESET 127.0.0.1 1 127.0.0.1 2").row;
    struct Case {
        std::string launcher;
        std::string helper;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {StandIn("exit 126"), VARNEL_RESET_HELPER, "the administrator's password was not given"},
        {dir_ + "/x127", VARNEL_RESET_HELPER, "not authorized"},
        {dir_ + "/no-such-pkexec", VARNEL_RESET_HELPER, "is not installed (it asks for the administrator's password)"},
        {dir_ + "/pkexec", dir_ + "/no-such-helper", "the reset helper is not installed"},
        {dir_ + "/hello", VARNEL_RESET_HELPER, "did not start as expected"},
        {dir_ + "/mute", VARNEL_RESET_HELPER, "did not answer within 2 s"},
        // Ready, then reads nothing: the request meets a pipe without a reader, which must not
        // end this process with SIGPIPE.
        {dir_ + "/deaf", VARNEL_RESET_HELPER, "the reset helper stopped answering"},
        // A flood without a line end is no greeting, and is not kept.
        {dir_ + "/flood", VARNEL_RESET_HELPER, "wrote what it was not asked for"},
    };
    std::ofstream(dir_ + "/flood") << "#!/bin/sh\nhead -c 5000 /dev/zero | tr '\\0' x\nexec sleep 5\n";
    // Closes its input before it says READY, so the request always finds no reader.
    std::ofstream(dir_ + "/deaf") << "#!/bin/sh\nexec <&-\necho READY\nexec sleep 5\n";
    std::ofstream(dir_ + "/x127") << "#!/bin/sh\nexit 127\n";
    std::ofstream(dir_ + "/hello") << "#!/bin/sh\necho HELLO\nexec sleep 5\n";
    std::ofstream(dir_ + "/mute") << "#!/bin/sh\necho READY\nexec sleep 5\n";
    for (const char* name : {"/x127", "/hello", "/mute", "/deaf", "/flood"}) chmod((dir_ + name).c_str(), 0755);
    for (const Case& k : cases) {
        PkexecHelperLauncher launcher(k.helper, k.launcher);
        PrivilegedReset reset(direct, false, launcher, clock);
        const ResetResult r = Settled(reset, row);
        EXPECT_EQ(r.status, ResetStatus::kRefused) << k.launcher << ": " << r.Describe();
        EXPECT_NE(r.Describe().find(k.reason), std::string::npos) << k.launcher << ": " << r.Describe();
    }
}

TEST(LauncherFindTest, TheHelperIsFoundInLibexecWhenInstalledElseBesideTheProgram) {
    char tmpl[] = "/tmp/varnel-find-XXXXXX";
    const std::string root = mkdtemp(tmpl);
    std::filesystem::create_directories(root + "/bin");
    std::filesystem::create_directories(root + "/libexec/varnel");
    EXPECT_EQ(PkexecHelperLauncher::FindHelper(root + "/bin/varnel"), "");
    for (const std::string& at : {root + "/bin/varnel-reset-helper", root + "/libexec/varnel/varnel-reset-helper"}) {
        std::ofstream(at) << "#!/bin/sh\n";
        chmod(at.c_str(), 0755);
        EXPECT_EQ(PkexecHelperLauncher::FindHelper(root + "/bin/varnel"), at);
    }
    std::filesystem::remove_all(root);
}

}  // namespace
