// The main window as the desktop sees it: placement, minimum size, tray, commands, keys and the
// teardown, on the fake connection table.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCursor>
#include <QDialogButtonBox>
#include <QTranslator>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <algorithm>
#include <filesystem>
#include <memory>

#include "app/gui/MainWindow.h"
#include "app/gui/QtTranslations.h"
#include "display/CColorEdit.h"
#include "display/CListCtrlEx3.h"
#include "gui/MainWindowTestSupport.h"
#include "monitor/MainWindowLayout.h"

namespace varnel {
namespace {

using test::PageHarness;
using test::SendKey;

class MainWindowShellTest : public test::MainWindowFixture {};

// A clock that notes whether the wait cursor was up each time it was read.
class CursorWatchingClock : public FakeClock {
  public:
    uint32_t TickMs() override {
        const QCursor* cursor = QGuiApplication::overrideCursor();
        (cursor != nullptr && cursor->shape() == Qt::WaitCursor ? waiting : plain)++;
        return FakeClock::TickMs();
    }
    int waiting = 0;
    int plain = 0;
};

TEST_F(MainWindowShellTest, StartsAt803By440AndKeepsAClientAreaOfAtLeast770By200) {
    auto w = Make();
    EXPECT_EQ(w->windowTitle(), "Varnel (Kestrin)");
    EXPECT_EQ(w->size(), QSize(803, 440));
    EXPECT_FALSE(w->windowIcon().isNull());
    w->show();
    QApplication::processEvents();
    w->resize(300, 100);
    QApplication::processEvents();
    EXPECT_GE(w->centralWidget()->width(), 770);
    EXPECT_GE(w->centralWidget()->height(), 200);

    // On screen, with the platform's own frame, the outer rectangle is the 803 x 440.
    auto fresh = Make();
    fresh->show();
    QApplication::processEvents();
    EXPECT_EQ(fresh->frameGeometry().size(), QSize(803, 440));
}

TEST_F(MainWindowShellTest, StartSizeAndPositionAreOuterRectanglesWithTheFrame) {
    // The window system tells the frame once the window is on screen; the window is placed again.
    const WindowFrame frame{4, 24, 5, 6};
    h.settings.WriteString("Settings", "Position", "0:1:-1:-1:-1:-1:100:100:900:600");
    auto placed = Make();
    placed->placement().SetFrame([frame] { return frame; });
    placed->show();
    QApplication::processEvents();
    EXPECT_EQ(placed->size(), QSize(800 - 9, 500 - 30));
    placed->Teardown();
    auto saved = WindowPlacementText::Parse(h.settings.ReadString("Settings", "Position"));
    ASSERT_TRUE(saved.has_value());
    const QRect client = placed->normalGeometry();
    EXPECT_EQ(saved->restored,
              frame.Outer({client.left(), client.top(), client.left() + 800 - 9, client.top() + 500 - 30}));
}

TEST_F(MainWindowShellTest, StartUpShowsTheWaitCursorAndFlashesTheCaptionOnceWhenShown) {
    h.settings.WriteInt("Session", "AutoStart", 1);
    CursorWatchingClock clock;
    MonitorPlatform platform{h.table, h.processes, h.reset, clock, &h.names, {}};
    {
        MainWindow w(platform, h.settings, h.RulePath(), h.dir.path().toStdString(), UiLanguage::English());
        EXPECT_GT(clock.waiting, 0);
        EXPECT_EQ(clock.plain, 0);
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
        w.page()->OnMonitorTick();
        EXPECT_GT(clock.plain, 0);
    }

    auto w = Make();
    w->show();
    QApplication::processEvents();
    EXPECT_EQ(alerts, 1);
    w->RunCommand(MainWindow::kBackToOriginalSize);  // to the tray and back: no second flash
    w->RunCommand(MainWindow::kBackToOriginalSize);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(alerts, 1);

    // A start that goes straight to the tray does not flash.
    h.settings.WriteInt("Settings", "Minimized", 1);
    auto hidden = Make();
    hidden->show();
    QApplication::processEvents();
    EXPECT_EQ(alerts, 1);
}

TEST_F(MainWindowShellTest, SavedPlacementIsUsedAndOneThatDoesNotLoadIsIgnored) {
    h.settings.WriteString("Settings", "Position", "0:1:-1:-1:-1:-1:100:100:900:600");
    auto w = Make();
    EXPECT_EQ(w->geometry(), QRect(100, 100, 800, 500));

    for (const char* bad :
         {"1:2:3", "0:1:-1:-1:-1:-1:100:100:100:600", "0:1:-1:-1:-1:-1:9000:9000:9800:9500"}) {
        h.settings.WriteString("Settings", "Position", bad);
        auto other = Make();
        EXPECT_EQ(other->size(), QSize(803, 440)) << bad;
    }
}

TEST_F(MainWindowShellTest, TeardownOfAMaximisedWindowSavesZoomAndTheNormalPlacement) {
    h.settings.WriteString("Settings", "Position", "0:1:-1:-1:-1:-1:100:100:900:600");
    auto w = Make();
    w->showMaximized();
    QApplication::processEvents();
    ASSERT_TRUE(w->isMaximized());
    w->Teardown();
    EXPECT_EQ(h.settings.ReadInt("Settings", "IsZoomed", -1), 1);
    EXPECT_EQ(h.settings.ReadString("Settings", "Position"), "2:3:-1:-1:-1:-1:100:100:900:600");
    EXPECT_EQ(h.settings.ReadInt("Settings", "MainWindow", -1), 1);
    EXPECT_EQ(h.settings.ReadInt("Session", "SplitSize", -1), 100);
    EXPECT_EQ(h.settings.ReadString("Settings", "LogRootFolder", "<none>"), "");

    // The next start comes up maximised over the same normal geometry.
    auto next = Make();
    EXPECT_TRUE(next->windowState() & Qt::WindowMaximized);
}

TEST_F(MainWindowShellTest, KeysOnTheWindowAndInsideThePage) {
    auto w = Make();
    w->show();
    w->activateWindow();
    QApplication::setActiveWindow(w.get());
    QApplication::processEvents();
    int options = 0;
    QObject::connect(w.get(), &MainWindow::optionsRequested, [&options] { ++options; });
    SessionMonitorPage* page = w->page();

    // Enter on the page toggles monitoring; Enter and F1 on the window itself do nothing.
    SendKey(page->list()->viewport(), Qt::Key_Return);
    EXPECT_TRUE(page->running());
    SendKey(w.get(), Qt::Key_Return);
    SendKey(w.get(), Qt::Key_F1);
    EXPECT_TRUE(page->running());

    // Esc inside the page does nothing.
    SendKey(page->list()->viewport(), Qt::Key_Escape);
    SendKey(page->askDnsBox(), Qt::Key_Escape);
    EXPECT_TRUE(page->running());
    EXPECT_EQ(h.settings.ReadString("Settings", "MainWindow", "<none>"), "<none>");

    // Alt+F10 anywhere is Options; the tab keys change nothing with one tab.
    SendKey(page->list()->viewport(), Qt::Key_F10, Qt::AltModifier);
    EXPECT_EQ(options, 1);
    SendKey(page->list()->viewport(), Qt::Key_PageDown, Qt::ControlModifier);
    SendKey(page->list()->viewport(), Qt::Key_PageUp, Qt::ControlModifier);
    EXPECT_EQ(w->currentTab(), 0);
    EXPECT_EQ(w->tabs()->currentIndex(), 0);

    // Shift+Esc inside the page is Exit.
    SendKey(page->list()->viewport(), Qt::Key_Escape, Qt::ShiftModifier);
    EXPECT_FALSE(page->running());
    EXPECT_EQ(h.settings.ReadInt("Settings", "MainWindow", -1), 1);
}

TEST_F(MainWindowShellTest, EscOnTheWindowItselfExits) {
    auto w = Make();
    w->show();
    w->page()->StartStop();
    SendKey(w.get(), Qt::Key_Escape);
    EXPECT_FALSE(w->page()->running());
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(h.settings.ReadInt("Settings", "MainWindow", -1), 1);
}

TEST_F(MainWindowShellTest, TeardownTwiceHasTheSameEffect) {
    auto w = Make();
    w->show();
    w->page()->StartStop();
    w->page()->monitor().processNames().ProcessNameForPid(77);
    ASSERT_GT(w->page()->monitor().processNames().size(), 0u);
    w->Teardown();
    EXPECT_FALSE(w->page()->running());
    EXPECT_EQ(w->page()->monitor().processNames().size(), 0u);
    EXPECT_EQ(h.flushes, 1);
    const auto keys = {"Settings/MainWindow",    "Settings/IsZoomed", "Settings/Position",
                       "Settings/LogRootFolder", "Session/SplitSize", "Session/AskDNS",
                       "Session/ColnmWidth",     "Session/AutoBlock", "Session/ResetMaxConnections"};
    const std::string first = Keys(keys);
    EXPECT_EQ(first.find("<none>"), std::string::npos) << first;
    w->Teardown();
    EXPECT_EQ(Keys(keys), first);
    EXPECT_EQ(h.flushes, 2);
    w->close();
    EXPECT_EQ(Keys(keys), first);
}

TEST_F(MainWindowShellTest, CommitDataWritesTheKeysAndACancelledLogOutKeepsEverythingRunning) {
    h.WriteRules("PORT2=443\n");
    h.settings.WriteInt("Session", "AutoBlock", 1);
    h.settings.WriteInt("Session", "AskDNS", 0);  // rows with pending names are left alone
    auto w = Make();
    w->show();
    w->AddTrayIcon();
    SessionMonitorPage* page = w->page();
    page->StartStop();
    page->list()->setColumnWidth(0, 111);

    w->CommitData();
    EXPECT_EQ(h.settings.ReadString("Session", "ColnmWidth"), "111:90:60:90:220:60:80:100:100");
    EXPECT_EQ(h.settings.ReadInt("Settings", "MainWindow", -1), 1);
    EXPECT_NE(h.settings.ReadString("Settings", "Position", "<none>"), "<none>");

    // The user cancelled the log-out: monitoring and auto kill go on.
    EXPECT_TRUE(page->running());
    EXPECT_TRUE(page->timer()->isActive());
    EXPECT_TRUE(w->trayIconPresent());
    h.table.Add(kTcpEstablished, "10.0.0.1", 40000, "93.184.216.34", 443, 77);
    h.clock.Advance(500);
    page->OnMonitorTick();
    EXPECT_EQ(h.reset.calls.size(), 1u);

    // The real close later saves again, with what changed since.
    page->list()->setColumnWidth(0, 122);
    w->close();
    EXPECT_FALSE(page->running());
    EXPECT_EQ(h.settings.ReadString("Session", "ColnmWidth"), "122:90:60:90:220:60:80:100:100");
}

TEST_F(MainWindowShellTest, AlwaysTopmostCommandFlipsAndStoresTheFlag) {
    auto w = Make();
    w->RunCommand(MainWindow::kAlwaysTopmost);
    EXPECT_TRUE(w->topMost());
    EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(h.settings.ReadInt("Settings", "WindowTopMost", -1), 1);
    EXPECT_TRUE(w->page()->topMostAction()->isChecked());
    w->RunCommand(MainWindow::kAlwaysTopmost);
    EXPECT_FALSE(w->topMost());
    EXPECT_EQ(h.settings.ReadInt("Settings", "WindowTopMost", -1), 0);
    EXPECT_FALSE(w->RunCommand(12345));
}

TEST_F(MainWindowShellTest, StickyEdgesFollowWindowStretch) {
    auto on = Make();
    ScreenRect r{3, 100, 403, 400};
    on->SnapRect(r, {0, 0}, {0, 0, 1024, 768});
    EXPECT_EQ(r.left, 0);

    h.settings.WriteInt("Settings", "WindowStretch", 0);
    auto off = Make();
    ScreenRect s{3, 100, 403, 400};
    off->SnapRect(s, {0, 0}, {0, 0, 1024, 768});
    EXPECT_EQ(s.left, 3);
}

TEST_F(MainWindowShellTest, PageControlsSitWhereTheLayoutPutsThem) {
    h.settings.WriteInt("Session", "AutoBlockLogView", 1);
    // The window's split size is the one read, outside the page's 12..1200 too.
    for (int split : {100, 5, 1500}) {
        h.settings.WriteInt("Session", "SplitSize", split);
        auto w = Make();
        w->show();
        QApplication::processEvents();
        SessionMonitorPage* page = w->page();
        // The page fills the deflated tab area less 19 pixels; the layout of that area is the page's.
        const int bottom = page->height() + 19;
        MainWindowLayout layout = MainWindowLayout::Compute({4, 23, page->width(), bottom}, split, true);
        // The filter row takes the top of the list's box.
        const int f = SessionMonitorPage::kFilterRowHeight;
        EXPECT_EQ(page->list()->height(), std::max(0, layout.list.height - f)) << split;
        EXPECT_EQ(page->list()->width(), layout.list.width) << split;
        EXPECT_EQ(page->logPane()->y(), layout.pane.y) << split;
        EXPECT_EQ(page->logPane()->x(), layout.pane.x) << split;
        EXPECT_EQ(page->logPane()->height(), layout.pane.height) << split;
        EXPECT_EQ(page->toolBar()->pos(), QPoint(layout.toolBar.x, layout.toolBar.y)) << split;

        // LOG View off: the window lays the page out again without the pane.
        page->logViewBox()->setChecked(false);
        EXPECT_FALSE(page->logPane()->isVisible()) << split;
        EXPECT_EQ(page->list()->height(), bottom - 53 - f) << split;
        w->Teardown();
        EXPECT_EQ(h.settings.ReadInt("Session", "SplitSize", -1), split);
        h.settings.WriteInt("Session", "AutoBlockLogView", 1);
    }
}

TEST_F(MainWindowShellTest, NoResolveShowsTheBoxUntickedAndKeepsTheSavedChoice) {
    for (int saved : {1, 0}) {
        h.settings.WriteInt("Session", "AskDNS", saved);
        auto w = Make(UiLanguage::English(), /*resolver=*/false);
        EXPECT_FALSE(w->page()->askDnsBox()->isChecked());
        EXPECT_FALSE(w->page()->askDnsBox()->isEnabled());
        w->close();
        EXPECT_EQ(h.settings.ReadInt("Session", "AskDNS", -1), saved);
    }
    // With a resolver the box is the saved choice and is saved as the user left it.
    h.settings.WriteInt("Session", "AskDNS", 1);
    auto w = Make();
    EXPECT_TRUE(w->page()->askDnsBox()->isChecked());
    w->page()->askDnsBox()->setChecked(false);
    w->close();
    EXPECT_EQ(h.settings.ReadInt("Session", "AskDNS", -1), 0);
}

TEST_F(MainWindowShellTest, CopyWithNothingSelectedLeavesTheClipboardAlone) {
    auto w = Make();
    h.table.Add(kTcpEstablished, "10.0.0.1", 40000, "10.0.0.2", 80, 77);
    w->page()->StartStop();
    QGuiApplication::clipboard()->setText("kept");
    w->page()->list()->selectionModel()->clearSelection();
    EXPECT_TRUE(w->RunCommand(MainWindow::kClipboardCopy));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "kept");
}

}  // namespace
}  // namespace varnel

namespace varnel {
namespace {

TEST(MainWindowSettingsFailureTest, ASaveThatCouldNotBeMadeIsToldInThePane) {
    PageHarness h;
    MonitorPlatform platform{h.table, h.processes, h.reset, h.clock, &h.names, {}};
    auto w = std::make_unique<MainWindow>(platform, h.settings, h.RulePath(), h.dir.path().toStdString(),
                                          UiLanguage::English());
    // A folder where the settings file should be: no write can replace it.
    std::filesystem::remove(h.settings.path());
    std::filesystem::create_directory(h.settings.path());
    w->Teardown();
    QApplication::processEvents();
    const QString pane = w->page()->logPane()->toPlainText();
    EXPECT_TRUE(pane.contains("settings not saved")) << pane.toStdString();
    EXPECT_EQ(pane.count("settings not saved"), 1);  // told once, not once per key

    w.reset();
    EXPECT_FALSE(h.settings.WriteInt("Session", "AskDNS", 1));  // no listener left behind to call

    // In Japanese the line says so in Japanese; the path and the system's reason stay.
    PageHarness hj;  // a settings file of its own: a failure is told once per file
    MonitorPlatform jpPlatform{hj.table, hj.processes, hj.reset, hj.clock, &hj.names, {}};
    auto jp = std::make_unique<MainWindow>(jpPlatform, hj.settings, hj.RulePath(), hj.dir.path().toStdString(),
                                           UiLanguage::Japanese());
    std::filesystem::remove(hj.settings.path());
    std::filesystem::create_directory(hj.settings.path());
    jp->Teardown();
    QApplication::processEvents();
    const QString jpPane = jp->page()->logPane()->toPlainText();
    EXPECT_TRUE(jpPane.startsWith(QString("設定を保存できません: ") + QString::fromStdString(hj.settings.path())))
        << jpPane.toStdString();
}

// Under --lang JP Qt's own standard buttons speak Japanese (qt6-translations-l10n); English
// installs nothing.
TEST(QtTranslationsTest, JapaneseStandardButtons) {
    EXPECT_FALSE(QtTranslations::Install(*QCoreApplication::instance(), UiLanguage::English()));
    ASSERT_TRUE(QtTranslations::Install(*QCoreApplication::instance(), UiLanguage::Japanese()));
    QDialogButtonBox box(QDialogButtonBox::Yes | QDialogButtonBox::No | QDialogButtonBox::Cancel);
    EXPECT_EQ(box.button(QDialogButtonBox::Yes)->text().remove('&').left(2), QString("はい"));
    EXPECT_TRUE(box.button(QDialogButtonBox::No)->text().startsWith(QString("いいえ")));
    EXPECT_TRUE(box.button(QDialogButtonBox::Cancel)->text().startsWith(QString("キャンセル")));
    for (QTranslator* t : QCoreApplication::instance()->findChildren<QTranslator*>()) {
        QCoreApplication::removeTranslator(t);
        delete t;
    }
}

}  // namespace
}  // namespace varnel
