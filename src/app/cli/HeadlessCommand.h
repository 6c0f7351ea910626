#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "platform/Clock.h"
#include "platform/ConnectEventSource.h"
#include "platform/ConnectionReset.h"
#include "platform/ConnectionTable.h"
#include "platform/ProcessList.h"
#include "report/ConnectionListFormatter.h"
#include "session/HostNameSource.h"
#include "settings/ConfigLocation.h"
#include "settings/SettingsFile.h"
#include "settings/UiLanguage.h"

namespace varnel {

class AutoKill;
class EventSink;
class MetricsRegistry;

// `varnel --headless`: the monitor without a window. The same tick, resolver, rules, kill pass and
// block log as the window, every 500 ms until `stop` becomes true (checked at least every 50 ms,
// so a signal ends it within one tick). Every block-log line is printed on `out` as it is written;
// failed resets, block-log files and settings that could not be written, the start-up summary and what the
// rule load found (AutoKill::LoadMessages) go to `err`, all as printable lines.
//
// When `reload` becomes true (SIGHUP), the next tick clears it and first reads the rule file and
// the settings again (MonitorEngine::Configure, as at the start): AskDNS, ResetMaxConnections,
// AutoBlock (unless `forceAutoKill`), and the block-log settings with the rules; one line on `err`
// says so.
//
// When a write to `out` fails (the reader of a pipe went away; SIGPIPE must be ignored), that is
// told once on `err` and `out` is not written again; enforcing and the block-log file go on.
//
// A connection table that cannot be read is told once on `err` and tried again at every tick; it
// is told again only after a read has worked in between.
//
// Auto kill is on when the settings say AutoBlock=1 or `forceAutoKill` is set. Dependencies are
// borrowed. Returns the exit status (0).
//
// Events (MonitorEvent) go through a StreamEventSink in the format asked for (text: as above), or
// through the sink SetEventSinkWrapper makes around it (the journal). With a metrics file
// (--metrics-file, else MetricsFile of the settings, read again at a reload) the MetricsRegistry
// is written to it every 10 s and once more, with varnel_up 0, when the run ends.
//
// Instant cut: while InstantCut=1 and not SetNoInstantCut, kernel connection events (Platform's
// `events`) are judged between the ticks, waited for in the tick's sleep (MonitorEngine). Where
// they cannot be had, one line on `err` says "instant cut unavailable (REASON); cutting at each
// 500 ms tick", once per run. The start-up and reload summaries end "; instant cut on" or "off".
class HeadlessCommand {
  public:
    struct Platform {
        ConnectionTable& table;
        ProcessList& processes;
        ConnectionReset& reset;
        Clock& clock;
        ConnectEventSource* events = nullptr;  // nullptr: no kernel connection events here
    };

    HeadlessCommand(Platform platform, const ConfigLocation& location, UiLanguage lang)
        : platform_(platform), location_(location), lang_(std::move(lang)) {}

    // nullptr: host-name resolution off (also when AskDNS=0 in the settings).
    void SetHostNameSource(HostNameSource* source) { hostNames_ = source; }
    void SetForceAutoKill(bool on) { forceAutoKill_ = on; }
    // --no-instant-cut: the ticks alone cut, whatever InstantCut says.
    void SetNoInstantCut(bool on) { noInstantCut_ = on; }
    // Milliseconds between ticks; tests shorten it.
    void SetTickMs(int ms) { tickMs_ = ms; }
    void SetFormat(OutputFormat format) { format_ = format; }
    // Overrides MetricsFile of the settings.
    void SetMetricsFile(std::optional<std::string> path) { metricsFile_ = std::move(path); }
    // Makes the sink events go to from the stream sink (returns it, or another that falls back on
    // it); the result must live until Run returns.
    void SetEventSinkWrapper(std::function<EventSink&(EventSink& streams)> wrap) { wrapSink_ = std::move(wrap); }

    int Run(std::ostream& out, std::ostream& err, const std::atomic<bool>& stop, std::atomic<bool>& reload);

  private:
    // "auto kill on, 3 rules from PATH; block log PATH; instant cut on" and the load's messages, as events; and
    // what the load found to the metrics.
    void Report(EventSink& sink, MetricsRegistry& metrics, const char* what, const AutoKill& autokill,
                bool instantCut) const;

    Platform platform_;
    const ConfigLocation& location_;
    UiLanguage lang_;
    HostNameSource* hostNames_ = nullptr;
    bool forceAutoKill_ = false;
    bool noInstantCut_ = false;
    int tickMs_ = 500;
    OutputFormat format_ = OutputFormat::kText;
    std::optional<std::string> metricsFile_;
    std::function<EventSink&(EventSink&)> wrapSink_;
};

}  // namespace varnel
