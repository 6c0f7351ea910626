// The window's restart after the machine resumes: a private message bus carries the login
// manager's resume signal to a real window (offscreen, in the private network namespace); the copy
// that takes over runs with the same options and keeps cutting with the same rules. And a new copy
// whose predecessor is slow to end waits for it, so one copy is always left.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "integration/NetnsGuard.h"
#include "integration/VarnelProcess.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using varnel_test::Drain;
using varnel_test::SeesAbort;

// A listening socket on loopback; every connection to its port is one the rules cut.
struct Listener {
    int fd = -1;
    int port = 0;
    std::vector<int> open;
    Listener() {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 8) != 0) return;
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~Listener() {
        for (int s : open) close(s);
        close(fd);
    }
    // A new connection; its client end.
    int Connect() {
        int c = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port));
        if (connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return -1;
        open.push_back(c);
        open.push_back(accept(fd, nullptr, nullptr));
        return c;
    }
};

// The command line of a running process, or empty; a process that has ended (a zombie) has none.
std::vector<std::string> CommandLineOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::vector<std::string> args;
    std::string arg;
    while (std::getline(in, arg, '\0')) args.push_back(arg);
    return args;
}

// The running process started as "varnel /w PREDECESSOR ...", or -1.
pid_t SuccessorOf(pid_t predecessor) {
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::vector<std::string> args = CommandLineOf(std::stoi(name));
        if (args.size() >= 3 && args[0] == VARNEL_BINARY && args[1] == "/w" &&
            args[2] == std::to_string(predecessor))
            return std::stoi(name);
    }
    return -1;
}

class ResumeRestartIntegrationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_PRIVATE_NETNS();
#ifndef VARNEL_SEND_RESUME
        GTEST_SKIP() << "built without the window";
#endif
        char tmpl[] = "/tmp/varnel-resume-XXXXXX";
        dir_ = mkdtemp(tmpl);
        fs::create_directories(dir_ + "/run");
        fs::permissions(dir_ + "/run", fs::perms::owner_all);
        // Monitoring and auto kill on from the start; the one rule names this test's listener.
        std::ofstream(dir_ + "/varnel.ini") << "[Session]\r\nAutoStart=1\r\nAutoBlock=1\r\nAskDNS=0\r\n";
        std::ofstream(dir_ + "/varnel_autoblock.txt") << "IP2=127.0.0.1,PORT2=" << listener_.port << "\r\n";
    }
    void TearDown() override {
        for (pid_t pid : stray_) {
            const std::vector<std::string> args = CommandLineOf(pid);
            if (!args.empty() && args[0] == VARNEL_BINARY) kill(pid, SIGKILL);
        }
        if (bus_ > 0) kill(bus_, SIGTERM), waitpid(bus_, nullptr, 0);
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    // Starts a private message bus; its address.
    std::string StartBus() {
        const std::string config = dir_ + "/bus.conf";
        std::ofstream(config)
            << R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>
<allow own="*"/></policy></busconfig>)";
        int out[2];
        if (pipe(out) != 0) return {};
        bus_ = fork();
        if (bus_ == 0) {
            dup2(out[1], 1);
            close(out[0]);
            execlp("dbus-daemon", "dbus-daemon", ("--config-file=" + config).c_str(), "--print-address=1",
                   "--nofork", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        std::string address;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n') address += c;
        close(out[0]);
        return address;
    }

    // Starts the window offscreen with `args`, its standard error on a pipe (`err`).
    pid_t StartWindow(const std::vector<std::string>& args, const std::string& busAddress,
                      int* err = nullptr) {
        int pipeFds[2];
        if (err != nullptr && pipe(pipeFds) != 0) return -1;
        const pid_t pid = fork();
        if (pid == 0) {
            if (err != nullptr) dup2(pipeFds[1], 2), close(pipeFds[0]);
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            setenv("XDG_RUNTIME_DIR", (dir_ + "/run").c_str(), 1);
            setenv("DBUS_SYSTEM_BUS_ADDRESS", busAddress.c_str(), 1);
            std::vector<char*> argv{const_cast<char*>(VARNEL_BINARY)};
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(VARNEL_BINARY, argv.data());
            _exit(127);
        }
        if (err != nullptr) close(pipeFds[1]), *err = pipeFds[0];
        stray_.push_back(pid);
        return pid;
    }

    std::vector<std::string> Options() const {
        return {"--config-dir", dir_, "--lang", "JP", "--no-resolve"};
    }

    Listener listener_;
    std::string dir_;
    pid_t bus_ = -1;
    std::vector<pid_t> stray_;
};

TEST_F(ResumeRestartIntegrationTest, TheSuccessorKeepsTheOptionsAndTheRules) {
    const std::string address = StartBus();
    ASSERT_FALSE(address.empty()) << "dbus-daemon is installed by scripts/install-deps.sh --tests";
    const pid_t old = StartWindow(Options(), address);
    ASSERT_TRUE(SeesAbort(listener_.Connect(), 8000)) << "the window cuts by DIR's rule before the resume";

#ifdef VARNEL_SEND_RESUME
    // The machine wakes up. The old copy saves, ends and leaves its successor behind.
    int status = -1;
    for (int attempt = 0; attempt < 3 && status == -1; ++attempt) {
        ASSERT_EQ(std::system((std::string(VARNEL_SEND_RESUME) + " '" + address + "'").c_str()), 0);
        for (auto end = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < end;) {
            if (waitpid(old, &status, WNOHANG) == old) break;
            status = -1;
            std::this_thread::sleep_for(20ms);
        }
    }
    ASSERT_NE(status, -1) << "the old copy did not end after the resume";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
#endif
    pid_t successor = -1;
    for (auto end = std::chrono::steady_clock::now() + 5s;
         successor < 0 && std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(20ms))
        successor = SuccessorOf(old);
    ASSERT_GT(successor, 0) << "no copy was left after the resume";
    stray_.push_back(successor);
    std::vector<std::string> expected{VARNEL_BINARY, "/w", std::to_string(old)};
    for (const std::string& o : Options()) expected.push_back(o);
    EXPECT_EQ(CommandLineOf(successor), expected);

    // It reads DIR's rules and cuts by them.
    EXPECT_TRUE(SeesAbort(listener_.Connect(), 8000)) << "the successor does not enforce DIR's rules";
}

TEST_F(ResumeRestartIntegrationTest, ACopyWhoseOldCopyIsSlowToEndWaitsAndStarts) {
    // The old copy takes longer than the 10 s the new one waits before it says so.
    const pid_t slowOld = fork();
    if (slowOld == 0) {
        std::this_thread::sleep_for(12s);
        _exit(0);
    }
    std::vector<std::string> args{"/w", std::to_string(slowOld)};
    for (const std::string& o : Options()) args.push_back(o);
    int err = -1;
    const pid_t copy = StartWindow(args, "unix:path=/nonexistent", &err);
    const int connection = listener_.Connect();
    std::this_thread::sleep_for(11s);
    ASSERT_EQ(waitpid(copy, nullptr, WNOHANG), 0) << "the new copy gave up while the old one ran";
    EXPECT_FALSE(SeesAbort(connection, 0)) << "the new copy ran beside the old one";
    waitpid(slowOld, nullptr, 0);

    // The old copy has ended: the new one is the copy left, and it cuts by DIR's rules.
    EXPECT_TRUE(SeesAbort(listener_.Connect(), 8000));
    kill(copy, SIGTERM);
    int status = 0;
    waitpid(copy, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const std::string said = Drain(err);
    EXPECT_NE(said.find("previous copy (PID " + std::to_string(slowOld) + ") has not ended yet"),
              std::string::npos)
        << said;
}

}  // namespace
