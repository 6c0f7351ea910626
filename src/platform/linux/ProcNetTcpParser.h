#pragma once

#include <string_view>
#include <vector>

#include "platform/TcpRow.h"
#include "platform/linux/SocketIdentity.h"

namespace varnel {

// Parses the text of /proc/net/tcp and /proc/net/tcp6 into table rows.
//
// A line reads "sl: local remote st tx:rx tr:when retrnsmt uid timeout inode ...", with each
// address as the hexadecimal digits of its 32-bit words as the kernel holds them (so the value
// read is already in network byte order in memory), each port as four hexadecimal digits of the
// port number, and the state as the kernel's hexadecimal state number. In tcp6 text the sockets
// whose two addresses are IPv4-mapped become IPv4 rows, with their IPv4 addresses; the others
// become IPv6 rows.
//
// Lines that do not have this form (the heading, truncated or damaged lines) are skipped.
// Stateless; any thread.
class ProcNetTcpParser {
  public:
    // Appends a row and its identity per socket line of `text`; returns how many were appended.
    static size_t Parse(std::string_view text, bool tcp6, std::vector<TcpRow>& rows,
                        std::vector<SocketIdentity>& ids);

    // One line without its newline. False when the line is no socket line.
    static bool ParseLine(std::string_view line, bool tcp6, TcpRow& row, SocketIdentity& id);
};

}  // namespace varnel
