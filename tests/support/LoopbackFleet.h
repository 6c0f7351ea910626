#pragma once

// Child processes that hold loopback TCP connections for tests and benchmarks: each child listens
// on 127.0.0.1 (or, for an IPv6 child, on ::1 alone) on a port of its own, opens a number of
// connections to itself and keeps both ends of each open until the fleet stops it. A half-closing
// child shuts the client side of each connection it opens for writing, so that its connections
// wait half-closed (the client end in FIN-WAIT-2, the server end in CLOSE-WAIT). A child can be
// told to open new connections and close old ones (with a reset, so no TIME_WAIT is left).
// Header-only so the benchmarks can use it too.
//
// Children die with the process that started them (PR_SET_PDEATHSIG); stopped in order, they
// reset their connections first. Not thread-safe.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace varnel::testing {

class LoopbackFleet {
  public:
    struct Pair {
        uint16_t clientPort;  // host order; the server end is the child's listening port
    };
    struct Child {
        pid_t pid = -1;
        bool ipv6 = false;
        uint16_t listenPort = 0;
        std::vector<Pair> pairs;  // as last reported (after the latest Churn)
        int commandFd = -1;
        int reportFd = -1;
    };

    LoopbackFleet() = default;
    ~LoopbackFleet() { Stop(); }
    LoopbackFleet(const LoopbackFleet&) = delete;
    LoopbackFleet& operator=(const LoopbackFleet&) = delete;

    // Starts `children` processes holding `pairsPerChild` connections each, the last
    // `ipv6Children` of them over ::1, the first `halfClosedChildren` of them half-closing their
    // connections. False (with `error` set) when a child could not start or report.
    bool Start(int children, int pairsPerChild, int ipv6Children = 0, int halfClosedChildren = 0) {
        for (int i = 0; i < children; ++i) {
            const bool ipv6 = i >= children - ipv6Children;
            const bool halfClose = i < halfClosedChildren;
            int command[2], report[2];
            if (pipe(command) != 0 || pipe(report) != 0) return Fail("pipe");
            const pid_t pid = fork();
            if (pid < 0) return Fail("fork");
            if (pid == 0) {
                close(command[1]);
                close(report[0]);
                RunChild(command[0], report[1], pairsPerChild, ipv6, halfClose);
            }
            close(command[0]);
            close(report[1]);
            Child child;
            child.pid = pid;
            child.ipv6 = ipv6;
            child.commandFd = command[1];
            child.reportFd = report[0];
            children_.push_back(child);
            if (!ReadReport(children_.back())) return Fail("child report");
        }
        return true;
    }

    // Child `index` closes its `n` oldest connections and opens `n` new ones; returns when done.
    bool Churn(size_t index, uint32_t n) {
        Child& child = children_.at(index);
        char command[5] = {'c'};
        std::memcpy(command + 1, &n, sizeof n);
        if (!WriteAll(child.commandFd, command, sizeof command)) return Fail("churn command");
        return ReadReport(child) || Fail("churn report");
    }

    // Each child resets its connections (so none is left in TIME_WAIT to burden the next table)
    // and exits; a child that does not within five seconds is killed.
    void Stop() {
        for (Child& child : children_) {
            if (child.commandFd >= 0) close(child.commandFd);
            child.commandFd = -1;
        }
        for (Child& child : children_) {
            if (child.reportFd >= 0) close(child.reportFd);
            if (child.pid <= 0) continue;
            bool exited = false;
            for (int wait = 0; wait < 500 && !exited; ++wait) {
                exited = waitpid(child.pid, nullptr, WNOHANG) == child.pid;
                if (!exited) usleep(10 * 1000);
            }
            if (!exited) {
                kill(child.pid, SIGKILL);
                waitpid(child.pid, nullptr, 0);
            }
        }
        children_.clear();
    }

    const std::vector<Child>& children() const { return children_; }
    size_t connectionCount() const {
        size_t n = 0;
        for (const Child& c : children_) n += c.pairs.size();
        return n;
    }
    const std::string& error() const { return error_; }

  private:
    bool Fail(const char* what) {
        error_ = std::string(what) + ": " + std::strerror(errno);
        return false;
    }

    static bool WriteAll(int fd, const void* data, size_t size) {
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            const ssize_t n = write(fd, p, size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            p += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }
    static bool ReadAll(int fd, void* data, size_t size) {
        char* p = static_cast<char*>(data);
        while (size > 0) {
            const ssize_t n = read(fd, p, size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            p += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }

    // Report: listening port, count, then the client ports.
    bool ReadReport(Child& child) {
        uint16_t port = 0;
        uint32_t count = 0;
        if (!ReadAll(child.reportFd, &port, sizeof port) || !ReadAll(child.reportFd, &count, sizeof count))
            return false;
        std::vector<uint16_t> ports(count);
        if (count > 0 && !ReadAll(child.reportFd, ports.data(), count * sizeof(uint16_t))) return false;
        child.listenPort = port;
        child.pairs.clear();
        for (uint16_t p : ports) child.pairs.push_back(Pair{p});
        return true;
    }

    struct HeldPair {
        int client;
        int server;
        uint16_t clientPort;
    };

    // `to` is a sockaddr_in or sockaddr_in6 of `toLength` bytes; the port sits at the same place
    // in both.
    static bool OpenPair(int listener, const sockaddr_storage& to, socklen_t toLength, HeldPair& pair) {
        pair.client = socket(to.ss_family, SOCK_STREAM, 0);
        if (pair.client < 0) return false;
        if (connect(pair.client, reinterpret_cast<const sockaddr*>(&to), toLength) != 0) return false;
        pair.server = accept(listener, nullptr, nullptr);
        if (pair.server < 0) return false;
        sockaddr_storage local{};
        socklen_t len = sizeof local;
        getsockname(pair.client, reinterpret_cast<sockaddr*>(&local), &len);
        pair.clientPort = ntohs(reinterpret_cast<const sockaddr_in*>(&local)->sin_port);
        return true;
    }

    static void ClosePair(const HeldPair& pair) {
        // A reset instead of the four-way close: nothing lingers in TIME_WAIT.
        linger abort{1, 0};
        setsockopt(pair.client, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        close(pair.client);
        close(pair.server);
    }

    [[noreturn]] static void RunChild(int commandFd, int reportFd, int pairs, bool ipv6, bool halfClose) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        // Keep only the pipes, so no socket of the parent is held here as well.
        if (dup2(commandFd, 3) < 0 || dup2(reportFd, 4) < 0) _exit(1);
        if (close_range(5, ~0U, 0) != 0)
            for (int fd = 5; fd < 65536; ++fd) close(fd);
        commandFd = 3;
        reportFd = 4;

        const int listener = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
        sockaddr_storage at{};
        socklen_t atLength;
        if (ipv6) {
            int only = 1;  // a pure IPv6 listener, no IPv4-mapped peers
            setsockopt(listener, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only);
            auto* at6 = reinterpret_cast<sockaddr_in6*>(&at);
            at6->sin6_family = AF_INET6;
            at6->sin6_addr = in6addr_loopback;
            atLength = sizeof(sockaddr_in6);
        } else {
            auto* at4 = reinterpret_cast<sockaddr_in*>(&at);
            at4->sin_family = AF_INET;
            at4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            atLength = sizeof(sockaddr_in);
        }
        socklen_t len = atLength;
        if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&at), atLength) != 0 ||
            listen(listener, 1024) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&at), &len) != 0)
            _exit(1);
        std::deque<HeldPair> held;
        auto openPairs = [&](uint32_t n) {
            for (uint32_t i = 0; i < n; ++i) {
                HeldPair pair;
                if (!OpenPair(listener, at, atLength, pair)) _exit(2);
                if (halfClose && shutdown(pair.client, SHUT_WR) != 0) _exit(2);
                held.push_back(pair);
            }
        };
        auto report = [&] {
            const uint16_t port = ntohs(reinterpret_cast<const sockaddr_in*>(&at)->sin_port);
            const uint32_t count = static_cast<uint32_t>(held.size());
            std::vector<uint16_t> ports;
            ports.reserve(held.size());
            for (const HeldPair& p : held) ports.push_back(p.clientPort);
            if (!WriteAll(reportFd, &port, sizeof port) || !WriteAll(reportFd, &count, sizeof count) ||
                !WriteAll(reportFd, ports.data(), ports.size() * sizeof(uint16_t)))
                _exit(3);
        };
        openPairs(static_cast<uint32_t>(pairs));
        report();
        for (;;) {
            char command[5];
            if (!ReadAll(commandFd, command, sizeof command)) {
                for (const HeldPair& pair : held) ClosePair(pair);
                _exit(0);
            }
            uint32_t n = 0;
            std::memcpy(&n, command + 1, sizeof n);
            for (uint32_t i = 0; i < n && !held.empty(); ++i) {
                ClosePair(held.front());
                held.pop_front();
            }
            openPairs(n);
            report();
        }
    }

    std::vector<Child> children_;
    std::string error_;
};

}  // namespace varnel::testing
