#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace varnel {

// The hand-over of a restart: a program that restarts itself (after the machine resumed) starts
// the new copy with "/w <its own PID>" and then ends; the new copy waits for the old one to be gone
// before it takes the settings and the single-instance lock.
//
// It applies only when the command line has exactly two arguments and the first begins with "/w"
// ("/wait" counts too); the second is read like atoi (a non-number is 0). A PID that names no
// process (or is 0 or negative) means the old copy is already gone. The wait is bounded: when the
// old copy is still running after `limit`, the new one ends without a word.
//
// Stateless; any thread.
class RestartHandOver {
  public:
    enum class Outcome {
        kNotAsked,     // no hand-over on this command line
        kCarryOn,      // the old copy is gone (or never was): start normally
        kEndSilently,  // the old copy outlived the wait
    };
    static constexpr std::chrono::milliseconds kLimit{10'000};

    // `args`: the command line without the program name.
    static Outcome Run(const std::vector<std::string>& args, std::chrono::milliseconds limit = kLimit);

    // True when `args` ask for the hand-over; `pid` is the process to wait for.
    static bool Asked(const std::vector<std::string>& args, pid_t& pid);
    // Waits until `pid` has ended; true when it has (or never existed), false after `limit`.
    // Uses a pidfd where the kernel has one, else polls.
    static bool WaitForEnd(pid_t pid, std::chrono::milliseconds limit);
};

}  // namespace varnel
