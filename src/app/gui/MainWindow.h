#pragma once

#include <QMainWindow>

#include "settings/SettingsFile.h"
#include "settings/UiLanguage.h"
#include "monitor/SessionMonitorPage.h"

class QTabWidget;

namespace varnel {

// The program's window: one tab, "Session Monitor", holding the session monitor page, 803 x 440
// pixels at start and never smaller than a 770 x 200 client area. Closing it saves the page's
// settings (the caller ends the program when exec returns). Always topmost follows
// "Settings"/"WindowTopMost" and is written back when toggled.
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

    MainWindow(MonitorPlatform platform, const SettingsFile& settings, std::string ruleFilePath,
               std::string logFolder, const UiLanguage& lang);

    SessionMonitorPage* page() const { return page_; }
    QTabWidget* tabs() const { return tabs_; }
    bool topMost() const { return topMost_; }

    // Lays the page out again and shows the Always topmost button by the flag.
    void MainWindowLayout();
    void SetTopMost(bool on);

  signals:
    // The page's Options button; the Options dialog is opened by whoever listens.
    void optionsRequested();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void SaveOnce();

    const SettingsFile& settings_;
    QTabWidget* tabs_ = nullptr;
    SessionMonitorPage* page_ = nullptr;
    bool topMost_ = false;
    bool saved_ = false;
};

}  // namespace varnel
