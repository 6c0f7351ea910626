#include "autokill/RuleHostText.h"

namespace varnel {

bool RuleHostText(HostNameSource* source, std::string_view address, uint32_t firstSeen, uint32_t now,
                  std::string& out, bool startLookup) {
    if (source == nullptr) {
        out.assign(address);
        return true;
    }
    if (startLookup ? source->FindHostName(address, out) : source->PeekHostName(address, out)) return true;
    if (now - firstSeen + kTickJitterMs >= kPendingHoldMs)
        out.assign(address);
    else
        out.assign("(").append(address).append(")");
    return false;
}

}  // namespace varnel
