#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "platform/TcpRow.h"

namespace varnel {

// A connection's identity: its four-tuple. Addresses as the table gives them (network order),
// ports in host order. State and owner are not part of it, so a connection that goes from being
// opened to established stays the same connection. An IPv6 connection (v6) has its addresses in
// local6 and remote6 and 0 in localAddr and remoteAddr, as TcpRow.
struct ConnectionKey {
    uint32_t localAddr = 0;
    uint32_t remoteAddr = 0;
    uint16_t localPort = 0;
    uint16_t remotePort = 0;
    bool v6 = false;
    Ip6Address local6{};
    Ip6Address remote6{};

    bool operator==(const ConnectionKey&) const = default;
    // A well-mixed 32-bit hash; open-addressed tables take its low bits.
    uint32_t Hash() const {
        uint64_t h = (uint64_t{localAddr} << 32 | remoteAddr) * 0x9E3779B97F4A7C15ull;
        h ^= (uint64_t{localPort} << 16 | remotePort) * 0xC2B2AE3D27D4EB4Full;
        if (v6) h ^= Fold6();
        h ^= h >> 29;
        h *= 0xBF58476D1CE4E5B9ull;
        return static_cast<uint32_t>(h >> 32);
    }

  private:
    uint64_t Fold6() const {
        uint64_t f = 0x2545F4914F6CDD1Dull;
        for (const Ip6Address* a : {&local6, &remote6}) {
            for (int i = 0; i < 16; i += 8) {
                uint64_t w = 0;
                for (int j = 0; j < 8; ++j) w = w << 8 | a->bytes[i + j];
                f = (f ^ w) * 0x9E3779B97F4A7C15ull;
                f ^= f >> 31;
            }
        }
        return f;
    }
};

struct ConnectionKeyHash {
    size_t operator()(const ConnectionKey& k) const { return k.Hash(); }
};

// Half-closed: one side has sent its FIN, the other direction still carries data (FIN-WAIT-1,
// FIN-WAIT-2, CLOSE-WAIT). The list does not show such a connection, but the rules cut it.
inline bool IsHalfClosedState(uint32_t state) {
    return state == kTcpFinWait1 || state == kTcpFinWait2 || state == kTcpCloseWait;
}

// The state the rules judge a connection by: a half-closed one is judged as established (its
// Status text and STAT value are those of an established connection), any other by its own.
inline uint32_t JudgedState(uint32_t state) {
    return IsHalfClosedState(state) ? uint32_t{kTcpEstablished} : state;
}

// One connection of a poll that passed the snapshot's filters (no listener, not one that can no
// longer carry data), whether or not the list has room for it or shows its state. Plain data: the
// poll keeps them in a reused array.
struct KeptConnection {
    ConnectionKey key;
    uint32_t state = 0;      // TCP state code 1..12
    uint32_t pid = 0;        // owner, 0 when the table names none
    uint32_t firstSeen = 0;  // tick when first seen; never 0 once kept
};

}  // namespace varnel
