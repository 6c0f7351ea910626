#pragma once

#include <memory>
#include <string>

#include "platform/ResetHelperChannel.h"

namespace varnel {

// Starts the reset helper with the right to reset, behind whatever prompt that takes.
// Threads: one thread at a time.
class ResetHelperLauncher {
  public:
    ResetHelperLauncher() = default;
    ResetHelperLauncher(const ResetHelperLauncher&) = delete;
    ResetHelperLauncher& operator=(const ResetHelperLauncher&) = delete;
    virtual ~ResetHelperLauncher() = default;

    // Starts the helper without waiting for the prompt. nullptr when it could not even be
    // started, with the reason (one line for a person) in `why`.
    virtual std::unique_ptr<ResetHelperChannel> Launch(std::string& why) = 0;
};

}  // namespace varnel
