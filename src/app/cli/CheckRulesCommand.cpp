#include "app/cli/CheckRulesCommand.h"

#include <sstream>

#include "autokill/RuleChecker.h"
#include "text/FixedText.h"

namespace varnel {

int RunCheckRules(const std::string& path, std::ostream& out, std::ostream& err) {
    std::ostringstream report;
    std::string error;
    RuleChecker::Summary summary;
    if (!RuleChecker::CheckFile(path, report, error, &summary)) {
        err << "varnel: " << PrintableLine(error) << '\n' << std::flush;
        return 1;
    }
    // The report quotes the file's own texts; one report line stays one terminal line.
    std::istringstream lines(report.str());
    for (std::string line; std::getline(lines, line);) out << PrintableLine(line) << '\n';
    out.flush();
    return summary.errorLines > 0 ? 1 : 0;
}

}  // namespace varnel
