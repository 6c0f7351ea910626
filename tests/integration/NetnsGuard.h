#pragma once

#include <net/if.h>

#include <cstring>

// True when the calling process sees no network interface but loopback: the private network
// namespace in-netns.sh gives every integration test. Tests that reset connections or open
// many of them refuse to run anywhere else.
inline bool InPrivateNetworkNamespace() {
    struct if_nameindex* interfaces = if_nameindex();
    if (interfaces == nullptr) return false;
    bool onlyLoopback = true;
    for (struct if_nameindex* i = interfaces; i->if_index != 0; ++i)
        if (std::strcmp(i->if_name, "lo") != 0) onlyLoopback = false;
    if_freenameindex(interfaces);
    return onlyLoopback;
}

#define REQUIRE_PRIVATE_NETNS()                                                                        \
    do {                                                                                               \
        if (!InPrivateNetworkNamespace()) GTEST_SKIP() << "run through tests/integration/in-netns.sh"; \
    } while (0)
