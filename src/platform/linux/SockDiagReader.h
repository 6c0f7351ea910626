#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/TcpRow.h"
#include "platform/linux/SocketIdentity.h"

namespace varnel {

// Reads the kernel's TCP socket table through NETLINK_SOCK_DIAG: a dump of the AF_INET sockets
// followed by one of the AF_INET6 sockets that carry IPv4 connections (IPv4-mapped on both
// sides). Rows come in the kernel's order, with owningPid 0; `ids` gets each row's inode and uid.
//
// The netlink socket and the receive buffer are kept between dumps and the output vectors are
// reused, so a dump allocates nothing once the vectors have reached the table's size.
// Threads: one caller at a time. Failure: Dump returns false and leaves both vectors empty; a
// socket that failed part way is closed and opened again by the next dump.
class SockDiagReader {
  public:
    SockDiagReader();
    ~SockDiagReader();
    SockDiagReader(const SockDiagReader&) = delete;
    SockDiagReader& operator=(const SockDiagReader&) = delete;

    bool Dump(std::vector<TcpRow>& rows, std::vector<SocketIdentity>& ids);

    // The last failure's errno (0 after a successful dump).
    int lastError() const { return lastError_; }

    static constexpr size_t kReceiveBufferSize = 64 * 1024;

  private:
    bool Open();
    void Close();
    bool DumpFamily(uint8_t family, std::vector<TcpRow>& rows, std::vector<SocketIdentity>& ids);

    int fd_ = -1;
    uint32_t seq_ = 0;
    bool kernelFilter_ = true;  // cleared if the kernel refuses the IPv4-mapped filter
    int lastError_ = 0;
    std::vector<uint8_t> buffer_;
};

}  // namespace varnel
