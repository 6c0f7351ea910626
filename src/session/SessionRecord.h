#pragma once

#include <cstdint>

#include "session/KeptConnection.h"

namespace varnel {

// One tracked connection: a plain fixed-size record, copied and cleared slot by slot, never
// allocated per connection. Texts are NUL-terminated and cut to fit their buffers; `key` and `pid`
// are the connection itself as the poll kept it, so that nothing needs to read a text back.
struct SessionRecord {
    static constexpr int kSortKeySize = 256;  // at most 254 characters are stored
    static constexpr int kAddressSize = 48;  // AddressText::kSize
    static constexpr int kHostSize = 128;
    static constexpr int kProcessSize = 128;

    char sortKey[kSortKeySize];        // built by the sort; empty after each poll
    char localAddress[kAddressSize];   // dotted decimal, or an IPv6 text (AddressText)
    char localHost[kHostSize];         // name, the address itself, or "(address)" while pending
    int32_t localPort;                 // host byte order
    char remoteAddress[kAddressSize];
    char remoteHost[kHostSize];
    int32_t remotePort;
    int32_t state;                     // TCP state code 1..12
    char processText[kProcessSize];    // "name(pid)", or empty when the table gives no owner
    uint32_t firstSeen;                // tick when first seen; 0 means none
    ConnectionKey key;                 // the four-tuple and family: what a reset names
    uint32_t pid;                      // owner, 0 when the table names none
};

}  // namespace varnel
