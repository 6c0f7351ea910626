#include "app/startup/SingleInstanceLock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace varnel {

SingleInstanceLock::~SingleInstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

std::string SingleInstanceLock::PathFor(const std::string& baseName) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if (runtime != nullptr && runtime[0] == '/' && ::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode) &&
        st.st_uid == ::getuid())
        return std::string(runtime) + "/" + baseName + ".lock";
    std::error_code ec;
    std::string tmp = std::filesystem::temp_directory_path(ec).string();
    if (ec || tmp.empty()) tmp = "/tmp";
    return tmp + "/" + baseName + "-" + std::to_string(::getuid()) + ".lock";
}

SingleInstanceLock::State SingleInstanceLock::Acquire() {
    if (fd_ < 0) {
        fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
        if (fd_ < 0) {
            error_ = path_ + ": " + std::strerror(errno);
            return State::kUnavailable;
        }
        struct stat st {};
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
            error_ = path_ + ": not a regular file of this user";
            ::close(fd_);
            fd_ = -1;
            return State::kUnavailable;
        }
    }
    // Open-file-description locks on the first byte: they belong to this open of the file (not
    // to the process, as classic record locks do), go with the last close, and a change from
    // exclusive to shared is one atomic step, so no other start can slip in between.
    struct flock range {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    range.l_start = 0;
    range.l_len = 1;
    bool alone = true;
    if (::fcntl(fd_, F_OFD_SETLK, &range) != 0) {
        if (errno != EAGAIN && errno != EACCES) {
            error_ = path_ + ": " + std::strerror(errno);
            return State::kUnavailable;
        }
        alone = false;
    }
    // Every running copy holds the lock shared, so that a start after any of them has ended still
    // finds the others. Another start holds it exclusively only for the moment of its own test.
    range.l_type = F_RDLCK;
    while (::fcntl(fd_, F_OFD_SETLKW, &range) != 0) {
        if (errno == EINTR) continue;
        error_ = path_ + ": " + std::strerror(errno);
        return State::kUnavailable;
    }
    return alone ? State::kHeld : State::kHeldElsewhere;
}

}  // namespace varnel
