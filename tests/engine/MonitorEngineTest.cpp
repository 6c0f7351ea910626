#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "engine/MonitorEngine.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeConnectionReset.h"
#include "platform/fake/FakeConnectionTable.h"
#include "platform/fake/FakeProcessList.h"

namespace varnel {
namespace {

class CountingHostNames : public HostNameSource {
  public:
    int lookups = 0;
    void LookupHostName(const char* address, char* out, size_t n) override {
        ++lookups;
        std::snprintf(out, n, "%s", address);
    }
};

// Configure is the one reading of the engine's settings for every front end: the first call and
// every reload read AskDNS, ResetMaxConnections (its default and limits) and AutoBlock the same way,
// and a forced auto kill outlasts a reload that says AutoBlock=0.
TEST(MonitorEngineTest, ConfigureReadsTheSettingsAgainAtEveryReload) {
    char tmpl[] = "/tmp/varnel-engine-unit-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    FakeConnectionTable table;
    table.Add(kTcpEstablished, "10.0.0.1", 50000, "10.0.0.2", 80);
    FakeProcessList processes;
    FakeConnectionReset reset;
    FakeClock clock;
    CountingHostNames names;
    SettingsFile settings(dir + "/varnel.ini");
    std::ofstream(dir + "/varnel_autoblock.txt") << "PORT2=81\n";
    MonitorEngine engine({table, processes, clock, &names},
                         {settings, dir + "/varnel_autoblock.txt", dir, reset}, UiLanguage::English());
    int listened = 0;
    engine.AddTickListener([&](MonitorEngine& e) {
        EXPECT_EQ(e.monitor().listCount(), 1) << "after the tick's rows";
        ++listened;
    });
    engine.Start();

    struct Step {
        const char* autoBlock;  // nullptr: the key is missing
        const char* resetMax;
        const char* askDns;
        bool force;
        bool enabled;
        int minutes;
        bool resolves;
    } steps[] = {
        {nullptr, nullptr, nullptr, false, false, SettingsKeys::kResetMaxConnections.defaultValue, true},
        {"1", "99999999", "0", false, true, SettingsKeys::kResetMaxConnections.max, false},
        {"0", "-5", "1", false, false, SettingsKeys::kResetMaxConnections.min, true},
        {"0", "30", "0", true, true, 30, false},
    };
    for (const Step& step : steps) {
        std::ofstream ini(dir + "/varnel.ini", std::ios::trunc);
        ini << "[Session]\n";
        if (step.autoBlock) ini << "AutoBlock=" << step.autoBlock << "\n";
        if (step.resetMax) ini << "ResetMaxConnections=" << step.resetMax << "\n";
        if (step.askDns) ini << "AskDNS=" << step.askDns << "\n";
        ini.close();
        engine.SetForceAutoKill(step.force);
        engine.Configure();
        EXPECT_EQ(engine.autoKill().enabled(), step.enabled) << step.resetMax;
        EXPECT_EQ(engine.resetMaxMinutes(), static_cast<uint32_t>(step.minutes)) << step.resetMax;
        EXPECT_EQ(engine.autoKill().rules().count(), 1);
        const int before = names.lookups;
        engine.Tick();
        EXPECT_EQ(names.lookups > before, step.resolves) << step.resetMax;
    }
    EXPECT_EQ(listened, static_cast<int>(std::size(steps)));
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace varnel
