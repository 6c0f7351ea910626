#pragma once

#include <string>

namespace varnel {

// The single-instance lock: a file named after the executable's base name in the user's runtime
// folder ($XDG_RUNTIME_DIR, else the temporary folder with the user id in the name), locked for as
// long as this object lives. Every running copy holds it, the first as well as one the user let
// start beside it, so any further start finds it held while any copy runs. The kernel drops the
// lock when the process ends, however it ends, so a crashed copy never blocks the next start.
//
// The file is opened without following links and must be a regular file owned by this user: in a
// shared temporary folder another user could plant anything under the name. When it cannot be
// used, nobody can be said to hold it (kUnavailable) and the caller starts normally.
//
// Not copyable; any thread, one at a time.
class SingleInstanceLock {
  public:
    enum class State {
        kHeld,           // this process holds the lock, and no other copy does
        kHeldElsewhere,  // another copy holds it; this one now holds it too
        kUnavailable,    // the lock file could not be used; see error()
    };

    explicit SingleInstanceLock(std::string path) : path_(std::move(path)) {}
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // "<runtime folder>/<baseName>.lock", or "<tmp>/<baseName>-<uid>.lock" without a runtime folder.
    static std::string PathFor(const std::string& baseName);

    State Acquire();
    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    std::string error_;
    int fd_ = -1;
};

}  // namespace varnel
