#include "autokill/AutoKill.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>

#include "autokill/RuleFileParser.h"
#include "session/DottedAddress.h"

namespace varnel {

namespace {

RowTexts ViewOf(const SessionRow& row) {
    const char* texts[kColumnCount];
    for (int c = 0; c < kColumnCount; ++c) texts[c] = row[c];
    return RowTexts::FromColumns(texts);
}

std::string TupleText(const SessionRow& row) {
    return std::string(row[kColLocalAddress]) + ":" + row[kColLocalPort] + " " + row[kColRemoteAddress] + ":" +
           row[kColRemotePort];
}

}  // namespace

AutoKill::AutoKill(const SettingsFile& settings, std::string ruleFilePath, std::string logFolder,
                   ConnectionReset& reset, Clock& clock, UiLanguage lang)
    : settings_(settings),
      ruleFilePath_(std::move(ruleFilePath)),
      reset_(reset),
      clock_(clock),
      lang_(std::move(lang)),
      evaluator_(rules_, lang_),
      log_(settings, std::move(logFolder), clock) {}

int AutoKill::LoadRules() {
    log_.SetEnabled(false);
    blockedCount_ = 0;
    rules_.Clear();
    log_.RefreshSettings();
    log_.SetEnabled(settings_.ReadInt("Session", "BlockedLog", 1) == 1);
    RuleFileParser::LoadFile(ruleFilePath_, rules_);
    evaluator_.Rebuild(rules_, lang_);
    return rules_.count();
}

void AutoKill::SetEnabled(bool on) {
    enabled_ = on;
    blockedCount_ = 0;
    log_.RefreshSettings();
}

TcpRow AutoKill::ResetRequestFor(const SessionRow& row) {
    TcpRow r{};
    r.state = kTcpDeleteTcb;
    r.localAddr = ParseDottedAddress(row[kColLocalAddress]);
    r.remoteAddr = ParseDottedAddress(row[kColRemoteAddress]);
    r.localPort = htons(static_cast<uint16_t>(std::atoi(row[kColLocalPort])));
    r.remotePort = htons(static_cast<uint16_t>(std::atoi(row[kColRemotePort])));
    return r;
}

ResetResult AutoKill::KillRow(const SessionRow& row) { return reset_.SetTcpEntry(ResetRequestFor(row)); }

void AutoKill::AfterRefresh(SessionMonitor& monitor) {
    stillFailing_.clear();
    const int rows = enabled_ && monitor.rowCount() >= 1 ? monitor.listCount() : 0;
    const int hour = rows > 0 ? clock_.LocalTime().tm_hour : 0;
    for (int i = 0; i < rows; ++i) {
        const SessionRow& row = monitor.Row(i);
        Verdict v = evaluator_.Evaluate(ViewOf(row), hour);
        if (v.verdict < Verdict::kKillAndLog) continue;
        ResetResult result = KillRow(row);
        if (!result.ok()) {
            if (result.status != ResetStatus::kNoSuchConnection) ReportFailure(row, result);
            continue;
        }
        if (v.verdict == Verdict::kKillAndLog) log_.Write(row, monitor.ProcessInfoAvailable(), v.rule);
        ++blockedCount_;
    }
    // Forget reports of connections that no longer fail (gone, or no rule matches them now).
    for (auto it = reported_.begin(); it != reported_.end();)
        it = stillFailing_.count(*it) ? std::next(it) : reported_.erase(it);
}

void AutoKill::ReportFailure(const SessionRow& row, const ResetResult& result) {
    std::string tuple = TupleText(row);
    stillFailing_.insert(tuple);
    if (!reported_.insert(tuple).second) return;
    std::string line = std::string(lang_.Pick("切断できません ", "NOT BLOCKED ")) + tuple + " " +
                       row[kColProcess] + ": " + result.Describe();
    log_.AddPaneLine(line);
    if (onFailure_) onFailure_(line);
}

std::string AutoKill::BlockedText() const {
    char text[32];
    std::snprintf(text, sizeof text, " BLOCKED : %5u", blockedCount_);
    return text;
}

}  // namespace varnel
