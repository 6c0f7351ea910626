#pragma once

#include <string>
#include <vector>

#include "platform/ConnectionTable.h"
#include "platform/linux/ProcNetTcpReader.h"
#include "platform/linux/SockDiagReader.h"
#include "platform/linux/SocketIdentity.h"
#include "platform/linux/SocketOwnerMap.h"

namespace varnel {

// The connection table of the running Linux kernel (the calling thread's network namespace).
//   GetExtendedTcpTable    - netlink sock_diag dump, owners by SocketOwnerMap.
//   GetTcpExTableFromStack - /proc/net/tcp and tcp6, owners by the same SocketOwnerMap.
//   GetTcpTable            - /proc/net/tcp and tcp6, owningPid 0.
// Connections of both IP versions are rows. An IPv6 socket that carries an IPv4 connection (both
// addresses IPv4-mapped) is an IPv4 row, with the IPv4 addresses.
//
// Availability is decided once, in the constructor: the extended reader exists when a netlink
// dump works, the from-stack reader when /proc/net/tcp can be read. Options can switch readers
// off, to run as a system that lacks them. A reader that is not available returns false with
// `rows` empty. Threads: one caller at a time.
class LinuxConnectionTable : public ConnectionTable {
  public:
    struct Options {
        bool netlink = true;        // false: HasExtendedTcpTable is false
        bool procFromStack = true;  // false: HasTcpExTableFromStack is false
        std::string procRoot = "/proc";
    };

    LinuxConnectionTable();
    explicit LinuxConnectionTable(Options options);

    bool HasExtendedTcpTable() const override { return hasExtended_; }
    bool HasTcpExTableFromStack() const override { return hasFromStack_; }

    bool GetExtendedTcpTable(std::vector<TcpRow>& rows) override;
    bool GetTcpExTableFromStack(std::vector<TcpRow>& rows) override;
    bool GetTcpTable(std::vector<TcpRow>& rows) override;

    // The owner lookup's counters, for measurement.
    const SocketOwnerMap::Stats& ownerStats() const { return owners_.stats(); }

  private:
    SockDiagReader netlink_;
    ProcNetTcpReader proc_;
    SocketOwnerMap owners_;
    std::vector<SocketIdentity> ids_;
    bool hasExtended_ = false;
    bool hasFromStack_ = false;
};

}  // namespace varnel
