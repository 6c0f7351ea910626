#include "autokill/AutoKillRuleSet.h"

namespace varnel {

// Slots from count_ on are always at their defaults, so only the used ones need resetting.
void AutoKillRuleSet::Clear() {
    for (int i = 0; i < count_; ++i) slots_[i] = AutoKillRule();
    count_ = 0;
}

bool AutoKillRuleSet::Add(const AutoKillRule& rule) {
    if (count_ >= kMaxRules) return false;
    slots_[count_++] = rule;
    return true;
}

}  // namespace varnel
