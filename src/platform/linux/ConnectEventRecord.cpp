#include "platform/linux/ConnectEventRecord.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstring>

#include "platform/linux/KernelTcp.h"
#include "platform/linux/bpf/connect_event.h"

namespace varnel {

static_assert(sizeof(varnel_connect_event) == ConnectEventRecord::kSize);
static_assert(VARNEL_CONNECT_EVENT_SIZE == ConnectEventRecord::kSize);
static_assert(VARNEL_CONNECT_EVENT_VERSION == ConnectEventRecord::kVersion);
static_assert(offsetof(varnel_connect_event, pid) == 8 && offsetof(varnel_connect_event, family) == 12 &&
              offsetof(varnel_connect_event, oldstate) == 18 && offsetof(varnel_connect_event, saddr) == 20 &&
              offsetof(varnel_connect_event, daddr) == 36 && offsetof(varnel_connect_event, comm) == 52 &&
              offsetof(varnel_connect_event, version) == 68);

bool ConnectEventRecord::Decode(const void* data, size_t size, ConnectEvent& out) {
    if (data == nullptr || size != kSize) return false;
    varnel_connect_event e;
    std::memcpy(&e, data, sizeof e);
    if (e.version != kVersion) return false;
    const uint32_t state = KernelTcp::TableState(e.newstate);
    if (state == 0) return false;
    TcpRow row{};
    if (e.family == AF_INET) {
        static constexpr uint8_t kZero[12] = {};
        if (std::memcmp(e.saddr + 4, kZero, sizeof kZero) != 0 || std::memcmp(e.daddr + 4, kZero, sizeof kZero) != 0)
            return false;
        std::memcpy(&row.localAddr, e.saddr, 4);
        std::memcpy(&row.remoteAddr, e.daddr, 4);
    } else if (e.family == AF_INET6) {
        uint32_t local[4], remote[4];
        std::memcpy(local, e.saddr, sizeof local);
        std::memcpy(remote, e.daddr, sizeof remote);
        uint32_t local4 = 0, remote4 = 0;
        if (KernelTcp::UnmapV4(local, local4) && KernelTcp::UnmapV4(remote, remote4)) {
            row.localAddr = local4;
            row.remoteAddr = remote4;
        } else {
            row.v6 = true;
            std::memcpy(row.localAddr6.bytes, e.saddr, 16);
            std::memcpy(row.remoteAddr6.bytes, e.daddr, 16);
        }
    } else {
        return false;
    }
    row.state = state;
    row.localPort = htons(e.sport);
    row.remotePort = htons(e.dport);
    row.owningPid = e.pid;
    out.row = row;
    out.cookie = e.cookie;
    std::memset(out.comm, 0, sizeof out.comm);
    if (e.pid != 0) {
        size_t n = 0;
        for (size_t i = 0; i < sizeof e.comm && e.comm[i] != '\0' && n + 1 < sizeof out.comm; ++i)
            if (e.comm[i] >= 0x20 && e.comm[i] < 0x7F) out.comm[n++] = e.comm[i];
    }
    return true;
}

}  // namespace varnel
