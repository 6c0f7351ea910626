#include "app/cli/HeadlessCommand.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "engine/MonitorEngine.h"
#include "text/FixedText.h"

namespace varnel {

void HeadlessCommand::Report(std::ostream& err, const char* what, const AutoKill& autokill, bool instantCut) const {
    const int rules = autokill.rules().count();
    std::string line = std::string(what) + "; auto kill " + (autokill.enabled() ? "on" : "off") + ", " +
                       std::to_string(rules) + (rules == 1 ? " rule" : " rules") + " from " +
                       autokill.ruleFilePath() + (autokill.loadReport().missing ? " (no such file)" : "") +
                       "; block log " + (autokill.blockLog().enabled() ? autokill.blockLog().path() : "off") +
                       "; instant cut " + (instantCut ? "on" : "off");
    err << "varnel: " << PrintableLine(line) << '\n';
    for (const std::string& message : autokill.LoadMessages()) err << "varnel: " << message << '\n';
    err << std::flush;
}

int HeadlessCommand::Run(std::ostream& out, std::ostream& err, const std::atomic<bool>& stop,
                         std::atomic<bool>& reload) {
    SettingsFile settings(location_.SettingsPath());
    settings.SetFailureListener([&err](const std::string& line) {
        err << "varnel: " << line << '\n' << std::flush;
    });
    MonitorEngine engine({platform_.table, platform_.processes, platform_.clock, hostNames_, platform_.events},
                         {settings, location_.RuleFilePath(), location_.folder(), platform_.reset}, lang_);
    engine.SetForceAutoKill(forceAutoKill_);
    engine.SetNoInstantCut(noInstantCut_);
    engine.Configure();
    auto tellInstantCut = [&] {
        std::string line;
        if (engine.TakeInstantCutNews(line)) err << "varnel: " << line << '\n' << std::flush;
    };
    tellInstantCut();
    SessionMonitor& monitor = engine.monitor();
    AutoKill& autokill = engine.autoKill();

    bool outClosed = false;
    BlockLog& log = autokill.blockLog();
    log.SetLineListener([&](const std::string& line) {
        if (outClosed) return;
        out << line << '\n' << std::flush;
        if (out) return;
        outClosed = true;
        std::string where = log.enabled() ? "block-log lines go on to " + log.path()
                                          : "the block log file is off, so block-log lines are kept nowhere";
        err << "varnel: standard output closed; " << PrintableLine(where) << '\n' << std::flush;
    });
    log.SetFailureListener([&err](const std::string& line) {
        err << "varnel: " << line << '\n' << std::flush;
    });
    autokill.SetFailureListener([&err](const std::string& line) {
        err << "varnel: " << line << '\n' << std::flush;
    });
    Report(err, "monitoring", autokill, engine.instantCutOn());

    using Clock = std::chrono::steady_clock;
    bool tableFailureTold = false;  // since the last read of the connection table that worked
    engine.Start();
    auto next = Clock::now();
    while (!stop.load()) {
        if (reload.exchange(false)) {
            engine.Configure();
            tellInstantCut();
            Report(err, "reloaded the rules and settings", autokill, engine.instantCutOn());
        }
        engine.Tick();
        if (monitor.TableReadOk()) {
            tableFailureTold = false;
        } else if (!tableFailureTold) {
            tableFailureTold = true;
            err << "varnel: cannot read the connection table; trying again at every tick\n" << std::flush;
        }
        next += std::chrono::milliseconds(tickMs_);
        if (next < Clock::now()) next = Clock::now();  // a slow tick does not make later ones race
        // The sleep between ticks, in slices of at most 50 ms so that `stop` is seen; with instant
        // cut on it is a wait for kernel events, judged as they come.
        while (!stop.load() && Clock::now() < next) {
            const auto slice = std::min<Clock::duration>(next - Clock::now(), std::chrono::milliseconds(50));
            if (engine.eventFd() < 0) {
                std::this_thread::sleep_for(slice);
                continue;
            }
            pollfd p{engine.eventFd(), POLLIN, 0};
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(slice).count();
            if (poll(&p, 1, static_cast<int>(ms)) > 0) engine.DrainEvents();
        }
    }
    engine.Stop();
    return 0;
}

}  // namespace varnel
