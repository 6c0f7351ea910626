#include "autokill/RuleFileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iterator>

#include "autokill/RuleFile.h"

namespace varnel {

namespace {

void SetError(std::string* error, const std::string& what, const std::string& path, int err) {
    if (error) *error = what + " " + path + ": " + std::strerror(err);
}

bool WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

bool RuleFileWriter::Load(const std::string& path, std::string& text) {
    text.clear();
    RuleFile file(path);
    if (file.status() == RuleFile::Status::kMissing) return true;
    if (file.status() != RuleFile::Status::kOpen) return false;
    std::string bytes{std::istreambuf_iterator<char>(file.stream()), std::istreambuf_iterator<char>()};
    if (!file.error().empty()) return false;
    text = std::move(bytes);
    return true;
}

bool RuleFileWriter::Save(const std::string& path, std::string_view text, std::string* error) {
    if (text.empty()) {
        if (::unlink(path.c_str()) == 0 || errno == ENOENT) return true;
        SetError(error, "cannot delete", path, errno);
        return false;
    }
    mode_t mode = 0644;
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0) mode = old.st_mode & 07777;

    // mkstemp names a file of our own beside the target, so the rename stays within one file
    // system and is atomic.
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        SetError(error, "cannot write", path, errno);
        return false;
    }
    bool ok = ::fchmod(fd, mode) == 0 || errno == EPERM;
    int err = 0;
    if (ok && !(ok = WriteAll(fd, text))) err = errno;
    if (ok && !(ok = ::fsync(fd) == 0)) err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        SetError(error, "cannot write", path, err ? err : EIO);
    }
    return ok;
}

}  // namespace varnel
