#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

#include "platform/ResetHelperChannel.h"

namespace varnel {

// A reset helper running as child `pid` (through the privilege launcher, which becomes the
// helper when it execs), spoken to through `toHelper` (its stdin) and `fromHelper` (its stdout).
//
// The helper's end: its exit status, read without blocking, says why. Before READY, exit status
// 126 is the prompt dismissed and 127 the authorization refused or impossible (the launcher's
// own codes); anything else is the helper's. Our ends of the pipes are close-on-exec, so no other
// program this one starts keeps the helper's input open: when this process ends, however it
// ends, the helper reads end of input and exits.
//
// Takes ownership of both descriptors and of reaping `pid`. Threads: one thread at a time.
class PipeHelperChannel : public ResetHelperChannel {
  public:
    PipeHelperChannel(pid_t pid, int toHelper, int fromHelper, std::string launcherName);
    ~PipeHelperChannel() override;

    State Poll() override;
    std::string EndReason() const override { return endReason_; }
    std::optional<std::string> Exchange(std::string_view request, int timeoutMs) override;

  private:
    // Reads what has come without waiting; false on end of output or a read error.
    bool ReadAvailable();
    // Takes one whole line out of the buffer, if there is one.
    std::optional<std::string> TakeLine();
    // Looks (without waiting, or up to `waitMs`) for the child's exit; true once reaped.
    bool Reap(int waitMs);
    void End(std::string reason);
    std::string ExitText() const;

    pid_t pid_;
    int toHelper_;
    int fromHelper_;
    std::string launcherName_;
    State state_ = State::kStarting;
    std::string buffer_;
    bool reaped_ = false;
    int status_ = 0;
    std::string endReason_;
};

}  // namespace varnel
