#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "settings/SettingsFile.h"
#include "settings/UiLanguage.h"
#include "autokill/AutoKillRuleSet.h"
#include "autokill/BlockLog.h"
#include "autokill/MonitorEvent.h"
#include "autokill/RefusalSummary.h"
#include "autokill/RuleEvaluator.h"
#include "autokill/RuleFileParser.h"
#include "autokill/RuleIndex.h"
#include "platform/Clock.h"
#include "platform/ConnectionReset.h"
#include "session/SessionMonitor.h"

namespace varnel {

// Auto kill as the monitor page holds it: the rule set, the block log, the BLOCKED counter and the
// kill pass that runs in every tick while "Auto Kill Session" is on.
//
// The kill pass tests every connection the poll kept against the rules: first the rows the list
// shows, in display order, then every connection the list has no room for or does not show (the
// half-closed ones, and the IPv6 ones while ShowIPv6 is off), with the texts it would show for
// them, a half-closed one judged as established (so neither the 599-row limit nor the list's
// choice of states and IP version ever limits enforcement). A RuleIndex passes
// over the connections no rule could cut before their texts are built. The rules read the whole
// host names (RuleHostText), and a name still being looked up holds a cut back for at most
// kPendingHoldMs after the connection was first seen. Names are looked up only where they are
// needed: for the shown rows (the list asks for them anyway), and for a connection the list does
// not show only on a side whose host a rule read in deciding its verdict; otherwise the rules and
// the block log take what the host-name source already knows. A matching connection is reset
// through ConnectionReset, aimed by its four-tuple (the row's key), never by reading its texts
// back. Only a reset that worked is a block:
// it raises BLOCKED and, unless the rule says NOLOG, writes a block-log line. A reset that failed
// is retried at later ticks while a rule still matches, but reported (in the log pane and to the
// failure listener) only once per connection, with the reason; refusals of the right to cut
// (kRefused) are alike for every connection and are summed up in one line a minute instead.
//
// Dependencies are borrowed and must outlive this object. Tick's thread only.
class AutoKill : public TickHook {
  public:
    AutoKill(const SettingsFile& settings, std::string ruleFilePath, std::string logFolder,
             ConnectionReset& reset, Clock& clock, UiLanguage lang);

    // Rebuilds the rule set from the rule file (missing file: no rules). Also sets BLOCKED to 0,
    // refreshes the block-log settings and reads the block-log switch ("BlockedLog").
    // Returns the number of rules. What the load found is kept in loadReport().
    int LoadRules();
    // What the last LoadRules found in the rule file.
    const RuleLoadReport& loadReport() const { return loadReport_; }
    // The last load's news for the user, one printable line each, in the language in force: a rule
    // file that exists but was not read (with the reason), where the rule-line limit stopped
    // reading, how many rule lines `varnel --check-rules` has errors for and how many others it
    // has warnings for ("2 rule lines have errors, 1 rule line looks suspect"), and a block-log file
    // name that is refused. Empty when there is nothing to tell (a missing rule file is normal).
    std::vector<std::string> LoadMessages() const;

    // The "Auto Kill Session" switch. Toggling it sets BLOCKED to 0 and refreshes the log settings.
    void SetEnabled(bool on);
    bool enabled() const { return enabled_; }

    // The kill pass (does nothing while switched off).
    void AfterRefresh(SessionMonitor& monitor) override;

    // Between two ticks (InstantCut): judges one connection the kernel just reported, `row` built
    // as the kill pass builds the row of a connection the list does not show, at tick `now`.
    // The same rules, evaluator, texts, reset, BLOCKED count and block-log line as the pass, with
    // host names only as already known (no lookup is started: a name not known yet holds a rule on
    // that host back, and the connection waits for the tick). A cut is counted and logged here;
    // the next pass, should it still find that connection, resets it again if a rule matches but
    // neither counts nor logs it (one connection, one block). A reset that fails is left to the
    // pass, which retries and reports it as ever. kHeld: no cut now, and the verdict read a host
    // name not known yet (the tick, which looks it up, decides).
    enum class EventVerdict { kLeft, kHeld, kCut, kNotCut };
    EventVerdict ConsiderEvent(const SessionRow& row, uint32_t firstSeen, uint32_t now, HostNameSource* names,
                               bool processInfoAvailable);
    // Whether the kill pass would cut anything now (switched on, some rule can cut).
    bool CanCut() const { return enabled_ && !index_.empty(); }
    // Whether a verdict may depend on the process text or the age (see RuleEvaluator).
    bool RulesReadProcess() const { return evaluator_.readsProcess(); }
    bool RulesReadAge() const { return evaluator_.readsAge(); }

    // Resets the connection a row shows, by the row's key ("Kill Session" on selected rows; the
    // texts are not read). Not a block: nothing is counted or logged; the caller reports a failure.
    ResetResult KillRow(const SessionRow& row);
    // The reset request for a connection: its four-tuple and family as the key holds them.
    static TcpRow ResetRequestFor(const ConnectionKey& key);
    // The rows the kill pass judges at this moment, for counting what the rules would do: the
    // rows the list shows (`shown` of them, in display order), then every other connection of the
    // poll, with the host texts the rules read (a name pending past its hold is the address; a
    // name is cut to the row's cell). Looks up names only for the shown rows. Allocates; not for
    // the tick.
    static void JudgedRows(SessionMonitor& monitor, std::vector<SessionRow>& out, size_t& shown);
    // "address:port address:port" of a row for a failure report, an IPv6 address in brackets
    // ("[::1]:7000") so that its port stays apart.
    static std::string TupleText(const SessionRow& row);

    uint32_t blockedCount() const { return blockedCount_; }
    std::string BlockedText() const;  // " BLOCKED : %5d"
    const AutoKillRuleSet& rules() const { return rules_; }
    BlockLog& blockLog() { return log_; }
    const BlockLog& blockLog() const { return log_; }
    const std::string& ruleFilePath() const { return ruleFilePath_; }

    // Told of every failed reset the first time it fails for its connection.
    void SetFailureListener(std::function<void(const std::string&)> listener) {
        onFailure_ = std::move(listener);
    }

    // Told of every cut (also a NOLOG one, with no message) and of every connection whose reset
    // failed, once, as it is counted for the failure listener (with no message when it was only
    // summed up), and of each summary line, which has no reason. The fields are the texts the rules
    // read. Set only by those who want the parts of the line: a cut then allocates.
    void SetEventListener(std::function<void(const MonitorEvent&)> listener) { onEvent_ = std::move(listener); }

  private:
    void ReportFailure(const SessionRow& row, const RowTexts& texts, int ruleLine, const ResetResult& result);
    void TellEvent(MonitorEvent::Kind kind, const RowTexts& texts, int ruleLine, std::string_view message,
                   const char* reason) const;
    // A connection already reported as failing stays so through a pass it could not be tried in.
    void KeepFailing(const SessionRow& row);
    // Evaluates one row, with the host texts of RuleHostText, and cuts, counts, logs or reports
    // as its verdict says. `firstSeen` is the row's connection's, `now` the pass's tick; `shown`
    // whether the list shows the row (else a name is looked up only where the verdict needs it).
    void Consider(const SessionRow& row, uint32_t firstSeen, uint32_t now, HostNameSource* names, int hour,
                  bool processInfoAvailable, bool shown);
    // The texts the rules read for `row` (whole host names, by RuleHostText) into `texts`, and
    // their verdict. `lookUp`: a name not known yet is looked up (a shown row); else it is only
    // looked up on a side the verdict read, when `startLookups`.
    // `unknownSides` receives the host sides (1 local, 2 remote) whose name is not known yet.
    Verdict Judge(const SessionRow& row, uint32_t firstSeen, uint32_t now, HostNameSource* names, int hour, bool lookUp,
                  bool startLookups, RowTexts& texts, uint8_t& unknownSides);
    // A successful cut: the block-log line (unless NOLOG) and BLOCKED.
    void CountBlock(const Verdict& v, const RowTexts& texts, bool processInfoAvailable);

    const SettingsFile& settings_;
    std::string ruleFilePath_;
    ConnectionReset& reset_;
    Clock& clock_;
    UiLanguage lang_;
    AutoKillRuleSet rules_;
    RuleLoadReport loadReport_;
    RuleEvaluator evaluator_;
    RuleIndex index_;
    // Texts of a connection the list does not show, built only when the index lets it through.
    SessionRecord scratchRecord_{};
    SessionRow scratchRow_{};
    std::string localHost_;  // the host texts the rules read for the row being considered
    std::string remoteHost_;
    std::string nameScratch_;  // a name that arrived while a lookup was being started: unused
    BlockLog log_;
    bool enabled_ = false;
    uint32_t blockedCount_ = 0;
    // Connections whose reset failed, by four-tuple, with the last pass it failed in; a connection
    // is reported when it first fails and forgotten in the first pass it does not fail (gone, or no
    // rule matches it now), so one that comes back is reported again. Updating a known connection
    // allocates nothing.
    std::unordered_map<ConnectionKey, uint32_t, ConnectionKeyHash> failing_;
    uint32_t pass_ = 0;
    // Connections ConsiderEvent cut since the last pass began: counted and logged already.
    std::unordered_set<ConnectionKey, ConnectionKeyHash> eventCuts_;
    // A pass reports at most kReportsPerPass connections one by one; the rest are summed up in one
    // line, so thousands of connections failing alike (no right to reset) cannot flood the log.
    static constexpr int kReportsPerPass = 20;
    int reportedThisPass_ = 0;
    int unreportedThisPass_ = 0;
    ResetResult lastUnreported_;
    // Refusals of the right to cut are summed up (RefusalSummary), not told per connection.
    RefusalSummary refusals_;
    std::function<void(const std::string&)> onFailure_;
    std::function<void(const MonitorEvent&)> onEvent_;
};

}  // namespace varnel
