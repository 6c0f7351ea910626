#include "app/startup/RestartHandOver.h"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <thread>

namespace varnel {

namespace {

// atoi's reading (leading blanks, a sign, digits up to the first other character), without its
// undefined overflow: out-of-range numbers name no process.
pid_t ReadPid(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX) return 0;
    }
    return static_cast<pid_t>(negative ? -value : value);
}

}  // namespace

bool RestartHandOver::Asked(const std::vector<std::string>& args, pid_t& pid) {
    if (args.size() != 2 || args[0].compare(0, 2, "/w") != 0) return false;
    pid = ReadPid(args[1]);
    return true;
}

bool RestartHandOver::WaitForEnd(pid_t pid, std::chrono::milliseconds limit) {
    // 0 and negative numbers name process groups to kill(): never wait for those.
    if (pid <= 0) return true;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + limit;
#ifdef SYS_pidfd_open
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0 && errno == ESRCH) return true;
    if (fd >= 0) {
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd p{fd, POLLIN, 0};
            const int n = ::poll(&p, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
            if (n < 0 && errno == EINTR) continue;
            ::close(fd);
            return n > 0;  // readable: the process has ended; 0: the limit passed
        }
    }
#endif
    // No pidfd here: ask the kernel now and then. EPERM means the process exists (another user's).
    for (;;) {
        if (::kill(pid, 0) != 0 && errno == ESRCH) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

RestartHandOver::Outcome RestartHandOver::Run(const std::vector<std::string>& args,
                                              std::chrono::milliseconds limit,
                                              const std::function<void(pid_t)>& late) {
    pid_t pid = 0;
    if (!Asked(args, pid)) return Outcome::kNotAsked;
    if (WaitForEnd(pid, limit)) return Outcome::kCarryOn;
    if (late) late(pid);
    while (!WaitForEnd(pid, std::chrono::hours(1))) {
    }
    return Outcome::kCarryOn;
}

}  // namespace varnel
