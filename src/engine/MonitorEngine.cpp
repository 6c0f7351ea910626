#include "engine/MonitorEngine.h"

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
                                           std::move(lang))) {
    monitor_->SetTickHook(autoKill_.get());
}

MonitorEngine::~MonitorEngine() {
    monitor_->SetTickHook(nullptr);
}

void MonitorEngine::Configure() {
    askDns_ = settings_->Read(SettingsKeys::kAskDns);
    monitor_->SetHostNameSource(askDns_ ? platform_.hostNames : nullptr);
    resetMaxMinutes_ = static_cast<uint32_t>(settings_->Read(SettingsKeys::kResetMaxConnections));
    monitor_->SetResetMaxMinutes(resetMaxMinutes_);
    autoKill_->LoadRules();
    autoKill_->SetEnabled(forceAutoKill_ || settings_->Read(SettingsKeys::kAutoBlock));
}

void MonitorEngine::Tick() {
    monitor_->Tick();
    for (TickListener& listener : tickListeners_) listener(*this);
}

void MonitorEngine::SetAskDns(bool on) {
    if (platform_.hostNames == nullptr) return;
    askDns_ = on;
    monitor_->SetHostNameSource(on ? platform_.hostNames : nullptr);
}

}  // namespace varnel
