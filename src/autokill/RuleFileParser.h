#pragma once

#include <array>
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

#include "autokill/AutoKillRule.h"
#include "autokill/AutoKillRuleSet.h"
#include "autokill/RuleLineReader.h"

namespace varnel {

// What parsing one field of a keyword noticed, for the rule checker. Filled only on request.
struct RuleFieldNote {
    bool given = false;
    int times = 0;                      // fields of the line that named the keyword
    std::string value;                  // the value text after cleaning and key removal
    std::vector<std::string> warnings;  // conversions that probably do not do what the writer meant
    // A number field whose value is no number (or has more after its digits), a port or hour
    // outside its range: the value was mistyped, and what it reads as is not what was meant.
    std::vector<std::string> errors;
};

// What parsing one rule-candidate line noticed. A keyword given twice keeps the later field's note
// (and counts the fields in `times`), as the rule keeps the later field's value.
struct RuleNotes {
    std::array<RuleFieldNote, kRuleKeywordCount> fields;
    std::vector<std::string> ignoredKeys;  // "host2 ignored: keywords are upper case", ...

    const RuleFieldNote& field(RuleKeyword k) const { return fields[static_cast<int>(k)]; }
};

// A number as the rule language reads it: optional sign, then decimal digits up to the first other
// byte; 0 without digits. `value` is the number modulo 2^32, so a field keeps its low 16 or 32 bits.
struct RuleNumber {
    uint32_t value = 0;
    bool hasDigits = false;
    bool wholeText = false;  // the text was that number and nothing else
    bool fits16 = false;     // the number as written lies in 0..65535
    bool fits32 = false;     // the number as written lies in 0..4294967295
};

// What loading a rule file found, for telling the user. The rule set itself is the same whatever
// this says; a file that is missing or was not read to its end gives an empty set.
struct RuleLoadReport {
    bool read = false;     // the text was read (to its end or to the candidate limit)
    bool missing = false;  // there is no file at the path: no rules, which is normal
    std::string error;     // why a file that exists was not read; empty when read or missing
    int candidates = 0;    // rule-candidate lines read
    int rules = 0;         // rules in the set
    int errorLines = 0;    // candidates for which RuleChecker has errors (varnel --check-rules)
    int suspectLines = 0;  // candidates without errors for which it has warnings
    int capLine = 0;       // physical line of the first candidate left unread at the limit; 0: none
};

// The rule file parser. It never fails: what it does not understand it passes over (fields
// without '=', keys that are no keyword, numbers that do not read, lines without a keyword).
// All functions are stateless and may be called from any thread.
class RuleFileParser {
  public:
    // Rule-candidate lines read from one file; the rest of the file is ignored.
    static constexpr int kMaxCandidates = AutoKillRuleSet::kMaxRules;

    // Rebuild `out` from a rule-file text / stream / file. They return the number of rule-candidate
    // lines read and fill `report` when it is not null (finding the suspect lines and the limit's
    // line costs a second look at every candidate and a read past the limit).
    // LoadFile reads only a regular file (see RuleFile). A file that is missing, is no regular file,
    // cannot be opened or fails in the middle of reading gives an empty set and 0: a half-read file
    // could miss the ALLOW rules that exempt sessions from the rules before them.
    static int Parse(std::string_view text, AutoKillRuleSet& out, RuleLoadReport* report = nullptr);
    static int Parse(std::istream& in, AutoKillRuleSet& out, RuleLoadReport* report = nullptr);
    static int LoadFile(const std::string& path, AutoKillRuleSet& out, RuleLoadReport* report = nullptr);

    // Calls visit(const RuleLinePiece&) for each rule candidate, in order, up to kMaxCandidates,
    // and returns how many there were. Skipped pieces (comments, blank lines) are not visited.
    template <typename Visit>
    static int ForEachCandidate(RuleLineReader& reader, Visit&& visit) {
        int candidates = 0;
        RuleLinePiece piece;
        while (candidates < kMaxCandidates && reader.Next(piece)) {
            if (piece.skipped) continue;
            ++candidates;
            visit(static_cast<const RuleLinePiece&>(piece));
        }
        return candidates;
    }

    // For a reader that ForEachCandidate left at kMaxCandidates: reads on to the next rule
    // candidate and returns its physical line number, or 0 when the rest of the text holds none.
    static int FirstUnreadCandidateLine(RuleLineReader& reader);

    // Parses one rule-candidate piece into `rule` (reset to the defaults first). Returns true when
    // at least one field named a keyword, i.e. when the candidate is a rule. `notes` may be null.
    static bool ParseCandidate(std::string_view piece, AutoKillRule& rule, RuleNotes* notes = nullptr);

    // Splits a piece into fields at commas and line feeds outside double quotes, then undoes the
    // quoting of each field that holds a quote. `fields` is cleared first.
    static void SplitFields(std::string_view piece, std::vector<std::string>& fields);

    static RuleNumber ReadNumber(std::string_view text);

    // The value conversions of the port and hour fields. `key` names the field in the findings,
    // which are appended to `warnings` and `errors` when they are not null. Errors: a part that is
    // no number or has more after its digits, a number outside 0-65535 (ports) or 0-23 (hours).
    static PortRange ReadPortRange(std::string_view value, std::string_view key,
                                   std::vector<std::string>* warnings = nullptr,
                                   std::vector<std::string>* errors = nullptr);
    static HourWindow ReadHourWindow(std::string_view value, std::string_view key,
                                     std::vector<std::string>* warnings = nullptr,
                                     std::vector<std::string>* errors = nullptr);

  private:
    static int Fill(RuleLineReader& reader, AutoKillRuleSet& out, RuleLoadReport* report);
};

}  // namespace varnel
