#include "engine/MonitorEngine.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <thread>

namespace varnel {

MonitorEngine::MonitorEngine(Platform platform, UiLanguage lang)
    : platform_(platform),
      monitor_(std::make_unique<SessionMonitor>(platform.table, platform.processes, platform.clock,
                                                std::move(lang))) {
    monitor_->SetHostNameSource(platform_.hostNames);
}

MonitorEngine::MonitorEngine(Platform platform, AutoKillSetup setup, UiLanguage lang)
    : platform_(platform),
      settings_(&setup.settings),
      monitor_(std::make_unique<SessionMonitor>(platform.table, platform.processes, platform.clock, lang)),
      autoKill_(std::make_unique<AutoKill>(setup.settings, std::move(setup.ruleFilePath),
                                           std::move(setup.logFolder), setup.reset, platform.clock,
                                           std::move(lang))),
      instantCut_(std::make_unique<InstantCut>(*monitor_, *autoKill_)) {
    monitor_->SetTickHook(autoKill_.get());
}

MonitorEngine::~MonitorEngine() {
    monitor_->SetTickHook(nullptr);
    if (tableRead_ >= 0) close(tableRead_);
}

void MonitorEngine::ConfigureInstantCut() {
    if (noInstantCut_ || !settings_->Read(SettingsKeys::kInstantCut)) {
        instantCut_->Detach();
        return;
    }
    if (instantCut_->attached() || platform_.events == nullptr) return;
    std::string reason;
    if (instantCut_->Attach(*platform_.events, reason)) return;
    if (!instantCutNewsTold_ && instantCutNews_.empty()) instantCutNews_ = InstantCut::UnavailableText(reason);
}

bool MonitorEngine::TakeInstantCutNews(std::string& line) {
    if (instantCutNews_.empty()) return false;
    line = std::move(instantCutNews_);
    instantCutNews_.clear();
    instantCutNewsTold_ = true;
    return true;
}

void MonitorEngine::TickJudgingEvents() {
    // The read of a large table takes milliseconds; events that come meanwhile are judged at once
    // rather than after it. The reader thread touches only the table (SessionMonitor::ReadTable).
    if (tableRead_ < 0) tableRead_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (tableRead_ < 0) {
        monitor_->Tick();
        return;
    }
    std::thread reader([this] {
        monitor_->ReadTable();
        const uint64_t one = 1;
        (void)!write(tableRead_, &one, sizeof one);
    });
    for (;;) {
        pollfd p[2] = {{tableRead_, POLLIN, 0}, {instantCut_->fd(), POLLIN, 0}};
        if (poll(p, 2, 50) <= 0) continue;
        if ((p[1].revents & POLLIN) != 0) instantCut_->Drain();
        uint64_t count;
        if ((p[0].revents & POLLIN) != 0 && read(tableRead_, &count, sizeof count) == sizeof count) break;
    }
    reader.join();
    monitor_->FinishTick();
}

void MonitorEngine::Configure() {
    askDns_ = settings_->Read(SettingsKeys::kAskDns);
    monitor_->SetHostNameSource(askDns_ ? platform_.hostNames : nullptr);
    resetMaxMinutes_ = static_cast<uint32_t>(settings_->Read(SettingsKeys::kResetMaxConnections));
    monitor_->SetResetMaxMinutes(resetMaxMinutes_);
    autoKill_->LoadRules();
    autoKill_->SetEnabled(forceAutoKill_ || settings_->Read(SettingsKeys::kAutoBlock));
    ConfigureInstantCut();
}

void MonitorEngine::Tick() {
    if (instantCutOn())
        TickJudgingEvents();
    else
        monitor_->Tick();
    for (TickListener& listener : tickListeners_) listener(*this);
}

void MonitorEngine::SetAskDns(bool on) {
    if (platform_.hostNames == nullptr) return;
    askDns_ = on;
    monitor_->SetHostNameSource(on ? platform_.hostNames : nullptr);
}

}  // namespace varnel
