#pragma once

#include <cstddef>

namespace varnel {

// Where the snapshot gets host names while host-name resolution is on. LookupHostName writes the
// name known for the dotted `address` into `out` (cut to fit, always terminated): the cached name,
// or "(address)" while the name is not known yet. It must answer at once: it is called on the
// tick's thread for every address of every poll and may never wait for a lookup.
class HostNameSource {
public:
    virtual ~HostNameSource() = default;
    virtual void LookupHostName(const char* address, char* out, size_t outSize) = 0;
};

}  // namespace varnel
