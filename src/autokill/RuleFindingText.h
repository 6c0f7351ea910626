#pragma once

#include <string>
#include <string_view>

#include "settings/UiLanguage.h"

namespace varnel {

// A line of the rule report (RuleChecker's "<rule>  # <findings>", "ignored: no keyword",
// "reading stopped: ...") in the language in force. The report itself is English (it is what
// `varnel --check-rules` prints and what scripts read); the rule editor shows it in Japanese under
// --lang JP: the fixed words of the errors and warnings are put into Japanese, the rule, the keys
// and the values stay as written. Stateless; any thread.
class RuleFindingText {
  public:
    static std::string ForLanguage(std::string_view line, const UiLanguage& lang);
};

}  // namespace varnel
