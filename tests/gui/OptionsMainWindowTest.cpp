#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>

#include "PageTestSupport.h"
#include "app/gui/MainWindow.h"
#include "options/AutoKillOptionsPage.h"
#include "options/OptionsDialog.h"

namespace varnel {
namespace {

class OptionsMainWindowTest : public ::testing::Test {
  protected:
    std::unique_ptr<MainWindow> Make() {
        MonitorPlatform platform{h.table, h.processes, h.reset, h.clock, &h.names, [] {}};
        auto w = std::make_unique<MainWindow>(platform, h.settings, h.RulePath(), h.dir.path().toStdString(),
                                              UiLanguage::English());
        w->SetTrayAvailable([] { return false; });
        return w;
    }

    test::PageHarness h;
};

TEST_F(OptionsMainWindowTest, OkReloadsRulesAndWindowKeysCancelChangesNothing) {
    h.WriteRules("HOST2=example.com\n");
    auto w = Make();
    ASSERT_EQ(w->page()->autoKill().rules().count(), 1);
    w->OpenOptions();
    OptionsDialog* d = w->optionsDialog();
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(d->isModal());
    ASSERT_EQ(d->pages().size(), 2u);  // "Auto Kill Session" and "Color"
    w->OpenOptions();                  // a second request brings the open one forward
    EXPECT_EQ(w->optionsDialog(), d);

    // Cancel: nothing is re-read.
    h.settings.WriteInt("Settings", "WindowTopMost", 1);
    d->findChild<QPlainTextEdit*>()->clear();
    d->reject();
    QApplication::processEvents();
    EXPECT_FALSE(w->topMost());
    EXPECT_EQ(w->page()->autoKill().rules().count(), 1);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(h.RulePath())));

    // OK with an emptied rules box: no rule in force, the window's keys read again.
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(w->optionsDialog(), nullptr);
    w->OpenOptions();
    d = w->optionsDialog();
    ASSERT_NE(d, nullptr);
    d->findChild<QPlainTextEdit*>()->clear();
    d->accept();
    EXPECT_FALSE(QFile::exists(QString::fromStdString(h.RulePath())));
    EXPECT_EQ(w->page()->autoKill().rules().count(), 0);
    EXPECT_TRUE(w->topMost());
}

// The rule editor counts what auto kill tests: the IPv6 connection the list does not show too.
TEST_F(OptionsMainWindowTest, TheRuleEditorCountsConnectionsTheListDoesNotShow) {
    h.WriteRules("PORT2=6667\n");
    h.table.Add(kTcpEstablished, "10.0.0.1", 40000, "10.0.0.2", 6667, 0);
    h.table.Add(kTcpEstablished, "2001:db8::1", 40001, "2001:db8::2", 6667, 0);
    auto w = Make();
    SessionMonitor& monitor = w->page()->monitor();
    if (!monitor.running()) monitor.Start();
    monitor.Tick();
    ASSERT_EQ(monitor.listCount(), 1);
    w->OpenOptions();
    auto* rules = static_cast<AutoKillOptionsPage*>(w->optionsDialog()->pages()[0]);
    EXPECT_EQ(rules->explanation()->summary()->text(),
              "1 rules; of the 1 connections shown (+1 not shown), 1 would be cut (+1 not shown), 0 spared "
              "(+0 not shown)");
    w->optionsDialog()->reject();
}

}  // namespace
}  // namespace varnel
