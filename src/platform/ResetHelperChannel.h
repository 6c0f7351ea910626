#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace varnel {

// A reset helper this program started, seen through its pipes: requests and answers are the
// lines of ResetRequestLine. The helper may still be behind its password prompt (kStarting),
// be reading requests (kReady, once its READY line came), or be gone (kEnded, for good).
//
// Destroying the channel closes the helper's input, which ends it.
// Threads: one thread at a time.
class ResetHelperChannel {
  public:
    enum class State { kStarting, kReady, kEnded };

    ResetHelperChannel() = default;
    ResetHelperChannel(const ResetHelperChannel&) = delete;
    ResetHelperChannel& operator=(const ResetHelperChannel&) = delete;
    virtual ~ResetHelperChannel() = default;

    // Looks without waiting whether the READY line came or the helper ended.
    virtual State Poll() = 0;
    // Why the helper ended, one line for a person; meaningful once Poll said kEnded.
    virtual std::string EndReason() const = 0;
    // Sends one request line (without newline) to a ready helper and waits at most `timeoutMs`
    // for its answer line. nullopt when the helper ended or did not answer in time; the channel
    // is kEnded from then on.
    virtual std::optional<std::string> Exchange(std::string_view request, int timeoutMs) = 0;
};

}  // namespace varnel
