#pragma once

#include <cstddef>

#include "platform/TcpRow.h"
#include "session/KeptConnection.h"

namespace varnel {

// The address texts of a connection as the list shows them and the rules read them: dotted decimal
// for IPv4, and for IPv6 the canonical text form of RFC 5952 as inet_ntop writes it (lower case, no
// leading zeros, the longest run of zero groups as "::"). Pure functions, any thread; none
// allocates.
class AddressText {
  public:
    // Room for the longest text either family gives (45 characters) and its terminator.
    static constexpr size_t kSize = 48;

    // Each writes a terminated text into `out` (at least kSize bytes) and returns its length.
    static size_t FormatIp6(const Ip6Address& address, char* out);
    static size_t FormatLocal(const ConnectionKey& key, char* out);
    static size_t FormatRemote(const ConnectionKey& key, char* out);

    // True when `text` is written as an IPv6 address would be (it holds a ':'); dotted texts never do.
    static bool IsIp6Text(const char* text);
    // Reads an IPv6 text (any form inet_pton takes). False, with `out` all zero, for anything else;
    // the unspecified address names no connection, so a reset built from it does nothing.
    static bool ParseIp6(const char* text, Ip6Address& out);
};

}  // namespace varnel
