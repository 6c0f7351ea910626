#pragma once

#include <ostream>
#include <string>

namespace varnel {

// `varnel --check-rules [FILE]`: prints the rule file `path` as the rule parser reads it (see
// RuleChecker) to `out`. A missing or unreadable file is an empty rule set and prints "0 rules".
// Returns the process exit status: 0.
int RunCheckRules(const std::string& path, std::ostream& out);

}  // namespace varnel
