#include "autokill/AutoKillRuleSet.h"

namespace varnel {

void AutoKillRuleSet::Clear() {
    for (AutoKillRule& slot : slots_) slot = AutoKillRule();
    count_ = 0;
}

bool AutoKillRuleSet::Add(const AutoKillRule& rule) {
    if (count_ >= kMaxRules) return false;
    slots_[count_++] = rule;
    return true;
}

}  // namespace varnel
