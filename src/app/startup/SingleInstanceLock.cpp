#include "app/startup/SingleInstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
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
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return State::kHeld;
    if (errno == EWOULDBLOCK) return State::kHeldElsewhere;
    error_ = path_ + ": " + std::strerror(errno);
    return State::kUnavailable;
}

}  // namespace varnel
