#include "platform/linux/ProcNetTcpReader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "platform/linux/ProcNetTcpParser.h"

namespace varnel {

ProcNetTcpReader::ProcNetTcpReader(std::string procRoot)
    : tcpPath_(procRoot + "/net/tcp"), tcp6Path_(procRoot + "/net/tcp6"), text_(64 * 1024) {}

bool ProcNetTcpReader::Readable() const {
    const int fd = open(tcpPath_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    close(fd);
    return true;
}

bool ProcNetTcpReader::Slurp(const std::string& path, size_t& size) {
    size = 0;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    for (;;) {
        if (size == text_.size()) text_.resize(text_.size() * 2);
        const ssize_t got = read(fd, text_.data() + size, text_.size() - size);
        if (got < 0) {
            if (errno == EINTR) continue;
            close(fd);
            return false;
        }
        if (got == 0) break;
        size += static_cast<size_t>(got);
    }
    close(fd);
    return true;
}

bool ProcNetTcpReader::Read(std::vector<TcpRow>& rows, std::vector<SocketIdentity>& ids) {
    rows.clear();
    ids.clear();
    size_t size = 0;
    if (!Slurp(tcpPath_, size)) return false;
    ProcNetTcpParser::Parse(std::string_view(text_.data(), size), false, rows, ids);
    if (Slurp(tcp6Path_, size))
        ProcNetTcpParser::Parse(std::string_view(text_.data(), size), true, rows, ids);
    return true;
}

}  // namespace varnel
