#include "platform/linux/ProcProcessList.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/linux/ProcNames.h"

namespace varnel {

namespace {

// The executable's file name from the exe link; empty when the link cannot be read.
std::string_view ExeName(int procFd, int32_t pid, char* buffer, size_t size) {
    char path[64];
    std::snprintf(path, sizeof path, "%d/exe", static_cast<int>(pid));
    const ssize_t length = readlinkat(procFd, path, buffer, size);
    if (length <= 0 || static_cast<size_t>(length) >= size) return {};
    std::string_view link(buffer, static_cast<size_t>(length));
    static constexpr std::string_view kDeleted = " (deleted)";
    if (link.size() > kDeleted.size() && link.substr(link.size() - kDeleted.size()) == kDeleted)
        link.remove_suffix(kDeleted.size());
    const size_t slash = link.rfind('/');
    if (slash != std::string_view::npos) link.remove_prefix(slash + 1);
    return link;
}

// The command name from <pid>/comm; false when the process is gone.
bool CommName(int procFd, int32_t pid, char* buffer, size_t size, std::string_view& name) {
    char path[64];
    std::snprintf(path, sizeof path, "%d/comm", static_cast<int>(pid));
    const int fd = openat(procFd, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ssize_t length;
    do {
        length = read(fd, buffer, size);
    } while (length < 0 && errno == EINTR);
    close(fd);
    if (length < 0) return false;
    name = std::string_view(buffer, static_cast<size_t>(length));
    if (!name.empty() && name.back() == '\n') name.remove_suffix(1);
    return true;
}

}  // namespace

ProcProcessList::ProcProcessList(std::string procRoot) : procRoot_(std::move(procRoot)) {}

bool ProcProcessList::Enumerate(const std::function<void(int32_t pid, std::string_view exeName)>& visit) {
    const int procFd = open(procRoot_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (procFd < 0) return false;
    DIR* dir = fdopendir(dup(procFd));
    if (dir == nullptr) {
        close(procFd);
        return false;
    }
    char buffer[4096];
    while (const dirent* entry = readdir(dir)) {
        const int32_t pid = PidFromProcName(entry->d_name);
        if (pid < 0) continue;
        std::string_view name = ExeName(procFd, pid, buffer, sizeof buffer);
        if (name.empty() && !CommName(procFd, pid, buffer, sizeof buffer, name)) continue;
        visit(pid, name);
    }
    closedir(dir);
    close(procFd);
    return true;
}

}  // namespace varnel
