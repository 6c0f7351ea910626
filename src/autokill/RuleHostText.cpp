#include "autokill/RuleHostText.h"

namespace varnel {

void RuleHostText(HostNameSource* source, std::string_view address, uint32_t firstSeen, uint32_t now,
                  std::string& out) {
    if (source != nullptr && source->FindHostName(address, out)) return;
    if (source == nullptr || now - firstSeen + kTickJitterMs >= kPendingHoldMs) {
        out.assign(address);
        return;
    }
    out.assign("(").append(address).append(")");
}

}  // namespace varnel
