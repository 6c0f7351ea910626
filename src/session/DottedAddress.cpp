#include "session/DottedAddress.h"

#include <arpa/inet.h>

#include <cctype>
#include <cstring>

namespace varnel {

namespace {

// atoi without its undefined behaviour on overflow: the value saturates, which is out of the
// octet range either way.
long ReadInt(const char* p) {
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    long v = 0;
    while (*p >= '0' && *p <= '9') {
        if (v < 100000) v = v * 10 + (*p - '0');
        ++p;
    }
    return negative ? -v : v;
}

}  // namespace

uint32_t ParseDottedAddress(const char* text) {
    uint32_t hostOrder = 0;
    const char* p = text;
    for (int i = 0; i < 4; ++i) {
        long v = ReadInt(p);
        if (v < 0 || v > 255) return 0;
        hostOrder |= static_cast<uint32_t>(v) << (24 - 8 * i);
        const char* dot = std::strchr(p, '.');
        if (dot == nullptr) {
            if (i != 3) return 0xFFFFFFFFu;
        } else {
            p = dot + 1;
        }
    }
    return htonl(hostOrder);
}

size_t FormatDottedAddress(uint32_t addr, char* out) {
    const uint32_t hostOrder = ntohl(addr);
    char* p = out;
    for (int i = 0; i < 4; ++i) {
        unsigned v = (hostOrder >> (24 - 8 * i)) & 0xFFu;
        if (v >= 100) *p++ = static_cast<char>('0' + v / 100);
        if (v >= 10) *p++ = static_cast<char>('0' + v / 10 % 10);
        *p++ = static_cast<char>('0' + v % 10);
        if (i < 3) *p++ = '.';
    }
    *p = '\0';
    return static_cast<size_t>(p - out);
}

}  // namespace varnel
