#pragma once

#include <ostream>
#include <string>

namespace varnel {

// `varnel --check-rules [FILE]`: prints the rule file `path` as the rule parser reads it (see
// RuleChecker) to `out`. Returns the process exit status: 0 when the file was read and has no
// errors (warnings alone leave it 0: the rules do what they say, if perhaps not what was meant);
// 1 when some line has errors, or, after a "varnel: ..." line on `err`, when the file is missing,
// is no regular file (a folder, a FIFO, a device) or cannot be read. The program itself takes a missing file for an empty rule set, but whoever
// asks to check a file means one that is there.
int RunCheckRules(const std::string& path, std::ostream& out, std::ostream& err);

}  // namespace varnel
