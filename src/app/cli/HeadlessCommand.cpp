#include "app/cli/HeadlessCommand.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "autokill/AutoKill.h"
#include "session/SessionMonitor.h"

namespace varnel {

int HeadlessCommand::Run(std::ostream& out, std::ostream& err, const std::atomic<bool>& stop) {
    SettingsFile settings(location_.SettingsPath());
    auto monitor = std::make_unique<SessionMonitor>(platform_.table, platform_.processes, platform_.clock, lang_);
    const bool resolve = hostNames_ != nullptr && settings.ReadInt("Session", "AskDNS", 1) != 0;
    monitor->SetHostNameSource(resolve ? hostNames_ : nullptr);
    monitor->SetResetMaxMinutes(
        static_cast<uint32_t>(std::clamp(settings.ReadInt("Session", "ResetMaxConnections", 1440), 1, 65535)));

    auto autokill = std::make_unique<AutoKill>(settings, location_.RuleFilePath(), location_.folder(), platform_.reset,
                                               platform_.clock, lang_);
    const int rules = autokill->LoadRules();
    autokill->SetEnabled(forceAutoKill_ || settings.ReadInt("Session", "AutoBlock", 0) == 1);
    autokill->blockLog().SetLineListener([&out](const std::string& line) { out << line << '\n' << std::flush; });
    autokill->SetFailureListener([&err](const std::string& line) { err << "varnel: " << line << '\n' << std::flush; });
    monitor->SetTickHook(autokill.get());

    err << "varnel: monitoring; auto kill " << (autokill->enabled() ? "on" : "off") << ", " << rules
        << (rules == 1 ? " rule" : " rules") << " from " << location_.RuleFilePath() << "; block log "
        << (autokill->blockLog().enabled() ? autokill->blockLog().path() : std::string("off")) << '\n'
        << std::flush;

    using Clock = std::chrono::steady_clock;
    monitor->Start();
    auto next = Clock::now();
    while (!stop.load()) {
        monitor->Tick();
        next += std::chrono::milliseconds(tickMs_);
        if (next < Clock::now()) next = Clock::now();  // a slow tick does not make later ones race
        while (!stop.load() && Clock::now() < next)
            std::this_thread::sleep_for(std::min<Clock::duration>(next - Clock::now(), std::chrono::milliseconds(50)));
    }
    monitor->Stop();
    return 0;
}

}  // namespace varnel
