// An arbitrary datagram given to the sock_diag message readers, as if the kernel had sent it.
// Invariants: nothing is read outside the datagram (the sanitizers watch); rows and identities
// stay in step; every row has a state code 1..12 and no owner; the dump reader stops at the end
// or at the first damaged message.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/linux/InetDiagCodec.h"

using varnel::InetDiagCodec;
using varnel::SocketIdentity;
using varnel::TcpRow;

namespace {
void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint32_t seq = data[0];
    // A copy of exactly the datagram's size, so any read past it is caught.
    std::vector<uint8_t> datagram(data + 1, data + size);
    std::vector<TcpRow> rows;
    std::vector<SocketIdentity> ids;
    int error = 0;
    const auto chunk = InetDiagCodec::ParseDump(datagram.data(), datagram.size(), seq, rows, ids, error);
    Check(rows.size() == ids.size(), "rows and identities in step");
    Check(chunk != InetDiagCodec::Chunk::kError || error > 0, "an error has an errno");
    for (const TcpRow& r : rows) {
        Check(r.state >= 1 && r.state <= 12, "state code in range");
        Check(r.owningPid == 0, "no owner from the kernel message");
        Check(r.localPort <= 0xFFFF && r.remotePort <= 0xFFFF, "ports fit 16 bits");
    }
    const InetDiagCodec::ExactReply reply = InetDiagCodec::ParseExact(datagram.data(), datagram.size(), seq);
    Check(!reply.hasSocket || reply.present, "a socket reply is present");
    Check(reply.error >= 0, "errno is positive");
    return 0;
}
