#include "platform/AtomicFileWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/FolderLock.h"

namespace varnel {

namespace {

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

std::string AtomicFileWriter::Target(const std::string& path) {
    struct stat lst;
    if (::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            std::string target(real);
            std::free(real);
            return target;
        }
        // A link to a file not made yet (the package's link from node_exporter's folder to the
        // service's runtime folder, before the first write) is written through as well, one level.
        const int why = errno;
        char link[4096];
        const ssize_t n = ::readlink(path.c_str(), link, sizeof link - 1);
        if (n > 0 && why == ENOENT) {
            std::string to(link, static_cast<size_t>(n));
            if (to[0] != '/') to = FolderOf(path) + to;
            const std::string folder = FolderOf(to);
            if (char* real = ::realpath(folder.c_str(), nullptr)) {
                std::string target = std::string(real) + "/" + to.substr(folder.size());
                std::free(real);
                return target;
            }
        }
    }
    return path;
}

std::string AtomicFileWriter::FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string AtomicFileWriter::Refuses(const std::string& target, const struct stat& st) {
    if ((st.st_mode & 0222) == 0) return "the file is read-only";
    if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) == 0) return {};
    return errno == EACCES ? "the file is read-only" : std::strerror(errno);
}

std::string AtomicFileWriter::Replace(const std::string& target, std::string_view text, const struct stat* old,
                                      mode_t newFileMode) {
    static std::atomic<unsigned> counter{0};
    const std::string dir = FolderOf(target);
    const size_t slash = target.rfind('/');
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    const mode_t mode = old != nullptr ? (old->st_mode & 07777) : 0666;
    std::string temp;
    int fd = -1;
    // A name can be taken by a temporary file that a killed process left behind with the same pid,
    // so a taken name is skipped rather than failing the write.
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        char suffix[64];
        std::snprintf(suffix, sizeof suffix, ".tmp.%ld.%u", static_cast<long>(::getpid()), counter.fetch_add(1));
        temp = (slash == std::string::npos ? std::string() : dir) + "." + name + suffix;
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST)
            return std::string("its folder takes no new file (") + std::strerror(errno) + ")";
    }
    if (fd < 0) return "its folder is full of stale temporary files";
    std::string reason;
    if (old != nullptr) {
        // A file of another owner keeps that owner, or it is not replaced: handing one user's file
        // to another is no save. The group is kept where allowed. chmod comes after chown because
        // chown may clear mode bits.
        if (::fchown(fd, old->st_uid, old->st_gid) != 0 && ::fchown(fd, old->st_uid, static_cast<gid_t>(-1)) != 0 &&
            old->st_uid != ::geteuid())
            reason = "it belongs to another user";
        else if (::fchmod(fd, mode) != 0)
            reason = std::strerror(errno);
    } else if (newFileMode != 0 && ::fchmod(fd, newFileMode) != 0) {
        reason = std::strerror(errno);
    }
    if (reason.empty() && !(WriteAll(fd, text) && ::fsync(fd) == 0)) reason = std::strerror(errno);
    if (::close(fd) != 0 && reason.empty()) reason = std::strerror(errno);
    if (reason.empty() && ::rename(temp.c_str(), target.c_str()) != 0) reason = std::strerror(errno);
    if (!reason.empty()) {
        ::unlink(temp.c_str());
        return reason;
    }
    // Make the rename itself durable. The new file is in place either way, so a folder that cannot
    // be synced does not fail the write.
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return {};
}

std::string AtomicFileWriter::Write(const std::string& path, std::string_view text, mode_t newFileMode) {
    const std::string target = Target(path);
    FolderLock lock(target);
    struct stat st;
    if (::stat(target.c_str(), &st) != 0) {
        if (errno != ENOENT) return std::strerror(errno);
        return Replace(target, text, nullptr, newFileMode);
    }
    // A folder is left to the rename, which refuses to put a file in its place.
    if (S_ISDIR(st.st_mode)) return Replace(target, text, nullptr, newFileMode);
    if (!S_ISREG(st.st_mode)) return "the name is no regular file";
    std::string refused = Refuses(target, st);
    if (!refused.empty()) return refused;
    return Replace(target, text, &st);
}

std::string AtomicFileWriter::Remove(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? std::string() : std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return "the name is a folder";
    // A link is removed as itself; the read-only test is of what it names.
    if (!S_ISLNK(st.st_mode)) {
        std::string refused = Refuses(path, st);
        if (!refused.empty()) return refused;
    } else if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        std::string refused = Refuses(path, st);
        if (!refused.empty()) return refused;
    }
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return std::strerror(errno);
    return {};
}

}  // namespace varnel
