#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "autokill/AutoKill.h"
#include "autokill/InstantCut.h"
#include "platform/ConnectEventSource.h"
#include "platform/Clock.h"
#include "platform/ConnectionReset.h"
#include "platform/ConnectionTable.h"
#include "platform/ProcessList.h"
#include "session/HostNameSource.h"
#include "session/SessionMonitor.h"
#include "settings/SettingsFile.h"
#include "settings/UiLanguage.h"

namespace varnel {

// The monitor as every front end runs it: the session monitor, auto kill hooked into its tick, the
// host-name source and the settings they read. The window's page, `--headless` and `--list` each
// own one and differ only in what they show.
//
// Ownership: the engine owns the SessionMonitor and the AutoKill; the table, processes, reset,
// clock, host-name source and settings file are borrowed and must outlive the engine. A front
// end's objects that read monitor() or autoKill() (a list model, a view, a menu) must be destroyed
// before the engine. The engine never writes the settings file.
//
// Threads: everything runs on one thread, the tick's. The host-name source answers at once on that
// thread (its lookups may run elsewhere; HostNameSource says how).
//
// Failure: nothing here throws or fails on its own. A connection table that cannot be read shows
// as monitor().TableReadOk() false after Tick(); what a rule load found is in
// autoKill().LoadMessages(); a reset that failed goes to the auto kill's failure listener.
class MonitorEngine {
  public:
    struct Platform {
        ConnectionTable& table;
        ProcessList& processes;
        Clock& clock;
        // nullptr: no host-name resolution in this run, whatever AskDNS says.
        HostNameSource* hostNames = nullptr;
        // The kernel's connection events for instant cut; nullptr: none on this platform.
        ConnectEventSource* events = nullptr;
    };
    // What auto kill needs; without it (`--list`) the engine holds no auto kill.
    struct AutoKillSetup {
        const SettingsFile& settings;
        std::string ruleFilePath;
        std::string logFolder;
        ConnectionReset& reset;
    };

    // The monitor alone, host names on when the platform has a source, ShowIPv6 off.
    MonitorEngine(Platform platform, UiLanguage lang);
    // The monitor with auto kill. Reads nothing yet: Configure() reads the settings and the rules.
    MonitorEngine(Platform platform, AutoKillSetup setup, UiLanguage lang);
    ~MonitorEngine();

    MonitorEngine(const MonitorEngine&) = delete;
    MonitorEngine& operator=(const MonitorEngine&) = delete;

    // Reads AskDNS, ResetMaxConnections and AutoBlock (on regardless with SetForceAutoKill) and
    // loads the rule file with the block-log settings; it does not start monitoring. Called once
    // at start-up and again for a reload (`--headless` on SIGHUP). ShowIPv6 is the window's:
    // SetShowIpv6.
    // Needs auto kill.
    //
    // It also reads InstantCut (off regardless with SetNoInstantCut): while on, the platform's
    // connection events are judged between the ticks (InstantCut), and a tick reads the connection
    // table on a thread of its own while this thread goes on judging them. Where the event source
    // cannot open, the ticks alone cut and TakeInstantCutNews gives the line to tell, once.
    void Configure();
    void SetForceAutoKill(bool on) { forceAutoKill_ = on; }
    void SetNoInstantCut(bool on) { noInstantCut_ = on; }
    bool instantCutOn() const { return instantCut_ != nullptr && instantCut_->attached(); }
    // "instant cut unavailable (REASON); cutting at each 500 ms tick" the first time the event
    // source could not open; false after that and while it runs or is switched off.
    bool TakeInstantCutNews(std::string& line);
    // The descriptor a front end waits on between ticks (readable: events wait; then DrainEvents),
    // -1 while instant cut is off.
    int eventFd() const { return instantCutOn() ? instantCut_->fd() : -1; }
    size_t DrainEvents() { return instantCutOn() ? instantCut_->Drain() : 0; }
    // Only with hasAutoKill().
    const InstantCut& instantCut() const { return *instantCut_; }

    // "Hostname resolution" for this run. Ignored without a host-name source, so the saved choice
    // (askDns()) stays as it was read.
    void SetAskDns(bool on);
    bool askDns() const { return askDns_; }
    bool hasHostNames() const { return platform_.hostNames != nullptr; }
    // The list shows IPv6 connections from the next tick; auto kill covers them either way.
    void SetShowIpv6(bool on) { monitor_->SetShowIpv6(on); }
    // ResetMaxConnections as the last Configure() read it (its default and limits are the key's).
    uint32_t resetMaxMinutes() const { return resetMaxMinutes_; }

    void Start() { monitor_->Start(); }
    void Stop() { monitor_->Stop(); }
    bool running() const { return monitor_->running(); }
    // One tick: poll, rows, then the kill pass (while auto kill is on), then the counter, then the
    // tick listeners in the order they were added.
    void Tick();
    // Called on the tick's thread after every Tick(), when the rows, the counter and the kill
    // pass's results are those of this tick. It must not add listeners or destroy the engine.
    using TickListener = std::function<void(MonitorEngine& engine)>;
    void AddTickListener(TickListener listener) { tickListeners_.push_back(std::move(listener)); }

    SessionMonitor& monitor() { return *monitor_; }
    const SessionMonitor& monitor() const { return *monitor_; }
    bool hasAutoKill() const { return autoKill_ != nullptr; }
    // Only with hasAutoKill().
    AutoKill& autoKill() { return *autoKill_; }
    const AutoKill& autoKill() const { return *autoKill_; }

  private:
    void ConfigureInstantCut();
    // A poll whose table read runs on a thread of its own while events are judged here.
    void TickJudgingEvents();

    Platform platform_;
    const SettingsFile* settings_ = nullptr;
    bool forceAutoKill_ = false;
    bool askDns_ = SettingsKeys::kAskDns.defaultOn;
    uint32_t resetMaxMinutes_ = static_cast<uint32_t>(SettingsKeys::kResetMaxConnections.defaultValue);
    std::unique_ptr<SessionMonitor> monitor_;
    // Declared after the monitor: the monitor's hook points at it, and is cleared first.
    std::unique_ptr<AutoKill> autoKill_;
    std::unique_ptr<InstantCut> instantCut_;  // with auto kill
    bool noInstantCut_ = false;
    std::string instantCutNews_;
    bool instantCutNewsTold_ = false;
    int tableRead_ = -1;  // eventfd: the reader thread's table read has ended
    std::vector<TickListener> tickListeners_;
};

}  // namespace varnel
