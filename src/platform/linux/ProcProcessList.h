#pragma once

#include <string>

#include "platform/ProcessList.h"

namespace varnel {

// The running processes as /proc shows them: every numeric entry of <procRoot>. A process's name
// is the file name of its executable (the link <pid>/exe without directories and without the
// " (deleted)" the kernel appends once the file is gone); when the link cannot be read (a kernel
// thread, or another user's process) it is the command name in <pid>/comm. Processes that end
// while the list is read are left out.
// Threads: one caller at a time. Failure: Enumerate returns false when <procRoot> cannot be read.
class ProcProcessList : public ProcessList {
  public:
    explicit ProcProcessList(std::string procRoot = "/proc");

    bool Enumerate(const std::function<void(int32_t pid, std::string_view exeName)>& visit) override;

  private:
    std::string procRoot_;
};

}  // namespace varnel
