#pragma once

#include <QObject>
#include <functional>

#include "settings/UiLanguage.h"

class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;
class QWidget;

namespace varnel {

// The main window's tray icon and its menu ("Back to original size", the default item, the
// "Auto Kill Session" switch and "Exit"), and the watch for the tray host: the host is looked for every kPollMs and, where the
// desktop has a StatusNotifier host, its watcher's registration on the session bus is followed
// at once.
//
// The icon does not open its menu by itself: a right click asks the window (contextRequested),
// which comes forward first and then opens menu() with PopUpMenu. A StatusNotifier host (one on
// the session bus at start) shows only exported menus: there the menu is the icon's own, and
// menuOpening asks the window to come forward as it opens.
//
// Owned by the window; GUI thread only.
class MainWindowTray : public QObject {
    Q_OBJECT

  public:
    static constexpr int kPollMs = 3000;

    // `window` owns the tray and parents its menu.
    MainWindowTray(const UiLanguage& lang, QWidget* window);

    // Whether a tray exists; replaceable so that tests can have one or not.
    void SetAvailable(std::function<bool()> available) { available_ = std::move(available); }
    bool Available() const { return available_ && available_(); }

    // Shows the icon when a tray exists; present() tells whether it did.
    void Add();
    // Takes the icon away for good: the watch stops too.
    void Remove();
    // The poll: a tray that has appeared (or come back) is told by hostBack; one that has gone
    // away with the icon in it by hostGone.
    void Poll();
    // The tray host was created again (a panel restarted): the icon is added anew and hostBack told.
    void HostCreated();
    // Opens the menu at the cursor, or at `fallback` when the cursor cannot be read.
    void PopUpMenu(const QPoint& fallback);

    // The tooltip (cut to 126 characters) and the menu's "Auto Kill Session" tick; neither tells
    // autoKillSwitched.
    void SetToolTip(const QString& text);
    void SetAutoKillChecked(bool on);
    QAction* autoKillAction() const { return autoKill_; }

    bool present() const { return present_; }
    QSystemTrayIcon* icon() const { return icon_; }
    QMenu* menu() const { return menu_; }

  signals:
    // A left click on the icon, or the menu's "Back to original size".
    void backToOriginalSize();
    // The menu's "Auto Kill Session" was chosen: the switch's new state.
    void autoKillSwitched(bool on);
    // A double click: the first click of the pair has toggled already.
    void doubleClicked();
    // A right click on the icon.
    void contextRequested();
    // The host opens the exported menu (StatusNotifier hosts only).
    void menuOpening();
    // The menu's "Exit", delivered after the menu has closed.
    void exitRequested();
    // The tray host is there again (or for the first time): the icon has been added.
    void hostBack();
    // The tray host went away while the icon was in it.
    void hostGone();

  private:
    QSystemTrayIcon* icon_ = nullptr;
    QMenu* menu_ = nullptr;
    QAction* autoKill_ = nullptr;
    QTimer* poll_ = nullptr;
    bool present_ = false;
    std::function<bool()> available_;
};

}  // namespace varnel
