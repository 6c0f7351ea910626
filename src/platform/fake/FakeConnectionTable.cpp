#include "platform/fake/FakeConnectionTable.h"

#include <arpa/inet.h>

#include <string>

namespace varnel {

uint32_t FakeConnectionTable::PackAddress(std::string_view dotted) {
    in_addr a{};
    inet_pton(AF_INET, std::string(dotted).c_str(), &a);
    return a.s_addr;
}

Ip6Address FakeConnectionTable::PackAddress6(std::string_view text) {
    Ip6Address a{};
    inet_pton(AF_INET6, std::string(text).c_str(), a.bytes);
    return a;
}

uint32_t FakeConnectionTable::PackPort(int hostPort) { return htons(static_cast<uint16_t>(hostPort)); }

void FakeConnectionTable::Add(uint32_t state, std::string_view localAddr, int localPort,
                              std::string_view remoteAddr, int remotePort, uint32_t pid) {
    const bool v6 = localAddr.find(':') != std::string_view::npos;
    if (!v6) {
        rows_.push_back(TcpRow{state, PackAddress(localAddr), PackPort(localPort), PackAddress(remoteAddr),
                               PackPort(remotePort), pid});
        return;
    }
    TcpRow row{state, 0, PackPort(localPort), 0, PackPort(remotePort), pid};
    row.v6 = true;
    row.localAddr6 = PackAddress6(localAddr);
    row.remoteAddr6 = PackAddress6(remoteAddr);
    rows_.push_back(row);
}

bool FakeConnectionTable::Serve(std::vector<TcpRow>& out, bool withPid) {
    ++reads;
    out.clear();
    if (failing) return false;
    out = rows_;
    if (!withPid)
        for (TcpRow& r : out) r.owningPid = 0;
    return true;
}

}  // namespace varnel
