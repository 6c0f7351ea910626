#include "app/cli/HeadlessCommand.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "engine/MonitorEngine.h"
#include "report/MetricsFileWriter.h"
#include "report/MetricsRegistry.h"
#include "report/StreamEventSink.h"
#include "text/FixedText.h"

#ifndef VARNEL_VERSION
#define VARNEL_VERSION "unknown"
#endif

namespace varnel {

namespace {

void Tell(EventSink& sink, MonitorEvent::Kind kind, std::string_view message) {
    MonitorEvent e;
    e.kind = kind;
    e.message = message;
    sink.Tell(e);
}

double UnixSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

void HeadlessCommand::Report(EventSink& sink, MetricsRegistry& metrics, const char* what,
                             const AutoKill& autokill, bool instantCut) const {
    const int rules = autokill.rules().count();
    std::string line = std::string(what) + "; auto kill " + (autokill.enabled() ? "on" : "off") + ", " +
                       std::to_string(rules) + (rules == 1 ? " rule" : " rules") + " from " +
                       autokill.ruleFilePath() + (autokill.loadReport().missing ? " (no such file)" : "") +
                       "; block log " + (autokill.blockLog().enabled() ? autokill.blockLog().path() : "off") +
                       "; instant cut " + (instantCut ? "on" : "off");
    Tell(sink, MonitorEvent::Kind::kRulesLoaded, PrintableLine(line));
    for (const std::string& message : autokill.LoadMessages()) Tell(sink, MonitorEvent::Kind::kRuleError, message);
    metrics.ObserveLoad(autokill.loadReport());
    metrics.SetAutoKillEnabled(autokill.enabled());
    metrics.SetInstantCut(instantCut);
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

    BlockLog& log = autokill.blockLog();
    StreamEventSink streams(format_, out, err);
    streams.SetOutputClosedCallback([&] {
        std::string where = log.enabled() ? "block-log lines go on to " + log.path()
                                          : "the block log file is off, so block-log lines are kept nowhere";
        err << "varnel: standard output closed; " << PrintableLine(where) << '\n' << std::flush;
    });
    EventSink& sink = wrapSink_ ? wrapSink_(streams) : streams;
    MetricsRegistry metrics(VARNEL_VERSION);
    autokill.SetEventListener([&](const MonitorEvent& e) {
        metrics.Count(e);
        sink.Tell(e);
    });
    log.SetFailureListener([&sink](const std::string& line) { Tell(sink, MonitorEvent::Kind::kLogWriteFailed, line); });
    Report(sink, metrics, "monitoring", autokill, engine.instantCutOn());

    // The metrics file: the command line's, else the settings' (read again at a reload).
    std::unique_ptr<MetricsFileWriter> metricsFile;
    auto openMetrics = [&] {
        const std::string path = metricsFile_ ? *metricsFile_ : settings.Read(SettingsKeys::kMetricsFile);
        if (path.empty())
            metricsFile.reset();
        else if (!metricsFile || metricsFile->path() != path)
            metricsFile = std::make_unique<MetricsFileWriter>(path);
    };
    auto writeMetrics = [&](bool force) {
        const auto now = MetricsFileWriter::Clock::now();
        if (!metricsFile || !(force || metricsFile->Due(now))) return;
        metrics.CountConnections(monitor);
        const std::string failure = metricsFile->Write(metrics.Render(), now);
        if (!failure.empty()) err << "varnel: " << failure << '\n' << std::flush;
    };
    openMetrics();

    using Clock = std::chrono::steady_clock;
    bool tableFailureTold = false;  // since the last read of the connection table that worked
    engine.Start();
    auto next = Clock::now();
    while (!stop.load()) {
        if (reload.exchange(false)) {
            engine.Configure();
            tellInstantCut();
            Report(sink, metrics, "reloaded the rules and settings", autokill, engine.instantCutOn());
            openMetrics();
        }
        const auto tickStart = Clock::now();
        engine.Tick();
        if (metricsFile) {
            HostNameSource* names = monitor.snapshot().hostNameSource();
            metrics.ObserveTick(monitor, names ? names->PendingLookups() : 0,
                                std::chrono::duration<double>(Clock::now() - tickStart).count(), UnixSeconds());
            writeMetrics(false);
        }
        if (monitor.TableReadOk()) {
            tableFailureTold = false;
        } else if (!tableFailureTold) {
            tableFailureTold = true;
            Tell(sink, MonitorEvent::Kind::kTableUnreadable,
                 "cannot read the connection table; trying again at every tick");
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
    metrics.SetUp(false);
    writeMetrics(true);
    return 0;
}

}  // namespace varnel
