#include "app/cli/HeadlessCommand.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "autokill/AutoKill.h"
#include "autokill/InstantCut.h"
#include "session/SessionMonitor.h"
#include "text/FixedText.h"

namespace varnel {

void HeadlessCommand::Configure(const SettingsFile& settings, SessionMonitor& monitor,
                                AutoKill& autokill) const {
    const bool resolve = hostNames_ != nullptr && settings.Read(SettingsKeys::kAskDns);
    monitor.SetHostNameSource(resolve ? hostNames_ : nullptr);
    monitor.SetResetMaxMinutes(static_cast<uint32_t>(settings.Read(SettingsKeys::kResetMaxConnections)));
    autokill.LoadRules();
    autokill.SetEnabled(forceAutoKill_ || settings.Read(SettingsKeys::kAutoBlock));
}

void HeadlessCommand::ConfigureInstantCut(const SettingsFile& settings, InstantCut& cut, std::ostream& err) {
    const bool wanted = !noInstantCut_ && settings.Read(SettingsKeys::kInstantCut);
    if (!wanted) {
        cut.Detach();
        return;
    }
    if (cut.attached() || platform_.events == nullptr) return;
    std::string reason;
    if (cut.Attach(*platform_.events, reason)) return;
    if (unavailableTold_) return;
    unavailableTold_ = true;
    err << "varnel: " << InstantCut::UnavailableText(reason) << '\n' << std::flush;
}

void HeadlessCommand::TickJudgingEvents(SessionMonitor& monitor, InstantCut& cut) {
    // The read of a large table takes milliseconds; events that come meanwhile are judged at once
    // rather than after it. The reader thread touches only the table (SessionMonitor::ReadTable).
    if (tableRead_ < 0) tableRead_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (tableRead_ < 0) {
        monitor.Tick();
        return;
    }
    std::thread reader([&monitor, fd = tableRead_] {
        monitor.ReadTable();
        const uint64_t one = 1;
        (void)!write(fd, &one, sizeof one);
    });
    for (;;) {
        pollfd p[2] = {{tableRead_, POLLIN, 0}, {cut.fd(), POLLIN, 0}};
        if (poll(p, 2, 50) <= 0) continue;
        if ((p[1].revents & POLLIN) != 0) cut.Drain();
        uint64_t count;
        if ((p[0].revents & POLLIN) != 0 && read(tableRead_, &count, sizeof count) == sizeof count) break;
    }
    reader.join();
    monitor.FinishTick();
}

void HeadlessCommand::Report(std::ostream& err, const char* what, const AutoKill& autokill, bool instant) const {
    const int rules = autokill.rules().count();
    std::string line = std::string(what) + "; auto kill " + (autokill.enabled() ? "on" : "off") + ", " +
                       std::to_string(rules) + (rules == 1 ? " rule" : " rules") + " from " +
                       autokill.ruleFilePath() + (autokill.loadReport().missing ? " (no such file)" : "") +
                       "; block log " + (autokill.blockLog().enabled() ? autokill.blockLog().path() : "off") +
                       "; instant cut " + (instant ? "on" : "off");
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
    auto monitor =
        std::make_unique<SessionMonitor>(platform_.table, platform_.processes, platform_.clock, lang_);
    auto autokill = std::make_unique<AutoKill>(settings, location_.RuleFilePath(), location_.folder(),
                                               platform_.reset, platform_.clock, lang_);
    Configure(settings, *monitor, *autokill);

    bool outClosed = false;
    BlockLog& log = autokill->blockLog();
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
    autokill->SetFailureListener([&err](const std::string& line) {
        err << "varnel: " << line << '\n' << std::flush;
    });
    monitor->SetTickHook(autokill.get());
    InstantCut cut(*monitor, *autokill);
    ConfigureInstantCut(settings, cut, err);
    Report(err, "monitoring", *autokill, cut.attached());

    using Clock = std::chrono::steady_clock;
    bool tableFailureTold = false;  // since the last read of the connection table that worked
    monitor->Start();
    auto next = Clock::now();
    while (!stop.load()) {
        if (reload.exchange(false)) {
            Configure(settings, *monitor, *autokill);
            ConfigureInstantCut(settings, cut, err);
            Report(err, "reloaded the rules and settings", *autokill, cut.attached());
        }
        if (cut.attached())
            TickJudgingEvents(*monitor, cut);
        else
            monitor->Tick();
        if (monitor->TableReadOk()) {
            tableFailureTold = false;
        } else if (!tableFailureTold) {
            tableFailureTold = true;
            err << "varnel: cannot read the connection table; trying again at every tick\n" << std::flush;
        }
        next += std::chrono::milliseconds(tickMs_);
        if (next < Clock::now()) next = Clock::now();  // a slow tick does not make later ones race
        // The sleep between ticks, in slices of at most 50 ms so that `stop` is seen; with instant
        // cut on it is a wait for events, which are judged as they come.
        while (!stop.load() && Clock::now() < next) {
            const auto slice = std::min<Clock::duration>(next - Clock::now(), std::chrono::milliseconds(50));
            if (!cut.attached()) {
                std::this_thread::sleep_for(slice);
                continue;
            }
            pollfd p{cut.fd(), POLLIN, 0};
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(slice).count();
            if (poll(&p, 1, static_cast<int>(ms)) > 0) cut.Drain();
        }
    }
    monitor->Stop();
    if (tableRead_ >= 0) close(tableRead_);
    tableRead_ = -1;
    return 0;
}

}  // namespace varnel
