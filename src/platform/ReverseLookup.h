#pragma once

#include <cstdint>
#include <functional>
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
// These block for as long as the name service takes; time-outs are the implementation's.
//
// A lookup that is Asynchronous() also answers without blocking: BeginNameInfo(6) returns at once
// and calls `done` exactly once, later, on the lookup's own thread, with what NameInfo(6) would
// give (found false and an empty name when there is none); each such lookup ends within
// kAnswerTimeout. False from Begin* means no answer will come (the lookup is stopping). The
// default is a blocking lookup whose Begin* refuse.
//
// Threads: any; many threads may call one object at the same time.
class ReverseLookup {
  public:
    static constexpr uint32_t kAnswerTimeoutMs = 2000;
    using Done = std::function<void(bool found, const std::string& name)>;

    ReverseLookup() = default;
    ReverseLookup(const ReverseLookup&) = delete;
    ReverseLookup& operator=(const ReverseLookup&) = delete;
    virtual ~ReverseLookup() = default;

    virtual bool NameInfo(uint32_t addrNetworkOrder, std::string& name) = 0;
    virtual bool HostByAddr(uint32_t addrNetworkOrder, std::string& name) = 0;
    virtual bool NameInfo6(const Ip6Address& addr, std::string& name) = 0;

    virtual bool Asynchronous() const { return false; }
    virtual bool BeginNameInfo(uint32_t /*addrNetworkOrder*/, Done /*done*/) { return false; }
    virtual bool BeginNameInfo6(const Ip6Address& /*addr*/, Done /*done*/) { return false; }
};

}  // namespace varnel
