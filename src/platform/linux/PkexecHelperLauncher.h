#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/ResetHelperLauncher.h"

namespace varnel {

// Starts `helperPath` as root through pkexec (found on PATH), which asks for the administrator's
// password through the desktop's polkit agent; the polkit action shipped with the program names
// the helper and lets one answer do for the session. The helper's stderr is ours.
//
// Launch fails at once, with the reason, when the helper is not there or pkexec cannot be run;
// the rest (prompt dismissed, refused, helper ended) the channel tells.
// Threads: one thread at a time.
class PkexecHelperLauncher : public ResetHelperLauncher {
  public:
    explicit PkexecHelperLauncher(std::string helperPath, std::string launcher = "pkexec");

    std::unique_ptr<ResetHelperChannel> Launch(std::string& why) override;

    // Where the helper of the program at `executablePath` is: libexec/varnel/ beside the program's
    // bin/ when installed, else beside the program itself (a build tree). "" when neither is an
    // executable file.
    static std::string FindHelper(const std::string& executablePath);

  private:
    std::string helperPath_;
    std::string launcher_;
};

}  // namespace varnel
