#include "monitor/SessionMonitorPage.h"

#include <QAction>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTextCursor>
#include <QSocketNotifier>
#include <QTimer>
#include <QToolBar>
#include <algorithm>

#include "display/CColorEdit.h"
#include "display/CListCtrlEx3.h"
#include "display/ColumnWidthsSetting.h"
#include "display/CSortHeaderCtrl.h"
#include "display/SelectionKeeper.h"
#include "display/SessionListModel.h"
#include "monitor/BlockLogOpenMessage.h"
#include "monitor/QuickFilterBox.h"
#include "monitor/SessionContextMenu.h"
#include "monitor/TrayStatusText.h"
#include "settings/ConfigLocation.h"

namespace varnel {

namespace {


// The list's place: below the band of controls, at the page's left margin.
constexpr int kBandHeight = 29;
constexpr int kFilterRowHeight = SessionMonitorPage::kFilterRowHeight;
constexpr int kSideMargin = 5;

QString Text(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

SessionMonitorPage::SessionMonitorPage(MonitorPlatform platform, SettingsFile& settings,
                                       std::string ruleFilePath, std::string logFolder, UiLanguage lang,
                                       QWidget* parent)
    : QWidget(parent), platform_(std::move(platform)), settings_(settings), lang_(std::move(lang)) {
    engine_ = std::make_unique<MonitorEngine>(
        MonitorEngine::Platform{platform_.table, platform_.processes, platform_.clock, platform_.hostNames,
                                platform_.events},
        MonitorEngine::AutoKillSetup{settings_, std::move(ruleFilePath), std::move(logFolder),
                                     platform_.reset},
        lang_);
    ReadSettings();
    engine_->Configure();
    ReportRuleLoad();
    // Instant cut where this process may load the kernel's event program; else it is told once in
    // the pane and the ticks alone cut.
    std::string news;
    if (engine_->TakeInstantCutNews(news)) autoKill().blockLog().AddPaneLine(news);
    if (engine_->eventFd() >= 0) {
        kernelEvents_ = new QSocketNotifier(engine_->eventFd(), QSocketNotifier::Read, this);
        connect(kernelEvents_, &QSocketNotifier::activated, this, &SessionMonitorPage::OnKernelEvents);
    }

    warn_ = [](const QString& text) {
        QMessageBox::warning(nullptr, Text(ConfigLocation::BaseNameOf(ConfigLocation::ExecutablePath())),
                             text);
    };
    startProgram_ = [](const QString& program, const QStringList& arguments) {
        return QProcess::startDetached(program, arguments);
    };

    model_ = std::make_unique<SessionListModel>(engine_->monitor(), lang_);
    BuildControls();
    menu_ = std::make_unique<SessionContextMenu>(*this);

    timer_ = new QTimer(this);
    timer_->setInterval(kTickMs);
    timer_->setTimerType(Qt::CoarseTimer);
    connect(timer_, &QTimer::timeout, this, &SessionMonitorPage::OnMonitorTick);

    UpdateLabels();
    if (autoStart_) StartStop();
}

// The members go in the order the class comment gives: the menu, the view and the model before
// the engine they read.
SessionMonitorPage::~SessionMonitorPage() = default;

void SessionMonitorPage::ReadSettings() {
    autoStart_ = settings_.Read(SettingsKeys::kAutoStart);
    logView_ = settings_.Read(SettingsKeys::kAutoBlockLogView);
    engine_->SetShowIpv6(settings_.Read(SettingsKeys::kShowIpv6));
    splitSize_ = settings_.Read(SettingsKeys::kSplitSize);
    widths_.Read(settings_);
}

void SessionMonitorPage::BuildControls() {
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);

    bar_ = new QWidget(this);
    // The band holds six controls in 770 pixels; a point less than the list keeps every text whole.
    QFont small = bar_->font();
    if (small.pointSizeF() > 8.5) small.setPointSizeF(small.pointSizeF() - 1);
    bar_->setFont(small);
    auto* row = new QHBoxLayout(bar_);
    row->setContentsMargins(kSideMargin, 2, 2, 2);
    row->setSpacing(5);

    startButton_ = new QPushButton(bar_);
    startButton_->setText(lang_.Pick("開始", "START"));
    startButton_->setDefault(true);
    startButton_->setFixedWidth(64);
    askDnsBox_ = new QCheckBox(lang_.Pick("ホスト名を取得", "Hostname resolution"), bar_);
    autoBlockBox_ = new QCheckBox(lang_.Pick("自動切断", "Auto Kill Session"), bar_);
    blockedLabel_ = new QLabel(bar_);
    logViewBox_ = new QCheckBox(lang_.Pick("切断ログ表示", "LOG View"), bar_);
    logButton_ = new QPushButton("LOG", bar_);
    logButton_->setFixedWidth(44);
    counterLabel_ = new QLabel(bar_);
    for (QWidget* w : {static_cast<QWidget*>(startButton_), static_cast<QWidget*>(askDnsBox_),
                       static_cast<QWidget*>(autoBlockBox_), static_cast<QWidget*>(blockedLabel_),
                       static_cast<QWidget*>(logViewBox_), static_cast<QWidget*>(logButton_)})
        row->addWidget(w);
    row->addStretch(1);
    // Below the band, right above the list: the filter box and the counter, which has room there
    // for the longer pause text.
    filterRow_ = new QWidget(this);
    filterRow_->setFont(small);
    auto* filterRow = new QHBoxLayout(filterRow_);
    filterRow->setContentsMargins(kSideMargin, 0, 2, 2);
    filterRow->setSpacing(8);
    filterBox_ = new QuickFilterBox(lang_, this, filterRow_);
    filterBox_->setFixedWidth(260);
    counterLabel_->setParent(filterRow_);
    filterRow->addWidget(filterBox_);
    filterRow->addWidget(counterLabel_);
    filterRow->addStretch(1);
    connect(filterBox_, &QLineEdit::textChanged, this, &SessionMonitorPage::SetFilterText);
    // The switches keep their whole texts; only the stretch at the end gives way.
    for (QWidget* w : {static_cast<QWidget*>(askDnsBox_), static_cast<QWidget*>(autoBlockBox_),
                       static_cast<QWidget*>(logViewBox_), static_cast<QWidget*>(counterLabel_)})
        w->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    // Without a resolver (--no-resolve) this run resolves nothing, whatever the saved choice says.
    askDnsBox_->setChecked(engine_->askDns() && engine_->hasHostNames());
    askDnsBox_->setEnabled(engine_->hasHostNames());
    autoBlockBox_->setChecked(autoKill().enabled());
    logViewBox_->setChecked(logView_);
    blockedLabel_->setEnabled(autoKill().enabled());

    connect(startButton_, &QPushButton::clicked, this, [this] { StartStop(); });
    connect(askDnsBox_, &QCheckBox::toggled, this, &SessionMonitorPage::OnAskDns);
    connect(autoBlockBox_, &QCheckBox::toggled, this, &SessionMonitorPage::OnAutoBlock);
    connect(logViewBox_, &QCheckBox::toggled, this, &SessionMonitorPage::OnLogView);
    connect(logButton_, &QPushButton::clicked, this, [this] { OpenBlockLog(); });

    list_ = std::make_unique<CListCtrlEx3>(this);
    list_->setModel(model_.get());
    selection_ = new SelectionKeeper(*model_, *list_->selectionModel(), list_.get());
    model_->SetFrozen(!monitor().running());
    list_->SetBkColor(0x000000);
    list_->SetTextBkColor(0x000000);
    list_->SetTextColor(0xFFFFFF);
    list_->SetUp(settings_);
    widths_.ApplyTo(*list_, model_->columnCount());
    list_->sortHeader()->SetSortIndicator(monitor().sorter().sortColumn(),
                                          monitor().sorter().sortDescending());
    connect(list_->sortHeader(), &QHeaderView::sectionClicked, this, &SessionMonitorPage::OnColumnClick);

    pane_ = new CColorEdit(this);
    pane_->setReadOnly(true);
    pane_->setUndoRedoEnabled(false);
    pane_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    pane_->LoadColours(settings_);
    pane_->setVisible(logView_);

    toolBar_ = new QToolBar(this);
    toolBar_->setIconSize(QSize(16, 15));
    toolBar_->setMovable(false);
    toolBar_->setFloatable(false);
    toolBar_->setContentsMargins(0, 0, 0, 0);
    toolBar_->layout()->setSpacing(0);
    optionsAction_ = toolBar_->addAction(style()->standardIcon(QStyle::SP_FileDialogDetailedView),
                                         lang_.Pick("オプション設定", "Options"));
    topMostAction_ =
        toolBar_->addAction(style()->standardIcon(QStyle::SP_TitleBarShadeButton), "Always topmost");
    topMostAction_->setCheckable(true);
    // A toolbar button is its 16 x 15 image and 7 pixels each way: both fit in the 51 pixels the
    // layout leaves at the page's right edge.
    for (QAction* action : {optionsAction_, topMostAction_})
        toolBar_->widgetForAction(action)->setFixedSize(23, 22);
    connect(optionsAction_, &QAction::triggered, this, &SessionMonitorPage::OnOptions);
    connect(topMostAction_, &QAction::triggered, this, [this](bool on) { emit topMostToggled(on); });

    // The filter box keeps Enter and Esc for itself.
    for (QWidget* w : findChildren<QWidget*>())
        if (w != filterBox_) WatchKeys(w);
    WatchKeys(list_->viewport());
    WatchKeys(pane_->viewport());
}

void SessionMonitorPage::WatchKeys(QWidget* widget) {
    widget->installEventFilter(this);
}

bool SessionMonitorPage::IsEnter(const QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<const QKeyEvent*>(event);
    return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
}

bool SessionMonitorPage::eventFilter(QObject* watched, QEvent* event) {
    // The menu key opens the list's menu near the page's top left corner, not at the mouse.
    if (event->type() == QEvent::ContextMenu && menu_ != nullptr &&
        (watched == list_.get() || watched == list_->viewport()) &&
        static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard) {
        menu_->OnContextMenu(mapToGlobal(QPoint(5, 5)));
        return true;
    }
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (IsEnter(event)) {
            StartStop();
            return true;
        }
        if (key == Qt::Key_Escape) return true;
    }
    return QWidget::eventFilter(watched, event);
}

void SessionMonitorPage::keyPressEvent(QKeyEvent* event) {
    if (IsEnter(event)) {
        StartStop();
        return;
    }
    if (event->key() == Qt::Key_Escape) return;
    QWidget::keyPressEvent(event);
}

void SessionMonitorPage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    emit layoutRequested();
}

void SessionMonitorPage::ApplyLayout(const MainWindowLayout& layout) {
    if (list_ == nullptr) return;
    auto size = [](int extent) { return std::clamp(extent, 0, QWIDGETSIZE_MAX); };
    // The filter row takes its height from the top of the list's box.
    list_->setGeometry(kSideMargin, kBandHeight + kFilterRowHeight, size(layout.list.width),
                       size(layout.list.height - kFilterRowHeight));
    filterRow_->setGeometry(0, kBandHeight, size(kSideMargin + layout.list.width), kFilterRowHeight);
    if (layout.paneShown) {
        const MainWindowLayout::Box& p = layout.pane;
        pane_->setGeometry(p.x, p.y, size(p.width), size(p.height));
        pane_->show();
    } else {
        pane_->hide();
    }
    const MainWindowLayout::Box& t = layout.toolBar;
    toolBar_->setGeometry(t.x, t.y, size(t.width), size(t.height));
    bar_->setGeometry(0, 0, size(t.x), kBandHeight);
    // Above the band, and below the list, which covers the toolbar's lower edge.
    toolBar_->stackUnder(list_.get());
}

void SessionMonitorPage::SetTopMostChecked(bool on) {
    topMostAction_->setChecked(on);
}

void SessionMonitorPage::StartStop() {
    if (!engine_->running()) {
        startButton_->setText(lang_.Pick("停止", "STOP"));
        engine_->Start();
        model_->Refresh();
        timer_->start();
    } else {
        startButton_->setText(lang_.Pick("開始", "START"));
        timer_->stop();
        engine_->Stop();
    }
    model_->SetFrozen(!engine_->running());
    UpdateLabels();
}

void SessionMonitorPage::OnMonitorTick() {
    engine_->Tick();
    model_->Refresh();
    UpdateLabels();
}

void SessionMonitorPage::OnKernelEvents() {
    if (engine_->DrainEvents() > 0) UpdateLabels();
}

void SessionMonitorPage::OnColumnClick(int column) {
    if (column < 0 || column >= kColumnCount) return;
    monitor().OnColumnClick(column);
    model_->Refresh();
    list_->sortHeader()->SetSortIndicator(monitor().sorter().sortColumn(),
                                          monitor().sorter().sortDescending());
}

void SessionMonitorPage::UpdateLabels() {
    const bool paused = !monitor().running();
    if (monitor().TakeCounterChanged() || paused != pauseShown_ || counterLabel_->text().isEmpty())
        counterLabel_->setText(paused ? PauseText(lang_) : Text(monitor().CounterText()));
    pauseShown_ = paused;
    QString blocked = Text(autoKill().BlockedText());
    if (blockedLabel_->text() != blocked) blockedLabel_->setText(blocked);
    UpdatePane();
    emit statusChanged();
}

QString SessionMonitorPage::PauseText(const UiLanguage& lang) {
    return QString::fromUtf8(
        lang.Pick("監視停止中 — ルールは適用されていません", "Monitoring stopped — rules are not enforced"));
}

QString SessionMonitorPage::TrayToolTip() const {
    TrayStatusText::State state;
    state.running = engine_->monitor().running();
    state.connections = engine_->monitor().shownCount();
    state.blocked = engine_->autoKill().blockedCount();
    state.autoKill = engine_->autoKill().enabled();
    return Text(TrayStatusText::Build(state, lang_));
}

void SessionMonitorPage::SetFilterText(const QString& text) {
    if (filterBox_->text() != text) {
        filterBox_->setText(text);  // comes back here through textChanged
        return;
    }
    monitor().SetFilterText(text.toStdString());
    if (monitor().running()) OnMonitorTick();
}

void SessionMonitorPage::UpdatePane() {
    // New lines arrive at the top and the older ones keep their order until the log empties the
    // pane, so most ticks only insert at the start. Rewriting the whole document every tick makes
    // the text document's storage grow without bound.
    const std::deque<std::string>& lines = autoKill().blockLog().paneLines();
    const size_t n = lines.size();
    const bool kept = paneLineCount_ > 0 && n >= paneLineCount_ && lines[n - paneLineCount_] == paneFront_;
    if (kept && n == paneLineCount_) return;
    if (!kept && n == 0 && paneLineCount_ == 0) return;
    const size_t fresh = kept ? n - paneLineCount_ : n;
    QString text;
    for (size_t i = 0; i < fresh; ++i) {
        text += Text(lines[i]);
        text += '\n';
    }
    if (kept) {
        QTextCursor cursor(pane_->document());
        cursor.movePosition(QTextCursor::Start);
        cursor.insertText(text);
    } else {
        pane_->setPlainText(text);
    }
    paneLineCount_ = n;
    paneFront_ = n > 0 ? lines.front() : std::string();
}

void SessionMonitorPage::OnAskDns(bool on) {
    engine_->SetAskDns(on);
}

void SessionMonitorPage::SetShowIpv6(bool on) {
    engine_->SetShowIpv6(on);
    // Written now rather than at close: the key exists only once the user has switched it.
    settings_.Write(SettingsKeys::kShowIpv6, on);
}

void SessionMonitorPage::OnAutoBlock(bool on) {
    if (on && !autoKill().rules().empty()) PrepareReset(false);
    autoKill().SetEnabled(on);
    autoKill().blockLog().ClearPane();
    blockedLabel_->setEnabled(on);
    UpdateLabels();
}

void SessionMonitorPage::OnLogView(bool on) {
    logView_ = on;
    emit layoutRequested();
}

void SessionMonitorPage::OnOptions() {
    // Tree item 0 is the group holding the "Auto Kill Session" tab; a dialog already left on that
    // group keeps the tab chosen since.
    if (settings_.Read(SettingsKeys::kConfigSel) != 0) {
        SettingsFile::Batch batch(settings_);
        batch.Set(SettingsKeys::kConfigTab, 0);
        batch.Set(SettingsKeys::kConfigSel, 0);
        batch.Commit();
    }
    emit optionsRequested();
}

void SessionMonitorPage::ReloadRules() {
    autoKill().LoadRules();
    ReportRuleLoad();
    UpdateLabels();
}

void SessionMonitorPage::ReportRuleLoad() {
    for (const std::string& line : autoKill().LoadMessages()) autoKill().blockLog().AddPaneLine(line);
}

void SessionMonitorPage::ReloadColours() {
    list_->LoadColours(settings_);
    pane_->LoadColours(settings_);
    list_->viewport()->update();
    pane_->viewport()->update();
}

void SessionMonitorPage::FlushHostNames() {
    if (platform_.flushHostNames) platform_.flushHostNames();
}

void SessionMonitorPage::PrepareReset(bool forKill) {
    if (platform_.prepareReset) platform_.prepareReset(forKill);
}

bool SessionMonitorPage::AskInABox(const QString& text) {
    return QMessageBox::question(nullptr, Text(ConfigLocation::BaseNameOf(ConfigLocation::ExecutablePath())), text,
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

void SessionMonitorPage::Warning(const QString& text) const {
    if (warn_) warn_(text);
}

bool SessionMonitorPage::OpenBlockLog() {
    const QString path = Text(autoKill().blockLog().path());
    const QString viewer = Text(settings_.Read(SettingsKeys::kLogViewer));
    if (!viewer.isEmpty()) {
        if (startProgram_(viewer, {path})) return true;
        Warning(BlockLogOpenMessage::NotStarted(path, viewer, {path}, lang_));
        return false;
    }
    // The desktop's handler reports nothing back, so a missing file is caught here.
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        Warning(BlockLogOpenMessage::NoFile(path, lang_));
        return false;
    }
    const QString opener = QString::fromLatin1(BlockLogOpenMessage::kDesktopOpener);
    if (startProgram_(opener, {path})) return true;
    Warning(BlockLogOpenMessage::NotStarted(path, opener, {path}, lang_));
    return false;
}

void SessionMonitorPage::SaveSettings() {
    SettingsFile::Batch batch(settings_);
    SaveSettings(batch);
    batch.Commit();
}

void SessionMonitorPage::SaveSettings(SettingsFile::Batch& batch) {
    timer_->stop();
    if (engine_->running()) engine_->Stop();
    startButton_->setText(lang_.Pick("開始", "START"));
    WriteSettings(batch);
}

void SessionMonitorPage::WriteSettings() {
    SettingsFile::Batch batch(settings_);
    WriteSettings(batch);
    batch.Commit();
}

void SessionMonitorPage::WriteSettings(SettingsFile::Batch& batch) const {
    // Without a resolver the box tells this run only; the saved choice stays as it was read.
    batch.Set(SettingsKeys::kAskDns, engine_->askDns());
    batch.Set(SettingsKeys::kAutoBlock, autoBlockBox_->isChecked());
    batch.Set(SettingsKeys::kAutoBlockLogView, logViewBox_->isChecked());

    ColumnWidthsSetting::Write(*list_, model_->columnCount(), batch);

    if (settings_.Read(SettingsKeys::kLogViewer).empty()) batch.Set(SettingsKeys::kLogViewer, "");
    batch.Set(SettingsKeys::kAutoBlockLogFormat, engine_->autoKill().blockLog().lineTemplate());
    batch.Set(SettingsKeys::kResetMaxConnections, static_cast<int>(engine_->resetMaxMinutes()));
}

}  // namespace varnel
