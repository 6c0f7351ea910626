#include "report/MetricsRegistry.h"

#include "report/PrometheusTextWriter.h"
#include "session/SessionMonitor.h"

namespace varnel {

MetricsRegistry::MetricsRegistry(std::string version) : version_(std::move(version)) {
    for (const char* reason : kReasons) failures_[reason] = 0;
}

void MetricsRegistry::Count(const MonitorEvent& e) {
    if (e.kind == MonitorEvent::Kind::kBlocked) {
        ++blocked_;
        ++blockedByRule_[e.ruleLine];
    } else if (e.kind == MonitorEvent::Kind::kNotBlocked && e.reason != nullptr) {
        ++failures_[e.reason];
    }
}

void MetricsRegistry::ObserveLoad(const RuleLoadReport& report) {
    rules_ = report.rules;
    errorLines_ = report.errorLines;
    warningLines_ = report.suspectLines;
    ruleFileReadable_ = report.error.empty();
}

void MetricsRegistry::ObserveTick(const SessionMonitor& monitor, int lookupsPending, double seconds,
                                  double unixSeconds) {
    if (monitor.kept().size() > connectionsMax_) connectionsMax_ = monitor.kept().size();
    lookupsPending_ = lookupsPending;
    size_t b = 0;
    while (b < kTickBuckets.size() && seconds > kTickBuckets[b]) ++b;
    if (b < kTickBuckets.size()) ++tickBuckets_[b];
    ++tickCount_;
    tickSum_ += seconds;
    lastTick_ = unixSeconds;
}

void MetricsRegistry::CountConnections(const SessionMonitor& monitor) {
    uint64_t v6 = 0;
    for (const KeptConnection& k : monitor.kept()) v6 += k.key.v6 ? 1 : 0;
    connections6_ = v6;
    connections4_ = monitor.kept().size() - v6;
}

std::string MetricsRegistry::Render() const {
    PrometheusTextWriter w;
    w.Family("varnel_up", "gauge", "1 while varnel --headless runs; 0 in the file it leaves when it ends.");
    w.Sample("varnel_up", up_ ? 1 : 0);
    w.Family("varnel_build_info", "gauge", "Always 1; the version of the running program is its label.");
    w.Sample("varnel_build_info", {{"version", version_}}, 1);
    w.Family("varnel_autokill_enabled", "gauge", "1 while auto kill cuts connections by rule.");
    w.Sample("varnel_autokill_enabled", autokill_ ? 1 : 0);
    w.Family("varnel_instant_cut_enabled", "gauge",
             "1 while connections are judged the moment the kernel reports them, 0 while only the ticks cut.");
    w.Sample("varnel_instant_cut_enabled", instantCut_ ? 1 : 0);
    w.Family("varnel_connections", "gauge", "TCP connections the last tick kept, by address family.");
    w.Sample("varnel_connections", {{"family", "ipv4"}}, static_cast<double>(connections4_));
    w.Sample("varnel_connections", {{"family", "ipv6"}}, static_cast<double>(connections6_));
    w.Family("varnel_connections_max", "gauge", "Most TCP connections kept at one tick since the start.");
    w.Sample("varnel_connections_max", static_cast<double>(connectionsMax_));
    w.Family("varnel_host_lookups_pending", "gauge", "Reverse host-name lookups under way.");
    w.Sample("varnel_host_lookups_pending", lookupsPending_);
    w.Family("varnel_blocked_total", "counter", "Connections cut by a rule since the start.");
    w.Sample("varnel_blocked_total", static_cast<double>(blocked_));
    w.Family("varnel_blocked_by_rule_total", "counter",
             "Connections cut since the start, by the line of the rule in the rule file.");
    for (const auto& [line, count] : blockedByRule_)
        w.Sample("varnel_blocked_by_rule_total", {{"line", std::to_string(line)}}, static_cast<double>(count));
    w.Family("varnel_reset_failures_total", "counter",
             "Connections a rule matched whose reset failed, each counted once, by reason.");
    for (const auto& [reason, count] : failures_)
        w.Sample("varnel_reset_failures_total", {{"reason", reason}}, static_cast<double>(count));
    w.Family("varnel_rules_loaded", "gauge", "Rules in force from the last load of the rule file.");
    w.Sample("varnel_rules_loaded", rules_);
    w.Family("varnel_rule_lines", "gauge",
             "Rule lines of the last load that varnel --check-rules has errors or only warnings for.");
    w.Sample("varnel_rule_lines", {{"kind", "error"}}, errorLines_);
    w.Sample("varnel_rule_lines", {{"kind", "warning"}}, warningLines_);
    w.Family("varnel_rule_file_readable", "gauge",
             "0 when the rule file exists but could not be read at the last load (no rules in force).");
    w.Sample("varnel_rule_file_readable", ruleFileReadable_ ? 1 : 0);
    w.Family("varnel_tick_duration_seconds", "histogram",
             "Time one tick takes: reading the connection table, the list and the auto-kill pass.");
    uint64_t cumulative = 0;
    for (size_t b = 0; b < kTickBuckets.size(); ++b) {
        cumulative += tickBuckets_[b];
        w.Sample("varnel_tick_duration_seconds_bucket", {{"le", PrometheusTextWriter::Number(kTickBuckets[b])}},
                 static_cast<double>(cumulative));
    }
    w.Sample("varnel_tick_duration_seconds_bucket", {{"le", "+Inf"}}, static_cast<double>(tickCount_));
    w.Sample("varnel_tick_duration_seconds_sum", tickSum_);
    w.Sample("varnel_tick_duration_seconds_count", static_cast<double>(tickCount_));
    w.Family("varnel_last_tick_timestamp_seconds", "gauge", "Unix time at the end of the last tick.");
    w.Sample("varnel_last_tick_timestamp_seconds", lastTick_);
    return w.text();
}

}  // namespace varnel
