#pragma once

#include <cstdint>

namespace varnel {

// What the Linux socket tables have in common, whichever way they are read (netlink or
// /proc/net/tcp): the kernel's own TCP state numbers and the IPv4-mapped IPv6 form.
class KernelTcp {
  public:
    // The table's state code (1..12, TcpState) for a kernel TCP state number, or 0 for a number
    // the table has no code for (the caller drops such a row).
    static uint32_t TableState(unsigned kernelState);

    // Kernel states 1..12 (ESTABLISHED .. NEW_SYN_RECV) as the bit mask a sock_diag dump takes.
    // Newer states (a socket bound but never used) are not connections and are left out.
    static constexpr uint32_t kAllConnectionStates = 0x1FFEu;

    // True when the IPv6 address, given as its four 32-bit words in network byte order, is an
    // IPv4-mapped one (::ffff:a.b.c.d); `v4` then receives a.b.c.d in network byte order.
    static bool UnmapV4(const uint32_t words[4], uint32_t& v4);
};

}  // namespace varnel
