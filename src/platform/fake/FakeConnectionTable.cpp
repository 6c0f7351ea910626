#include "platform/fake/FakeConnectionTable.h"

#include <arpa/inet.h>

#include <string>

namespace varnel {

uint32_t FakeConnectionTable::PackAddress(std::string_view dotted) {
    in_addr a{};
    inet_pton(AF_INET, std::string(dotted).c_str(), &a);
    return a.s_addr;
}

uint32_t FakeConnectionTable::PackPort(int hostPort) { return htons(static_cast<uint16_t>(hostPort)); }

void FakeConnectionTable::Add(uint32_t state, std::string_view localAddr, int localPort,
                              std::string_view remoteAddr, int remotePort, uint32_t pid) {
    rows_.push_back(TcpRow{state, PackAddress(localAddr), PackPort(localPort), PackAddress(remoteAddr),
                           PackPort(remotePort), pid});
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
