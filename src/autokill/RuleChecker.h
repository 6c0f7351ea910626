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
// "ignored: no keyword", then "  # " and the warnings joined by "; " when there are any. When the
// limit leaves candidates unread, the first of them gets "<physical line>: reading stopped: ...".
// The last line is "<N> rules". The canonical form is itself rule text that parses back to the
// same rule. Texts of the file are printed as they are: a terminal needs them through
// PrintableLine. All functions are stateless; any thread.
class RuleChecker {
  public:
    static void Check(std::string_view text, std::ostream& out);
    static void Check(std::istream& in, std::ostream& out);
    // Reads only a regular file (see RuleFile). False, with the reason in `error`, when the file
    // is missing, is no regular file, cannot be opened or fails while being read; then nothing is
    // printed.
    static bool CheckFile(const std::string& path, std::ostream& out, std::string& error);

    // The rule's set fields as KEY=VALUE joined by ",", in keyword order: flags as 1, ranges as
    // low-high, numbers in decimal, patterns as stored. A field whose value holds a comma, a double
    // quote or a space is wrapped whole in double quotes with its inner quotes doubled; a pattern
    // holding its own keyword's text gets an '=' inside each occurrence (the parser drops '=' from
    // values after removing the keyword text, so the pattern reads back unchanged). A rule with no
    // field away from its default lists the keywords its line named, at their values.
    static std::string CanonicalForm(const AutoKillRule& rule);

    // Warnings for one parsed rule: value conversions that changed what was written, patterns that
    // probably match more than meant, ignored keys, a rule without conditions.
    static std::vector<std::string> Warnings(const AutoKillRule& rule, const RuleNotes& notes);
    // The warnings printed for one rule candidate: Warnings for a rule (`isRule`, as ParseCandidate
    // returned it), the ignored keys for a candidate that is no rule.
    static std::vector<std::string> CandidateWarnings(bool isRule, const AutoKillRule& rule,
                                                      const RuleNotes& notes);

    // One line of the report, before it is printed.
    struct CheckedLine {
        enum class Kind { kRule, kIgnored, kStopped };
        Kind kind = Kind::kRule;
        int lineNumber = 0;
        const AutoKillRule* rule = nullptr;  // the parsed rule for kRule; valid during the call only
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
    // number of rules. The rule of a kRule line has its lineNumber set.
    static int Walk(RuleLineReader& reader, const std::function<void(const CheckedLine&)>& visit);

  private:
    static void Report(RuleLineReader& reader, std::ostream& out);
};

}  // namespace varnel
