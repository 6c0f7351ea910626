#include "autokill/RuleFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/FileKind.h"

namespace varnel {

namespace {

constexpr size_t kBlockBytes = 64 * 1024;

}  // namespace

RuleFile::RuleFile(const std::string& path) : path_(path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        Refuse(path + " is " + FileKindText(st.st_mode) + ", not a regular file");
        return;
    }
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd_ < 0) {
        const int error = errno;
        if (error == ENOENT) {
            status_ = Status::kMissing;
            error_ = "no rule file at " + path;
        } else {
            Refuse("cannot read " + path + ": " + std::strerror(error));
        }
        return;
    }
    // The path may have been replaced since the stat: the open descriptor is what counts.
    if (::fstat(fd_, &st) != 0) {
        Refuse("cannot read " + path + ": " + std::strerror(errno));
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        Refuse(path + " is " + FileKindText(st.st_mode) + ", not a regular file");
        return;
    }
    status_ = Status::kOpen;
    buffer_.resize(kBlockBytes);
}

RuleFile::~RuleFile() {
    if (fd_ >= 0) ::close(fd_);
}

void RuleFile::Refuse(const std::string& why) {
    status_ = Status::kRefused;
    error_ = why;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

RuleFile::int_type RuleFile::underflow() {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    if (fd_ < 0) return traits_type::eof();
    for (;;) {
        ssize_t n = ::read(fd_, buffer_.data(), buffer_.size());
        if (n > 0) {
            setg(buffer_.data(), buffer_.data(), buffer_.data() + n);
            return traits_type::to_int_type(buffer_[0]);
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) error_ = "cannot read " + path_ + ": " + std::strerror(errno);
        ::close(fd_);
        fd_ = -1;
        return traits_type::eof();
    }
}

}  // namespace varnel
