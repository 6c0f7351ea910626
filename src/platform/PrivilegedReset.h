#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Clock.h"
#include "platform/ConnectionReset.h"
#include "platform/ResetHelperLauncher.h"

namespace varnel {

// The window's reset: directly while this process holds the right to reset, otherwise through
// the reset helper, started (behind the administrator's password prompt) by the first reset that
// needs it.
//
// Nothing here waits for the prompt. While the helper is starting a reset is kPending, so the
// kill pass tries again at a later tick; once it is ready each reset is one request line and its
// answer. A helper that cannot be started (no launcher program, the prompt cancelled or refused)
// or that ends makes resets kRefused with the reason. A reset asks again at most once per
// kRetryMs; StartHelper(true), for a reset the user asked for by hand, asks at once.
//
// Ownership: borrows `direct`, `launcher` and `clock`, which must outlive this object; owns the
// helper's channel, so destroying this object ends the helper.
// Threads: one thread at a time (the window's).
class PrivilegedReset : public ConnectionReset {
  public:
    static constexpr uint32_t kRetryMs = 60'000;
    // How long a ready helper may take to answer one request before it counts as gone.
    static constexpr int kAnswerTimeoutMs = 2'000;

    enum class HelperState {
        kNotNeeded,  // resets go directly
        kIdle,       // needed, never started
        kStarting,   // started, waiting for its password prompt
        kReady,      // taking requests
        kFailed,     // could not be started, or ended; failure() says why
    };

    // `holdsRight`: whether this process can reset by itself (CAP_NET_ADMIN). Even so, a direct
    // reset refused for want of it switches to the helper.
    PrivilegedReset(ConnectionReset& direct, bool holdsRight, ResetHelperLauncher& launcher, Clock& clock);
    ~PrivilegedReset() override;

    ResetResult SetTcpEntry(const TcpRow& row) override;

    // The helper's state, after looking whether it became ready or ended.
    HelperState Poll();
    // Whether a reset now would need the helper started first (it is needed and not running).
    bool NeedsHelper() { return Poll() == HelperState::kIdle || state_ == HelperState::kFailed; }
    // Starts the helper unless it is starting or ready. Without `byHand`, not within kRetryMs of
    // the last start.
    void StartHelper(bool byHand);
    // Gives up on a starting or ready helper (the user cancelled the wait): closes its pipe and
    // fails with `reason`.
    void StopHelper(const std::string& reason);
    // Why the helper last failed; empty before any failure.
    const std::string& failure() const { return failure_; }

  private:
    void Fail(std::string reason);
    ResetResult Refusal() const;

    ConnectionReset& direct_;
    ResetHelperLauncher& launcher_;
    Clock& clock_;
    bool directMode_;
    HelperState state_;
    std::unique_ptr<ResetHelperChannel> channel_;
    bool startedOnce_ = false;
    uint32_t lastStartMs_ = 0;
    std::string failure_;
};

}  // namespace varnel
