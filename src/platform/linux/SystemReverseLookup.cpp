#include "platform/linux/SystemReverseLookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace varnel {

bool SystemReverseLookup::NameInfo(uint32_t addrNetworkOrder, std::string& name) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = addrNetworkOrder;
    char host[NI_MAXHOST];  // 1025
    int rc = getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, host, sizeof host, nullptr, 0,
                         NI_NAMEREQD);
    if (rc != 0) return false;
    name = host;
    return true;
}

bool SystemReverseLookup::NameInfo6(const Ip6Address& addr, std::string& name) {
    sockaddr_in6 sa{};
    sa.sin6_family = AF_INET6;
    std::memcpy(sa.sin6_addr.s6_addr, addr.bytes, sizeof addr.bytes);
    char host[NI_MAXHOST];
    int rc = getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, host, sizeof host, nullptr, 0,
                         NI_NAMEREQD);
    if (rc != 0) return false;
    name = host;
    return true;
}

bool SystemReverseLookup::HostByAddr(uint32_t addrNetworkOrder, std::string& name) {
    in_addr addr{};
    addr.s_addr = addrNetworkOrder;
    // The entry's strings live in `buffer`; ERANGE asks for a larger one. 64 KiB is far beyond any
    // real host entry, so the loop ends there rather than growing without bound.
    std::vector<char> buffer(1024);
    for (;;) {
        hostent entry{};
        hostent* result = nullptr;
        int hostError = 0;
        int rc = gethostbyaddr_r(&addr, sizeof addr, AF_INET, &entry, buffer.data(), buffer.size(), &result,
                                 &hostError);
        if (rc == ERANGE && buffer.size() < 65536) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0 || result == nullptr || result->h_name == nullptr) return false;
        name = result->h_name;
        return true;
    }
}

}  // namespace varnel
