#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

#include "autokill/MonitorEvent.h"
#include "autokill/RuleFileParser.h"

namespace varnel {

class SessionMonitor;

// What `--headless` tells a monitoring system, kept for the whole run: counters only ever grow
// (a SIGHUP reload, which starts the window's BLOCKED count afresh, does not touch them), gauges
// say how things are now. Render gives the Prometheus text of it all (PrometheusTextWriter):
//   varnel_up, varnel_build_info{version}, varnel_autokill_enabled, varnel_instant_cut_enabled,
//   varnel_connections{family}, varnel_connections_max, varnel_host_lookups_pending,
//   varnel_blocked_total, varnel_blocked_by_rule_total{line}, varnel_reset_failures_total{reason},
//   varnel_rules_loaded, varnel_rule_lines{kind="error|warning"}, varnel_rule_file_readable,
//   varnel_tick_duration_seconds (histogram), varnel_last_tick_timestamp_seconds.
// A tick's observation allocates nothing. The tick's thread only.
class MetricsRegistry {
  public:
    // Upper bounds of the tick-duration buckets, in seconds (+Inf follows).
    static constexpr std::array<double, 11> kTickBuckets = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                            0.1,   0.25,   0.5,   1.0,  2.5};
    // Reset failure reasons that are always written, 0 until one happens (MonitorEvent::reason).
    static constexpr const char* kReasons[] = {"permission-denied", "not-supported", "refused", "failed"};

    explicit MetricsRegistry(std::string version);

    void SetUp(bool up) { up_ = up; }
    void SetAutoKillEnabled(bool on) { autokill_ = on; }
    // Whether kernel connection events are judged between the ticks (instant cut).
    void SetInstantCut(bool on) { instantCut_ = on; }
    // Counts a cut (by its rule's line) or a connection whose reset failed (by reason); other
    // events change nothing.
    void Count(const MonitorEvent& event);
    // What the last rule load found.
    void ObserveLoad(const RuleLoadReport& report);
    // One tick: how many connections it kept, the lookups under way, how long it took and when it ended.
    void ObserveTick(const SessionMonitor& monitor, int lookupsPending, double seconds, double unixSeconds);
    // The last tick's connections by family: a walk over all of them, so only before a Render.
    void CountConnections(const SessionMonitor& monitor);

    std::string Render() const;

    uint64_t blockedTotal() const { return blocked_; }

  private:
    std::string version_;
    bool up_ = true;
    bool autokill_ = false;
    bool instantCut_ = false;
    uint64_t blocked_ = 0;
    std::map<int, uint64_t> blockedByRule_;
    std::map<std::string, uint64_t> failures_;
    int rules_ = 0;
    int errorLines_ = 0;
    int warningLines_ = 0;
    bool ruleFileReadable_ = true;
    uint64_t connections4_ = 0;
    uint64_t connections6_ = 0;
    uint64_t connectionsMax_ = 0;
    int lookupsPending_ = 0;
    std::array<uint64_t, kTickBuckets.size()> tickBuckets_{};  // not cumulative: per bucket
    uint64_t tickCount_ = 0;
    double tickSum_ = 0;
    double lastTick_ = 0;
};

}  // namespace varnel
