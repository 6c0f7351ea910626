// The main window's tray: hiding to it and coming back, a tray that comes and goes, the icon's
// clicks and the menus.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>

#include <QCheckBox>

#include "app/gui/ShowRequestChannel.h"
#include "gui/MainWindowTestSupport.h"
#include "monitor/TrayStatusText.h"

namespace varnel {
namespace {

class MainWindowTrayTest : public test::MainWindowFixture {};

TEST_F(MainWindowTrayTest, MinimisingHidesToTheTrayAndTheNextStartGoesStraightThere) {
    auto w = Make();
    w->show();
    w->AddTrayIcon();
    EXPECT_TRUE(w->trayIconPresent());
    w->RunCommand(MainWindow::kBackToOriginalSize);  // a visible window goes to the tray
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(w->shown());
    w->Teardown();
    EXPECT_EQ(h.settings.ReadInt("Settings", "MainWindow", -1), 0);
    EXPECT_FALSE(w->trayIconPresent());

    auto next = Make();
    next->show();
    QApplication::processEvents();  // the start-up minimise
    EXPECT_FALSE(next->isVisible());
    EXPECT_FALSE(next->shown());
    next->RunCommand(MainWindow::kBackToOriginalSize);  // and back
    EXPECT_TRUE(next->isVisible());
    EXPECT_TRUE(next->shown());

    // The caption's minimise button goes to the tray too, not to the taskbar.
    next->showMinimized();
    QApplication::processEvents();
    EXPECT_FALSE(next->isVisible());
    EXPECT_FALSE(next->shown());
    next->RestoreFromTray();
    EXPECT_TRUE(next->isVisible());
    EXPECT_FALSE(next->isMinimized());
}

TEST_F(MainWindowTrayTest, WithoutATrayMinimisingStaysShownAndATrayAppearingLaterGetsTheIcon) {
    tray = false;
    h.settings.WriteInt("Settings", "MainWindow", 0);  // closed in a tray last time
    auto w = Make();
    w->show();
    QApplication::processEvents();
    EXPECT_TRUE(w->isMinimized());
    EXPECT_TRUE(w->shown());
    w->Minimise();
    QApplication::processEvents();
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(w->shown());
    EXPECT_FALSE(w->trayIconPresent());
    w->RestoreFromTray();
    EXPECT_FALSE(w->isMinimized());

    w->PollTray();
    EXPECT_FALSE(w->trayIconPresent());
    tray = true;
    w->PollTray();
    EXPECT_TRUE(w->trayIconPresent());
    // A tray appearing takes the window in, as a panel that restarts does.
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(w->shown());
    w->RestoreFromTray();
    w->tray().HostCreated();
    EXPECT_TRUE(w->trayIconPresent());
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(w->shown());
    w->RestoreFromTray();

    // A tray that goes away while the window is in it gives the window back.
    w->Minimise();
    ASSERT_FALSE(w->isVisible());
    tray = false;
    w->PollTray();
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(w->shown());
}

TEST_F(MainWindowTrayTest, RightClickOnTheTrayIconBringsTheWindowForwardThenOpensTheMenu) {
    auto w = Make();
    QWidget other;
    other.show();
    w->show();
    QApplication::processEvents();
    other.activateWindow();
    QApplication::processEvents();
    ASSERT_NE(QApplication::activeWindow(), w.get());
    bool activeAtMenu = false;
    QObject::connect(w->trayMenu(), &QMenu::aboutToShow,
                     [&] { activeAtMenu = QApplication::activeWindow() == w.get(); });
    emit w->trayIcon()->activated(QSystemTrayIcon::Context);
    QApplication::processEvents();
    EXPECT_TRUE(activeAtMenu);
    EXPECT_EQ(QApplication::activeWindow(), w.get());
    EXPECT_TRUE(w->trayMenu()->isVisible());
    w->trayMenu()->hide();
    EXPECT_TRUE(w->isVisible());  // the click itself neither hides nor shows the window
}

TEST_F(MainWindowTrayTest, TrayMenuAndWindowMenuInBothLanguages) {
    auto texts = [](QMenu* menu) {
        QStringList out;
        for (QAction* a : menu->actions()) out << (a->isSeparator() ? QString("-") : a->text());
        return out;
    };
    auto en = Make();
    EXPECT_EQ(texts(en->trayMenu()),
              (QStringList{"Back to original size(&R)", "-", "Auto Kill Session", "-", "Exit(&X)"}));
    EXPECT_EQ(en->trayMenu()->defaultAction(), en->trayMenu()->actions().first());
    EXPECT_EQ(texts(en->windowMenu()), (QStringList{"Options(&O)...\tAlt+F10", "About(&A)..."}));
    int options = 0;
    QObject::connect(en.get(), &MainWindow::optionsRequested, [&options] { ++options; });
    en->windowMenu()->actions()[0]->trigger();
    en->windowMenu()->actions()[1]->trigger();
    EXPECT_EQ(options, 1);
    EXPECT_EQ(abouts, 1);

    auto jp = Make(UiLanguage::Japanese());
    EXPECT_TRUE(jp->trayIcon()->toolTip().startsWith("Varnel (Kestrin)\n自動切断: 無効\n監視停止中"));
    EXPECT_EQ(texts(jp->trayMenu()),
              (QStringList{"元のサイズに戻す(&R)", "-", "自動切断", "-", "Varnel (Kestrin) の終了(&X)"}));
    EXPECT_EQ(texts(jp->windowMenu()),
              (QStringList{"オプション設定(&O)...\tAlt+F10", "バージョン情報(&A)..."}));
}

// The tray's tooltip follows the page: running or stopped, connections, BLOCKED, auto kill; the
// tray menu's "Auto Kill Session" switches the page's box and shows its state.
TEST_F(MainWindowTrayTest, TooltipTellsTheStateAndTheTrayMenuSwitchesAutoKill) {
    auto w = Make();
    SessionMonitorPage* page = w->page();
    QAction* autoKill = w->tray().autoKillAction();
    EXPECT_FALSE(autoKill->isChecked());
    autoKill->trigger();
    EXPECT_TRUE(page->autoBlockBox()->isChecked());
    EXPECT_TRUE(autoKill->isChecked());
    EXPECT_EQ(w->trayIcon()->toolTip(),
              "Varnel Kestrin\nAuto Kill Session: paused\nMonitoring stopped — rules are not enforced\nBLOCKED: 0");
    page->StartStop();
    EXPECT_EQ(w->trayIcon()->toolTip(), "Varnel Kestrin\nAuto Kill Session: on\nConnections: 0\nBLOCKED: 0");
    page->autoBlockBox()->setChecked(false);
    EXPECT_FALSE(autoKill->isChecked());
    EXPECT_EQ(w->trayIcon()->toolTip(), "Varnel Kestrin\nAuto Kill Session: off\nConnections: 0\nBLOCKED: 0");
}

// A refused second start rings the running copy's socket and its window comes out of the tray;
// with nobody listening the ring reports that nobody answered.
TEST_F(MainWindowTrayTest, ARefusedSecondStartBringsTheHiddenWindowForward) {
    const QString path = ShowRequestChannel::PathForLock(h.dir.filePath("varnel.lock").toStdString());
    EXPECT_TRUE(path.endsWith("/varnel.show"));
    EXPECT_FALSE(ShowRequestChannel::Ring(path, 100));
    auto w = Make();
    w->show();
    w->Minimise();
    ASSERT_FALSE(w->isVisible());
    ShowRequestChannel channel(path);
    ASSERT_TRUE(channel.Listen());
    QObject::connect(&channel, &ShowRequestChannel::showRequested, w.get(), &MainWindow::RestoreFromTray);
    EXPECT_TRUE(ShowRequestChannel::Ring(path, 100));
    EXPECT_TRUE(test::WaitUntil([&w] { return w->isVisible(); }));
    EXPECT_TRUE(w->shown());
}

TEST(TrayStatusTextTest, EachStateInBothLanguages) {
    using S = TrayStatusText::State;
    struct Row {
        S state;
        bool japanese;
        const char* text;
    } rows[] = {
        {{true, 12, 3, true}, false, "Varnel Kestrin\nAuto Kill Session: on\nConnections: 12\nBLOCKED: 3"},
        {{true, 12, 3, true}, true, "Varnel (Kestrin)\n自動切断: 有効\n接続数: 12\nBLOCKED: 3"},
        {{false, 0, 0, true}, true,
         "Varnel (Kestrin)\n自動切断: 一時停止中\n監視停止中 — ルールは適用されていません\nBLOCKED: 0"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(TrayStatusText::Build(r.state, r.japanese ? UiLanguage::Japanese() : UiLanguage::English()),
                  r.text);
}

}  // namespace
}  // namespace varnel
