#include "app/gui/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QSessionManager>
#include <QShortcut>
#include <QTabBar>
#include <QTabWidget>
#include <QCheckBox>
#include <QTimer>
#include <algorithm>

#include "app/gui/AboutBox.h"
#include "display/AppIcon.h"
#include "display/CListCtrlEx3.h"
#include "monitor/SessionContextMenu.h"
#include "options/AutoKillOptionsPage.h"
#include "options/ColorOptionsPage.h"
#include "options/OptionsDialog.h"

namespace varnel {

namespace {

// The settings file's failure line ("settings not saved to <path>: <reason>") in the language in
// force; the path and the system's reason stay as they are.
std::string SaveFailureText(const std::string& line, const UiLanguage& lang) {
    static constexpr std::string_view kPrefix = "settings not saved to ";
    if (!lang.IsJapanese() || line.compare(0, kPrefix.size(), kPrefix) != 0) return line;
    return "設定を保存できません: " + line.substr(kPrefix.size());
}

}  // namespace

namespace {

// The tab's margins around the page, and how much shorter than that area the page is.
constexpr int kTabMarginLeft = 4;
constexpr int kTabMarginTop = 23;
constexpr int kPageShortfall = 19;

// The wait cursor for as long as it lives, however the scope is left.
class WaitCursor {
  public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

MainWindow::MainWindow(MonitorPlatform platform, SettingsFile& settings, std::string ruleFilePath,
                       std::string logFolder, const UiLanguage& lang)
    : settings_(settings), lang_(lang), placement_(*this) {
    setWindowTitle("Varnel (Kestrin)");
    setWindowIcon(AppIcon());
    // The window hides to the tray and dialogs open while it is hidden: the program ends by Exit
    // or by closing the window, never because the last visible window went.
    QApplication::setQuitOnLastWindowClosed(false);
    showAbout_ = [this] {
        AboutBox box(lang_, this);
        box.exec();
    };
    alert_ = [this] { QApplication::alert(this, kAlertMs); };

    // Building the page reads the settings, the rules and the first connection table.
    const WaitCursor wait;
    ReadSettings();

    tabs_ = new QTabWidget(this);
    tabs_->setFocusPolicy(Qt::NoFocus);
    tabs_->setDocumentMode(false);
    page_ = new SessionMonitorPage(std::move(platform), settings, std::move(ruleFilePath),
                                   std::move(logFolder), lang);
    tabs_->addTab(page_, lang.Pick("セッションモニター", "Session Monitor"));
    tabs_->setCurrentIndex(0);
    setCentralWidget(tabs_);
    tabs_->setMinimumSize(kMinClientWidth, kMinClientHeight);

    // The desktop's window menu is out of reach; the tab's own menu carries its two entries.
    windowMenu_ = new QMenu(this);
    QAction* options =
        windowMenu_->addAction(lang.Pick("オプション設定(&O)...\tAlt+F10", "Options(&O)...\tAlt+F10"));
    QAction* about = windowMenu_->addAction(lang.Pick("バージョン情報(&A)...", "About(&A)..."));
    connect(options, &QAction::triggered, this, [this] { RunCommand(kOptions); });
    connect(about, &QAction::triggered, this, [this] { RunCommand(kAbout); });
    tabs_->tabBar()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tabs_->tabBar(), &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { windowMenu_->popup(tabs_->tabBar()->mapToGlobal(pos)); });

    connect(page_, &SessionMonitorPage::topMostToggled, this, &MainWindow::SetTopMost);
    connect(page_, &SessionMonitorPage::layoutRequested, this, &MainWindow::MainWindowLayout);
    connect(page_, &SessionMonitorPage::optionsRequested, this, &MainWindow::optionsRequested);
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] { CommitData(); });
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (!tornDown_) Teardown();
    });

    BuildShortcuts();
    BuildTray();
    // The listener may be called on any writing thread; the pane is the GUI thread's.
    settings_.SetFailureListener([this](const std::string& line) {
        QMetaObject::invokeMethod(
            this,
            [this, line] {
                page_->autoKill().blockLog().AddPaneLine(SaveFailureText(line, lang_));
                page_->UpdateLabels();
            },
            Qt::QueuedConnection);
    });

    if (topMost_) setWindowFlag(Qt::WindowStaysOnTopHint, true);
    MainWindowLayout();
    placement_.SetOuterSize(kInitialWidth, kInitialHeight);
    if (auto placement = WindowPlacementText::Parse(settings_.Read(SettingsKeys::kPosition)))
        ApplyPlacement(*placement);
    if (settings_.Read(SettingsKeys::kIsZoomed)) setWindowState(windowState() | Qt::WindowMaximized);
    MainWindowLayout();
    AddTrayIcon();
    page_->setFocus();
}

MainWindow::~MainWindow() {
    settings_.SetFailureListener({});
}

void MainWindow::ReadSettings() {
    topMost_ = settings_.Read(SettingsKeys::kWindowTopMost);
    placement_.SetStretch(settings_.Read(SettingsKeys::kWindowStretch));
    startMinimised_ = settings_.Read(SettingsKeys::kMinimized);
    logRootFolder_ = settings_.Read(SettingsKeys::kLogRootFolder);
    // The window starts on screen; closed while in the tray, it goes there again once shown.
    startInTray_ = !settings_.Read(SettingsKeys::kMainWindow) || startMinimised_;
    splitSize_ = settings_.Read(SettingsKeys::kWindowSplitSize);
}

void MainWindow::BuildShortcuts() {
    struct Accelerator {
        QKeyCombination keys;
        Command command;
    };
    // Ahead of the page's own keys: the shortcut map sees a key before any widget does.
    const Accelerator accelerators[] = {
        {Qt::SHIFT | Qt::Key_Escape, kExit},
        {Qt::ALT | Qt::Key_F10, kOptions},
        {Qt::CTRL | Qt::Key_PageDown, kPreviousTab},
        {Qt::CTRL | Qt::Key_PageUp, kNextTab},
    };
    for (const Accelerator& a : accelerators) {
        auto* shortcut = new QShortcut(QKeySequence(a.keys), this);
        shortcut->setContext(Qt::WindowShortcut);
        const int command = a.command;
        connect(shortcut, &QShortcut::activated, this, [this, command] { RunCommand(command); });
    }
}

void MainWindow::BuildTray() {
    tray_ = new MainWindowTray(lang_, this);
    connect(tray_, &MainWindowTray::backToOriginalSize, this, [this] { RunCommand(kBackToOriginalSize); });
    connect(tray_, &MainWindowTray::exitRequested, this, [this] { RunCommand(kExit); });
    connect(tray_, &MainWindowTray::contextRequested, this, &MainWindow::TrayContextMenu);
    connect(tray_, &MainWindowTray::menuOpening, this, [this] {
        if (!isVisible()) return;
        raise();
        activateWindow();
    });
    connect(tray_, &MainWindowTray::doubleClicked, this, [this] {
        // The first click of the pair has toggled already; the pair never leaves it hidden.
        if (!isVisible() || isMinimized()) RestoreFromTray();
    });
    // The tray tells the page's state and switches auto kill as the page's box does.
    connect(tray_, &MainWindowTray::autoKillSwitched, this,
            [this](bool on) { page_->autoBlockBox()->setChecked(on); });
    auto showStatus = [this] {
        tray_->SetToolTip(page_->TrayToolTip());
        tray_->SetAutoKillChecked(page_->autoBlockBox()->isChecked());
    };
    connect(page_, &SessionMonitorPage::statusChanged, this, showStatus);
    showStatus();
    connect(tray_, &MainWindowTray::hostBack, this, &MainWindow::OnTrayHostBack);
    connect(tray_, &MainWindowTray::hostGone, this, [this] {
        // A window hidden in a tray that went away would be out of reach.
        if (!shown_) RestoreFromTray();
    });
}

void MainWindow::AddTrayIcon() {
    tray_->Add();
}

void MainWindow::PollTray() {
    tray_->Poll();
}

void MainWindow::OnTrayHostBack() {
    // As when the panel restarts: the window is hidden to the tray where it stands.
    if (isVisible()) Minimise();
}

void MainWindow::TrayContextMenu() {
    trayMenuPending_ = true;
    if (isVisible()) {
        raise();
        activateWindow();
        // The window system activates the window later; an open popup would keep the activation
        // from reaching the window, so the menu waits for it (or for kTrayMenuWaitMs).
        if (!isActiveWindow()) {
            QTimer::singleShot(kTrayMenuWaitMs, this, &MainWindow::OpenPendingTrayMenu);
            return;
        }
    }
    OpenPendingTrayMenu();
}

void MainWindow::OpenPendingTrayMenu() {
    if (!trayMenuPending_) return;
    trayMenuPending_ = false;
    tray_->PopUpMenu(mapToGlobal(QPoint(5, 5)));
}

void MainWindow::Minimise() {
    if (!tray_->Available()) {
        showMinimized();
        shown_ = true;
        return;
    }
    AddTrayIcon();
    // Only the minimised bit goes: a maximised window comes back maximised.
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    hide();
    shown_ = false;
}

void MainWindow::RestoreFromTray() {
    if (!isVisible()) {
        shown_ = true;
        setWindowFlag(Qt::WindowStaysOnTopHint, topMost_);
        show();
    }
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
}

void MainWindow::BackToOriginalSize() {
    if (isVisible() && !isMinimized())
        Minimise();
    else
        RestoreFromTray();
}

bool MainWindow::RunCommand(int command) {
    switch (command) {
        case kExit:
            ExitProgram();
            return true;
        case kBackToOriginalSize:
            BackToOriginalSize();
            return true;
        case kPreviousTab:
            SwitchTab(-1);
            return true;
        case kNextTab:
            SwitchTab(+1);
            return true;
        case kOptions:
            emit optionsRequested();
            return true;
        case kAbout:
            ShowAbout();
            return true;
        case kRemoveAllItems:
        case kClipboardCopy:
        case kKillSession:
            page_->contextMenu().Run(command);
            return true;
        case kAlwaysTopmost:
            SetTopMost(!topMost_);
            return true;
        default:
            return false;
    }
}

void MainWindow::SwitchTab(int delta) {
    const int count = tabs_->count();
    const int index = std::clamp(tabs_->currentIndex() + delta, 0, std::max(0, count - 1));
    const int before = tabIndex_;
    tabIndex_ = index;
    tabs_->setCurrentIndex(index);
    if (index != before) {
        page_->list()->viewport()->update();
        MainWindowLayout();
    }
}

void MainWindow::ShowAbout() {
    if (showAbout_) showAbout_();
}

void MainWindow::MainWindowLayout() {
    if (page_ == nullptr) return;
    // The page fills the tab's client rectangle less its margins, all but the last 19 pixels of
    // that rectangle's height: its right and bottom edges follow from the page's own size.
    const ScreenRect area{kTabMarginLeft, kTabMarginTop, page_->width(), page_->height() + kPageShortfall};
    page_->ApplyLayout(varnel::MainWindowLayout::Compute(area, splitSize_, page_->logView()));
    page_->SetTopMostChecked(topMost_);
}

void MainWindow::SetTopMost(bool on) {
    topMost_ = on;
    const bool visible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, on);
    if (visible) show();  // changing the flags hides the window
    settings_.Write(SettingsKeys::kWindowTopMost, on);
    MainWindowLayout();
}

void MainWindow::OpenOptions() {
    if (options_) {
        options_->raise();
        options_->activateWindow();
        return;
    }
    options_ = new OptionsDialog(settings_, lang_, this);
    options_->setAttribute(Qt::WA_DeleteOnClose);
    options_->setWindowModality(Qt::ApplicationModal);
    // The rule editor counts against what auto kill tests at that moment.
    auto rows = [this](std::vector<SessionRow>& out, size_t& shown, int& hour) {
        SessionMonitor& monitor = page_->monitor();
        AutoKill::JudgedRows(monitor, out, shown);
        hour = monitor.clock().LocalTime().tm_hour;
    };
    options_->AddPage(
        new AutoKillOptionsPage(settings_, page_->autoKill().ruleFilePath(), lang_, std::move(rows)));
    options_->AddPage(new ColorOptionsPage(settings_, lang_));
    connect(options_, &QDialog::accepted, this, &MainWindow::ReloadAfterOptions);
    options_->open();
}

OptionsDialog* MainWindow::optionsDialog() const {
    return options_;
}

void MainWindow::ReloadAfterOptions() {
    const bool topMost = settings_.Read(SettingsKeys::kWindowTopMost);
    placement_.SetStretch(settings_.Read(SettingsKeys::kWindowStretch));
    startMinimised_ = settings_.Read(SettingsKeys::kMinimized);
    logRootFolder_ = settings_.Read(SettingsKeys::kLogRootFolder);
    if (topMost != topMost_) {
        topMost_ = topMost;
        const bool visible = isVisible();
        setWindowFlag(Qt::WindowStaysOnTopHint, topMost_);
        if (visible) show();  // changing the flags hides the window
    }
    page_->ReloadColours();
    page_->ReloadRules();
    MainWindowLayout();
}

WindowPlacementText MainWindow::CurrentPlacement() const {
    return placement_.Current();
}

bool MainWindow::ApplyPlacement(const WindowPlacementText& placement) {
    return placement_.Apply(placement);
}

void MainWindow::SnapRect(ScreenRect& rect, ScreenPoint cursor, const ScreenRect& workArea) {
    placement_.SnapRect(rect, cursor, workArea);
}

void MainWindow::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    placement_.FrameMayBeKnown();
    placement_.Moved();
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    placement_.Shown();
    // The caption flashes once when the program starts on screen.
    if (!alerted_ && !startInTray_ && alert_) alert_();
    alerted_ = true;
    if (!startInTray_) return;
    startInTray_ = false;
    // After the show has been handled, as the caption's minimise button would be.
    QTimer::singleShot(0, this, [this] { Minimise(); });
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) OpenPendingTrayMenu();
    if (event->type() != QEvent::WindowStateChange) return;
    placement_.FrameMayBeKnown();
    // The caption's minimise button: to the tray, once the state change has been delivered.
    if (isMinimized() && isVisible() && tray_->Available())
        QTimer::singleShot(0, this, [this] {
            if (isMinimized() && isVisible()) Minimise();
        });
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    // Keys the page has not taken. Esc on the window itself is Exit; Enter and F1 do nothing.
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && event->key() == Qt::Key_Escape) {
        RunCommand(kExit);
        return;
    }
    if (plain &&
        (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_F1))
        return;
    QMainWindow::keyPressEvent(event);
}

void MainWindow::WriteWindowSettings(SettingsFile::Batch& batch) const {
    batch.Set(SettingsKeys::kMainWindow, shown_);
    batch.Set(SettingsKeys::kWindowSplitSize, splitSize_);
    if (logRootFolder_.empty()) batch.Set(SettingsKeys::kLogRootFolder, "");
    batch.Set(SettingsKeys::kIsZoomed, isMaximized());
    batch.Set(SettingsKeys::kPosition, CurrentPlacement().Format());
}

void MainWindow::CommitData() {
    // The end of a run: every key of the window and the page in one rewrite of the file.
    SettingsFile::Batch batch(settings_);
    WriteWindowSettings(batch);
    page_->WriteSettings(batch);
    batch.Commit();
}

void MainWindow::Teardown() {
    SettingsFile::Batch batch(settings_);
    WriteWindowSettings(batch);
    tray_->Remove();
    page_->SaveSettings(batch);
    batch.Commit();
    page_->FlushHostNames();
    page_->monitor().processNames().Clear();
    tornDown_ = true;
}

void MainWindow::ExitProgram() {
    Teardown();
    close();
    QCoreApplication::quit();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!tornDown_) Teardown();
    event->accept();
    QCoreApplication::quit();
}

}  // namespace varnel
