#pragma once

#include <vector>

#include "autokill/AutoKillRule.h"

namespace varnel {

// The parsed rule file: 1024 rule slots, of which the first count() hold rules, in file order.
// The slots are allocated once, when the set is made; Clear and Add never allocate for the slots
// themselves (pattern texts are owned by the rules).
// Threads: not thread-safe; the owner (the monitor page) loads and reads it on one thread.
class AutoKillRuleSet {
  public:
    static constexpr int kSlots = 1024;
    // At most this many rule-candidate lines are read from a file, so at most this many rules.
    static constexpr int kMaxRules = 1023;

    AutoKillRuleSet() : slots_(kSlots) {}

    int count() const { return count_; }
    bool empty() const { return count_ == 0; }
    // The rule at `index`, 0 <= index < count().
    const AutoKillRule& rule(int index) const { return slots_[index]; }

    // Puts every slot back to its defaults and the count to 0.
    void Clear();
    // Fills the next slot. Returns false (and changes nothing) when kMaxRules rules are held.
    bool Add(const AutoKillRule& rule);

  private:
    std::vector<AutoKillRule> slots_;
    int count_ = 0;
};

}  // namespace varnel
