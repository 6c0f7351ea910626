#include "platform/linux/LinuxConnectionTable.h"

#include <utility>

namespace varnel {

LinuxConnectionTable::LinuxConnectionTable() : LinuxConnectionTable(Options{}) {}

LinuxConnectionTable::LinuxConnectionTable(Options options)
    : proc_(options.procRoot), owners_(options.procRoot) {
    std::vector<TcpRow> probe;
    hasExtended_ = options.netlink && netlink_.Dump(probe, ids_);
    hasFromStack_ = options.procFromStack && proc_.Readable();
    ids_.clear();
}

bool LinuxConnectionTable::GetExtendedTcpTable(std::vector<TcpRow>& rows) {
    if (!hasExtended_ || !netlink_.Dump(rows, ids_)) {
        rows.clear();
        return false;
    }
    owners_.Resolve(rows, ids_);
    return true;
}

bool LinuxConnectionTable::GetTcpExTableFromStack(std::vector<TcpRow>& rows) {
    if (!hasFromStack_ || !proc_.Read(rows, ids_)) {
        rows.clear();
        return false;
    }
    owners_.Resolve(rows, ids_);
    return true;
}

bool LinuxConnectionTable::GetTcpTable(std::vector<TcpRow>& rows) {
    // Plain reader: no owners, whatever the availability of the others.
    return proc_.Read(rows, ids_);
}

}  // namespace varnel
