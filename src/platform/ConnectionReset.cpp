#include "platform/ConnectionReset.h"

#include <cstring>

namespace varnel {

std::string ResetResult::Describe() const {
    switch (status) {
        case ResetStatus::kOk:
            return "reset";
        case ResetStatus::kPermissionDenied:
            return "permission denied: resetting connections needs CAP_NET_ADMIN (run as root or grant "
                   "the capability)";
        case ResetStatus::kNotSupported:
            return "not supported: this kernel cannot destroy sockets (needs CONFIG_INET_DIAG_DESTROY)";
        case ResetStatus::kNoSuchConnection:
            return "no such connection";
        case ResetStatus::kPending:
            return detail.empty() ? std::string("waiting for the administrator's password") : detail;
        case ResetStatus::kRefused:
            return "refused: " + (detail.empty() ? std::string("no reason given") : detail);
        case ResetStatus::kFailed:
            break;
    }
    if (!detail.empty()) return "reset failed: " + detail;
    return std::string("reset failed: ") + (error != 0 ? std::strerror(error) : "unknown error");
}

}  // namespace varnel
