#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/ConnectEventSource.h"

namespace varnel {

// Reads one record of the kernel's connection-event ring buffer (the layout of
// bpf/connect_event.h) into a ConnectEvent. Treats the bytes as hostile: a record of any other
// size or version, of another address family, with a state the table has no code for, or with
// stray bytes in the unused part of an IPv4 address is refused, and nothing outside
// `data[0, size)` is read. An IPv6 socket whose two addresses are IPv4-mapped is an IPv4 row, as
// in the connection table. Stateless; any thread.
class ConnectEventRecord {
  public:
    static constexpr size_t kSize = 72;
    static constexpr uint32_t kVersion = 1;

    static bool Decode(const void* data, size_t size, ConnectEvent& out);
};

}  // namespace varnel
