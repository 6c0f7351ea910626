// varnel-reset-helper: the one privileged piece the desktop program starts (through a privilege
// prompt) to cut connections. It reads `RESET <local-ip> <local-port> <remote-ip> <remote-port>`
// lines on stdin and answers each on stdout (OK, GONE, REFUSED <reason>, ERROR <errno-name>),
// after a first line READY once its privileges are dropped; see platform/ResetRequestStream.h.
// It exits 0 when stdin closes, 1 when it cannot drop its privileges or its pipes fail.
//
// Started as root (pkexec), it becomes the unprivileged user `nobody` with no supplementary groups
// before it reads anything, keeping CAP_NET_ADMIN alone: a fault in it then reaches no file,
// process or key that root would.
//
// It does not refuse a terminal on stdin, so that it can be tried and tested by hand; the
// requests are held to the same strict grammar whoever writes them.
#include <grp.h>
#include <linux/capability.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>

#include "platform/ResetRequestLine.h"
#include "platform/ResetRequestStream.h"
#include "platform/linux/NetlinkSocketDestroy.h"

using namespace varnel;

namespace {

// The user nobody's ids; the usual 65534 where the system has no such entry (or names root).
void NobodyIds(uid_t& uid, gid_t& gid) {
    uid = 65534;
    gid = 65534;
    if (const passwd* nobody = getpwnam("nobody"); nobody != nullptr && nobody->pw_uid != 0) {
        uid = nobody->pw_uid;
        gid = nobody->pw_gid != 0 ? nobody->pw_gid : 65534;
    }
}

// True in the first user namespace, where uid 0 is the machine's root (its uid_map maps all ids).
bool InInitialUserNamespace() {
    std::ifstream map("/proc/self/uid_map");
    uid_t inside = 1, outside = 1;
    unsigned long count = 0;
    return map >> inside >> outside >> count && inside == 0 && outside == 0 && count == 4294967295UL;
}

// Any root id (real, effective, saved) becomes nobody, groups dropped first (that needs the ids
// still root's). PR_SET_KEEPCAPS keeps the permitted set across setresuid; the caller then sets
// the effective set again. In a user namespace that cannot switch (`unshare -U` maps only its own
// user and denies setgroups) the helper stays the namespace's uid 0, which is only that user
// outside it; in the machine's own user namespace a failed switch is fatal.
bool LeaveRoot() {
    uid_t ruid, euid, suid;
    if (getresuid(&ruid, &euid, &suid) != 0) return false;
    if (ruid != 0 && euid != 0 && suid != 0) return true;
    uid_t uid;
    gid_t gid;
    NobodyIds(uid, gid);
    const bool switched = setgroups(0, nullptr) == 0 && setresgid(gid, gid, gid) == 0 &&
                          prctl(PR_SET_KEEPCAPS, 1, 0, 0, 0) == 0 && setresuid(uid, uid, uid) == 0;
    prctl(PR_SET_KEEPCAPS, 0, 0, 0, 0);
    return switched || !InInitialUserNamespace();
}

// Keeps CAP_NET_ADMIN (if held) and nothing else, for this process and anything it could exec,
// as nobody when started as root. The bounding set can only be trimmed with CAP_SETPCAP, so that
// step is best effort; the user switch, the permitted set and no-new-privileges are what must
// hold, and failing them is fatal.
bool DropPrivileges() {
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
    for (int cap = 0; cap <= 63; ++cap) {
        if (cap == CAP_NET_ADMIN) continue;
        if (prctl(PR_CAPBSET_READ, cap, 0, 0, 0) < 0) break;  // past the kernel's last capability
        prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
    }
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    if (!LeaveRoot()) return false;

    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    const uint32_t keep = CAP_TO_MASK(CAP_NET_ADMIN);
    const bool held = (data[CAP_TO_INDEX(CAP_NET_ADMIN)].permitted & keep) != 0;
    __user_cap_data_struct wanted[_LINUX_CAPABILITY_U32S_3] = {};
    if (held) {
        wanted[CAP_TO_INDEX(CAP_NET_ADMIN)].permitted = keep;
        wanted[CAP_TO_INDEX(CAP_NET_ADMIN)].effective = keep;
    }
    return syscall(SYS_capset, &header, wanted) == 0;
}

bool WriteAll(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(STDOUT_FILENO, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

int main() {
    // A reader that went away must end the helper through EPIPE, not a signal mid-write.
    signal(SIGPIPE, SIG_IGN);
    if (!DropPrivileges()) {
        std::fprintf(stderr, "varnel-reset-helper: cannot drop privileges\n");
        return 1;
    }
    NetlinkSocketDestroy reset;
    ResetRequestStream stream(reset);
    if (!WriteAll(std::string(ResetRequestLine::kReady) + "\n")) return 1;
    char buffer[512];
    std::string answers;
    for (;;) {
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return 1;
        }
        answers.clear();
        if (n == 0) {
            stream.Finish(answers);
            return WriteAll(answers) ? 0 : 1;
        }
        stream.Feed(std::string_view(buffer, static_cast<size_t>(n)), answers);
        if (!WriteAll(answers)) return 1;
    }
}
