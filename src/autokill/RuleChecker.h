#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "autokill/AutoKillRule.h"
#include "autokill/RuleFileParser.h"

namespace varnel {

// The report of `varnel --check-rules`: the rule file as the parser understands it.
//
// One output line per rule-candidate line (comments and blank lines print nothing, nor do
// candidates past the 1,023 limit): "<physical line>: " then the rule in canonical form or
// "ignored: no keyword", then "  # " and the findings joined by "; " when there are any: first the
// errors, each starting "error: ", then the warnings. When the limit leaves candidates unread, the
// first of them gets "<physical line>: reading stopped: ...". The last line is "<N> rules, <E>
// lines with errors, <W> lines with warnings" ("1 line" for one; a line with both counts in both,
// the reading-stopped line as a warning). The canonical
// form is itself rule text that parses back to the same rule. Texts of the file are printed as
// they are: a terminal needs them through PrintableLine. All functions are stateless; any thread.
//
// Errors are values the parser reads as something other than what was written: a number field
// whose value is no number or has more after its digits (PORT2=http, TIME=5m, STAT=established,
// ALLOW=yes), a port outside 0-65535 or an hour outside 0-23. Warnings are rules that probably do
// not do what was meant: one that matches every session, a pattern that also matches more (or
// never matches), a key given twice, a conversion that changed a value, an ignored key.
class RuleChecker {
  public:
    // The counts of the report's last line.
    struct Summary {
        int rules = 0;
        int errorLines = 0;
        int warningLines = 0;
    };
    // What one rule candidate is told.
    struct Findings {
        std::vector<std::string> errors;
        std::vector<std::string> warnings;
    };

    static Summary Check(std::string_view text, std::ostream& out);
    static Summary Check(std::istream& in, std::ostream& out);
    // Reads only a regular file (see RuleFile). False, with the reason in `error`, when the file
    // is missing, is no regular file, cannot be opened or fails while being read; then nothing is
    // printed. `summary`, when not null, receives the counts of a report that was printed.
    static bool CheckFile(const std::string& path, std::ostream& out, std::string& error,
                          Summary* summary = nullptr);

    // The rule's set fields as KEY=VALUE joined by ",", in keyword order: flags as 1, ranges as
    // low-high, numbers in decimal, patterns as stored. A field whose value holds a comma, a double
    // quote or a space is wrapped whole in double quotes with its inner quotes doubled; a pattern
    // holding its own keyword's text gets an '=' inside each occurrence (the parser drops '=' from
    // values after removing the keyword text, so the pattern reads back unchanged). A rule with no
    // field away from its default lists the keywords its line named, at their values.
    static std::string CanonicalForm(const AutoKillRule& rule);

    // The errors and warnings for one parsed rule candidate (`isRule` as ParseCandidate returned
    // it): for a rule, its value errors and conversions, patterns that probably match more than
    // meant or never match, keys given twice, ignored keys, a rule that matches every session; for
    // a candidate that is no rule, its ignored keys.
    static Findings CandidateFindings(bool isRule, const AutoKillRule& rule, const RuleNotes& notes);

    // True when no session can fail the rule: no condition, or only conditions that every session
    // meets (PORT2=0 is every port, STAT=3 every state, SYSTIME=0-23 every hour, a pattern of
    // nothing but '/' is contained in every text). Flags are no conditions.
    static bool MatchesEverySession(const AutoKillRule& rule);

    // One line of the report, before it is printed.
    struct CheckedLine {
        enum class Kind { kRule, kIgnored, kStopped };
        Kind kind = Kind::kRule;
        int lineNumber = 0;
        const AutoKillRule* rule = nullptr;  // the parsed rule for kRule; valid during the call only
        std::vector<std::string> errors;
        std::vector<std::string> warnings;
        // What the report prints after "<lineNumber>: ".
        std::string Text() const;
    };
    // Parses and checks one rule-candidate piece into `line` (kRule or kIgnored; line.rule points
    // at `rule`, which receives the parsed rule with `lineNumber` set).
    static void CheckCandidate(std::string_view piece, int lineNumber, AutoKillRule& rule, RuleNotes& notes,
                               CheckedLine& line);
    // The kStopped line for a reader that ForEachCandidate left at the candidate limit; false when
    // no candidate is left unread.
    static bool StoppedLine(RuleLineReader& reader, CheckedLine& line);
    // Calls visit(const CheckedLine&) for each line the report prints, in order, and returns the
    // counts. The rule of a kRule line has its lineNumber set.
    static Summary Walk(RuleLineReader& reader, const std::function<void(const CheckedLine&)>& visit);
    // The report's last line for `summary`, without the line break.
    static std::string SummaryText(const Summary& summary);

  private:
    static Summary Report(RuleLineReader& reader, std::ostream& out);
};

}  // namespace varnel
