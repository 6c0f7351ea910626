#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "autokill/AutoKill.h"
#include "display/ColumnWidthsSetting.h"
#include "engine/MonitorEngine.h"
#include "monitor/MainWindowLayout.h"
#include "platform/Clock.h"
#include "platform/ConnectEventSource.h"
#include "platform/ConnectionReset.h"
#include "platform/ConnectionTable.h"
#include "platform/ProcessList.h"
#include "session/HostNameSource.h"
#include "session/SessionMonitor.h"
#include "settings/SettingsFile.h"
#include "settings/UiLanguage.h"

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSocketNotifier;
class QTimer;
class QToolBar;

namespace varnel {

class CColorEdit;
class CListCtrlEx3;
class SessionContextMenu;
class SelectionKeeper;
class SessionListModel;

// Everything nondeterministic the page uses. All borrowed; they must outlive the page.
struct MonitorPlatform {
    ConnectionTable& table;
    ProcessList& processes;
    ConnectionReset& reset;
    Clock& clock;
    // The resolver; nullptr means no host-name resolution in this run (--no-resolve): the check box
    // shows unticked and disabled, and the saved "AskDNS" is written back as it was read.
    HostNameSource* hostNames = nullptr;
    // Empties the host-name cache under the cache's own lock ("Remove all items"); may be empty.
    std::function<void()> flushHostNames;
    // Readies `reset` for resets the user has just asked for: before a Kill Session (forKill; may
    // wait for the user) and when the user switches auto kill on with rules loaded (must not
    // wait). Where resets need the administrator's password, this is when it is asked for. May
    // be empty.
    std::function<void(bool forKill)> prepareReset;
    // The kernel's connection events for instant cut; nullptr: none (--no-instant-cut, or a
    // platform without them). The window's own process must be allowed to load them (CAP_BPF and
    // CAP_PERFMON); the reset helper never does this for it.
    ConnectEventSource* events = nullptr;
};

// The "Session Monitor" page: the START/STOP button, the three switches, the BLOCKED and
// connection counters, the LOG button, the session list, the LOG View pane and a toolbar with
// Options and Always topmost. It keeps its settings in section "Session" of the settings file
// (read here, written by SaveSettings).
//
// While running, a 500 ms timer ticks the monitor, then the list, the counter, the BLOCKED label
// and the pane follow. Enter anywhere on the page toggles START/STOP; Escape does nothing.
//
// Ownership: the page owns its MonitorEngine (the session monitor and auto kill) and the list
// model and list view that read it. Qt deletes a widget's children only after the derived class's
// members are gone, too late for anything that reads the engine; so the model (no Qt parent) and
// the view (a child widget for display, deleted through its member, which takes it out of the
// page's children) are members declared after the engine, and the context menu after them. They
// go first, then the engine, then the remaining child widgets, which read neither. The settings
// file and the platform parts are borrowed and must outlive the page. GUI thread only.
class SessionMonitorPage : public QWidget {
    Q_OBJECT

  public:
    // The row of the filter box and the counter between the band and the list; the list's box
    // from the main window's layout gives it this much of its top.
    static constexpr int kFilterRowHeight = 26;
    static constexpr int kTickMs = SessionMonitor::kTickMs;

    // How the page shows a failure (the LOG button's boxes, a refused Kill Session) and starts a
    // program; replaceable so that tests see them without a modal box or a real process.
    using Warn = std::function<void(const QString& text)>;
    using StartProgram = std::function<bool(const QString& program, const QStringList& arguments)>;
    // A yes/no question (Yes is true); replaceable like Warn.
    using AskUser = std::function<bool(const QString& text)>;

    SessionMonitorPage(MonitorPlatform platform, SettingsFile& settings, std::string ruleFilePath,
                       std::string logFolder, UiLanguage lang, QWidget* parent = nullptr);
    ~SessionMonitorPage() override;

    // START when stopped, STOP when running.
    void StartStop();
    bool running() const { return engine_->running(); }
    // One timer tick (public so tests and benches tick without waiting).
    void OnMonitorTick();
    // Kernel connection events wait: judged at once (instant cut), then the counters and the pane.
    void OnKernelEvents();
    // A header click: re-sort by `column` (same column flips the direction).
    void OnColumnClick(int column);
    // Stops monitoring and writes the page's keys; the window calls it when it closes. Repeating it
    // writes the keys again. With `batch`, the keys are added to it and written when it commits.
    void SaveSettings();
    void SaveSettings(SettingsFile::Batch& batch);
    // Writes the page's keys and leaves monitoring and auto kill as they are: the desktop asks for
    // the data before a log-out that the user may still cancel.
    void WriteSettings();
    // The same keys added to `batch`, for one write together with the window's.
    void WriteSettings(SettingsFile::Batch& batch) const;
    // Opens the block log with "LogViewer", or with the desktop's handler when that is empty.
    // False (after the message box) when the program could not be started.
    bool OpenBlockLog();
    // Re-reads the rule file (and the block-log settings), after the Options dialog. A rule file
    // that could not be read, the rule-line limit and suspect rule lines are told in the pane.
    void ReloadRules();
    // Re-reads the colours of the list and the pane.
    void ReloadColours();

    // Places the inner windows where the main window's layout puts them: the list's box below the
    // band holds the filter row (kFilterRowHeight) and under it the list; the pane is placed and shown only when the layout
    // shows it; the toolbar at the layout's box. Sizes below zero are taken as zero.
    void ApplyLayout(const MainWindowLayout& layout);
    // Shows the Always topmost button pressed or released (the window owns the flag).
    void SetTopMostChecked(bool on);

    // Reads up to nine "ColnmWidth" numbers into `widths`; returns how many were read.
    static int ParseColumnWidths(const std::string& text, int widths[kColumnCount]) {
        return ColumnWidthsSetting::Parse(text, widths);
    }

    // Refreshes the counter, the BLOCKED label and the pane from the monitor and auto kill. While
    // monitoring is stopped the counter's place says so ("Monitoring stopped — rules are not
    // enforced") and the frozen rows are greyed. Ends with statusChanged.
    void UpdateLabels();
    static QString PauseText(const UiLanguage& lang);
    // The tray icon's tooltip for the page's state (TrayStatusText).
    QString TrayToolTip() const;
    // The quick filter box above the list: Ctrl+F focuses it, Esc in it clears it. Its words narrow
    // the list from the next tick on (SessionMonitor::SetFilterText); auto kill is not affected.
    QLineEdit* filterBox() const { return filterBox_; }
    void SetFilterText(const QString& text);
    SelectionKeeper& selection() { return *selection_; }

    // Whether the list shows IPv6 connections (setting ShowIPv6, 0 by default). Switching writes
    // the setting at once; the list follows at the next tick. Auto kill covers IPv6 either way.
    void SetShowIpv6(bool on);
    bool showIpv6() const { return engine_->monitor().showIpv6(); }

    bool logView() const { return logView_; }
    // "SplitSize" limited to 12..1200; the layout takes the main window's own, as read.
    int splitSize() const { return splitSize_; }
    uint32_t resetMaxMinutes() const { return engine_->resetMaxMinutes(); }
    const UiLanguage& language() const { return lang_; }
    const SettingsFile& settings() const { return settings_; }
    // For the few choices written at once (ShowIPv6, CopyColumn).
    SettingsFile& settingsForWrite() { return settings_; }

    MonitorEngine& engine() { return *engine_; }
    SessionMonitor& monitor() { return engine_->monitor(); }
    AutoKill& autoKill() { return engine_->autoKill(); }
    SessionListModel& model() { return *model_; }
    CListCtrlEx3* list() const { return list_.get(); }
    CColorEdit* logPane() const { return pane_; }
    QPushButton* startStopButton() const { return startButton_; }
    QCheckBox* askDnsBox() const { return askDnsBox_; }
    QCheckBox* autoBlockBox() const { return autoBlockBox_; }
    QCheckBox* logViewBox() const { return logViewBox_; }
    QLabel* blockedLabel() const { return blockedLabel_; }
    QLabel* counterLabel() const { return counterLabel_; }
    QPushButton* logButton() const { return logButton_; }
    QToolBar* toolBar() const { return toolBar_; }
    QAction* optionsAction() const { return optionsAction_; }
    QAction* topMostAction() const { return topMostAction_; }
    SessionContextMenu& contextMenu() { return *menu_; }
    QTimer* timer() const { return timer_; }

    // Empties the host-name cache (through MonitorPlatform::flushHostNames).
    void FlushHostNames();
    // Through MonitorPlatform::prepareReset.
    void PrepareReset(bool forKill);

    void SetWarn(Warn warn) { warn_ = std::move(warn); }
    void SetStartProgram(StartProgram start) { startProgram_ = std::move(start); }
    void Warning(const QString& text) const;
    void SetAsk(AskUser ask) { ask_ = std::move(ask); }
    bool Ask(const QString& text) const { return ask_ && ask_(text); }
    // The question in a message box captioned with the program's name.
    static bool AskInABox(const QString& text);

  signals:
    // The toolbar's Options button (after ConfigTab/ConfigSel are set for the dialog).
    void optionsRequested();
    // The toolbar's Always topmost button, with its new state.
    void topMostToggled(bool on);
    // The page needs laying out again: it was resized or "LOG View" was switched. The main window
    // answers with its layout.
    void layoutRequested();
    // The counter, BLOCKED, the running state or the auto kill switch may have changed.
    void statusChanged();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void ReadSettings();
    // Puts what the last rule load has to tell (AutoKill::LoadMessages) into the pane.
    void ReportRuleLoad();
    void UpdatePane();
    void BuildControls();
    void OnAskDns(bool on);
    void OnAutoBlock(bool on);
    void OnLogView(bool on);
    void OnOptions();
    void WatchKeys(QWidget* widget);
    // True for a key press that toggles START/STOP.
    static bool IsEnter(const QEvent* event);

    MonitorPlatform platform_;
    SettingsFile& settings_;
    UiLanguage lang_;
    // Before the model and the view, which read it (see the class comment).
    std::unique_ptr<MonitorEngine> engine_;

    bool autoStart_ = true;
    bool logView_ = false;
    int splitSize_ = 100;
    ColumnWidthsSetting widths_;
    // What the pane shows: how many of the log's pane lines, and the newest of them.
    size_t paneLineCount_ = 0;
    std::string paneFront_;

    std::unique_ptr<SessionListModel> model_;
    std::unique_ptr<CListCtrlEx3> list_;  // a child widget of the page, deleted here first
    CColorEdit* pane_ = nullptr;
    QWidget* bar_ = nullptr;
    QPushButton* startButton_ = nullptr;
    QCheckBox* askDnsBox_ = nullptr;
    QCheckBox* autoBlockBox_ = nullptr;
    QCheckBox* logViewBox_ = nullptr;
    QLabel* blockedLabel_ = nullptr;
    QLabel* counterLabel_ = nullptr;
    QWidget* filterRow_ = nullptr;
    QLineEdit* filterBox_ = nullptr;  // a QuickFilterBox
    SelectionKeeper* selection_ = nullptr;
    bool pauseShown_ = false;
    QPushButton* logButton_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QAction* optionsAction_ = nullptr;
    QAction* topMostAction_ = nullptr;
    QTimer* timer_ = nullptr;
    QSocketNotifier* kernelEvents_ = nullptr;  // while instant cut is on
    std::unique_ptr<SessionContextMenu> menu_;

    Warn warn_;
    AskUser ask_ = &SessionMonitorPage::AskInABox;
    StartProgram startProgram_;
};

}  // namespace varnel
