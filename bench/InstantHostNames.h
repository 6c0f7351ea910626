#pragma once

#include <cstdio>
#include <cstring>

#include "session/HostNameSource.h"

namespace varnel {

// A host-name source that knows every name at once, as a warm cache does: "localhost" for the
// loopback address, the address itself (a host with no name) for any other. Never allocates.
class InstantHostNames : public HostNameSource {
  public:
    void LookupHostName(const char* address, char* out, size_t outSize) override {
        if (outSize == 0) return;
        std::snprintf(out, outSize, "%s", std::strcmp(address, "127.0.0.1") == 0 ? "localhost" : address);
    }
};

}  // namespace varnel
