#pragma once

#include <QMainWindow>
#include <QPointer>
#include <string>

#include "app/gui/MainWindowPlacement.h"
#include "app/gui/MainWindowTray.h"
#include "monitor/SessionMonitorPage.h"
#include "settings/SettingsFile.h"
#include "settings/UiLanguage.h"

class QAction;
class QMenu;
class QSystemTrayIcon;
class QTabWidget;

namespace varnel {

class OptionsDialog;

// The program's window: one tab, "Session Monitor", holding the session monitor page, 803 x 440
// pixels at start frame included, never smaller than a 770 x 200 client area, with a tray icon.
//
// Construction shows the wait cursor throughout.
//
// Settings, section "Settings": "Position" (WindowPlacementText of the normal outer rectangle),
// "IsZoomed", "MainWindow" (1 while shown, 0 while hidden in the tray), "Minimized" (to the tray at
// start), "WindowTopMost", "WindowStretch" (sticky screen edges), "LogRootFolder" (written back
// empty when empty); section "Session": "SplitSize" (as read, for the layout). All are read at
// construction; Teardown writes them back, then lets the page stop and save, then empties the
// host-name and process-name caches. Closing the window, Exit (Esc on the window, Shift+Esc, the
// tray menu) and the end of the program all run Teardown and then quit the application.
//
// Minimising hides the window to the tray while a tray exists; without one it minimises as usual
// and stays "shown". When a tray host appears or comes back (MainWindowTray), the icon is added
// again and the window goes to the tray; when it goes away, a window hidden in it comes back.
//
// The settings file and everything in `platform` are borrowed and must outlive the window.
// GUI thread only.
class MainWindow : public QMainWindow {
    Q_OBJECT

  public:
    static constexpr int kInitialWidth = 803;
    static constexpr int kInitialHeight = 440;
    static constexpr int kMinClientWidth = 770;
    static constexpr int kMinClientHeight = 200;
    static constexpr int kTrayPollMs = MainWindowTray::kPollMs;
    static constexpr int kTrayMenuWaitMs = 200;
    // How long the caption asks for attention when the program starts on screen.
    static constexpr int kAlertMs = 1000;

    // The window's commands, by their historic ids.
    enum Command : int {
        kExit = 32771,
        kBackToOriginalSize = 32774,
        kPreviousTab = 32776,
        kNextTab = 32777,
        kOptions = 32779,
        kAbout = 32780,
        kRemoveAllItems = 32783,
        kClipboardCopy = 32784,
        kAlwaysTopmost = 32791,
        kKillSession = 32833,
    };

    // Takes the settings file's failure listener for its lifetime: a save that could not be made
    // is told in the page's log pane.
    MainWindow(MonitorPlatform platform, SettingsFile& settings, std::string ruleFilePath,
               std::string logFolder, const UiLanguage& lang);
    ~MainWindow() override;

    // The one teardown: writes "MainWindow", "SplitSize", the empty "LogRootFolder", "IsZoomed"
    // and "Position", removes the tray icon, stops the page and writes its keys, then empties the
    // host-name and process-name caches. Running it again has the same effect.
    void Teardown();
    // The Exit command: Teardown, close the window and quit the application.
    void ExitProgram();
    // Shows the window again where it was (top-most by the flag) when it is hidden in the tray or
    // minimised, and brings it to the front.
    void RestoreFromTray();
    // "Back to original size": a window on screen goes to the tray, a hidden one comes back.
    void BackToOriginalSize();
    // Minimise: to the tray when there is one, else to the taskbar.
    void Minimise();
    // Writes every key Teardown writes and stops nothing: the desktop asks for this before a
    // log-out that the user may still cancel.
    void CommitData();

    // Shows the tray icon when a tray exists (at start, on minimise, when a tray appears).
    void AddTrayIcon();
    // The tray check of the timer: a tray that has appeared gets the icon and the window; a window
    // hidden in a tray that has gone away comes back to the screen.
    void PollTray();
    // A right click on the tray icon: the window comes forward with the focus when it is on
    // screen, then the tray menu opens at the cursor (once the window is active, or after
    // kTrayMenuWaitMs).
    void TrayContextMenu();

    // Runs one of the commands above; false for an id that is not one of them.
    bool RunCommand(int command);

    // Lays the page's inner windows out by MainWindowLayout with "SplitSize" as read at start and
    // the page's "LOG View", and shows the Always topmost button by the flag. Runs whenever the
    // page is resized or asks for it.
    void MainWindowLayout();
    void SetTopMost(bool on);

    // MainWindowPlacement::Current, Apply and SnapRect.
    WindowPlacementText CurrentPlacement() const;
    bool ApplyPlacement(const WindowPlacementText& placement);
    void SnapRect(ScreenRect& rect, ScreenPoint cursor, const ScreenRect& workArea);
    MainWindowPlacement& placement() { return placement_; }

    SessionMonitorPage* page() const { return page_; }
    QTabWidget* tabs() const { return tabs_; }
    QSystemTrayIcon* trayIcon() const { return tray_->icon(); }
    QMenu* trayMenu() const { return tray_->menu(); }
    MainWindowTray& tray() const { return *tray_; }
    // The tab's context menu: Options and About.
    QMenu* windowMenu() const { return windowMenu_; }
    bool topMost() const { return topMost_; }
    bool shown() const { return shown_; }
    bool trayIconPresent() const { return tray_->present(); }
    int currentTab() const { return tabIndex_; }

    // Whether a tray exists; replaceable so that tests can have one or not.
    void SetTrayAvailable(std::function<bool()> available) { tray_->SetAvailable(std::move(available)); }
    // Opens the Options dialog, application-modal and without blocking; OK runs
    // ReloadAfterOptions. While one is open, it is brought to the front instead.
    void OpenOptions();
    // The open Options dialog, or nullptr.
    OptionsDialog* optionsDialog() const;
    // After the Options dialog's OK: re-reads "WindowTopMost", "WindowStretch", "Minimized" and
    // "LogRootFolder", sets top-most by the flag, reloads the page's colours and rules (BLOCKED to
    // 0, block-log settings again) and lays the window out.
    void ReloadAfterOptions();

    // Shows the About box; replaceable so that tests see it without a modal run.
    void SetShowAbout(std::function<void()> show) { showAbout_ = std::move(show); }
    // Flashes the caption (QApplication::alert), once, at the first show unless the window starts
    // in the tray; replaceable so that tests see it where the platform shows nothing.
    void SetAlert(std::function<void()> alert) { alert_ = std::move(alert); }

  signals:
    // The Options command (Alt+F10, the page's Options button, the window menu); the Options
    // dialog is opened by whoever listens (the program connects it to OpenOptions).
    void optionsRequested();

  protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void ReadSettings();
    void BuildTray();
    void BuildShortcuts();
    void WriteWindowSettings(SettingsFile::Batch& batch) const;
    void SwitchTab(int delta);
    void ShowAbout();
    // After the tray host has appeared or come back: the window goes to the tray.
    void OnTrayHostBack();
    void OpenPendingTrayMenu();

    SettingsFile& settings_;
    UiLanguage lang_;
    QTabWidget* tabs_ = nullptr;
    SessionMonitorPage* page_ = nullptr;
    MainWindowTray* tray_ = nullptr;
    QMenu* windowMenu_ = nullptr;

    bool topMost_ = false;
    bool startMinimised_ = false;
    int tabIndex_ = 0;
    std::string logRootFolder_;
    int splitSize_ = 100;
    bool shown_ = true;
    // "MainWindow" was 0 or "Minimized" is set: the first show goes on to the tray.
    bool startInTray_ = false;
    // A right click on the tray icon waits for the window's activation before its menu opens.
    bool trayMenuPending_ = false;
    MainWindowPlacement placement_;
    // Set by Teardown, so that the close and the quit that follow it do not write everything again.
    bool tornDown_ = false;

    std::function<void()> showAbout_;
    std::function<void()> alert_;
    bool alerted_ = false;
    QPointer<OptionsDialog> options_;
};

}  // namespace varnel
