#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "app/cli/CheckRulesCommand.h"
#include "app/cli/CommandLine.h"
#include "app/cli/HeadlessCommand.h"
#include "app/cli/ListCommand.h"
#include "app/startup/StandardDescriptors.h"
#include "settings/ConfigLocation.h"
#include "settings/UiLanguage.h"
#include "text/FixedText.h"
#ifdef VARNEL_HAVE_GUI
#include "app/gui/GuiMain.h"
#endif
#include "platform/linux/JournalSender.h"
#include "platform/linux/LinuxConnectionTable.h"
#include "platform/linux/KernelConnectEvents.h"
#include "platform/linux/NetlinkSocketDestroy.h"
#include "platform/linux/ProcProcessList.h"
#include "platform/linux/SystemClock.h"
#include "platform/linux/AresReverseLookup.h"
#include "resolve/HostNameCache.h"
#include "report/JournalEventSink.h"
#include "resolve/ResolverPool.h"

using namespace varnel;

namespace {

std::atomic<bool> g_stop{false};
std::atomic<bool> g_reload{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handlers store into them");

void OnStopSignal(int) {
    g_stop.store(true);
}
void OnReloadSignal(int) {
    g_reload.store(true);
}

// How long --list waits for host names before printing what it has.
constexpr int kListResolveWaitMs = 2000;

std::unique_ptr<ResolverPool> MakeResolver() {
    return std::make_unique<ResolverPool>(std::make_shared<HostNameCache>(),
                                          std::make_shared<AresReverseLookup>());
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything opens a descriptor: a closed 0, 1 or 2 would be taken by the first socket.
    StandardDescriptors::Closed closed;
    if (!StandardDescriptors::Secure(closed)) {
        if (!closed.error)
            std::fputs("varnel: cannot open /dev/null for a closed standard descriptor\n", stderr);
        return 1;
    }
    // /dev/null now stands in for a closed standard output. The stream is marked failed, so that
    // a command that reports a reader gone (--headless) says so on standard error.
    if (closed.output) std::cout.setstate(std::ios::badbit);

    CommandLine cl;
    std::string error;
    if (!cl.Parse(argc, argv, error)) {
        std::fprintf(stderr, "varnel: %s\n%sTry 'varnel --help'.\n", error.c_str(), CommandLine::UsageLine());
        return 2;
    }
    UiLanguage lang = cl.lang ? UiLanguage(*cl.lang) : UiLanguage::FromEnvironment();
    // A folder named on the command line must be usable before anything runs in it; --check-rules
    // only reads and makes none.
    if (cl.configDir && cl.mode != CommandLine::Mode::kHelp) {
        ConfigLocation given(ConfigLocation::ThisProcess(), cl.configDir);
        std::string why;
        const bool readOnly = cl.mode == CommandLine::Mode::kCheckRules;
        if (!(readOnly ? given.CheckFolder(why) : given.EnsureFolder(why))) {
            std::fprintf(stderr, "varnel: --config-dir %s: %s\n", PrintableLine(*cl.configDir).c_str(),
                         why.c_str());
            return 2;
        }
    }

    switch (cl.mode) {
        case CommandLine::Mode::kHelp:
            std::fputs(CommandLine::HelpText(), stdout);
            return 0;
        case CommandLine::Mode::kCheckRules: {
            std::string path =
                cl.rulesFile ? *cl.rulesFile
                             : ConfigLocation(ConfigLocation::ThisProcess(), cl.configDir).RuleFilePath();
            return RunCheckRules(path, std::cout, std::cerr);
        }
        case CommandLine::Mode::kHeadless: {
            struct sigaction sa {};
            sa.sa_handler = OnStopSignal;
            sigemptyset(&sa.sa_mask);
            sigaction(SIGINT, &sa, nullptr);
            sigaction(SIGTERM, &sa, nullptr);
            // SIGHUP asks for a reload instead of ending the process.
            sa.sa_handler = OnReloadSignal;
            sigaction(SIGHUP, &sa, nullptr);
            // A closed standard output is a failed write that the command reports, not a death.
            sa.sa_handler = SIG_IGN;
            sigaction(SIGPIPE, &sa, nullptr);
            ConfigLocation location = ConfigLocation::ForThisProcess(cl.configDir);
            LinuxConnectionTable table;
            ProcProcessList processes;
            NetlinkSocketDestroy reset;
            SystemClock clock;
            KernelConnectEvents events;
            std::unique_ptr<ResolverPool> resolver = cl.noResolve ? nullptr : MakeResolver();
            HeadlessCommand headless({table, processes, reset, clock, &events}, location, lang);
            headless.SetHostNameSource(resolver.get());
            headless.SetForceAutoKill(cl.autokill);
            headless.SetNoInstantCut(cl.noInstantCut);
            headless.SetFormat(cl.format);
            headless.SetMetricsFile(cl.metricsFile);
            // Under systemd the events go to the journal as structured entries; JSON lines stay JSON.
            const JournalSender::Streams journal = JournalSender::Connected(std::getenv("JOURNAL_STREAM"));
            std::unique_ptr<JournalEventSink> journalSink;
            if ((journal.out || journal.err) && cl.format == OutputFormat::kText)
                headless.SetEventSinkWrapper([&](EventSink& streams) -> EventSink& {
                    journalSink = std::make_unique<JournalEventSink>(streams, journal.out, journal.err,
                                                                     &JournalSender::Send);
                    return *journalSink;
                });
            return headless.Run(std::cout, std::cerr, g_stop, g_reload);
        }
        case CommandLine::Mode::kWindow:
#ifdef VARNEL_HAVE_GUI
            return RunWindow(argc, argv, cl, lang);
#else
            break;
#endif
        case CommandLine::Mode::kList:
            break;
    }
    // The list (also the window mode of a build without the window).
    LinuxConnectionTable table;
    ProcProcessList processes;
    SystemClock clock;
    std::unique_ptr<ResolverPool> resolver = cl.noResolve ? nullptr : MakeResolver();
    ListCommand list(table, processes, clock, lang);
    list.SetHostNameSource(resolver.get(), kListResolveWaitMs);
    list.SetAll(cl.all);
    list.SetIpv6(cl.ipv6);
    list.SetFormat(cl.format);
    return list.Run(std::cout, std::cerr);
}
