#pragma once

#include <cstdint>
#include <string>

#include "platform/TcpRow.h"

namespace varnel {

// The system's reverse name lookup. IPv4 addresses are in network byte order (the first dotted
// number in the lowest-addressed byte).
//   NameInfo   - the name service's answer for the address, asked the way getnameinfo is asked
//                with NI_NAMEREQD: true and `name` set to the host name found; false (and `name`
//                untouched) when there is no name or the lookup failed.
//   NameInfo6  - the same for an IPv6 address.
//   HostByAddr - the official name of the host entry for the address, as gethostbyaddr gives it;
//                true and `name` set, or false when there is no entry.
// Both may block for as long as the name service takes (seconds when a DNS server does not
// answer); time-outs are the implementation's.
//
// Threads: any; many threads may call one object at the same time.
class ReverseLookup {
  public:
    ReverseLookup() = default;
    ReverseLookup(const ReverseLookup&) = delete;
    ReverseLookup& operator=(const ReverseLookup&) = delete;
    virtual ~ReverseLookup() = default;

    virtual bool NameInfo(uint32_t addrNetworkOrder, std::string& name) = 0;
    virtual bool HostByAddr(uint32_t addrNetworkOrder, std::string& name) = 0;
    virtual bool NameInfo6(const Ip6Address& addr, std::string& name) = 0;
};

}  // namespace varnel
