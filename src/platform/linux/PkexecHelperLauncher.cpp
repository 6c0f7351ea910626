#include "platform/linux/PkexecHelperLauncher.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cerrno>
#include <cstring>

#include "platform/linux/PipeHelperChannel.h"

extern char** environ;

namespace varnel {

namespace {

// The helper's folder as seen from the program's: set by the build from the install layout.
#ifndef VARNEL_HELPER_FROM_BINDIR
#define VARNEL_HELPER_FROM_BINDIR "../libexec/varnel"
#endif
constexpr const char* kHelperName = "varnel-reset-helper";

bool IsExecutableFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// A pipe whose two ends are close-on-exec and above the standard descriptors, so that the
// child's dup2 onto 0 and 1 always makes a fresh, inheritable copy.
bool HighPipe(int ends[2]) {
    int raw[2];
    if (pipe2(raw, O_CLOEXEC) != 0) return false;
    for (int i = 0; i < 2; ++i) {
        ends[i] = raw[i] > 2 ? raw[i] : fcntl(raw[i], F_DUPFD_CLOEXEC, 3);
        if (ends[i] != raw[i]) close(raw[i]);
    }
    if (ends[0] >= 0 && ends[1] >= 0) return true;
    for (int i = 0; i < 2; ++i)
        if (ends[i] >= 0) close(ends[i]);
    return false;
}

}  // namespace

PkexecHelperLauncher::PkexecHelperLauncher(std::string helperPath, std::string launcher)
    : helperPath_(std::move(helperPath)), launcher_(std::move(launcher)) {}

std::unique_ptr<ResetHelperChannel> PkexecHelperLauncher::Launch(std::string& why) {
    if (helperPath_.empty() || !IsExecutableFile(helperPath_)) {
        why = "the reset helper is not installed" +
              (helperPath_.empty() ? std::string() : " (" + helperPath_ + ")");
        return nullptr;
    }
    int toHelper[2], fromHelper[2];
    if (!HighPipe(toHelper)) {
        why = std::string("cannot start the reset helper: ") + std::strerror(errno);
        return nullptr;
    }
    if (!HighPipe(fromHelper)) {
        why = std::string("cannot start the reset helper: ") + std::strerror(errno);
        close(toHelper[0]);
        close(toHelper[1]);
        return nullptr;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toHelper[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromHelper[1], STDOUT_FILENO);
    // Whatever this thread blocks or ignores, the launcher starts with the usual signals: SIGTERM
    // must reach a launcher still showing its prompt when the wait is given up.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, usual;
    sigemptyset(&none);
    sigemptyset(&usual);
    for (int sig : {SIGPIPE, SIGTERM, SIGINT, SIGHUP}) sigaddset(&usual, sig);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &usual);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    char* argv[] = {launcher_.data(), helperPath_.data(), nullptr};
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, launcher_.c_str(), &actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(toHelper[0]);
    close(fromHelper[1]);
    if (error != 0) {
        close(toHelper[1]);
        close(fromHelper[0]);
        why = error == ENOENT ? launcher_ + " is not installed (it asks for the administrator's password)"
                              : "cannot run " + launcher_ + ": " + std::strerror(error);
        return nullptr;
    }
    return std::make_unique<PipeHelperChannel>(pid, toHelper[1], fromHelper[0], launcher_);
}

std::string PkexecHelperLauncher::FindHelper(const std::string& executablePath) {
    const size_t slash = executablePath.rfind('/');
    if (slash == std::string::npos) return {};
    const std::string dir = executablePath.substr(0, slash);
    for (const std::string& candidate :
         {dir + "/" + VARNEL_HELPER_FROM_BINDIR + "/" + kHelperName, dir + "/" + kHelperName}) {
        if (IsExecutableFile(candidate)) {
            char resolved[PATH_MAX];
            // pkexec and the polkit action want the plain absolute path.
            if (realpath(candidate.c_str(), resolved) != nullptr) return resolved;
        }
    }
    return {};
}

}  // namespace varnel
