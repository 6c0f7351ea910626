#pragma once

#include <atomic>
#include <ostream>
#include <string>

#include "platform/Clock.h"
#include "platform/ConnectEventSource.h"
#include "platform/ConnectionReset.h"
#include "platform/ConnectionTable.h"
#include "platform/ProcessList.h"
#include "session/HostNameSource.h"
#include "settings/ConfigLocation.h"
#include "settings/SettingsFile.h"
#include "settings/UiLanguage.h"

namespace varnel {

class AutoKill;
class InstantCut;
class SessionMonitor;

// `varnel --headless`: the monitor without a window. The same tick, resolver, rules, kill pass and
// block log as the window, every 500 ms until `stop` becomes true (checked at least every 50 ms,
// so a signal ends it within one tick). Every block-log line is printed on `out` as it is written;
// failed resets, block-log files and settings that could not be written, the start-up summary and what the
// rule load found (AutoKill::LoadMessages) go to `err`, all as printable lines.
//
// When `reload` becomes true (SIGHUP), the next tick clears it and first reads the rule file and
// the settings again: AskDNS, ResetMaxConnections, AutoBlock (unless `forceAutoKill`), and the
// block-log settings with the rules; one line on `err` says so.
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
// Instant cut: while InstantCut=1 (and not SetNoInstantCut), the platform's connection events are
// judged between the ticks (InstantCut), waited for with the tick's sleep. Where the event source
// cannot open, one line on `err` says "instant cut unavailable (REASON); cutting at each 500 ms
// tick" and the ticks alone cut; that is told once per run. A reload reads InstantCut again. The
// start-up summary says "instant cut on" or "instant cut off".
class HeadlessCommand {
  public:
    struct Platform {
        ConnectionTable& table;
        ProcessList& processes;
        ConnectionReset& reset;
        Clock& clock;
        ConnectEventSource* events = nullptr;  // nullptr: no event source on this platform
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

    int Run(std::ostream& out, std::ostream& err, const std::atomic<bool>& stop, std::atomic<bool>& reload);

  private:
    // Reads the settings and the rules into `monitor` and `autokill`.
    void Configure(const SettingsFile& settings, SessionMonitor& monitor, AutoKill& autokill) const;
    // "auto kill on, 3 rules from PATH; block log PATH" and the load's messages, to `err`.
    void Report(std::ostream& err, const char* what, const AutoKill& autokill, bool instant) const;
    // A tick whose table read runs on a thread of its own while this one judges events.
    void TickJudgingEvents(SessionMonitor& monitor, InstantCut& cut);
    // Attaches or detaches the event source as InstantCut says; tells `err` once if it cannot run.
    void ConfigureInstantCut(const SettingsFile& settings, InstantCut& cut, std::ostream& err);

    Platform platform_;
    const ConfigLocation& location_;
    UiLanguage lang_;
    HostNameSource* hostNames_ = nullptr;
    bool forceAutoKill_ = false;
    bool noInstantCut_ = false;
    bool unavailableTold_ = false;
    int tableRead_ = -1;  // eventfd: the reader thread's table read has ended
    int tickMs_ = 500;
};

}  // namespace varnel
