#include "autokill/AutoKill.h"

#include <arpa/inet.h>

#include <cstdio>

#include "autokill/RuleFileParser.h"
#include "autokill/RuleHostText.h"
#include "session/AddressText.h"
#include "session/ProcessText.h"
#include "text/FixedText.h"

namespace varnel {

namespace {

// "address:port"; an IPv6 address in brackets ("[::1]:7000"), so that its port stays apart.
std::string EndpointText(std::string_view address, std::string_view port) {
    return AddressText::IsIp6Text(std::string(address).c_str())
               ? "[" + std::string(address) + "]:" + std::string(port)
               : std::string(address) + ":" + std::string(port);
}

const char* ReasonCode(ResetStatus status) {
    switch (status) {
        case ResetStatus::kPermissionDenied: return "permission-denied";
        case ResetStatus::kNotSupported: return "not-supported";
        case ResetStatus::kRefused: return "refused";
        default: return "failed";
    }
}

}  // namespace

std::string AutoKill::TupleText(const SessionRow& row) {
    return EndpointText(row[kColLocalAddress], row[kColLocalPort]) + " " +
           EndpointText(row[kColRemoteAddress], row[kColRemotePort]);
}

AutoKill::AutoKill(const SettingsFile& settings, std::string ruleFilePath, std::string logFolder,
                   ConnectionReset& reset, Clock& clock, UiLanguage lang)
    : settings_(settings),
      ruleFilePath_(std::move(ruleFilePath)),
      reset_(reset),
      clock_(clock),
      lang_(std::move(lang)),
      evaluator_(rules_, lang_),
      log_(settings, std::move(logFolder), clock, lang_) {}

int AutoKill::LoadRules() {
    log_.SetEnabled(false);
    blockedCount_ = 0;
    rules_.Clear();
    log_.RefreshSettings();
    log_.SetEnabled(settings_.Read(SettingsKeys::kBlockedLog));
    RuleFileParser::LoadFile(ruleFilePath_, rules_, &loadReport_);
    evaluator_.Rebuild(rules_, lang_);
    index_.Rebuild(rules_, lang_);
    return rules_.count();
}

std::vector<std::string> AutoKill::LoadMessages() const {
    const RuleLoadReport& r = loadReport_;
    const bool jp = lang_.IsJapanese();
    std::vector<std::string> lines;
    if (!r.error.empty()) {
        lines.push_back(std::string(jp ? "ルールファイルを読めません (ルールなし): "
                                       : "rule file not read, no rules in force: ") +
                        r.error);
    }
    if (r.capLine > 0) {
        const std::string line = std::to_string(r.capLine);
        const std::string max = std::to_string(RuleFileParser::kMaxCandidates);
        lines.push_back(jp ? "ルールファイル " + line + " 行目で読み込みを止めました: 読むのは " + max +
                                 " 行までで、この行から後は無視されます"
                           : "rule file line " + line + ": reading stopped: at most " + max +
                                 " rule lines are read; this line and the rest are ignored");
    }
    if (r.errorLines > 0 || r.suspectLines > 0) {
        const std::string errors = std::to_string(r.errorLines);
        const std::string suspect = std::to_string(r.suspectLines);
        std::string line;
        if (jp) {
            if (r.errorLines > 0) line = "エラーのあるルール行が " + errors + " 行";
            if (r.errorLines > 0 && r.suspectLines > 0) line += "、";
            if (r.suspectLines > 0) line += "疑わしいルール行が " + suspect + " 行";
            line += "あります。varnel --check-rules で確かめてください";
        } else {
            if (r.errorLines > 0)
                line = errors + (r.errorLines == 1 ? " rule line has errors" : " rule lines have errors");
            if (r.errorLines > 0 && r.suspectLines > 0) line += ", ";
            if (r.suspectLines > 0)
                line += suspect + (r.suspectLines == 1 ? " rule line looks suspect" : " rule lines look suspect");
            line += "; run varnel --check-rules";
        }
        lines.push_back(line);
    }
    if (log_.enabled() && !log_.nameError().empty()) {
        lines.push_back(std::string(jp ? "切断ログに書き込めません: " : "block log not written: ") +
                        log_.nameError());
    }
    for (std::string& line : lines) line = PrintableLine(line);
    return lines;
}

void AutoKill::SetEnabled(bool on) {
    enabled_ = on;
    blockedCount_ = 0;
    log_.RefreshSettings();
}

TcpRow AutoKill::ResetRequestFor(const ConnectionKey& key) {
    TcpRow r{};
    r.state = kTcpDeleteTcb;
    r.localAddr = key.localAddr;
    r.remoteAddr = key.remoteAddr;
    r.localPort = htons(key.localPort);
    r.remotePort = htons(key.remotePort);
    r.v6 = key.v6;
    r.localAddr6 = key.local6;
    r.remoteAddr6 = key.remote6;
    return r;
}

void AutoKill::JudgedRows(SessionMonitor& monitor, std::vector<SessionRow>& out, size_t& shown) {
    HostNameSource* names = monitor.snapshot().hostNameSource();
    const uint32_t now = monitor.clock().TickMs();
    std::string host;
    // The texts do not depend on whether a lookup is started, so the names of connections nobody
    // sees are not looked up for a count.
    auto judge = [&](SessionRow& row, uint32_t firstSeen, bool shown) {
        for (auto [address, hostColumn] : {std::pair{kColLocalAddress, kColLocalHost},
                                           std::pair{kColRemoteAddress, kColRemoteHost}}) {
            RuleHostText(names, row[address], firstSeen, now, host, shown);
            CopyFixedText(row.text[hostColumn], SessionRow::kTextSize, host);
        }
    };
    for (int i = 0; i < monitor.listCount(); ++i) {
        out.push_back(monitor.Row(i));
        judge(out.back(), monitor.Record(i).firstSeen, true);
    }
    shown = out.size();
    const std::vector<KeptConnection>& kept = monitor.kept();
    SessionRecord scratch;
    for (size_t k = static_cast<size_t>(monitor.rowCount()); k < kept.size(); ++k) {
        out.emplace_back();
        monitor.BuildKeptRow(kept[k], now, scratch, out.back(), SessionMonitor::KeptState::kJudged,
                             ConnectionSnapshot::HostNames::kNone);
        judge(out.back(), kept[k].firstSeen, false);
    }
}

ResetResult AutoKill::KillRow(const SessionRow& row) {
    return reset_.SetTcpEntry(ResetRequestFor(row.key));
}

void AutoKill::AfterRefresh(SessionMonitor& monitor) {
    ++pass_;
    reportedThisPass_ = unreportedThisPass_ = 0;
    const std::vector<KeptConnection>& kept = monitor.kept();
    // Not bound to the shown rows: a poll of only IPv6 connections shows none while ShowIPv6 is off.
    if (enabled_ && !kept.empty() && !index_.empty()) {
        const int hour = clock_.LocalTime().tm_hour;
        const bool withProcess = monitor.ProcessInfoAvailable();
        const uint32_t now = monitor.clock().TickMs();
        HostNameSource* names = monitor.snapshot().hostNameSource();
        index_.BeginPass(now, hour);
        // The shown rows first, in display order.
        for (int i = 0; i < monitor.listCount(); ++i) {
            if (!index_.CouldCut(monitor.Connection(i), monitor.snapshot())) continue;
            Consider(monitor.Row(i), monitor.Record(i).firstSeen, now, names, hour, withProcess, true);
        }
        // Then every connection the list has no room for or does not show (half-closed, and IPv6
        // while ShowIPv6 is off), with the texts the rules judge it by.
        for (size_t k = static_cast<size_t>(monitor.rowCount()); k < kept.size(); ++k) {
            if (!index_.CouldCut(kept[k], monitor.snapshot())) continue;
            // Consider works out the host texts the rules read; the list's are not built.
            monitor.BuildKeptRow(kept[k], now, scratchRecord_, scratchRow_, SessionMonitor::KeptState::kJudged,
                                 ConnectionSnapshot::HostNames::kNone);
            Consider(scratchRow_, kept[k].firstSeen, now, names, hour, withProcess, false);
        }
    }
    if (const std::string summary = refusals_.TakeLine(clock_.TickMs(), lang_); !summary.empty()) {
        log_.AddPaneLine(summary);
        if (onFailure_) onFailure_(summary);
        if (onEvent_) TellEvent(MonitorEvent::Kind::kNotBlocked, RowTexts{}, 0, summary, nullptr);
    }
    if (unreportedThisPass_ > 0) {
        char count[16];
        std::snprintf(count, sizeof count, "%d", unreportedThisPass_);
        const std::string line =
            lang_.IsJapanese()
                ? std::string("切断できません: ほかに ") + count + " 件の接続: " +
                      RefusalSummary::ReasonText(lastUnreported_, lang_)
                : std::string("NOT BLOCKED: ") + count + " more connections: " + lastUnreported_.Describe();
        log_.AddPaneLine(line);
        if (onFailure_) onFailure_(line);
        if (onEvent_) TellEvent(MonitorEvent::Kind::kNotBlocked, RowTexts{}, 0, line, nullptr);
    }
    eventCuts_.clear();
    // Forget connections that no longer fail (gone, or no rule matches them now).
    for (auto it = failing_.begin(); it != failing_.end();)
        it = it->second == pass_ ? std::next(it) : failing_.erase(it);
}

Verdict AutoKill::Judge(const SessionRow& row, uint32_t firstSeen, uint32_t now, HostNameSource* names, int hour,
                        bool lookUp, bool startLookups, RowTexts& texts, uint8_t& unknownSides) {
    // The rules and the block log read whole host names, not the list's cut cells. For a connection
    // nobody sees they are what the source already knows; a name still unknown is looked up only
    // on a side a rule read in deciding (the text of an unknown name does not depend on whether a
    // lookup was started, so neither does the verdict).
    texts = RowTexts::FromRow(row);
    const bool localKnown = RuleHostText(names, texts.localAddress, firstSeen, now, localHost_, lookUp);
    const bool remoteKnown = RuleHostText(names, texts.remoteAddress, firstSeen, now, remoteHost_, lookUp);
    texts.localHost = localHost_;
    texts.remoteHost = remoteHost_;
    unknownSides = static_cast<uint8_t>((localKnown ? 0 : 1) | (remoteKnown ? 0 : 2));
    const Verdict v = evaluator_.Evaluate(texts, hour);
    if (!lookUp && startLookups) {
        const uint8_t sides = evaluator_.lastHostSides();
        if ((sides & 1) != 0 && !localKnown) names->FindHostName(texts.localAddress, nameScratch_);
        if ((sides & 2) != 0 && !remoteKnown) names->FindHostName(texts.remoteAddress, nameScratch_);
    }
    return v;
}

void AutoKill::CountBlock(const Verdict& v, const RowTexts& texts, bool processInfoAvailable) {
    // $RULE$ is the rule's line in the rule file, the number --check-rules shows.
    const int ruleLine = rules_.rule(v.rule - 1).lineNumber;
    std::string line;
    if (v.verdict == Verdict::kKillAndLog) line = log_.Write(texts, processInfoAvailable, ruleLine);
    ++blockedCount_;
    if (onEvent_) TellEvent(MonitorEvent::Kind::kBlocked, texts, ruleLine, line, nullptr);
}

void AutoKill::Consider(const SessionRow& row, uint32_t firstSeen, uint32_t now, HostNameSource* names, int hour,
                        bool processInfoAvailable, bool shown) {
    RowTexts texts;
    uint8_t unknownSides = 0;
    const Verdict v = Judge(row, firstSeen, now, names, hour, shown, true, texts, unknownSides);
    if (v.verdict < Verdict::kKillAndLog) return;
    const ResetResult result = KillRow(row);
    if (!result.ok()) {
        // A connection that ended since the poll is neither a block nor a failure. One whose reset
        // waits for the right to reset (a password prompt) is tried again next pass; what it was
        // already reported for stays reported, and a first report waits for the outcome.
        if (result.status == ResetStatus::kPending)
            KeepFailing(row);
        else if (result.status != ResetStatus::kNoSuchConnection)
            ReportFailure(row, texts, rules_.rule(v.rule - 1).lineNumber, result);
        return;
    }
    // Cut and counted between the ticks already: one connection, one block.
    if (eventCuts_.count(row.key) != 0) return;
    CountBlock(v, texts, processInfoAvailable);
}

AutoKill::EventVerdict AutoKill::ConsiderEvent(const SessionRow& row, uint32_t firstSeen, uint32_t now,
                                               HostNameSource* names, bool processInfoAvailable) {
    if (!CanCut()) return EventVerdict::kLeft;
    RowTexts texts;
    uint8_t unknownSides = 0;
    const Verdict v = Judge(row, firstSeen, now, names, clock_.LocalTime().tm_hour, false, false, texts, unknownSides);
    if (v.held) return EventVerdict::kHeld;
    if (v.verdict < Verdict::kKillAndLog)
        return (evaluator_.lastHostSides() & unknownSides) != 0 ? EventVerdict::kHeld : EventVerdict::kLeft;
    // Only a cut that worked is told; a failure is the pass's to retry and report.
    if (!KillRow(row).ok()) return EventVerdict::kNotCut;
    if (!eventCuts_.insert(row.key).second) return EventVerdict::kCut;
    CountBlock(v, texts, processInfoAvailable);
    return EventVerdict::kCut;
}

void AutoKill::TellEvent(MonitorEvent::Kind kind, const RowTexts& texts, int ruleLine, std::string_view message,
                         const char* reason) const {
    MonitorEvent e;
    e.kind = kind;
    e.message = message;
    e.ruleLine = ruleLine;
    std::string local, remote;
    if (!texts.localAddress.empty()) {
        local = EndpointText(texts.localAddress, texts.localPort);
        remote = EndpointText(texts.remoteAddress, texts.remotePort);
    }
    e.local = local;
    e.remote = remote;
    e.host1 = texts.localHost;
    e.host2 = texts.remoteHost;
    SplitProcessText(texts.process, e.process, e.pid);
    e.reason = reason;
    onEvent_(e);
}

void AutoKill::KeepFailing(const SessionRow& row) {
    auto it = failing_.find(row.key);
    if (it != failing_.end()) it->second = pass_;
}

void AutoKill::ReportFailure(const SessionRow& row, const RowTexts& texts, int ruleLine,
                             const ResetResult& result) {
    auto [it, added] = failing_.try_emplace(row.key, pass_);
    it->second = pass_;
    if (result.status == ResetStatus::kRefused) {
        refusals_.Count(result);
        // Told in the minute's summary line; the event only counts it.
        if (added && onEvent_) TellEvent(MonitorEvent::Kind::kNotBlocked, texts, ruleLine, {}, ReasonCode(result.status));
        return;
    }
    if (!added) return;
    if (reportedThisPass_ >= kReportsPerPass) {
        ++unreportedThisPass_;
        lastUnreported_ = result;
        if (onEvent_) TellEvent(MonitorEvent::Kind::kNotBlocked, texts, ruleLine, {}, ReasonCode(result.status));
        return;
    }
    ++reportedThisPass_;
    const std::string tuple = TupleText(row);
    std::string line = PrintableLine(std::string(lang_.Pick("切断できません ", "NOT BLOCKED ")) + tuple +
                                     " " + row[kColProcess] + ": " + RefusalSummary::ReasonText(result, lang_));
    log_.AddPaneLine(line);
    if (onFailure_) onFailure_(line);
    if (onEvent_) TellEvent(MonitorEvent::Kind::kNotBlocked, texts, ruleLine, line, ReasonCode(result.status));
}

std::string AutoKill::BlockedText() const {
    char text[32];
    std::snprintf(text, sizeof text, " BLOCKED : %5u", blockedCount_);
    return text;
}

}  // namespace varnel
