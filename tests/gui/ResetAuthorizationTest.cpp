// Kill Session and the auto kill switch where resets need the administrator's password: the
// wait for the prompt, its cancel, and the switch that asks without waiting.
#include "app/gui/ResetAuthorization.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <QPushButton>
#include <QDialog>
#include <QDialogButtonBox>
#include <QTimer>

#include "gui/PageTestSupport.h"
#include "monitor/SessionContextMenu.h"
#include "platform/PrivilegedReset.h"
#include "platform/fake/FakeResetHelperLauncher.h"

namespace varnel::test {
namespace {

class ResetAuthorizationTest : public ::testing::Test {
  protected:
    SessionMonitorPage& MakeWithRows(bool holdsRight) {
        privileged = std::make_unique<PrivilegedReset>(h.reset, holdsRight, launcher, h.clock);
        authorization = std::make_unique<ResetAuthorization>(*privileged, UiLanguage::English());
        h.useReset = privileged.get();
        h.prepareReset = [this](bool forKill) { authorization->Prepare(forKill); };
        for (int i = 0; i < 3; ++i) h.table.Add(kTcpEstablished, "10.0.0.1", 45000 + i, "10.0.0.2", 80, 77);
        SessionMonitorPage& page = h.Make();
        page.StartStop();
        page.OnMonitorTick();
        return page;
    }
    // While the wait is up, `act` runs on it once (after `ms`); records whether it was shown.
    void WhileWaiting(int ms, std::function<void(QDialog&)> act) {
        QTimer::singleShot(ms, &timerContext, [this, act] {
            if (QDialog* d = authorization->waitDialog()) {
                waitShown = true;
                act(*d);
            }
        });
    }

    PageHarness h;
    FakeResetHelperLauncher launcher;
    std::unique_ptr<PrivilegedReset> privileged;
    std::unique_ptr<ResetAuthorization> authorization;
    bool waitShown = false;
    // A look that never came (no wait was shown) dies with the test instead of firing in the next.
    QObject timerContext;
};

TEST_F(ResetAuthorizationTest, KillSessionWaitsForThePromptThenCutsTheChosenRows) {
    SessionMonitorPage& page = MakeWithRows(false);
    launcher.helper.readyAfterPolls = 3;  // about three poll intervals of prompt
    launcher.helper.answers = {"OK", "OK"};
    WhileWaiting(ResetAuthorization::kPollMs / 2, [](QDialog&) {});
    h.Select({0, 2});
    EXPECT_EQ(page.contextMenu().KillSelectedSessions(), 0);
    EXPECT_TRUE(waitShown) << "no wait was shown while the prompt was up";
    EXPECT_EQ(launcher.launches, 1);
    ASSERT_EQ(launcher.helper.requests.size(), 2u);
    EXPECT_NE(launcher.helper.requests[0].find(" 10.0.0.2 80"), std::string::npos);
    EXPECT_TRUE(h.warnings.empty());
    EXPECT_TRUE(h.reset.calls.empty()) << "no direct reset without the right";

    // Ready now: the next Kill Session neither asks nor waits.
    waitShown = false;
    launcher.helper.answers = {"GONE"};
    WhileWaiting(0, [](QDialog&) {});
    h.Select({1});
    EXPECT_EQ(page.contextMenu().KillSelectedSessions(), 0);
    EXPECT_FALSE(waitShown);
    EXPECT_EQ(launcher.launches, 1);
}

TEST_F(ResetAuthorizationTest, CancellingTheWaitRefusesTheKillWithTheReasonAndEndsTheHelper) {
    SessionMonitorPage& page = MakeWithRows(false);
    launcher.helper.readyAfterPolls = 1'000'000;
    WhileWaiting(3 * ResetAuthorization::kPollMs, [](QDialog& d) {
        auto* buttons = d.findChild<QDialogButtonBox*>();
        ASSERT_NE(buttons, nullptr);
        buttons->button(QDialogButtonBox::Cancel)->click();
    });
    h.Select({0, 1});
    EXPECT_EQ(page.contextMenu().KillSelectedSessions(), 2);
    EXPECT_TRUE(waitShown);
    EXPECT_TRUE(launcher.helper.destroyed);
    ASSERT_EQ(h.warnings.size(), 1u);
    EXPECT_TRUE(h.warnings[0].contains("refused: cancelled while waiting for the administrator's password"))
        << h.warnings[0].toStdString();
    // The user asking again by hand is asked again at once.
    launcher.helper = FakeResetHelper{};
    launcher.helper.answers = {"OK"};
    h.Select({0});
    EXPECT_EQ(page.contextMenu().KillSelectedSessions(), 0);
    EXPECT_EQ(launcher.launches, 2);
}

TEST_F(ResetAuthorizationTest, SwitchingAutoKillOnAsksWithoutWaitingOnlyWhenThereAreRules) {
    SessionMonitorPage& page = MakeWithRows(false);
    launcher.helper.readyAfterPolls = 1'000'000;
    page.autoBlockBox()->setChecked(true);
    EXPECT_EQ(launcher.launches, 0) << "no rules, nothing to cut: no prompt";
    page.autoBlockBox()->setChecked(false);

    h.WriteRules("PORT2=80\n");
    page.autoKill().LoadRules();
    page.autoBlockBox()->setChecked(true);
    EXPECT_EQ(launcher.launches, 1);
    EXPECT_EQ(authorization->waitDialog(), nullptr);
    // The kill pass meanwhile only waits: nothing reported, nothing counted.
    page.OnMonitorTick();
    EXPECT_TRUE(page.logPane()->toPlainText().isEmpty()) << page.logPane()->toPlainText().toStdString();
    EXPECT_EQ(launcher.launches, 1);
}

TEST_F(ResetAuthorizationTest, WithTheRightNothingIsAskedAndResetsGoDirectly) {
    SessionMonitorPage& page = MakeWithRows(true);
    WhileWaiting(0, [](QDialog&) {});
    h.Select({0});
    EXPECT_EQ(page.contextMenu().KillSelectedSessions(), 0);
    EXPECT_FALSE(waitShown);
    EXPECT_EQ(launcher.launches, 0);
    EXPECT_EQ(h.reset.calls.size(), 1u);
}

}  // namespace
}  // namespace varnel::test
