// Arbitrary /proc/net/tcp or tcp6 text (the first byte chooses which). Invariants:
//   - Parse appends exactly the rows ParseLine accepts line by line, rows and identities in step;
//   - every row has a state code 1..12 and owningPid 0;
//   - a row written back in the kernel's line format parses to the same row and identity;
//   - an IPv6 row has 0 for its IPv4 addresses, an IPv4 row zero IPv6 addresses, and tcp text
//     gives no IPv6 row.
#include <arpa/inet.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/linux/ProcNetTcpParser.h"

using varnel::ProcNetTcpParser;
using varnel::SocketIdentity;
using varnel::TcpRow;

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// A kernel state number that has `code` as its table code.
unsigned KernelState(uint32_t code) {
    static constexpr unsigned kByCode[] = {0, 7, 10, 2, 3, 1, 4, 5, 8, 11, 9, 6};
    return code < sizeof kByCode / sizeof kByCode[0] ? kByCode[code] : 0;
}

bool SameRow(const TcpRow& a, const TcpRow& b) {
    return a.state == b.state && a.v6 == b.v6 && a.localAddr == b.localAddr && a.localPort == b.localPort &&
           a.remoteAddr == b.remoteAddr && a.remotePort == b.remotePort && a.localAddr6 == b.localAddr6 &&
           a.remoteAddr6 == b.remoteAddr6;
}

// The 32 hexadecimal digits of an address as tcp6 text holds it: each 32-bit word's in-memory value.
void Words(const TcpRow& r, bool local, char out[33]) {
    uint32_t w[4];
    if (r.v6) {
        std::memcpy(w, local ? r.localAddr6.bytes : r.remoteAddr6.bytes, sizeof w);
    } else {
        w[0] = w[1] = 0;
        w[2] = htonl(0x0000FFFFu);
        w[3] = local ? r.localAddr : r.remoteAddr;
    }
    std::snprintf(out, 33, "%08X%08X%08X%08X", w[0], w[1], w[2], w[3]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool tcp6 = data[0] & 1;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

    std::vector<TcpRow> rows;
    std::vector<SocketIdentity> ids;
    const size_t added = ProcNetTcpParser::Parse(text, tcp6, rows, ids);
    Check(added == rows.size() && rows.size() == ids.size(), "rows and identities in step");

    size_t accepted = 0;
    std::string_view rest = text;
    while (!rest.empty()) {
        const size_t newline = rest.find('\n');
        const std::string_view line = rest.substr(0, newline);
        rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);
        TcpRow row;
        SocketIdentity id;
        if (!ProcNetTcpParser::ParseLine(line, tcp6, row, id)) continue;
        Check(accepted < rows.size(), "Parse kept every accepted line");
        Check(SameRow(row, rows[accepted]) && id.inode == ids[accepted].inode && id.uid == ids[accepted].uid,
              "Parse and ParseLine agree");
        ++accepted;
    }
    Check(accepted == rows.size(), "Parse kept only accepted lines");

    for (size_t i = 0; i < rows.size(); ++i) {
        const TcpRow& r = rows[i];
        Check(r.state >= 1 && r.state <= 12, "state code in range");
        Check(r.owningPid == 0, "no owner from the text");
        Check(r.localPort <= 0xFFFF && r.remotePort <= 0xFFFF, "ports fit 16 bits");
        Check(tcp6 || !r.v6, "tcp text gives IPv4 rows only");
        Check(r.v6 ? r.localAddr == 0 && r.remoteAddr == 0
                   : r.localAddr6.IsUnspecified() && r.remoteAddr6.IsUnspecified(),
              "the other version's addresses are zero");
        char line[512];
        if (tcp6) {
            char local[33], remote[33];
            Words(r, true, local);
            Words(r, false, remote);
            std::snprintf(line, sizeof line,
                          "%4zu: %s:%04X %s:%04X %02X 00000000:00000000 00:00000000 00000000 %5u %8d %llu 1", i,
                          local, ntohs(static_cast<uint16_t>(r.localPort)), remote,
                          ntohs(static_cast<uint16_t>(r.remotePort)), KernelState(r.state), ids[i].uid, 0,
                          static_cast<unsigned long long>(ids[i].inode));
        } else {
            std::snprintf(
                line, sizeof line,
                "%4zu: %08X:%04X %08X:%04X %02X 00000000:00000000 00:00000000 00000000 %5u %8d %llu 1", i,
                r.localAddr, ntohs(static_cast<uint16_t>(r.localPort)), r.remoteAddr,
                ntohs(static_cast<uint16_t>(r.remotePort)), KernelState(r.state), ids[i].uid, 0,
                static_cast<unsigned long long>(ids[i].inode));
        }
        TcpRow again;
        SocketIdentity againId;
        Check(ProcNetTcpParser::ParseLine(line, tcp6, again, againId), "written row parses");
        Check(SameRow(again, r) && againId.inode == ids[i].inode && againId.uid == ids[i].uid,
              "written row reads back the same");
    }
    return 0;
}
