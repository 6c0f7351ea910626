#include "app/cli/CheckRulesCommand.h"

#include "autokill/RuleChecker.h"

namespace varnel {

int RunCheckRules(const std::string& path, std::ostream& out) {
    RuleChecker::CheckFile(path, out);
    out.flush();
    return 0;
}

}  // namespace varnel
