#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace varnel {

// The hand-over of a restart: a program that restarts itself (after the machine resumed) saves
// everything, then starts the new copy with "/w <its own PID>" (and its own options) and ends; the
// new copy waits for the old one to be gone before it takes the settings and the single-instance
// lock. CommandLine decides whether a command line asks for it.
//
// The second argument is read like atoi (a non-number is 0). A PID that names no process (or is 0
// or negative) means the old copy is already gone. An old copy still running after `limit` is
// waited for all the same: it has nothing left to do but end, and giving up would leave the user
// with no copy at all. `late` is told once when the limit has passed.
//
// Stateless; any thread.
class RestartHandOver {
  public:
    enum class Outcome {
        kNotAsked,  // no hand-over on this command line
        kCarryOn,   // the old copy is gone (or never was): start normally
    };
    static constexpr std::chrono::milliseconds kLimit{10'000};

    // `args`: the hand-over arguments (CommandLine::positional), empty when there is none.
    static Outcome Run(const std::vector<std::string>& args, std::chrono::milliseconds limit = kLimit,
                       const std::function<void(pid_t)>& late = {});

    // True when `args` ask for the hand-over ("/w" or anything beginning with it, and a PID);
    // `pid` is the process to wait for.
    static bool Asked(const std::vector<std::string>& args, pid_t& pid);
    // Waits until `pid` has ended; true when it has (or never existed), false after `limit`.
    // Uses a pidfd where the kernel has one, else polls.
    static bool WaitForEnd(pid_t pid, std::chrono::milliseconds limit);
};

}  // namespace varnel
