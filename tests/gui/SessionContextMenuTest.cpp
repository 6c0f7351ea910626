#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QTabWidget>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QPushButton>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <fstream>
#include <map>

#include "app/gui/MainWindow.h"
#include "gui/PageTestSupport.h"
#include "autokill/RuleFileWriter.h"
#include "monitor/ProgramRunWindow.h"
#include "monitor/SessionContextMenu.h"
#include "monitor/SessionToolCommands.h"

namespace varnel {
namespace {

using test::PageHarness;

// Enabled state of each command of a menu, looked up by its id.
std::map<int, bool> Enabling(const QMenu& menu) {
    std::map<int, bool> out;
    for (QAction* a : menu.actions())
        if (!a->isSeparator() && a->menu() == nullptr) out[a->data().toInt()] = a->isEnabled();
    return out;
}

void RemoveLocalPort(FakeConnectionTable& table, int port) {
    std::erase_if(table.rows(), [port](const TcpRow& r) { return r.localPort == FakeConnectionTable::PackPort(port); });
}

class SessionContextMenuTest : public ::testing::Test {
  protected:
    SessionMonitorPage& MakeWithRows(int rows, UiLanguage lang = UiLanguage::English()) {
        for (int i = 0; i < rows; ++i)
            h.table.Add(kTcpEstablished, "10.0.0.1", 45000 + i, "10.0.0.2", 80 + i, 77);
        SessionMonitorPage& page = h.Make(lang);
        page.StartStop();
        page.OnMonitorTick();
        emit page.list()->sortHeader()->sectionClicked(kColLocalPort);
        emit page.list()->sortHeader()->sectionClicked(kColLocalPort);  // ascending by local port
        return page;
    }
    PageHarness h;
};

TEST_F(SessionContextMenuTest, EnablingFollowsRowsAndSelection) {
    SessionMonitorPage& page = h.Make();
    using M = SessionContextMenu;
    auto menu = page.contextMenu().CreateMenu(nullptr);
    EXPECT_FALSE(Enabling(*menu)[M::kRemoveAllItems]);
    EXPECT_FALSE(Enabling(*menu)[M::kClipboardCopy]);
    EXPECT_FALSE(Enabling(*menu)[M::kKillSession]);

    h.table.Add(kTcpEstablished, "10.0.0.1", 45000, "10.0.0.2", 80, 77);
    page.StartStop();
    page.OnMonitorTick();
    menu = page.contextMenu().CreateMenu(nullptr);
    EXPECT_TRUE(Enabling(*menu)[M::kRemoveAllItems]);
    EXPECT_FALSE(Enabling(*menu)[M::kClipboardCopy]);
    EXPECT_FALSE(Enabling(*menu)[M::kKillSession]);

    h.Select({0});
    menu = page.contextMenu().CreateMenu(nullptr);
    EXPECT_TRUE(Enabling(*menu)[M::kRemoveAllItems]);
    EXPECT_TRUE(Enabling(*menu)[M::kClipboardCopy]);
    EXPECT_TRUE(Enabling(*menu)[M::kKillSession]);
}

TEST_F(SessionContextMenuTest, BothLanguagesCarryEveryEntry) {
    SessionMonitorPage& en = MakeWithRows(1);
    auto menu = en.contextMenu().CreateMenu(nullptr);
    QStringList texts;
    for (QAction* a : menu->actions()) texts << (a->isSeparator() ? QString("-") : a->text());
    EXPECT_EQ(texts, (QStringList{"Remove all items(&R)", "Clipboard Copy(&C)\tCtrl+C", "Select Copy items",
                                  "-", "Add to Packet filter rules(&P)", "Kill Session(&K)\tCtrl+DEL", "-",
                                  "NSLOOKUP(&N)", "WHOIS(&W)", "PING(&G)", "TRACERT(&T)", "-",
                                  "Show IPv6 connections"}));
    QMenu* copyItems = menu->actions()[2]->menu();
    ASSERT_NE(copyItems, nullptr);
    ASSERT_EQ(copyItems->actions().size(), 9);
    EXPECT_EQ(copyItems->actions()[0]->text(), "IP Address1\tCtrl+1");
    EXPECT_EQ(copyItems->actions()[8]->text(), "ProcessName(PID)\tCtrl+9");

    h.Make(UiLanguage::Japanese());
    menu = h.page->contextMenu().CreateMenu(nullptr);
    texts.clear();
    for (QAction* a : menu->actions()) texts << (a->isSeparator() ? QString("-") : a->text());
    EXPECT_EQ(texts, (QStringList{"すべての項目を削除(&R)", "クリップボードへコピー(&C)\tCtrl+C",
                                  "コピーする項目を選択", "-", "自動切断のルールに追加(&P)",
                                  "セッションの強制切断(&K)\tCtrl+DEL", "-", "NSLOOKUP(&N)", "WHOIS(&W)",
                                  "PING(&G)", "TRACERT(&T)", "-", "IPv6接続を表示"}));
    EXPECT_EQ(menu->actions()[2]->menu()->actions()[4]->text(), QString("ホスト2\tCtrl+5"));
}

// "Select Copy items" (and Ctrl+1 .. Ctrl+9) choose the column Clipboard Copy takes; the choice is
// checked in the menu and kept in the settings.
TEST_F(SessionContextMenuTest, TheCopyColumnIsChosenCheckedAndKept) {
    SessionMonitorPage& page = MakeWithRows(2);
    h.Select({0, 1});
    struct Row {
        int column;
        QString copied;
    } rows[] = {
        {kColLocalPort, "45000\r\n45001\r\n"},
        {kColRemoteAddress, "10.0.0.2\r\n10.0.0.2\r\n"},
        {kColProcess, "curl(77)\r\ncurl(77)\r\n"},
    };
    for (const Row& r : rows) {
        page.contextMenu().Run(SessionContextMenu::kFirstCopyItem + r.column);
        EXPECT_EQ(page.contextMenu().CopySelectedHosts(), r.copied) << r.column;
        EXPECT_EQ(h.settings.ReadInt("Session", "CopyColumn", -1), r.column);
        auto menu = page.contextMenu().CreateMenu(nullptr);
        QList<QAction*> items = menu->actions()[2]->menu()->actions();
        for (int c = 0; c < kColumnCount; ++c) EXPECT_EQ(items[c]->isChecked(), c == r.column) << c;
    }
    // Ctrl+5 on the list: back to Hostname2; a new page starts with the kept choice.
    for (QAction* a : page.list()->actions())
        if (a->shortcut() == QKeySequence(Qt::CTRL | Qt::Key_5)) a->trigger();
    EXPECT_EQ(page.contextMenu().copyColumn(), kColRemoteHost);
    page.contextMenu().Run(SessionContextMenu::kFirstCopyItem + kColStatus);
    EXPECT_EQ(h.Make().contextMenu().copyColumn(), kColStatus);
}

// WHOIS, PING and TRACERT run the system's program (stand-ins here) without a shell, their output
// in a read-only window; a missing program disables its entry with the reason.
TEST_F(SessionContextMenuTest, NetworkToolsRunTheirProgramOrSayItIsMissing) {
    QTemporaryDir bin;
    for (const char* name : {"whois", "ping"}) {
        const QString path = bin.filePath(name);
        std::ofstream(path.toStdString()) << "#!/bin/sh\necho \"" << name << " $*\"\nfor a; do last=$a; done\necho 'a;b' \"$last\" >&2\n";
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    }
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", bin.path().toUtf8());  // no tracepath here
    SessionMonitorPage& page = MakeWithRows(1);
    h.Select({0});
    auto menu = page.contextMenu().CreateMenu(nullptr);
    std::map<int, QAction*> entries;
    for (QAction* a : menu->actions()) entries[a->data().toInt()] = a;
    EXPECT_TRUE(entries[SessionContextMenu::kWhois]->isEnabled());
    EXPECT_TRUE(entries[SessionContextMenu::kPing]->isEnabled());
    EXPECT_FALSE(entries[SessionContextMenu::kTracert]->isEnabled());

    struct Row {
        int command;
        QString printed;
    } rows[] = {{SessionContextMenu::kWhois, "whois 10.0.0.2\n"}, {SessionContextMenu::kPing, "ping -c 4 10.0.0.2\n"}};
    for (const Row& r : rows) {
        ProgramRunWindow* window = page.contextMenu().tools().RunTool(r.command, "10.0.0.2");
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(window->output()->isReadOnly());
        ASSERT_TRUE(test::WaitUntil([window] { return window->finished(); }));
        const QString text = window->output()->toPlainText();
        EXPECT_TRUE(text.contains(r.printed)) << text.toStdString();
        EXPECT_TRUE(text.contains("a;b 10.0.0.2")) << "standard error shown too: " << text.toStdString();
        EXPECT_TRUE(text.endsWith("— finished (exit status 0)")) << text.toStdString();
        window->close();
    }
    EXPECT_EQ(page.contextMenu().tools().RunTool(SessionContextMenu::kTracert, "10.0.0.2"), nullptr);
    ASSERT_EQ(h.warnings.size(), 1u);
    EXPECT_EQ(h.warnings[0], "tracepath is not installed (package iputils-tracepath)");
    qputenv("PATH", oldPath);

    h.Make(UiLanguage::Japanese());
    auto* jp = new ProgramRunWindow("PING", bin.filePath("ping"), {"-c", "4", "10.0.0.2"}, true);
    ASSERT_TRUE(test::WaitUntil([jp] { return jp->finished(); }));
    EXPECT_TRUE(jp->output()->toPlainText().endsWith(QString("— 終了しました (終了コード 0)")));
    EXPECT_EQ(jp->findChild<QPushButton*>()->text(), QString("閉じる"));
    delete jp;
}

// NSLOOKUP puts the reverse and the forward answers in the pane, without the window waiting.
TEST_F(SessionContextMenuTest, NslookupPutsBothAnswersInThePane) {
    h.table.Add(kTcpEstablished, "127.0.0.1", 45000, "127.0.0.1", 7000, 77);
    SessionMonitorPage& page = h.Make();
    page.StartStop();
    page.OnMonitorTick();
    h.Select({0});
    bool done = false;
    QObject::connect(&page.contextMenu().tools(), &SessionToolCommands::lookupDone, [&done] { done = true; });
    page.contextMenu().Run(SessionContextMenu::kNslookup);
    EXPECT_FALSE(done);  // answered later
    ASSERT_TRUE(test::WaitUntil([&done] { return done; }));
    const QStringList lines = page.logPane()->toPlainText().split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << page.logPane()->toPlainText().toStdString();
    EXPECT_TRUE(lines[1].startsWith("NSLOOKUP 127.0.0.1: ")) << lines[1].toStdString();  // newest first
    const QString name = lines[1].mid(20);
    EXPECT_TRUE(lines[0].startsWith("NSLOOKUP " + name + ": ")) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains("127.0.0.1")) << lines[0].toStdString();
    EXPECT_TRUE(page.logViewBox()->isChecked());
}

// "Add to Packet filter rules" shows the rule line, asks, appends it through the rule writer and
// reloads the rules; declined, the file stays as it was.
TEST_F(SessionContextMenuTest, AddToPacketFilterRulesAppendsOneLineAndReloads) {
    h.WriteRules("PORT2=9999");  // no line end: the new rule still gets a line of its own
    SessionMonitorPage& page = MakeWithRows(1);
    ASSERT_EQ(page.autoKill().rules().count(), 1);
    std::vector<QString> asked;
    bool answer = false;
    page.SetAsk([&](const QString& text) {
        asked.push_back(text);
        return answer;
    });
    h.Select({0});
    page.contextMenu().Run(SessionContextMenu::kAddToPacketFilter);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_TRUE(asked[0].endsWith("\n\nIP2=10.0.0.2")) << asked[0].toStdString();
    std::string text;
    ASSERT_TRUE(RuleFileWriter::Load(h.RulePath(), text));
    EXPECT_EQ(text, "PORT2=9999");

    answer = true;
    page.contextMenu().Run(SessionContextMenu::kAddToPacketFilter);
    ASSERT_TRUE(RuleFileWriter::Load(h.RulePath(), text));
    EXPECT_EQ(text, "PORT2=9999\nIP2=10.0.0.2\n");
    EXPECT_EQ(page.autoKill().rules().count(), 2);
}

TEST_F(SessionContextMenuTest, CopyPutsTheSelectedRemoteHostsWithCrLf) {
    SessionMonitorPage& page = MakeWithRows(4);
    h.Select({2, 0, 3});
    QString text = page.contextMenu().CopySelectedHosts();
    EXPECT_EQ(text, "(10.0.0.2)\r\n(10.0.0.2)\r\n(10.0.0.2)\r\n");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), text);

    page.askDnsBox()->setChecked(false);
    page.OnMonitorTick();
    h.Select({1});
    EXPECT_EQ(page.contextMenu().CopySelectedHosts(), "10.0.0.2\r\n");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "10.0.0.2\r\n");
}

TEST_F(SessionContextMenuTest, KillResetsSelectedRowsInListOrderWithoutCounting) {
    SessionMonitorPage& page = MakeWithRows(4);
    h.Select({3, 1});
    EXPECT_EQ(page.contextMenu().KillSelectedSessions(), 0);
    ASSERT_EQ(h.reset.calls.size(), 2u);
    EXPECT_EQ(ntohs(static_cast<uint16_t>(h.reset.calls[0].localPort)), 45001);
    EXPECT_EQ(ntohs(static_cast<uint16_t>(h.reset.calls[1].localPort)), 45003);
    EXPECT_EQ(h.reset.calls[0].state, static_cast<uint32_t>(kTcpDeleteTcb));
    EXPECT_EQ(page.blockedLabel()->text().toStdString(), " BLOCKED :     0");
    // One pane line per connection cut by hand, newest first.
    EXPECT_EQ(page.logPane()->toPlainText().toStdString(),
              "KILLED BY HAND [2014/12/31 23:59:58] 10.0.0.1:45003 10.0.0.2:83 curl(77)\n"
              "KILLED BY HAND [2014/12/31 23:59:58] 10.0.0.1:45001 10.0.0.2:81 curl(77)\n");
    EXPECT_TRUE(h.warnings.empty());
    // The highlight went with the cut: the same command again cuts nothing more.
    EXPECT_TRUE(page.list()->SelectedRows().isEmpty());
    EXPECT_EQ(page.contextMenu().KillSelectedSessions(), 0);
    EXPECT_EQ(h.reset.calls.size(), 2u);

    SessionMonitorPage& jp = MakeWithRows(1, UiLanguage::Japanese());
    h.Select({0});
    jp.contextMenu().KillSelectedSessions();
    EXPECT_TRUE(jp.logPane()->toPlainText().startsWith(QString("手動切断 [2014/12/31 23:59:58] 10.0.0.1:45000")));
}

// The highlight belongs to connections: connections sorted in above it, rows removed above it and
// a re-sort leave it on the same connections; a connection that goes loses it for good.
TEST_F(SessionContextMenuTest, SelectionStaysOnItsConnectionsAcrossTicksAndSorts) {
    SessionMonitorPage& page = MakeWithRows(5);  // ascending by local port 45000..45004
    h.Select({1, 3});                             // 45001 and 45003
    auto selectedPorts = [&] {
        std::vector<std::string> ports;
        for (int r : page.list()->SelectedRows()) ports.push_back(h.Column(kColLocalPort)[static_cast<size_t>(r)]);
        std::sort(ports.begin(), ports.end());
        return ports;
    };
    const std::vector<std::string> both{"45001", "45003"};
    struct Step {
        const char* what;
        std::function<void()> change;
        std::vector<std::string> selected;
    } steps[] = {
        {"three connections sorted in above", [&] {
             for (int i = 0; i < 3; ++i) h.table.Add(kTcpEstablished, "10.0.0.1", 44000 + i, "10.0.0.2", 80, 77);
         }, both},
        {"a row above removed", [&] { RemoveLocalPort(h.table, 45000); }, both},
        {"re-sorted descending", [&] { emit page.list()->sortHeader()->sectionClicked(kColLocalPort); }, both},
        {"a selected connection goes", [&] { RemoveLocalPort(h.table, 45003); },
         {"45001"}},
        {"and comes back unselected", [&] { h.table.Add(kTcpEstablished, "10.0.0.1", 45003, "10.0.0.2", 83, 77); },
         {"45001"}},
    };
    for (const Step& step : steps) {
        step.change();
        page.OnMonitorTick();
        EXPECT_EQ(selectedPorts(), step.selected) << step.what;
    }
    // Kill Session cuts exactly what is highlighted now.
    page.contextMenu().KillSelectedSessions();
    ASSERT_EQ(h.reset.calls.size(), 1u);
    EXPECT_EQ(ntohs(static_cast<uint16_t>(h.reset.calls[0].localPort)), 45001);
}

TEST_F(SessionContextMenuTest, RefusedKillIsReportedInThePaneAndABox) {
    SessionMonitorPage& page = MakeWithRows(3);
    h.reset.answer = {ResetStatus::kPermissionDenied, EPERM};
    h.Select({0, 2});
    EXPECT_EQ(page.contextMenu().KillSelectedSessions(), 2);
    ASSERT_EQ(h.warnings.size(), 1u);  // one box for the whole selection
    EXPECT_TRUE(h.warnings[0].contains("10.0.0.1:45000 10.0.0.2:80")) << h.warnings[0].toStdString();
    EXPECT_TRUE(h.warnings[0].contains("10.0.0.1:45002 10.0.0.2:82"));
    const std::string reason = ResetResult{ResetStatus::kPermissionDenied, EPERM}.Describe();
    EXPECT_TRUE(h.warnings[0].contains(QString::fromStdString(reason)));
    QString pane = page.logPane()->toPlainText();
    EXPECT_TRUE(pane.startsWith("NOT KILLED 10.0.0.1:45002")) << pane.toStdString();  // newest first
    EXPECT_EQ(pane.count("NOT KILLED"), 2);

    // A connection that is already gone is what the user asked for: no report.
    h.warnings.clear();
    h.reset.answer = {ResetStatus::kNoSuchConnection, ENOENT};
    EXPECT_EQ(page.contextMenu().KillSelectedSessions(), 0);
    EXPECT_TRUE(h.warnings.empty());
}

TEST_F(SessionContextMenuTest, CtrlCAndCtrlDeleteOnTheListCopyAndKill) {
    SessionMonitorPage& page = MakeWithRows(3);
    auto actionFor = [&page](QKeySequence keys) -> QAction* {
        for (QAction* a : page.list()->actions())
            if (a->shortcut() == keys) return a;
        return nullptr;
    };
    QAction* copy = actionFor(QKeySequence(Qt::CTRL | Qt::Key_C));
    QAction* kill = actionFor(QKeySequence(Qt::CTRL | Qt::Key_Delete));
    ASSERT_NE(copy, nullptr);
    ASSERT_NE(kill, nullptr);
    EXPECT_EQ(copy->shortcutContext(), Qt::WidgetWithChildrenShortcut);
    h.Select({1});
    QGuiApplication::clipboard()->clear();
    copy->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "(10.0.0.2)\r\n");
    kill->trigger();
    ASSERT_EQ(h.reset.calls.size(), 1u);
    EXPECT_EQ(ntohs(static_cast<uint16_t>(h.reset.calls[0].localPort)), 45001);
}

TEST_F(SessionContextMenuTest, RemoveAllItemsEmptiesListCacheAndCounters) {
    SessionMonitorPage& page = MakeWithRows(3);
    page.StartStop();  // stopped: the list stays empty until monitoring starts again
    page.StartStop();
    page.OnMonitorTick();
    EXPECT_EQ(page.counterLabel()->text().toStdString(), " Connections (Max) :    3 (   3)");
    page.StartStop();
    page.contextMenu().Run(SessionContextMenu::kRemoveAllItems);
    EXPECT_EQ(page.model().rowCount(), 0);
    EXPECT_EQ(h.flushes, 1);
    EXPECT_EQ(page.counterLabel()->text(), SessionMonitorPage::PauseText(UiLanguage::English()));
    auto menu = page.contextMenu().CreateMenu(nullptr);
    EXPECT_FALSE(Enabling(*menu)[SessionContextMenu::kRemoveAllItems]);

    page.StartStop();
    EXPECT_EQ(page.model().rowCount(), 3);  // the table was kept
    page.OnMonitorTick();
    EXPECT_EQ(page.counterLabel()->text().toStdString(), " Connections (Max) :    3 (   3)");
}

TEST_F(SessionContextMenuTest, ShowIpv6ConnectionsIsACheckedSwitchKeptInTheSettings) {
    h.table.Add(kTcpEstablished, "10.0.0.1", 45000, "10.0.0.2", 80, 77);
    h.table.Add(kTcpEstablished, "2001:db8::1", 45001, "2001:db8::2", 7000, 77);
    h.table.Add(kTcpListen, "::", 7000, "::", 0, 77);
    SessionMonitorPage& page = h.Make();
    page.StartStop();
    page.OnMonitorTick();
    auto checked = [&page] {
        auto menu = page.contextMenu().CreateMenu(nullptr);
        for (QAction* a : menu->actions())
            if (a->data().toInt() == SessionContextMenu::kShowIpv6) {
                EXPECT_TRUE(a->isCheckable());
                EXPECT_TRUE(a->isEnabled());
                return a->isChecked();
            }
        ADD_FAILURE() << "no Show IPv6 connections entry";
        return false;
    };
    EXPECT_FALSE(checked());
    EXPECT_EQ(h.Column(kColRemoteAddress), std::vector<std::string>{"10.0.0.2"});
    EXPECT_EQ(page.counterLabel()->text().toStdString(), " Connections (Max) :    1 (   1)");
    EXPECT_EQ(h.settings.ReadString("Session", "ShowIPv6", "unset"), "unset") << "not written until switched";

    page.contextMenu().Run(SessionContextMenu::kShowIpv6);
    EXPECT_TRUE(checked());
    EXPECT_EQ(h.settings.ReadInt("Session", "ShowIPv6", 0), 1);
    page.OnMonitorTick();
    std::vector<std::string> remotes = h.Column(kColRemoteAddress);
    std::sort(remotes.begin(), remotes.end());
    EXPECT_EQ(remotes, (std::vector<std::string>{"10.0.0.2", "2001:db8::2"})) << "the listener is no row";
    EXPECT_EQ(page.counterLabel()->text().toStdString(), " Connections (Max) :    2 (   2)");

    // An IPv6 row is killed and copied like any other; a refused kill names it in brackets.
    const int row6 = h.Column(kColRemoteAddress)[0] == "2001:db8::2" ? 0 : 1;
    h.Select({row6});
    EXPECT_EQ(page.contextMenu().CopySelectedHosts(), "(2001:db8::2)\r\n");
    h.reset.answer = {ResetStatus::kPermissionDenied, EPERM};
    EXPECT_EQ(page.contextMenu().KillSelectedSessions(), 1);
    ASSERT_EQ(h.reset.calls.size(), 1u);
    EXPECT_TRUE(h.reset.calls[0].v6);
    EXPECT_EQ(h.reset.calls[0].remoteAddr6, FakeConnectionTable::PackAddress6("2001:db8::2"));
    EXPECT_EQ(h.reset.calls[0].localAddr6, FakeConnectionTable::PackAddress6("2001:db8::1"));
    EXPECT_EQ(h.reset.calls[0].localPort, htons(45001));
    EXPECT_EQ(h.reset.calls[0].remotePort, htons(7000));
    ASSERT_EQ(h.warnings.size(), 1u);
    EXPECT_TRUE(h.warnings[0].startsWith("NOT KILLED [2001:db8::1]:45001 [2001:db8::2]:7000 curl(77)"))
        << h.warnings[0].toStdString();

    // A page made afterwards starts with the saved choice; switching back hides them again.
    SessionMonitorPage& again = h.Make();
    EXPECT_TRUE(again.showIpv6());
    again.StartStop();
    again.OnMonitorTick();
    EXPECT_EQ(again.model().rowCount(), 2);
    again.contextMenu().Run(SessionContextMenu::kShowIpv6);
    again.OnMonitorTick();
    EXPECT_EQ(h.Column(kColRemoteAddress), std::vector<std::string>{"10.0.0.2"});
    EXPECT_EQ(h.settings.ReadInt("Session", "ShowIPv6", 1), 0);
}

TEST(MainWindowTest, OneTabHoldingThePageAndClosingSavesItsSettings) {
    PageHarness h;
    MonitorPlatform platform{h.table, h.processes, h.reset, h.clock, nullptr, {}};
    MainWindow en(platform, h.settings, h.RulePath(), h.dir.path().toStdString(), UiLanguage::English());
    ASSERT_EQ(en.tabs()->count(), 1);
    EXPECT_EQ(en.tabs()->tabText(0), "Session Monitor");
    EXPECT_EQ(en.tabs()->widget(0), en.page());
    EXPECT_EQ(en.size(), QSize(803, 440));
    en.page()->list()->setColumnWidth(0, 123);
    en.close();
    EXPECT_EQ(h.settings.ReadString("Session", "ColnmWidth"), "123:90:60:90:220:60:80:100:100");

    en.SetTopMost(true);
    EXPECT_EQ(h.settings.ReadInt("Settings", "WindowTopMost", 0), 1);
    EXPECT_TRUE(en.page()->topMostAction()->isChecked());

    MainWindow jp(platform, h.settings, h.RulePath(), h.dir.path().toStdString(), UiLanguage::Japanese());
    EXPECT_EQ(jp.tabs()->tabText(0), QString("セッションモニター"));
    EXPECT_TRUE(jp.topMost());
    EXPECT_TRUE(jp.page()->topMostAction()->isChecked());
}

}  // namespace
}  // namespace varnel
