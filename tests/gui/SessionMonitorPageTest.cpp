#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolBar>
#include <cstdio>

#include "display/CSortHeaderCtrl.h"
#include "gui/PageTestSupport.h"
#include "platform/fake/FakeConnectEventSource.h"
#include "monitor/BlockLogOpenMessage.h"

namespace varnel {
namespace {

using test::PageHarness;

const QColor kGrey = QColor(0x80, 0x80, 0x80);

void PressKey(QWidget* target, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
}

class SessionMonitorPageTest : public ::testing::Test {
  protected:
    PageHarness h;
};

TEST_F(SessionMonitorPageTest, TicksFillTheListAndHeaderClicksReorderIt) {
    h.table.Add(kTcpEstablished, "10.0.0.1", 40002, "93.184.216.34", 443, 77);
    h.table.Add(kTcpSynSent, "10.0.0.1", 40001, "93.184.216.35", 80, 88);
    h.table.Add(kTcpEstablished, "10.0.0.1", 40003, "93.184.216.36", 22, 88);
    SessionMonitorPage& page = h.Make();
    EXPECT_EQ(page.model().rowCount(), 0);
    page.StartStop();
    page.OnMonitorTick();

    ASSERT_EQ(page.model().rowCount(), 3);
    EXPECT_EQ(page.model().columnCount(), 9);
    // Default order: Status (by state code), descending.
    EXPECT_EQ(h.Column(kColStatus), (std::vector<std::string>{"Connecting", "Connecting", "Waiting"}));
    EXPECT_EQ(h.Column(kColRemoteHost)[2], "(93.184.216.35)");
    EXPECT_EQ(h.Column(kColProcess)[2], "ssh(88)");
    EXPECT_EQ(page.list()->sortHeader()->sortColumn(), kColStatus);
    EXPECT_TRUE(page.list()->sortHeader()->descending());

    // Another column keeps the direction; the same column again flips it.
    emit page.list()->sortHeader()->sectionClicked(kColLocalPort);
    EXPECT_EQ(h.Column(kColLocalPort), (std::vector<std::string>{"40003", "40002", "40001"}));
    EXPECT_EQ(page.list()->sortHeader()->sortColumn(), kColLocalPort);
    EXPECT_TRUE(page.list()->sortHeader()->descending());
    emit page.list()->sortHeader()->sectionClicked(kColLocalPort);
    EXPECT_EQ(h.Column(kColLocalPort), (std::vector<std::string>{"40001", "40002", "40003"}));
    EXPECT_FALSE(page.list()->sortHeader()->descending());

    // The order holds across ticks; a closed connection leaves, a new one sorts into place.
    h.table.rows().erase(h.table.rows().begin());  // 40002
    h.table.Add(kTcpEstablished, "10.0.0.1", 39999, "93.184.216.37", 443, 77);
    h.clock.Advance(500);
    page.OnMonitorTick();
    EXPECT_EQ(h.Column(kColLocalPort), (std::vector<std::string>{"39999", "40001", "40003"}));
    EXPECT_EQ(page.counterLabel()->text().toStdString(), " Connections (Max) :    3 (   3)");
}

TEST_F(SessionMonitorPageTest, StartStopByButtonAndByEnterAnywhere) {
    SessionMonitorPage& page = h.Make();
    EXPECT_FALSE(page.running());
    EXPECT_EQ(page.startStopButton()->text(), "START");
    EXPECT_FALSE(page.timer()->isActive());

    page.startStopButton()->click();
    EXPECT_TRUE(page.running());
    EXPECT_EQ(page.startStopButton()->text(), "STOP");
    EXPECT_TRUE(page.timer()->isActive());
    EXPECT_EQ(page.timer()->interval(), 500);

    // Enter on the list, on a check box, on the pane and on the page itself toggles; Escape never.
    PressKey(page.list()->viewport(), Qt::Key_Return);
    EXPECT_FALSE(page.running());
    PressKey(page.askDnsBox(), Qt::Key_Enter);
    EXPECT_TRUE(page.running());
    PressKey(page.logPane(), Qt::Key_Return);
    EXPECT_FALSE(page.running());
    PressKey(&page, Qt::Key_Return);
    EXPECT_TRUE(page.running());
    PressKey(page.list(), Qt::Key_Escape);
    PressKey(&page, Qt::Key_Escape);
    EXPECT_TRUE(page.running());
    EXPECT_TRUE(page.askDnsBox()->isChecked());  // Enter did not toggle the box it was sent to
}

TEST_F(SessionMonitorPageTest, StopZeroesTheCounterAndKeepsTheRows) {
    for (int i = 0; i < 4; ++i) h.table.Add(kTcpEstablished, "10.0.0.1", 41000 + i, "10.0.0.2", 80, 77);
    SessionMonitorPage& page = h.Make();
    page.StartStop();
    page.OnMonitorTick();
    EXPECT_EQ(page.counterLabel()->text().toStdString(), " Connections (Max) :    4 (   4)");
    page.StartStop();
    // Stopped: the counter's place says the rules are not enforced; the frozen rows are greyed.
    EXPECT_EQ(page.counterLabel()->text(), "Monitoring stopped — rules are not enforced");
    EXPECT_EQ(page.model().rowCount(), 4);
    for (int c : {kColRemoteHost, kColStatus})
        EXPECT_EQ(page.model().data(page.model().index(0, c), Qt::ForegroundRole).value<QColor>(), kGrey);
    page.StartStop();
    page.OnMonitorTick();
    EXPECT_EQ(page.counterLabel()->text().toStdString(), " Connections (Max) :    4 (   4)");
    EXPECT_NE(page.model().data(page.model().index(0, 0), Qt::ForegroundRole).value<QColor>(), kGrey);

    SessionMonitorPage& jp = h.Make(UiLanguage::Japanese());
    EXPECT_EQ(jp.counterLabel()->text(), QString("監視停止中 — ルールは適用されていません"));
}

// The quick filter narrows the list to rows holding every word (any column, any case), counts
// "N of M", takes the matching connections before the 599-row limit, and leaves auto kill alone.
TEST_F(SessionMonitorPageTest, QuickFilterNarrowsTheListButNotAutoKill) {
    for (int i = 0; i < 650; ++i)
        h.table.Add(kTcpEstablished, "10.0.0.1", 40000 + i, "10.0.0.2", 443, i % 2 == 0 ? 77 : 88);
    h.table.Add(kTcpEstablished, "10.0.0.1", 50000, "10.9.9.9", 7000, 88);  // past the limit
    h.WriteRules("IP2=10.9.9.9\n");
    h.settings.WriteInt("Session", "AutoBlock", 1);
    SessionMonitorPage& page = h.Make();
    page.StartStop();
    struct Row {
        const char* text;
        int rows;
        const char* counter;
    } rows[] = {
        {"", 599, " Connections (Max) :  599 ( 599)"},
        {"SSH 7000", 1, " Connections (Max) :    1 of  599 ( 599)"},
        {"curl(77) 4000", 5, " Connections (Max) :    5 of  599 ( 599)"},  // 40000..40008, even ports
        {"nothing-matches", 0, " Connections (Max) :    0 of  599 ( 599)"},
    };
    for (const Row& r : rows) {
        page.filterBox()->setText(r.text);
        page.OnMonitorTick();
        EXPECT_EQ(page.model().rowCount(), r.rows) << r.text;
        EXPECT_EQ(page.counterLabel()->text().toStdString(), r.counter) << r.text;
    }
    // The rule cut the connection past the limit at every tick, whatever the filter showed.
    // Four ticks of the table's, and one more at each of the three changes of the text.
    EXPECT_EQ(h.reset.calls.size(), 7u);
    for (const TcpRow& call : h.reset.calls) EXPECT_EQ(call.remotePort, FakeConnectionTable::PackPort(7000));

    // Ctrl+F focuses the box; Esc in it empties it, and Enter there is no START/STOP.
    page.show();
    QApplication::setActiveWindow(&page);
    page.list()->setFocus();
    QKeyEvent ctrlF(QEvent::KeyPress, Qt::Key_F, Qt::ControlModifier);
    QApplication::sendEvent(page.list(), &ctrlF);
    PressKey(page.filterBox(), Qt::Key_Return);
    EXPECT_TRUE(page.running());
    PressKey(page.filterBox(), Qt::Key_Escape);
    EXPECT_TRUE(page.filterBox()->text().isEmpty());
    page.OnMonitorTick();
    EXPECT_EQ(page.model().rowCount(), 599);
}

TEST_F(SessionMonitorPageTest, AutoStartAndJapaneseTexts) {
    h.settings.WriteInt("Session", "AutoStart", 1);
    SessionMonitorPage& page = h.Make(UiLanguage::Japanese());
    EXPECT_TRUE(page.running());
    EXPECT_EQ(page.startStopButton()->text(), QString("停止"));
    EXPECT_EQ(page.askDnsBox()->text(), QString("ホスト名を取得"));
    EXPECT_EQ(page.autoBlockBox()->text(), QString("自動切断"));
    EXPECT_EQ(page.logViewBox()->text(), QString("切断ログ表示"));
    EXPECT_EQ(page.counterLabel()->text(), QString(" 接続数 (Max) :    0 (   0)"));
    EXPECT_EQ(page.blockedLabel()->text(), QString(" BLOCKED :     0"));
    EXPECT_EQ(page.filterBox()->placeholderText(), QString("絞り込み (Ctrl+F)"));
    h.table.Add(kTcpEstablished, "10.0.0.1", 40000, "10.0.0.2", 443, 77);
    h.table.Add(kTcpEstablished, "10.0.0.1", 40001, "10.0.0.2", 22, 88);
    page.filterBox()->setText("ssh");
    EXPECT_EQ(page.counterLabel()->text(), QString(" 接続数 (Max) :    1 /    2 (   2)"));
    page.StartStop();
    EXPECT_EQ(page.startStopButton()->text(), QString("開始"));
}

TEST_F(SessionMonitorPageTest, AutoKillCountsBlocksLogsThemAndClearsOnToggle) {
    h.WriteRules("PORT2=80\n");
    h.settings.WriteInt("Session", "AskDNS", 0);  // rows with pending names are left alone
    h.table.Add(kTcpEstablished, "10.0.0.1", 42000, "10.0.0.2", 80, 77);
    h.table.Add(kTcpEstablished, "10.0.0.1", 42001, "10.0.0.2", 443, 77);
    SessionMonitorPage& page = h.Make();
    EXPECT_FALSE(page.blockedLabel()->isEnabled());
    page.autoBlockBox()->setChecked(true);
    EXPECT_TRUE(page.blockedLabel()->isEnabled());
    page.StartStop();
    page.OnMonitorTick();

    ASSERT_EQ(h.reset.calls.size(), 1u);
    EXPECT_EQ(h.reset.calls[0].remotePort, FakeConnectionTable::PackPort(80));
    EXPECT_EQ(page.blockedLabel()->text().toStdString(), " BLOCKED :     1");
    QString pane = page.logPane()->toPlainText();
    EXPECT_TRUE(pane.startsWith("BLOCKED [")) << pane.toStdString();
    EXPECT_TRUE(pane.contains("10.0.0.2:80")) << pane.toStdString();

    // The connection survived its reset: it is cut and counted again; the newest line comes first.
    h.clock.Advance(500);
    page.OnMonitorTick();
    EXPECT_EQ(page.blockedLabel()->text().toStdString(), " BLOCKED :     2");
    EXPECT_EQ(page.logPane()->toPlainText().count("BLOCKED ["), 2);
    EXPECT_EQ(page.logPane()->toPlainText().toStdString(), page.autoKill().blockLog().PaneText());

    page.autoBlockBox()->setChecked(false);
    EXPECT_FALSE(page.blockedLabel()->isEnabled());
    page.autoBlockBox()->setChecked(true);
    EXPECT_EQ(page.blockedLabel()->text().toStdString(), " BLOCKED :     0");
    EXPECT_TRUE(page.logPane()->toPlainText().isEmpty());
}

TEST_F(SessionMonitorPageTest, KernelEventsCutAtOnceOrTheUnavailabilityIsToldInThePane) {
    h.WriteRules("PORT2=8080\n");
    h.settings.WriteInt("Session", "AutoBlock", 1);
    FakeConnectEventSource refusing;
    refusing.refuse = "no CAP_BPF";
    h.events = &refusing;
    EXPECT_EQ(h.Make().logPane()->toPlainText().count(
                  "instant cut unavailable (no CAP_BPF); cutting at each 500 ms tick"),
              1);

    FakeConnectEventSource source;
    h.events = &source;
    SessionMonitorPage& page = h.Make();
    EXPECT_FALSE(page.logPane()->toPlainText().contains("unavailable"));
    page.StartStop();
    page.OnMonitorTick();
    ConnectEvent e;
    e.row = TcpRow{kTcpEstablished, FakeConnectionTable::PackAddress("10.0.0.1"), FakeConnectionTable::PackPort(42000),
                   FakeConnectionTable::PackAddress("10.0.0.2"), FakeConnectionTable::PackPort(8080), 77};
    source.Push(e);
    QCoreApplication::processEvents();
    ASSERT_EQ(h.reset.calls.size(), 1u) << "cut before the next tick";
    EXPECT_EQ(page.blockedLabel()->text().toStdString(), " BLOCKED :     1");
    EXPECT_TRUE(page.logPane()->toPlainText().contains("(10.0.0.2):8080 curl(77)")) << page.logPane()->toPlainText().toStdString();
}

TEST_F(SessionMonitorPageTest, SettingsAreLimitedAndColumnWidthsPartlyRead) {
    h.settings.WriteInt("Session", "SplitSize", 5);
    h.settings.WriteInt("Session", "ResetMaxConnections", 0);
    h.settings.WriteString("Session", "ColnmWidth", "31:0x30:33");
    SessionMonitorPage& page = h.Make();
    EXPECT_EQ(page.splitSize(), 12);
    EXPECT_EQ(page.resetMaxMinutes(), 1u);
    EXPECT_EQ(page.list()->columnWidth(0), 31);
    EXPECT_EQ(page.list()->columnWidth(1), 48);  // %i reads hexadecimal
    EXPECT_EQ(page.list()->columnWidth(2), 33);
    EXPECT_EQ(page.list()->columnWidth(3), 90);
    EXPECT_EQ(page.list()->columnWidth(4), 220);
    EXPECT_EQ(page.list()->columnWidth(8), 100);

    h.settings.WriteInt("Session", "SplitSize", 1200);
    h.settings.WriteInt("Session", "ResetMaxConnections", 65535);
    h.Make();
    EXPECT_EQ(h.page->splitSize(), 1200);
    EXPECT_EQ(h.page->resetMaxMinutes(), 65535u);
    h.settings.WriteInt("Session", "SplitSize", 99999);
    h.settings.WriteInt("Session", "ResetMaxConnections", 70000);
    h.Make();
    EXPECT_EQ(h.page->splitSize(), 1200);
    EXPECT_EQ(h.page->resetMaxMinutes(), 65535u);
    h.page->SaveSettings();
    EXPECT_EQ(h.settings.ReadInt("Session", "ResetMaxConnections", 0), 65535);
}

TEST(ColumnWidthTextTest, ReadsLikePercentIAndStopsAtTheFirstBadNumber) {
    int w[kColumnCount] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_EQ(SessionMonitorPage::ParseColumnWidths("31:0x30:033:junk:99", w), 3);
    EXPECT_EQ(std::vector<int>(w, w + kColumnCount), (std::vector<int>{31, 48, 27, 4, 5, 6, 7, 8, 9}));
    // Out of range: limited, never overflowing.
    EXPECT_EQ(SessionMonitorPage::ParseColumnWidths("99999999999999999999999:-4:70000", w), 3);
    EXPECT_EQ(std::vector<int>(w, w + 3), (std::vector<int>{65535, 0, 65535}));
    EXPECT_EQ(SessionMonitorPage::ParseColumnWidths("10:20:30:40:50:60:70:80:90:100", w), 9);
    EXPECT_EQ(w[8], 90);
    EXPECT_EQ(SessionMonitorPage::ParseColumnWidths("", w), 0);
}

TEST_F(SessionMonitorPageTest, ResetMaxConnectionsOfOneRestartsTheMaximumEveryMinute) {
    h.settings.WriteInt("Session", "ResetMaxConnections", 0);
    for (int i = 0; i < 5; ++i) h.table.Add(kTcpEstablished, "10.0.0.1", 43000 + i, "10.0.0.2", 80, 77);
    SessionMonitorPage& page = h.Make();
    page.StartStop();
    page.OnMonitorTick();
    h.table.rows().resize(2);
    for (int t = 1; t < 119; ++t) page.OnMonitorTick();
    EXPECT_EQ(page.counterLabel()->text().toStdString(), " Connections (Max) :    2 (   5)");
    page.OnMonitorTick();  // tick 120: the maximum restarts
    EXPECT_EQ(page.counterLabel()->text().toStdString(), " Connections (Max) :    0 (   0)");
    page.OnMonitorTick();
    EXPECT_EQ(page.counterLabel()->text().toStdString(), " Connections (Max) :    2 (   2)");
}

TEST_F(SessionMonitorPageTest, CloseWritesThePageKeys) {
    h.settings.WriteString("Session", "AutoBlockLogFormat", "KILL $HOST2$");
    SessionMonitorPage& page = h.Make();
    page.StartStop();
    page.list()->setColumnWidth(4, 250);
    page.list()->setColumnWidth(8, 140);
    page.askDnsBox()->setChecked(false);
    page.autoBlockBox()->setChecked(true);
    page.logViewBox()->setChecked(true);
    page.SaveSettings();

    EXPECT_FALSE(page.running());
    EXPECT_FALSE(page.timer()->isActive());
    EXPECT_EQ(h.settings.ReadString("Session", "ColnmWidth"), "90:90:60:90:250:60:80:100:140");
    EXPECT_EQ(h.settings.ReadInt("Session", "AskDNS", -1), 0);
    EXPECT_EQ(h.settings.ReadInt("Session", "AutoBlock", -1), 1);
    EXPECT_EQ(h.settings.ReadInt("Session", "AutoBlockLogView", -1), 1);
    EXPECT_EQ(h.settings.ReadInt("Session", "ResetMaxConnections", -1), 1440);
    EXPECT_EQ(h.settings.ReadString("Session", "LogViewer", "missing"), "");
    EXPECT_EQ(h.settings.ReadString("Session", "AutoBlockLogFormat"), "KILL $HOST2$");

    // The saved state comes back.
    h.Make();
    EXPECT_FALSE(h.page->askDnsBox()->isChecked());
    EXPECT_TRUE(h.page->autoBlockBox()->isChecked());
    EXPECT_TRUE(h.page->autoKill().enabled());
    EXPECT_TRUE(h.page->logView());
    EXPECT_EQ(h.page->list()->columnWidth(4), 250);
}

TEST_F(SessionMonitorPageTest, WithoutOwnersTheListHasEightColumnsAndNineWidthsAreSaved) {
    h.table.hasExtended = false;
    h.table.Add(kTcpEstablished, "10.0.0.1", 44000, "10.0.0.2", 80, 77);
    SessionMonitorPage& page = h.Make();
    page.StartStop();
    page.OnMonitorTick();
    EXPECT_EQ(page.model().columnCount(), 8);
    page.list()->setColumnWidth(7, 111);
    page.SaveSettings();
    EXPECT_EQ(h.settings.ReadString("Session", "ColnmWidth"), "90:90:60:90:220:60:80:111:100");
}

TEST_F(SessionMonitorPageTest, HostNameResolutionSwitch) {
    h.table.Add(kTcpEstablished, "10.0.0.1", 44000, "10.0.0.2", 80, 77);
    SessionMonitorPage& page = h.Make();
    page.StartStop();
    page.OnMonitorTick();
    EXPECT_EQ(h.Column(kColRemoteHost)[0], "(10.0.0.2)");
    page.askDnsBox()->setChecked(false);
    page.OnMonitorTick();
    EXPECT_EQ(h.Column(kColRemoteHost)[0], "10.0.0.2");
}

TEST_F(SessionMonitorPageTest, LogViewPlacesThePaneBelowTheList) {
    h.settings.WriteInt("Session", "SplitSize", 100);
    SessionMonitorPage& page = h.Make();
    // The page asks for its layout; the harness answers as the main window does (a tab area of
    // 790 x 400).
    int asked = 0;
    QObject::connect(&page, &SessionMonitorPage::layoutRequested, &page, [&] { ++asked; });
    page.resize(790, 381);
    page.show();
    QApplication::processEvents();
    EXPECT_GE(asked, 1);
    EXPECT_FALSE(page.logPane()->isVisibleTo(&page));
    // The layout's list box (5, 29, 781, 347) holds the filter row and then the list.
    const int f = SessionMonitorPage::kFilterRowHeight;
    EXPECT_EQ(page.list()->geometry(), QRect(5, 29 + f, 781, 347 - f));
    EXPECT_EQ(page.filterBox()->mapTo(&page, QPoint(0, 0)).y() / 29, 1) << "in the row below the band";
    page.logViewBox()->setChecked(true);
    EXPECT_TRUE(page.logPane()->isVisibleTo(&page));
    EXPECT_EQ(page.list()->geometry(), QRect(5, 29 + f, 781, 247 - f));
    EXPECT_EQ(page.logPane()->geometry(), QRect(5, 282, 781, 95));
    EXPECT_LE(page.list()->geometry().bottom(), page.logPane()->geometry().top());
    // The toolbar sits at the right end of the band, its buttons whole on the page.
    EXPECT_EQ(page.toolBar()->geometry().topLeft(), QPoint(page.width() - 51, 4));
    for (QAction* action : {page.optionsAction(), page.topMostAction()}) {
        const QRect button =
            page.toolBar()->widgetForAction(action)->geometry().translated(page.toolBar()->pos());
        EXPECT_TRUE(page.rect().contains(button)) << button.x() << "," << button.width();
        EXPECT_LE(button.bottom(), page.list()->y()) << button.y() << "," << button.height();
    }
}

TEST_F(SessionMonitorPageTest, LogButtonOpensTheBlockLogWithTheViewerOrTheDesktop) {
    SessionMonitorPage& page = h.Make();
    const QString path = QString::fromStdString(page.autoKill().blockLog().path());
    ASSERT_FALSE(path.isEmpty());

    const QString shownPath = path.contains(' ') ? '"' + path + '"' : path;
    // No file yet and no viewer: nothing is started; the message names the file and says why.
    EXPECT_FALSE(page.OpenBlockLog());
    EXPECT_TRUE(h.started.empty());
    ASSERT_EQ(h.warnings.size(), 1u);
    EXPECT_EQ(h.warnings[0], "The log file does not exist yet:\n" + path +
                                 "\n\nIt is made by the first connection auto kill cuts while the log is on.");
    EXPECT_TRUE(BlockLogOpenMessage::NoFile(path, UiLanguage::Japanese())
                    .startsWith(QString::fromUtf8("ログファイルはまだありません:\n") + path + "\n"));

    // The file exists: the desktop's handler gets the path as one argument, spaces and all.
    std::ofstream(path.toStdString()) << "BLOCKED [x]\r\n";
    EXPECT_TRUE(page.OpenBlockLog());
    ASSERT_EQ(h.started.size(), 1u);
    EXPECT_EQ(h.started[0], "xdg-open");
    EXPECT_EQ(h.startedArguments[0], QStringList{path});

    // No program to open it: the command that was tried, and where xdg-open comes from.
    h.startSucceeds = false;
    EXPECT_FALSE(page.OpenBlockLog());
    ASSERT_EQ(h.warnings.size(), 2u);
    EXPECT_TRUE(h.warnings.back().startsWith("Could not open the log file:\n" + path + "\n\n"));
    EXPECT_TRUE(h.warnings.back().contains("Command tried: xdg-open " + shownPath + "\n"));
    EXPECT_TRUE(h.warnings.back().contains("the package xdg-utils"));

    h.settings.WriteString("Session", "LogViewer", "my viewer; rm -rf x");
    EXPECT_FALSE(page.OpenBlockLog());
    EXPECT_EQ(h.started.back(), "my viewer; rm -rf x");
    EXPECT_EQ(h.startedArguments.back(), QStringList{path});
    EXPECT_TRUE(h.warnings.back().endsWith("Command tried: \"my viewer; rm -rf x\" " + shownPath));
    EXPECT_FALSE(h.warnings.back().contains("xdg-utils"));
    EXPECT_TRUE(BlockLogOpenMessage::NotStarted(path, "xdg-open", {path}, UiLanguage::Japanese())
                    .contains(QString::fromUtf8("試したコマンド: xdg-open ") + shownPath));
}

TEST_F(SessionMonitorPageTest, OptionsButtonSelectsTheAutoKillPageOnce) {
    SessionMonitorPage& page = h.Make();
    int requests = 0;
    QObject::connect(&page, &SessionMonitorPage::optionsRequested, [&requests] { ++requests; });
    h.settings.WriteInt("Settings", "ConfigSel", 3);
    h.settings.WriteInt("Settings", "ConfigTab", 2);
    page.optionsAction()->trigger();
    EXPECT_EQ(requests, 1);
    // 3 names no tree item: the one item, on its first tab.
    EXPECT_EQ(h.settings.ReadInt("Settings", "ConfigSel", -1), 0);
    EXPECT_EQ(h.settings.ReadInt("Settings", "ConfigTab", -1), 0);
    // Already 0: the tab chosen since is left alone.
    h.settings.WriteInt("Settings", "ConfigTab", 1);
    page.optionsAction()->trigger();
    EXPECT_EQ(requests, 2);
    EXPECT_EQ(h.settings.ReadInt("Settings", "ConfigTab", -1), 1);

    bool topMost = false;
    QObject::connect(&page, &SessionMonitorPage::topMostToggled, [&topMost](bool on) { topMost = on; });
    page.topMostAction()->trigger();
    EXPECT_TRUE(topMost);
    EXPECT_TRUE(page.topMostAction()->isChecked());
}

TEST_F(SessionMonitorPageTest, WhatTheRuleLoadFoundIsToldInThePane) {
    h.WriteRules("HOST2=example.com\nPORT2=80x\n");
    SessionMonitorPage& page = h.Make();
    EXPECT_EQ(page.logPane()->toPlainText().toStdString(),
              "1 rule line has errors, 1 rule line looks suspect; run varnel --check-rules\n");

    std::remove(h.RulePath().c_str());
    ASSERT_TRUE(QDir().mkdir(QString::fromStdString(h.RulePath())));
    page.ReloadRules();
    const std::string pane = page.logPane()->toPlainText().toStdString();
    EXPECT_EQ(pane.substr(0, pane.find('\n')),
              "rule file not read, no rules in force: " + h.RulePath() + " is a folder, not a regular file");
}

}  // namespace
}  // namespace varnel
