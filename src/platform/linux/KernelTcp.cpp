#include "platform/linux/KernelTcp.h"

#include <arpa/inet.h>

#include "platform/TcpRow.h"

namespace varnel {

uint32_t KernelTcp::TableState(unsigned kernelState) {
    // Index: the kernel's numbering in include/net/tcp_states.h.
    static constexpr uint32_t kCodes[] = {
        0,                // 0: unused
        kTcpEstablished,  // 1 ESTABLISHED
        kTcpSynSent,      // 2 SYN_SENT
        kTcpSynRcvd,      // 3 SYN_RECV
        kTcpFinWait1,     // 4 FIN_WAIT1
        kTcpFinWait2,     // 5 FIN_WAIT2
        kTcpTimeWait,     // 6 TIME_WAIT
        kTcpClosed,       // 7 CLOSE
        kTcpCloseWait,    // 8 CLOSE_WAIT
        kTcpLastAck,      // 9 LAST_ACK
        kTcpListen,       // 10 LISTEN
        kTcpClosing,      // 11 CLOSING
        kTcpSynRcvd,      // 12 NEW_SYN_RECV (a connection request not yet a full socket)
    };
    return kernelState < sizeof kCodes / sizeof kCodes[0] ? kCodes[kernelState] : 0;
}

bool KernelTcp::UnmapV4(const uint32_t words[4], uint32_t& v4) {
    if (words[0] != 0 || words[1] != 0 || words[2] != htonl(0x0000FFFFu)) return false;
    v4 = words[3];
    return true;
}

}  // namespace varnel
