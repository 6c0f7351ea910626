#pragma once

#include <string_view>
#include <vector>

#include "platform/ConnectionTable.h"

namespace varnel {

// A connection table that serves whatever rows the test put in it, in that order. Each reader can
// be made absent (Has... false) or failing. Rows are given in host byte order through Add and
// stored in the table's byte orders.
class FakeConnectionTable : public ConnectionTable {
public:
    FakeConnectionTable() = default;

    // Adds a row; addresses as dotted text, or IPv6 text (a local address holding ':' makes an
    // IPv6 row), ports in host order.
    void Add(uint32_t state, std::string_view localAddr, int localPort, std::string_view remoteAddr,
             int remotePort, uint32_t pid = 0);
    void Clear() { rows_.clear(); }
    std::vector<TcpRow>& rows() { return rows_; }

    bool hasExtended = true;
    bool hasFromStack = false;
    bool failing = false;
    int reads = 0;  // how many times any reader was called

    bool HasExtendedTcpTable() const override { return hasExtended; }
    bool HasTcpExTableFromStack() const override { return hasFromStack; }
    bool GetExtendedTcpTable(std::vector<TcpRow>& rows) override { return Serve(rows, true); }
    bool GetTcpExTableFromStack(std::vector<TcpRow>& rows) override { return Serve(rows, true); }
    bool GetTcpTable(std::vector<TcpRow>& rows) override { return Serve(rows, false); }

    // Which reader served last: 0 none, 1 extended, 2 from stack, 3 plain.
    int lastReader = 0;

    static uint32_t PackAddress(std::string_view dotted);
    static Ip6Address PackAddress6(std::string_view text);
    static uint32_t PackPort(int hostPort);

private:
    bool Serve(std::vector<TcpRow>& out, bool withPid);
    std::vector<TcpRow> rows_;
};

}  // namespace varnel
