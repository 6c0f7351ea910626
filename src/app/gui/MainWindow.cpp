#include "app/gui/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QSessionManager>
#include <QTabWidget>

namespace varnel {

MainWindow::MainWindow(MonitorPlatform platform, const SettingsFile& settings, std::string ruleFilePath,
                       std::string logFolder, const UiLanguage& lang)
    : settings_(settings) {
    setWindowTitle("Varnel (Kestrin)");
    tabs_ = new QTabWidget(this);
    tabs_->setFocusPolicy(Qt::NoFocus);
    tabs_->setDocumentMode(false);
    page_ = new SessionMonitorPage(std::move(platform), settings, std::move(ruleFilePath),
                                   std::move(logFolder), lang);
    tabs_->addTab(page_, lang.Pick("セッションモニター", "Session Monitor"));
    setCentralWidget(tabs_);
    tabs_->setMinimumSize(kMinClientWidth, kMinClientHeight);

    connect(page_, &SessionMonitorPage::topMostToggled, this, &MainWindow::SetTopMost);
    connect(page_, &SessionMonitorPage::optionsRequested, this, &MainWindow::optionsRequested);
    // The end of the desktop session or a quit without a close event saves as closing does.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] { SaveOnce(); });
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { SaveOnce(); });

    topMost_ = settings_.ReadInt("Settings", "WindowTopMost", 0) != 0;
    if (topMost_) setWindowFlag(Qt::WindowStaysOnTopHint, true);
    resize(kInitialWidth, kInitialHeight);
    MainWindowLayout();
    page_->setFocus();
}

void MainWindow::MainWindowLayout() {
    if (page_ == nullptr) return;
    page_->SetTopMostChecked(topMost_);
    page_->LayOutControls();
}

void MainWindow::SetTopMost(bool on) {
    topMost_ = on;
    const bool visible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, on);
    if (visible) show();  // changing the flags hides the window
    settings_.WriteInt("Settings", "WindowTopMost", on ? 1 : 0);
    MainWindowLayout();
}

void MainWindow::SaveOnce() {
    if (saved_) return;
    page_->SaveSettings();
    saved_ = true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    SaveOnce();
    event->accept();
}

}  // namespace varnel
