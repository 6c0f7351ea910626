#include "platform/linux/ProcNetTcpParser.h"

#include <arpa/inet.h>

#include <cstdint>
#include <cstring>

#include "platform/linux/KernelTcp.h"

namespace varnel {

namespace {

// Splits off the next blank-separated token; empty at the end of the line.
std::string_view NextToken(std::string_view& rest) {
    size_t start = 0;
    while (start < rest.size() && (rest[start] == ' ' || rest[start] == '\t')) ++start;
    size_t end = start;
    while (end < rest.size() && rest[end] != ' ' && rest[end] != '\t') ++end;
    std::string_view token = rest.substr(start, end - start);
    rest.remove_prefix(end);
    return token;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Exactly `digits` hexadecimal digits (at most 8).
bool ParseHex(std::string_view text, size_t digits, uint32_t& out) {
    if (text.size() != digits) return false;
    uint32_t value = 0;
    for (char c : text) {
        const int d = HexDigit(c);
        if (d < 0) return false;
        value = (value << 4) | static_cast<uint32_t>(d);
    }
    out = value;
    return true;
}

template <typename T>
bool ParseDecimal(std::string_view text, T& out) {
    if (text.empty() || text.size() > 20) return false;
    T value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const T digit = static_cast<T>(c - '0');
        if (value > (static_cast<T>(~T{0}) - digit) / 10) return false;
        value = value * 10 + digit;
    }
    out = value;
    return true;
}

// "AAAAAAAA:PPPP" (tcp) or 32 hexadecimal digits then ":PPPP" (tcp6). The address words are the
// kernel's in-memory values, so each parsed word is its network-order representation as is.
// `words` receives the address's words (one for tcp).
bool ParseEndpoint(std::string_view token, bool tcp6, uint32_t (&w)[4], uint32_t& port) {
    const size_t words = tcp6 ? 4 : 1;
    const size_t colon = words * 8;
    if (token.size() != colon + 5 || token[colon] != ':') return false;
    for (size_t i = 0; i < words; ++i)
        if (!ParseHex(token.substr(i * 8, 8), 8, w[i])) return false;
    uint32_t hostPort = 0;
    if (!ParseHex(token.substr(colon + 1), 4, hostPort)) return false;
    port = htons(static_cast<uint16_t>(hostPort));
    return true;
}

bool HexPair(std::string_view token) {
    const size_t colon = token.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == token.size()) return false;
    for (size_t i = 0; i < token.size(); ++i)
        if (i != colon && HexDigit(token[i]) < 0) return false;
    return true;
}

}  // namespace

bool ProcNetTcpParser::ParseLine(std::string_view line, bool tcp6, TcpRow& row, SocketIdentity& id) {
    std::string_view rest = line;
    const std::string_view slot = NextToken(rest);
    uint32_t slotNumber = 0;
    if (slot.size() < 2 || slot.back() != ':' || !ParseDecimal(slot.substr(0, slot.size() - 1), slotNumber))
        return false;
    uint32_t local[4] = {}, remote[4] = {};
    uint32_t localPort = 0, remotePort = 0, kernelState = 0;
    if (!ParseEndpoint(NextToken(rest), tcp6, local, localPort)) return false;
    if (!ParseEndpoint(NextToken(rest), tcp6, remote, remotePort)) return false;
    const std::string_view st = NextToken(rest);
    if (!ParseHex(st, 2, kernelState)) return false;
    if (!HexPair(NextToken(rest))) return false;  // tx_queue:rx_queue
    if (!HexPair(NextToken(rest))) return false;  // tr:tm->when
    uint32_t retransmits = 0;
    if (!ParseHex(NextToken(rest), 8, retransmits)) return false;
    uint32_t uid = 0;
    if (!ParseDecimal(NextToken(rest), uid)) return false;
    std::string_view timeout = NextToken(rest);  // a signed count the table does not need
    if (!timeout.empty() && timeout.front() == '-') timeout.remove_prefix(1);
    uint32_t timeoutValue = 0;
    if (!ParseDecimal(timeout, timeoutValue)) return false;
    uint64_t inode = 0;
    if (!ParseDecimal(NextToken(rest), inode)) return false;
    const uint32_t state = KernelTcp::TableState(kernelState);
    if (state == 0) return false;
    uint32_t localAddr = local[0], remoteAddr = remote[0];
    const bool v6 = tcp6 && !(KernelTcp::UnmapV4(local, localAddr) && KernelTcp::UnmapV4(remote, remoteAddr));
    row = TcpRow{state, v6 ? 0 : localAddr, localPort, v6 ? 0 : remoteAddr, remotePort, 0};
    if (v6) {
        row.v6 = true;
        std::memcpy(row.localAddr6.bytes, local, sizeof local);
        std::memcpy(row.remoteAddr6.bytes, remote, sizeof remote);
    }
    id = SocketIdentity{inode, uid};
    return true;
}

size_t ProcNetTcpParser::Parse(std::string_view text, bool tcp6, std::vector<TcpRow>& rows,
                               std::vector<SocketIdentity>& ids) {
    size_t added = 0;
    while (!text.empty()) {
        const size_t newline = text.find('\n');
        const std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        TcpRow row;
        SocketIdentity id;
        if (ParseLine(line, tcp6, row, id)) {
            rows.push_back(row);
            ids.push_back(id);
            ++added;
        }
    }
    return added;
}

}  // namespace varnel
