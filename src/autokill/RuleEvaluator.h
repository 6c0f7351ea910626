#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "settings/UiLanguage.h"
#include "autokill/AutoKillRuleSet.h"
#include "session/SessionRow.h"

namespace varnel {

// The nine column texts of one session-list row, as shown. Rules are tested against these texts,
// not against the connection itself. The views must stay valid for the call they are passed to.
struct RowTexts {
    std::string_view localAddress;   // "IP Address1", dotted decimal
    std::string_view localHost;      // "Hostname1": name, the address itself, or "(address)" while pending
    std::string_view localPort;      // "Port1", decimal
    std::string_view remoteAddress;  // "IP Address2"
    std::string_view remoteHost;     // "Hostname2"
    std::string_view remotePort;     // "Port2"
    std::string_view status;         // "Status": the state's display name
    std::string_view time;           // "Time": the age as displayed
    std::string_view process;        // "ProcessName(PID)"; empty when the table names no owner

    // From the nine texts in column order; null pointers read as empty texts.
    static RowTexts FromColumns(const char* const texts[9]);
    // The texts of a session-list row; they stay valid as long as the row.
    static RowTexts FromRow(const SessionRow& row);
};

// The outcome of testing one row.
struct Verdict {
    static constexpr int kLeave = 0;
    static constexpr int kKillAndLog = 1;
    static constexpr int kKillQuietly = 2;  // the matching rule says NOLOG

    int verdict = kLeave;
    // 1-based index of the rule that ended the search: the kill rule, or the ALLOW rule that
    // exempted the row. 0 when no rule ended it.
    int rule = 0;
    // A rule matched, but a host name it or an earlier rule tests is still being looked up: the
    // row is left for this pass (rule is then 0).
    bool held = false;

    bool operator==(const Verdict&) const = default;
};

// Tests rows against a rule set; first match wins, and an ALLOW match ends the search without a
// kill. A host name still being looked up (the host text is the address in parentheses) holds a
// row back only where the outcome could depend on it: when the matching rule or an earlier one
// tests the host of that side (HOST1/HOST1! for the local side, HOST2/HOST2! for the remote one).
// A rule on ports, addresses, state, age, process or hours cuts at once, so a peer whose reverse
// lookup never answers cannot keep its connection alive that way. STAT! and TIME! hold the
// negated meanings of STAT and TIME. Host patterns (and the "????" test of a host text against
// its address) compare without regard to ASCII case; addresses and process names byte for byte.
//
// The evaluator keeps its own compact copy of the rules (only the conditions that are set, in
// test order, with the pattern texts ready to compare), so the rule set may change or go away
// afterwards; call Rebuild after every rule load. Evaluate allocates nothing once a process text
// of the row's length has been seen.
// Threads: not thread-safe (Evaluate uses a scratch buffer); one evaluator per thread.
class RuleEvaluator {
  public:
    RuleEvaluator(const AutoKillRuleSet& rules, const UiLanguage& language);

    void Rebuild(const AutoKillRuleSet& rules, const UiLanguage& language);

    // With indexing on, each rule is filed under one plain condition every row it matches must
    // meet (a port range of up to 256 ports, else its longest address, host or process prefix or
    // suffix, else its longest containment needle), and Evaluate tests only the rules whose
    // condition the row meets, plus the rules with no such condition, in file order. Verdicts are
    // the same either way. It pays with hundreds of rules against many rows (the rule editor); the
    // kill pass, which filters connections with RuleIndex first, leaves it off. Indexed, Evaluate
    // allocates when it meets a text it has not searched for needles yet (it remembers up to
    // 4,096 texts per column).
    void SetIndexing(bool on);

    // `hour` is the local clock's hour, 0..23, read once by the caller for the whole pass.
    Verdict Evaluate(const RowTexts& row, int hour);

    int ruleCount() const { return static_cast<int>(rules_.size()); }
    // The host sides (1 local, 2 remote) the last Evaluate's verdict could depend on: those tested
    // by the rule that ended the search or by a rule before it, or by any rule when none ended it.
    // A host name on another side could not have changed the verdict.
    uint8_t lastHostSides() const { return lastHostSides_; }
    // Whether some rule reads the process text (PID, PID!) or the age (TIME, TIME!): a verdict
    // then depends on them.
    bool readsProcess() const { return needProcess_; }
    bool readsAge() const { return needAge_; }

  private:
    enum class Op : uint8_t {
        kPrefix,
        kContains,
        kSuffix,
        kSuffixOrUnnamed,
        kPortRange,
        kMinAge,
        kStatus,
        kHours
    };
    // Which prepared text a test reads; the process text is t9 with its spaces removed.
    enum Subject : uint8_t {
        kLocalAddress,
        kLocalHost,
        kRemoteAddress,
        kRemoteHost,
        kProcess,
        kLocalPort,
        kRemotePort,
        kSubjectCount
    };
    // One distinct test. Rules that test the same thing share it, so a pass over many similar
    // rules works each test out once per row.
    struct Check {
        Op op;
        Subject subject;
        uint32_t a;  // needle offset in the arena, low port, minimum age, state index, first hour
        uint32_t b;  // needle length, high port, last hour
    };
    struct CompiledRule {
        uint32_t firstStep;  // the rule's steps in steps_: check index * 2, plus 1 when negated
        uint32_t stepCount;
        bool allow;
        bool noLog;
        bool never;  // a negated condition that every row satisfies (STAT!=3): the rule never matches
        // Host sides (1 local, 2 remote) tested by this rule or any rule before it.
        uint8_t hostSidesSoFar;
    };
    // The per-row facts the tests read, worked out once per row.
    struct Row {
        std::string_view text[kSubjectCount];
        int64_t port[kSubjectCount];
        bool unnamed[kSubjectCount];  // host text equals the address text of its side
        int64_t age;
        bool statusHas[3];
        int hour;
    };

    void AddStep(Op op, Subject subject, bool negate, std::string_view needle, uint32_t a, uint32_t b);
    void AddPattern(const RulePattern& pattern, Subject subject, bool host, bool negate);
    void AddConditions(const RuleConditions& c, bool negate, CompiledRule& rule);
    bool Passes(const Check& check, const Row& row) const;
    void BuildIndex();
    // Rule indices (0-based, ascending) a row may match, into candidates_.
    void GatherCandidates(const Row& row);

    // Rules filed under a text: exact prefixes (or suffixes) by text, with the distinct lengths.
    struct TextHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    struct TextAnchors {
        bool suffix = false;
        std::unordered_map<std::string, std::vector<uint32_t>, TextHash, std::equal_to<>> rules;
        std::vector<size_t> lengths;
    };

    std::vector<CompiledRule> rules_;
    std::vector<uint32_t> steps_;
    std::vector<Check> checks_;
    std::unordered_map<std::string, uint32_t> checkIndex_;  // used while building
    std::vector<uint8_t> results_;  // per row: 0 not worked out yet, 1 fails, 2 passes
    std::string arena_;             // the needles of all pattern checks, back to back
    std::string stateNames_[3];
    bool needAge_ = false;
    bool needProcess_ = false;
    bool needStatus_ = false;
    bool needHost_[2] = {false, false};  // [0] local, [1] remote: some rule tests that host
    uint8_t lastHostSides_ = 0;
    UiLanguage language_;
    std::string processScratch_;
    std::string hostScratch_[2];  // the row's host texts, folded

    bool indexing_ = false;
    std::vector<uint32_t> everyRow_;  // rules with no anchor, ascending
    std::unordered_map<uint32_t, std::vector<uint32_t>> portRules_[2];  // [0] local, [1] remote port
    TextAnchors textRules_[kSubjectCount];
    struct Contained {
        std::string_view needle;  // in arena_
        uint32_t rule;
    };
    static constexpr size_t kContainMemoSize = 4096;
    std::vector<Contained> containRules_[kSubjectCount];
    // Per column text: the rules whose needle it contains, ascending.
    std::unordered_map<std::string, std::vector<uint32_t>, TextHash, std::equal_to<>> containMemo_[kSubjectCount];
    std::vector<uint32_t> anchored_;    // per row: the rules whose anchor it meets
    std::vector<uint32_t> candidates_;  // per row: those and everyRow_, ascending
};

}  // namespace varnel
