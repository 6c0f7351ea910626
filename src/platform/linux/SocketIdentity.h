#pragma once

#include <cstdint>

namespace varnel {

// What the Linux tables tell about a socket besides its TcpRow: the socket's inode (0 when no
// file refers to it: TIME_WAIT, connection requests, orphaned sockets) and the user id of its
// creator, as seen from the reader's user namespace. Readers fill one per row, in a vector
// parallel to the rows.
struct SocketIdentity {
    uint64_t inode;
    uint32_t uid;
};

}  // namespace varnel
