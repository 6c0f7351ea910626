// varnel-reset-helper: the one privileged piece the desktop program starts (through a privilege
// prompt) to cut connections. It reads `RESET <local-ip> <local-port> <remote-ip> <remote-port>`
// lines on stdin and answers each on stdout (OK, GONE, REFUSED <reason>, ERROR <errno-name>),
// after a first line READY once its privileges are dropped; see platform/ResetRequestStream.h. It exits 0 when stdin closes, 1 when it cannot drop its
// privileges or its pipes fail.
//
// It does not refuse a terminal on stdin, so that it can be tried and tested by hand; the
// requests are held to the same strict grammar whoever writes them.
#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/ResetRequestLine.h"
#include "platform/ResetRequestStream.h"
#include "platform/linux/NetlinkSocketDestroy.h"

using namespace varnel;

namespace {

// Keeps CAP_NET_ADMIN (if held) and nothing else, for this process and anything it could exec.
// The bounding set can only be trimmed with CAP_SETPCAP, so that step is best effort; the
// permitted set and no-new-privileges are what must hold, and failing them is fatal.
bool DropPrivileges() {
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
    for (int cap = 0; cap <= 63; ++cap) {
        if (cap == CAP_NET_ADMIN) continue;
        if (prctl(PR_CAPBSET_READ, cap, 0, 0, 0) < 0) break;  // past the kernel's last capability
        prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
    }
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);

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
