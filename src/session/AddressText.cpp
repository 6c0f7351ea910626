#include "session/AddressText.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

#include "session/DottedAddress.h"

namespace varnel {

static_assert(AddressText::kSize >= INET6_ADDRSTRLEN);

size_t AddressText::FormatIp6(const Ip6Address& address, char* out) {
    // inet_ntop fails only for a short buffer or an unknown family, neither possible here.
    if (inet_ntop(AF_INET6, address.bytes, out, kSize) == nullptr) out[0] = '\0';
    return std::strlen(out);
}

size_t AddressText::FormatLocal(const ConnectionKey& key, char* out) {
    return key.v6 ? FormatIp6(key.local6, out) : FormatDottedAddress(key.localAddr, out);
}

size_t AddressText::FormatRemote(const ConnectionKey& key, char* out) {
    return key.v6 ? FormatIp6(key.remote6, out) : FormatDottedAddress(key.remoteAddr, out);
}

bool AddressText::IsIp6Text(const char* text) {
    return std::strchr(text, ':') != nullptr;
}

bool AddressText::ParseIp6(const char* text, Ip6Address& out) {
    if (inet_pton(AF_INET6, text, out.bytes) == 1) return true;
    std::memset(out.bytes, 0, sizeof out.bytes);
    return false;
}

}  // namespace varnel
