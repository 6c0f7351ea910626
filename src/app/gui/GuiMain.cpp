#include "app/gui/GuiMain.h"

#include <unistd.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDir>
#include <QFont>
#include <QMessageBox>
#include <QProcess>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/gui/QtTranslations.h"
#include "app/gui/ResetAuthorization.h"
#include "app/gui/ResumeWatcher.h"
#include "app/gui/ShowRequestChannel.h"
#include "app/gui/SignalBridge.h"
#include "app/startup/DisplayCheck.h"
#include "app/startup/RestartHandOver.h"
#include "app/startup/SingleInstanceLock.h"
#include "text/FixedText.h"

#include "settings/ConfigLocation.h"
#include "settings/SettingsFile.h"
#include "app/gui/MainWindow.h"
#include "platform/linux/LinuxConnectionTable.h"
#include "platform/PrivilegedReset.h"
#include "platform/linux/KernelConnectEvents.h"
#include "platform/linux/NetlinkSocketDestroy.h"
#include "platform/linux/PkexecHelperLauncher.h"
#include "platform/linux/ProcessCapabilities.h"
#include "platform/linux/ProcProcessList.h"
#include "platform/linux/SystemClock.h"
#include "platform/linux/AresReverseLookup.h"
#include "resolve/HostNameCache.h"
#include "resolve/ResolverPool.h"

namespace varnel {

namespace {

// Starts this program again with "/w <this PID>" and the options this copy was started with; the
// new copy waits for this one to end. Called when this copy's teardown is done, just before it ends.
void StartSuccessor(const CommandLine& cl) {
    QStringList args;
    for (const std::string& arg : cl.SuccessorArguments(static_cast<unsigned long>(::getpid())))
        args << QString::fromStdString(arg);
    if (!QProcess::startDetached(QString::fromStdString(ConfigLocation::ExecutablePath()), args,
                                 QDir::currentPath()))
        std::fputs("varnel: could not start again after the resume\n", stderr);
}

}  // namespace

int RunWindow(int argc, char** argv, const CommandLine& cl, const UiLanguage& lang) {
    // Without a display Qt would end the process with SIGABRT; say why and what else there is.
    if (const std::string why = DisplayCheck::Problem(); !why.empty()) {
        std::fprintf(stderr, "varnel: %s\n", PrintableLine(why).c_str());
        return 1;
    }
    // A copy that restarted itself after a resume must be gone before this one takes its place.
    // It has saved everything before starting this one, so only its ending is awaited; one that is
    // slow to end is waited for (and said so), never left as the only copy to go away.
    RestartHandOver::Run(cl.positional, RestartHandOver::kLimit, [](pid_t pid) {
        std::fprintf(stderr, "varnel: the previous copy (PID %ld) has not ended yet; still waiting for it\n",
                     static_cast<long>(pid));
    });

    QApplication app(argc, argv);
    const std::string baseName = ConfigLocation::BaseNameOf(ConfigLocation::ExecutablePath());
    const QString caption = QString::fromStdString(baseName);  // of every message box without its own
    QApplication::setApplicationName(caption);
    QtTranslations::Install(app, lang);
    if (lang.IsJapanese()) {
        // Japanese texts need a font that has the glyphs; fontconfig falls back to it for the rest.
        QFont font = QApplication::font();
        font.setFamilies({font.family(), "VL PGothic", "VL Gothic", "Noto Sans CJK JP"});
        QApplication::setFont(font);
    }

    // One copy at a time, unless the user wants a second one; the lock is held until the end.
    SingleInstanceLock instance(SingleInstanceLock::PathFor(baseName));
    const SingleInstanceLock::State instanceState = instance.Acquire();
    if (instanceState == SingleInstanceLock::State::kHeldElsewhere) {
        const auto answer = QMessageBox::question(
            nullptr, caption,
            QString::fromUtf8(lang.Pick("既に起動していますが、続行しますか？", "Already started.\nContinue?")),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            // The running copy comes forward, out of the tray if it is there.
            ShowRequestChannel::Ring(ShowRequestChannel::PathForLock(instance.path()));
            return 0;
        }
    }

    ConfigLocation location = ConfigLocation::ForThisProcess(cl.configDir);
    SettingsFile settings(location.SettingsPath());
    auto cache = std::make_shared<HostNameCache>();
    std::unique_ptr<ResolverPool> resolver =
        cl.noResolve ? nullptr
                     : std::make_unique<ResolverPool>(cache, std::make_shared<AresReverseLookup>());
    int status = 0;
    bool restart = false;
    {
        LinuxConnectionTable table;
        ProcProcessList processes;
        SystemClock clock;
        // Without the right to reset, resets go through the helper, started behind the
        // administrator's password prompt when the first one is needed; it ends with this process.
        NetlinkSocketDestroy directReset;
        PkexecHelperLauncher launcher(PkexecHelperLauncher::FindHelper(ConfigLocation::ExecutablePath()));
        PrivilegedReset reset(directReset, ProcessCapabilities::HoldsNetAdmin(), launcher, clock);
        ResetAuthorization authorization(reset, lang);
        // Instant cut only where this process itself may load the kernel's event program; the
        // reset helper is never asked to.
        KernelConnectEvents events;
        MonitorPlatform platform{table,
                                 processes,
                                 reset,
                                 clock,
                                 resolver.get(),
                                 [cache] { cache->Flush(); },
                                 [&authorization](bool forKill) { authorization.Prepare(forKill); },
                                 cl.noInstantCut ? nullptr : &events};
        MainWindow window(platform, settings, location.RuleFilePath(), location.folder(), lang);
        authorization.SetParentWidget(&window);
        // Auto kill's failures go to the log pane and, for a desktop session's journal or the
        // terminal it was started from, to standard error.
        window.page()->autoKill().SetFailureListener([](const std::string& line) {
            std::fprintf(stderr, "varnel: %s\n", PrintableLine(line).c_str());
        });
        QObject::connect(&window, &MainWindow::optionsRequested, &window, &MainWindow::OpenOptions);
        // SIGTERM and SIGINT end the program as Exit does, settings saved.
        SignalBridge signalBridge;
        QObject::connect(&signalBridge, &SignalBridge::terminationRequested, &window,
                         [&window](int) { window.ExitProgram(); });
        // After a resume from suspend the program starts again: this copy ends first, its
        // successor is started once everything here is saved and ended (below).
        ResumeWatcher resume(QDBusConnection::systemBus());
        QObject::connect(&resume, &ResumeWatcher::resumed, &window, [&window, &restart] {
            restart = true;
            window.ExitProgram();
        });
        // Only the one copy listens for a refused start; one the user let start beside it does not.
        ShowRequestChannel showRequests(ShowRequestChannel::PathForLock(instance.path()));
        if (instanceState == SingleInstanceLock::State::kHeld) showRequests.Listen();
        QObject::connect(&showRequests, &ShowRequestChannel::showRequested, &window,
                         &MainWindow::RestoreFromTray);
        window.show();
        status = QApplication::exec();
    }
    // Here the window has saved its settings and the reset helper has ended with `reset`.
    // Workers still inside a lookup drop their answers after Shutdown, so the flush stays empty.
    if (resolver) resolver->Shutdown();
    cache->Flush();
    if (restart) StartSuccessor(cl);
    return status;
}

}  // namespace varnel
