#include "app/startup/StandardDescriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace varnel {

bool StandardDescriptors::Secure(Closed& closed) {
    bool* const flags[3] = {&closed.input, &closed.output, &closed.error};
    for (int fd = 0; fd <= 2; ++fd) {
        *flags[fd] = ::fcntl(fd, F_GETFD) < 0 && errno == EBADF;
        if (!*flags[fd]) continue;
        // Not close-on-exec: like the descriptor it stands for, it is what a child inherits.
        const int null = ::open("/dev/null", O_RDWR | O_NOCTTY);
        if (null < 0) return false;
        // The lowest free number is `fd` itself, as the ones below it are open by now; dup2 only
        // in case something else is going on.
        if (null != fd) {
            const int placed = ::dup2(null, fd);
            ::close(null);
            if (placed != fd) return false;
        }
    }
    return true;
}

}  // namespace varnel
