#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "autokill/AutoKillRuleSet.h"
#include "autokill/RuleChecker.h"
#include "autokill/RuleEvaluator.h"
#include "session/SessionRow.h"
#include "settings/UiLanguage.h"

namespace varnel {

// What a rule text will do, for the rule editor: the lines `varnel --check-rules` prints for the
// text, and for each rule how many of a set of rows it would decide.
//
// Check parses with the same parser and checker as the command line (RuleChecker::Walk), so each
// line's text is exactly what --check-rules prints after "<line>: " (in Japanese, its findings
// put into Japanese by RuleFindingText). Count tests rows with the same
// evaluator as the kill pass, first match and ALLOW included: a row is counted once, against the
// rule that ends its search (a cut for a cutting rule, an exemption for an ALLOW rule); a row whose
// verdict waits for a host name is counted in held(), not against a rule.
//
// Check remembers what each candidate text parsed to, so that after an edit only the changed lines
// are parsed and checked again; Count files the rules under the evaluator's index, so a row is
// tested against the few rules it could match. Count allocates nothing once the evaluator has seen
// the rows' process texts. Not thread-safe; one explainer per editor.
class RuleExplainer {
  public:
    struct Line {
        int lineNumber = 0;  // physical line of the text, 1-based
        int rule = 0;        // 1-based rule number; 0 for an ignored or unread line
        bool allow = false;  // the rule exempts rather than cuts
        std::string text;    // canonical form with its warnings, as --check-rules prints it (RuleFindingText)
        bool warned = false; // the checker had warnings for the line (or it was left unread)
        bool error = false;  // the checker had errors for the line
        bool cutsEverything = false;  // a cutting rule that every session matches
        int matches = 0;     // shown rows this rule ended the search for in the last Count
        int matchesNotShown = 0;  // and rows not shown
    };

    explicit RuleExplainer(const UiLanguage& language);

    // Re-reads `text` as a rule file; the counts go back to 0.
    void Check(std::string_view text);
    // Counts `rows` against the rules of the last Check at the local clock's `hour` (0..23). The
    // first `shown` rows are the ones the list shows; the rest are connections auto kill tests
    // too (past the list's row limit, or of an IP version the list does not show), counted apart.
    void Count(const std::vector<SessionRow>& rows, int hour, size_t shown = SIZE_MAX);

    const std::vector<Line>& lines() const { return lines_; }
    int ruleCount() const { return rules_.count(); }
    int rowsCounted() const { return rowsCounted_; }  // shown rows counted
    int rowsNotShown() const { return rowsNotShown_; }
    int cut() const { return cut_; }      // shown rows some rule would cut
    int spared() const { return spared_; } // shown rows an ALLOW rule exempts
    int cutNotShown() const { return cutNotShown_; }
    int sparedNotShown() const { return sparedNotShown_; }
    int held() const { return held_; }    // rows waiting for a host name, shown or not
    int errorLines() const { return errorLines_; }        // lines of the last Check with errors
    int cutEverything() const { return cutEverything_; }  // its rules that cut every session

  private:
    // What one candidate text gave, independent of where it stands.
    struct Parsed {
        bool isRule = false;
        AutoKillRule rule;
        std::string text;
        bool warned = false;
        bool error = false;
        bool cutsEverything = false;
    };
    struct TextHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    Parsed& Lookup(std::string_view piece, int lineNumber);

    UiLanguage language_;
    std::unordered_map<std::string, Parsed, TextHash, std::equal_to<>> parsed_;
    AutoKillRuleSet rules_;
    RuleEvaluator evaluator_;
    std::vector<Line> lines_;
    std::vector<int> lineOfRule_;  // index in lines_ of rule i + 1
    int rowsCounted_ = 0;
    int rowsNotShown_ = 0;
    int cut_ = 0;
    int spared_ = 0;
    int cutNotShown_ = 0;
    int sparedNotShown_ = 0;
    int held_ = 0;
    int errorLines_ = 0;
    int cutEverything_ = 0;
};

}  // namespace varnel
