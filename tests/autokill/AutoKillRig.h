#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "autokill/AutoKill.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeConnectionReset.h"
#include "platform/fake/FakeConnectionTable.h"
#include "platform/fake/FakeProcessList.h"

namespace varnel {

// Auto kill on a fake table, a fake reset and a settings folder of its own, with the monitor
// started: a test adds connections, calls Rules, then ticks. `Hosts` names the addresses.
template <typename Hosts>
struct AutoKillRig {
    explicit AutoKillRig(bool showIpv6 = false) {
        char tmpl[] = "/tmp/varnel-autokill-XXXXXX";
        dir = mkdtemp(tmpl);
        settings = std::make_unique<SettingsFile>(dir + "/varnel.ini");
        processes.processes = {{77, "curl"}};
        monitor = std::make_unique<SessionMonitor>(table, processes, clock, UiLanguage::English());
        monitor->SetHostNameSource(&hosts);
        monitor->SetShowIpv6(showIpv6);
        autokill = std::make_unique<AutoKill>(*settings, dir + "/varnel_autoblock.txt", dir, reset, clock,
                                              UiLanguage::English());
        monitor->SetTickHook(autokill.get());
        monitor->Start();
    }
    ~AutoKillRig() { std::filesystem::remove_all(dir); }

    // Writes and loads the rule file and switches auto kill on.
    void Rules(const std::string& text) {
        std::ofstream(dir + "/varnel_autoblock.txt") << text;
        autokill->LoadRules();
        autokill->SetEnabled(true);
    }
    std::string LogFile() {
        std::ifstream in(autokill->blockLog().path(), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::string dir;
    std::unique_ptr<SettingsFile> settings;
    FakeConnectionTable table;
    FakeProcessList processes;
    FakeClock clock;
    FakeConnectionReset reset;
    Hosts hosts;
    std::unique_ptr<SessionMonitor> monitor;
    std::unique_ptr<AutoKill> autokill;
};

}  // namespace varnel
