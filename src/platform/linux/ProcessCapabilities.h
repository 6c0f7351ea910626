#pragma once

namespace varnel {

// The capabilities this process holds now.
// Threads: any.
class ProcessCapabilities {
  public:
    // Whether CAP_NET_ADMIN is in the effective set (root, `setcap`, or a user namespace's owner).
    static bool HoldsNetAdmin();
};

}  // namespace varnel
