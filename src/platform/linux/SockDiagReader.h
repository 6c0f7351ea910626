#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/TcpRow.h"
#include "platform/linux/InetDiagCodec.h"
#include "platform/linux/SocketIdentity.h"

namespace varnel {

// Reads the kernel's TCP socket table through NETLINK_SOCK_DIAG: the AF_INET sockets and the
// AF_INET6 ones, those that carry IPv4 connections (IPv4-mapped on both sides) as IPv4 rows and the
// others as IPv6 rows. A reader built for IPv4 rows only attaches a filter so that the kernel sends
// no IPv6 connection at all (and drops them itself where the kernel refuses the filter). Rows come
// in the kernel's order, with owningPid 0; `ids` gets each row's inode and uid.
//
// Each dump request makes the kernel walk its whole socket hash, however few sockets there are.
// The reader therefore asks with one request of the older form for both families (one walk), and
// only where the kernel refuses that request (EINVAL, ENOENT or EOPNOTSUPP) with one request per
// family (AF_INET, then AF_INET6: two walks). Which one is decided once, by the constructor,
// with a request that walks nothing; if that exchange fails for another reason (no netlink
// socket, no answer), the first dump decides instead.
//
// The netlink socket and the receive buffer are kept between dumps and the output vectors are
// reused, so a dump allocates nothing once the vectors have reached the table's size.
// Threads: one caller at a time. Failure: Dump returns false and leaves both vectors empty; a
// socket that failed part way is closed and opened again by the next dump.
class SockDiagReader {
  public:
    enum class Walk {
        kUndecided,  // not yet known (only until a dump)
        kSingle,     // one request for both families
        kPerFamily,  // one request per family
    };

    // `preferred` kSingle: use the single walk where the kernel takes it. kPerFamily: never try
    // it (to compare the two, or to run as an older kernel would).
    // `ipv6Rows` false: IPv4 rows only.
    explicit SockDiagReader(Walk preferred = Walk::kSingle, bool ipv6Rows = true);
    ~SockDiagReader();
    SockDiagReader(const SockDiagReader&) = delete;
    SockDiagReader& operator=(const SockDiagReader&) = delete;

    bool Dump(std::vector<TcpRow>& rows, std::vector<SocketIdentity>& ids);

    Walk walk() const { return walk_; }
    // True when the IPv4-mapped filter is attached to the requests: only for a reader of IPv4
    // rows, on a kernel that takes the filter.
    bool kernelFilter() const { return kernelFilter_; }

    // The last failure's errno (0 after a successful dump).
    int lastError() const { return lastError_; }

    static constexpr size_t kReceiveBufferSize = 64 * 1024;

    // What the answer to the constructor's single-walk request (`error` 0, or the positive errno
    // of its failure) decides, the request having carried the filter or not.
    enum class Probe {
        kSingleWalk,          // taken: use the single walk
        kAgainWithoutFilter,  // ask again without the filter to tell which of the two was refused
        kPerFamily,           // the single walk is refused: use the per-family requests
        kFailed,              // no answer either way (the socket failed): decide at the next dump
    };
    static Probe AfterProbe(int error, bool withFilter);

  private:
    enum class Request { kBothFamilies, kInet, kInet6 };

    bool Open();
    void Close();
    bool Decide();
    bool DumpWith(Request kind, std::vector<TcpRow>& rows, std::vector<SocketIdentity>& ids);
    int Exchange(const InetDiagCodec::Request& request, size_t length, uint32_t seq,
                 std::vector<TcpRow>& rows, std::vector<SocketIdentity>& ids);

    int fd_ = -1;
    uint32_t seq_ = 0;
    Walk walk_ = Walk::kUndecided;
    bool ipv6Rows_ = true;
    bool kernelFilter_ = false;  // IPv4 rows only, until the kernel refuses the IPv4-mapped filter
    int lastError_ = 0;
    std::vector<uint8_t> buffer_;
};

}  // namespace varnel
