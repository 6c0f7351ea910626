// What reaches the window from outside the event loop: SIGTERM/SIGINT through the self-pipe, and the
// login manager's resume signal over D-Bus (on a private bus of the test's own).
#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <functional>

#include "app/gui/MainWindowTray.h"
#include "app/gui/ResumeWatcher.h"
#include "app/gui/SignalBridge.h"

namespace varnel {
namespace {

bool WaitFor(const std::function<bool()>& done, int ms = 3000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

TEST(SignalBridgeTest, TerminationSignalsArriveInTheEventLoopAndTheOldHandlersComeBack) {
    struct sigaction before {};
    sigaction(SIGTERM, nullptr, &before);
    std::vector<int> got;
    {
        SignalBridge bridge;
        QObject::connect(&bridge, &SignalBridge::terminationRequested, [&](int s) { got.push_back(s); });
        raise(SIGTERM);
        raise(SIGINT);
        EXPECT_TRUE(got.empty()) << "nothing runs inside the handler";
        ASSERT_TRUE(WaitFor([&] { return got.size() == 2; }));
        EXPECT_EQ(got, (std::vector<int>{SIGTERM, SIGINT}));
    }
    struct sigaction after {};
    sigaction(SIGTERM, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}

// A message bus of the test's own, so the signal can be sent under the login manager's name.
class PrivateBus {
  public:
    PrivateBus() {
        const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
        if (daemon.isEmpty()) return;
        config_ = dir_.filePath("bus.conf");
        QFile f(config_);
        f.open(QIODevice::WriteOnly);
        f.write(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>
<allow own="*"/></policy></busconfig>)");
        f.close();
        process_.start(daemon, {"--config-file=" + config_, "--print-address=1", "--nofork"});
        while (!process_.canReadLine() && process_.waitForReadyRead(5000)) {
        }
        if (process_.canReadLine()) address_ = QString::fromUtf8(process_.readLine()).trimmed();
    }
    ~PrivateBus() {
        process_.kill();
        process_.waitForFinished(2000);
    }
    const QString& address() const { return address_; }

  private:
    QTemporaryDir dir_;
    QString config_;
    QProcess process_;
    QString address_;
};

TEST(ResumeWatcherTest, OnlyTheLoginManagersResumeSignalRestarts) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon is installed by scripts/install-deps.sh";
    int resumed = 0;
    {
        QDBusConnection watcherBus = QDBusConnection::connectToBus(bus.address(), "watcher");
        QDBusConnection login = QDBusConnection::connectToBus(bus.address(), "login");
        QDBusConnection stranger = QDBusConnection::connectToBus(bus.address(), "stranger");
        ASSERT_TRUE(login.registerService(ResumeWatcher::kService));
        ResumeWatcher watcher(watcherBus);
        ASSERT_TRUE(watcher.listening());
        QObject::connect(&watcher, &ResumeWatcher::resumed, [&] { ++resumed; });
        auto send = [](QDBusConnection& from, bool start) {
            QDBusMessage m = QDBusMessage::createSignal(ResumeWatcher::kPath, ResumeWatcher::kInterface,
                                                        "PrepareForSleep");
            m << start;
            from.send(m);
        };
        send(login, true);      // going to sleep: nothing yet
        send(stranger, false);  // not the login manager
        send(login, false);     // woke up
        ASSERT_TRUE(WaitFor([&] { return resumed > 0; }));
        WaitFor([] { return false; }, 300);  // anything else in flight arrives meanwhile
        EXPECT_EQ(resumed, 1);
    }
    for (const char* name : {"watcher", "login", "stranger"}) QDBusConnection::disconnectFromBus(name);

    ResumeWatcher noBus(QDBusConnection("no such connection"));
    EXPECT_FALSE(noBus.listening());
}

// With a StatusNotifier host on the session bus the tray menu is exported (such hosts show no
// other), and it brings the window forward as it opens; no second menu is popped up by hand.
TEST(MainWindowTrayBusTest, AStatusNotifierHostGetsTheMenuExported) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon is installed by scripts/install-deps.sh";
    // Before the first session-bus use: ctest runs each case in a process of its own.
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8());
    QDBusConnection host = QDBusConnection::connectToBus(bus.address(), "host");
    ASSERT_TRUE(host.registerService("org.kde.StatusNotifierWatcher"));
    QWidget window;
    MainWindowTray tray(UiLanguage("EN"), &window);
    EXPECT_EQ(tray.icon()->contextMenu(), tray.menu());
    int asked = 0, opening = 0;
    QObject::connect(&tray, &MainWindowTray::contextRequested, [&] { ++asked; });
    QObject::connect(&tray, &MainWindowTray::menuOpening, [&] { ++opening; });
    emit tray.icon()->activated(QSystemTrayIcon::Context);
    emit tray.menu()->aboutToShow();
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(opening, 1);
}

}  // namespace
}  // namespace varnel
