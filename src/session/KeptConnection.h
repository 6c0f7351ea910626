#pragma once

#include <cstddef>
#include <cstdint>

namespace varnel {

// A connection's identity: its four-tuple. Addresses as the table gives them (network order),
// ports in host order. State and owner are not part of it, so a connection that goes from being
// opened to established stays the same connection.
struct ConnectionKey {
    uint32_t localAddr = 0;
    uint32_t remoteAddr = 0;
    uint16_t localPort = 0;
    uint16_t remotePort = 0;

    bool operator==(const ConnectionKey&) const = default;
    // A well-mixed 32-bit hash; open-addressed tables take its low bits.
    uint32_t Hash() const {
        uint64_t h = (uint64_t{localAddr} << 32 | remoteAddr) * 0x9E3779B97F4A7C15ull;
        h ^= (uint64_t{localPort} << 16 | remotePort) * 0xC2B2AE3D27D4EB4Full;
        h ^= h >> 29;
        h *= 0xBF58476D1CE4E5B9ull;
        return static_cast<uint32_t>(h >> 32);
    }
};

struct ConnectionKeyHash {
    size_t operator()(const ConnectionKey& k) const { return k.Hash(); }
};

// One connection of a poll that passed the snapshot's filters (no listener, no closing state),
// whether or not the list has room for it. Plain data: the poll keeps them in a reused array.
struct KeptConnection {
    ConnectionKey key;
    uint32_t state = 0;      // TCP state code 1..12
    uint32_t pid = 0;        // owner, 0 when the table names none
    uint32_t firstSeen = 0;  // tick when first seen; never 0 once kept
};

}  // namespace varnel
