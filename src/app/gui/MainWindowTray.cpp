#include "app/gui/MainWindowTray.h"

#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

#include "display/AppIcon.h"

namespace varnel {

MainWindowTray::MainWindowTray(const UiLanguage& lang, QWidget* window) : QObject(window) {
    available_ = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    icon_ = new QSystemTrayIcon(AppIcon(), this);
    icon_->setToolTip(QString(lang.Pick("Varnel (Kestrin)", "Varnel Kestrin")).left(126));
    menu_ = new QMenu(window);
    QAction* restore = menu_->addAction(lang.Pick("元のサイズに戻す(&R)", "Back to original size(&R)"));
    menu_->addSeparator();
    autoKill_ = menu_->addAction(lang.Pick("自動切断", "Auto Kill Session"));
    autoKill_->setCheckable(true);
    connect(autoKill_, &QAction::triggered, this, &MainWindowTray::autoKillSwitched);
    menu_->addSeparator();
    QAction* exit = menu_->addAction(lang.Pick("Varnel (Kestrin) の終了(&X)", "Exit(&X)"));
    menu_->setDefaultAction(restore);
    connect(restore, &QAction::triggered, this, &MainWindowTray::backToOriginalSize);
    // Queued: the menu finishes closing before the window goes.
    connect(exit, &QAction::triggered, this, &MainWindowTray::exitRequested, Qt::QueuedConnection);
    connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            emit backToOriginalSize();
        else if (reason == QSystemTrayIcon::DoubleClick)
            emit doubleClicked();
        else if (reason == QSystemTrayIcon::Context && icon_->contextMenu() == nullptr)
            emit contextRequested();
    });
    // Where the desktop has a StatusNotifier host, the tray icon is one on the session bus and the
    // host shows only a menu the program exports: the menu is handed over, and the window comes
    // forward as it opens instead of before.
    QDBusConnection sessionBus = QDBusConnection::sessionBus();
    if (sessionBus.isConnected() && sessionBus.interface() != nullptr &&
        sessionBus.interface()->isServiceRegistered("org.kde.StatusNotifierWatcher")) {
        icon_->setContextMenu(menu_);
        connect(menu_, &QMenu::aboutToShow, this, &MainWindowTray::menuOpening);
    }

    poll_ = new QTimer(this);
    poll_->setInterval(kPollMs);
    connect(poll_, &QTimer::timeout, this, &MainWindowTray::Poll);
    poll_->start();

    // A StatusNotifier host that restarts registers its watcher again; the poll would see that
    // only when the restart spans one of its checks.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        auto* watcher = new QDBusServiceWatcher("org.kde.StatusNotifierWatcher", bus,
                                                QDBusServiceWatcher::WatchForRegistration, this);
        connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, [this] {
            if (poll_->isActive()) HostCreated();
        });
    }
}

void MainWindowTray::SetToolTip(const QString& text) {
    const QString tip = text.left(126);
    if (icon_->toolTip() != tip) icon_->setToolTip(tip);
}

void MainWindowTray::SetAutoKillChecked(bool on) {
    autoKill_->setChecked(on);
}

void MainWindowTray::Add() {
    if (!Available()) return;
    icon_->show();
    present_ = true;
}

void MainWindowTray::Remove() {
    icon_->hide();
    present_ = false;
    poll_->stop();
}

void MainWindowTray::Poll() {
    const bool available = Available();
    if (available && !present_) {
        Add();
        emit hostBack();
    } else if (!available && present_) {
        present_ = false;
        emit hostGone();
    }
}

void MainWindowTray::HostCreated() {
    // The old icon went with the old host: it is taken away and added anew.
    icon_->hide();
    present_ = false;
    Add();
    if (present_) emit hostBack();
}

void MainWindowTray::PopUpMenu(const QPoint& fallback) {
    QPoint at = QCursor::pos();
    if (at == QPoint(-1, -1)) at = fallback;
    menu_->popup(at);
}

}  // namespace varnel
