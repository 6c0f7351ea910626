#pragma once

// The program itself as a child process of an integration test: `varnel --headless --autokill
// --no-resolve` with its output on pipes, stopped with SIGTERM. Also how a test's own connection
// end learns that it was cut.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace varnel_test {

// True when the connection end `fd` sees the connection aborted within `ms`.
inline bool SeesAbort(int fd, int ms) {
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, ms) <= 0) return false;
    char c;
    ssize_t n = recv(fd, &c, 1, MSG_DONTWAIT);
    return n < 0 ? errno == ECONNRESET || errno == ECONNABORTED : n == 0;
}

struct Child {
    pid_t pid = -1;
    int out = -1, err = -1;
};

// Sees `etcDir`/resolv.conf and `etcDir`/hosts as /etc/resolv.conf and /etc/hosts: a private
// mount namespace of the calling process with the two files bind-mounted. False when that cannot
// be made (no right to).
inline bool UseOwnNameFiles(const std::string& etcDir) {
    if (unshare(CLONE_NEWNS) != 0) return false;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
    for (const char* name : {"resolv.conf", "hosts"}) {
        const std::string from = etcDir + "/" + name;
        const std::string to = std::string("/etc/") + name;
        if (mount(from.c_str(), to.c_str(), nullptr, MS_BIND, nullptr) != 0) return false;
    }
    return true;
}

// Exit status of a child that could not set up its name files.
constexpr int kNoNameFiles = 92;

// Starts varnel with its output on pipes. `dropNetAdmin`: without the right to reset connections.
// With `etcDir` it resolves host names, with the resolver files of UseOwnNameFiles; otherwise it
// runs with --no-resolve.
// `extra` options follow the usual ones.
inline Child StartVarnel(const std::string& configDir, bool dropNetAdmin, const std::string& etcDir = "",
                         const std::vector<std::string>& extra = {}) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return {};
    Child c;
    c.pid = fork();
    if (c.pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(err[0]);
        if (dropNetAdmin && prctl(PR_CAPBSET_DROP, 12 /* CAP_NET_ADMIN */, 0, 0, 0) != 0) _exit(90);
        std::vector<const char*> argv = {VARNEL_BINARY, "--headless", "--autokill", "--config-dir", configDir.c_str()};
        if (!etcDir.empty()) {
            if (!UseOwnNameFiles(etcDir)) _exit(kNoNameFiles);
        } else {
            argv.push_back("--no-resolve");
        }
        for (const std::string& e : extra) argv.push_back(e.c_str());
        argv.push_back(nullptr);
        execv(VARNEL_BINARY, const_cast<char* const*>(argv.data()));
        _exit(91);
    }
    close(out[1]);
    close(err[1]);
    c.out = out[0];
    c.err = err[0];
    return c;
}

inline std::string Drain(int fd) {
    std::string s;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<size_t>(n));
    close(fd);
    return s;
}

// Stops varnel with SIGTERM and returns its exit status (it must end within a tick or so).
inline int Stop(Child& c, std::string& out, std::string& err) {
    kill(c.pid, SIGTERM);
    auto start = std::chrono::steady_clock::now();
    int status = 0;
    while (waitpid(c.pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(5)) {
            kill(c.pid, SIGKILL);
            waitpid(c.pid, &status, 0);
            ADD_FAILURE() << "varnel did not end after SIGTERM";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::milliseconds(1000)) << "SIGTERM must end it within one tick";
    out = Drain(c.out);
    err = Drain(c.err);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace varnel_test
