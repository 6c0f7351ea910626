// An arbitrary ring-buffer record given to the connection-event decoder, as if the kernel had
// written it. Invariants: nothing is read outside the record (the sanitizers watch); a record is
// only taken at its exact size; a taken record has a state code 1..12, an IPv4 row has no IPv6
// address, and the command name is terminated printable ASCII, empty without an owner.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/linux/ConnectEventRecord.h"

using varnel::ConnectEvent;
using varnel::ConnectEventRecord;

namespace {
void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly the record's size, so any read past it is caught.
    std::vector<uint8_t> record(data, data + size);
    ConnectEvent e;
    std::memset(e.comm, 'x', sizeof e.comm);
    if (!ConnectEventRecord::Decode(record.data(), record.size(), e)) return 0;
    Check(size == ConnectEventRecord::kSize, "a record of another size was taken");
    Check(e.row.state >= 1 && e.row.state <= 12, "state code out of range");
    if (!e.row.v6) Check(e.row.localAddr6.IsUnspecified() && e.row.remoteAddr6.IsUnspecified(), "IPv4 row with IPv6 address");
    Check(std::memchr(e.comm, '\0', sizeof e.comm) != nullptr, "command name not terminated");
    for (const char* c = e.comm; *c != '\0'; ++c) Check(*c >= 0x20 && *c < 0x7F, "command name not printable");
    if (e.row.owningPid == 0) Check(e.comm[0] == '\0', "command name without an owner");
    return 0;
}
