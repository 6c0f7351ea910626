#include "platform/linux/JournalSender.h"

#include <sys/stat.h>
#include <sys/uio.h>
#include <systemd/sd-journal.h>

#include <cinttypes>
#include <cstdio>

namespace varnel {

JournalSender::Streams JournalSender::Connected(const char* journalStream, int outFd, int errFd) {
    Streams s;
    if (journalStream == nullptr) return s;
    uintmax_t dev = 0, ino = 0;
    char end = 0;
    if (std::sscanf(journalStream, "%" SCNuMAX ":%" SCNuMAX "%c", &dev, &ino, &end) != 2) return s;
    auto is = [&](int fd) {
        struct stat st;
        return ::fstat(fd, &st) == 0 && static_cast<uintmax_t>(st.st_dev) == dev &&
               static_cast<uintmax_t>(st.st_ino) == ino;
    };
    s.out = is(outFd);
    s.err = is(errFd);
    return s;
}

bool JournalSender::Send(const std::vector<std::string>& fields) {
    std::vector<iovec> iov(fields.size());
    for (size_t i = 0; i < fields.size(); ++i)
        iov[i] = iovec{const_cast<char*>(fields[i].data()), fields[i].size()};
    return sd_journal_sendv(iov.data(), static_cast<int>(iov.size())) >= 0;
}

}  // namespace varnel
