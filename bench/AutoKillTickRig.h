#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "settings/SettingsFile.h"
#include "settings/UiLanguage.h"
#include "autokill/AutoKill.h"
#include "platform/fake/FakeConnectionReset.h"
#include "session/SessionMonitor.h"

namespace varnel {

// Auto kill as the running program holds it, hooked into one monitor for a benchmark: the rule
// text is written to a rule file in a fresh temporary folder (with the settings file and block
// log beside it, both at their defaults) and loaded from there, and the switch is on. Resets go
// to a fake that only records them: the rules a benchmark gives are meant to match nothing, and
// resets() tells whether that held.
//
// The monitor must outlive the rig; the rig unhooks itself and removes its folder.
class AutoKillTickRig {
  public:
    AutoKillTickRig(SessionMonitor& monitor, const std::string& rules) : monitor_(monitor) {
        char folder[] = "/tmp/varnel-bench-XXXXXX";
        if (mkdtemp(folder) == nullptr) return;
        dir_ = folder;
        std::ofstream(dir_ + "/varnel_autoblock.txt", std::ios::binary) << rules;
        settings_ = std::make_unique<SettingsFile>(dir_ + "/varnel.ini");
        autokill_ = std::make_unique<AutoKill>(*settings_, dir_ + "/varnel_autoblock.txt", dir_, reset_,
                                               monitor.clock(), monitor.language());
        rules_ = autokill_->LoadRules();
        autokill_->SetEnabled(true);
        monitor.SetTickHook(autokill_.get());
    }
    ~AutoKillTickRig() {
        monitor_.SetTickHook(nullptr);
        autokill_.reset();
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }
    AutoKillTickRig(const AutoKillTickRig&) = delete;
    AutoKillTickRig& operator=(const AutoKillTickRig&) = delete;

    bool ok() const { return autokill_ != nullptr && rules_ > 0; }
    int rules() const { return rules_; }
    size_t resets() const { return reset_.calls.size(); }
    uint32_t blocked() const { return autokill_ ? autokill_->blockedCount() : 0; }

  private:
    SessionMonitor& monitor_;
    std::string dir_;
    std::unique_ptr<SettingsFile> settings_;
    FakeConnectionReset reset_;
    std::unique_ptr<AutoKill> autokill_;
    int rules_ = 0;
};

}  // namespace varnel
