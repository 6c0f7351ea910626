#pragma once

#include "platform/ReverseLookup.h"

namespace varnel {

// ReverseLookup through the C library's resolver (/etc/hosts, DNS, whatever nsswitch.conf names):
// NameInfo (NameInfo6) is getnameinfo with NI_NAMEREQD on an AF_INET (AF_INET6) socket address and a 1025-byte host
// buffer; HostByAddr is gethostbyaddr_r (the reentrant form, so concurrent callers do not share
// the C library's static host entry). Time-outs are the resolver's own (resolv.conf).
//
// Threads: any, concurrently. Holds no state.
class SystemReverseLookup : public ReverseLookup {
  public:
    bool NameInfo(uint32_t addrNetworkOrder, std::string& name) override;
    bool HostByAddr(uint32_t addrNetworkOrder, std::string& name) override;
    bool NameInfo6(const Ip6Address& addr, std::string& name) override;
};

}  // namespace varnel
