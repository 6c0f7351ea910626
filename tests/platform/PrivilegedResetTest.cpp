// The window's reset: direct while it may, else through the helper, which is started on demand,
// waited for without blocking, asked again at most once a minute by the kill pass, and whose
// failures come back as refusals with the reason.
#include "platform/PrivilegedReset.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeConnectionReset.h"
#include "platform/fake/FakeResetHelperLauncher.h"

namespace varnel {
namespace {

using FakeHelper = FakeResetHelper;
using FakeLauncher = FakeResetHelperLauncher;

TcpRow Row() {
    TcpRow r{kTcpDeleteTcb, 0, htons(50000), 0, htons(80), 0};
    inet_pton(AF_INET, "10.0.0.1", &r.localAddr);
    inet_pton(AF_INET, "93.184.0.2", &r.remoteAddr);
    return r;
}

class PrivilegedResetTest : public ::testing::Test {
  protected:
    FakeConnectionReset direct;
    FakeLauncher launcher;
    FakeClock clock;
};

TEST_F(PrivilegedResetTest, WithTheRightItResetsDirectlyAndNeverStartsTheHelper) {
    PrivilegedReset reset(direct, true, launcher, clock);
    EXPECT_TRUE(reset.SetTcpEntry(Row()).ok());
    EXPECT_EQ(direct.calls.size(), 1u);
    EXPECT_EQ(launcher.launches, 0);
    EXPECT_FALSE(reset.NeedsHelper());
    reset.StartHelper(true);
    EXPECT_EQ(launcher.launches, 0);

    // A direct refusal for want of the right moves resets to the helper.
    direct.answer = {ResetStatus::kPermissionDenied, EPERM};
    launcher.helper.readyAfterPolls = 100;
    EXPECT_EQ(reset.SetTcpEntry(Row()).status, ResetStatus::kPending);
    EXPECT_EQ(launcher.launches, 1);
    EXPECT_EQ(direct.calls.size(), 2u);
    reset.SetTcpEntry(Row());
    EXPECT_EQ(direct.calls.size(), 2u) << "no direct attempts once the helper is in use";
}

TEST_F(PrivilegedResetTest, TheFirstResetStartsTheHelperThenGoesThroughIt) {
    PrivilegedReset reset(direct, false, launcher, clock);
    EXPECT_TRUE(reset.NeedsHelper());
    EXPECT_EQ(launcher.launches, 0) << "nothing is started before a reset is needed";
    launcher.helper.readyAfterPolls = 2;  // the start and the next reset look: pending twice
    launcher.helper.answers = {"OK", "GONE", "ERROR EPERM", "ERROR ENOMEM", "REFUSED listener"};

    // Pending while the prompt is up; never blocks, never starts a second helper.
    const ResetResult first = reset.SetTcpEntry(Row());
    EXPECT_EQ(first.status, ResetStatus::kPending);
    EXPECT_EQ(first.Describe(), "waiting for the administrator's password");
    EXPECT_EQ(reset.SetTcpEntry(Row()).status, ResetStatus::kPending);
    EXPECT_EQ(launcher.launches, 1);
    EXPECT_TRUE(direct.calls.empty());

    EXPECT_TRUE(reset.SetTcpEntry(Row()).ok());
    ASSERT_EQ(launcher.helper.requests.size(), 1u);
    EXPECT_EQ(launcher.helper.requests[0], "RESET 10.0.0.1 50000 93.184.0.2 80");
    EXPECT_EQ(reset.SetTcpEntry(Row()).status, ResetStatus::kNoSuchConnection);
    const ResetResult denied = reset.SetTcpEntry(Row());
    EXPECT_EQ(denied.status, ResetStatus::kPermissionDenied);
    EXPECT_EQ(denied.error, EPERM);
    const ResetResult failed = reset.SetTcpEntry(Row());
    EXPECT_EQ(failed.status, ResetStatus::kFailed);
    EXPECT_EQ(failed.error, ENOMEM);
    const ResetResult refused = reset.SetTcpEntry(Row());
    EXPECT_EQ(refused.status, ResetStatus::kRefused);
    EXPECT_NE(refused.Describe().find("listener"), std::string::npos) << refused.Describe();
    EXPECT_EQ(launcher.launches, 1);
    EXPECT_EQ(reset.Poll(), PrivilegedReset::HelperState::kReady);
}

TEST_F(PrivilegedResetTest, AFailedStartIsRefusedWithItsReasonAndAskedAgainAtMostOnceAMinute) {
    PrivilegedReset reset(direct, false, launcher, clock);
    launcher.refuse = "pkexec is not installed (it asks for the administrator's password)";
    for (int tick = 0; tick < 20; ++tick) {
        const ResetResult r = reset.SetTcpEntry(Row());
        EXPECT_EQ(r.status, ResetStatus::kRefused);
        EXPECT_EQ(r.Describe(), "refused: " + launcher.refuse);
        clock.Advance(500);
    }
    EXPECT_EQ(launcher.launches, 1) << "the kill pass must not ask on every tick";
    clock.Advance(PrivilegedReset::kRetryMs - 20 * 500 - 1);
    reset.SetTcpEntry(Row());
    EXPECT_EQ(launcher.launches, 1);
    clock.Advance(1);
    reset.SetTcpEntry(Row());
    EXPECT_EQ(launcher.launches, 2) << "a minute on, it asks again";

    // The user asking by hand is asked at once.
    reset.StartHelper(true);
    EXPECT_EQ(launcher.launches, 3);
    // Once it can be started, it is.
    launcher.refuse.clear();
    reset.StartHelper(true);
    EXPECT_EQ(reset.Poll(), PrivilegedReset::HelperState::kReady);
    EXPECT_TRUE(reset.failure().find("pkexec") != std::string::npos) << "the last failure is kept";
}

TEST_F(PrivilegedResetTest, ACancelledPromptOrAHelperThatEndsIsARefusalWithTheReason) {
    PrivilegedReset reset(direct, false, launcher, clock);
    launcher.helper.readyAfterPolls = 100;
    EXPECT_EQ(reset.SetTcpEntry(Row()).status, ResetStatus::kPending);
    launcher.helper.end = true;
    launcher.helper.endReason = "the administrator's password was not given (pkexec cancelled)";
    const ResetResult r = reset.SetTcpEntry(Row());
    EXPECT_EQ(r.status, ResetStatus::kRefused);
    EXPECT_EQ(r.detail, launcher.helper.endReason);
    EXPECT_TRUE(launcher.helper.destroyed) << "the channel is closed, which ends the helper";
    EXPECT_EQ(reset.Poll(), PrivilegedReset::HelperState::kFailed);

    // Started again a minute later; this time it becomes ready and then dies mid-request.
    clock.Advance(PrivilegedReset::kRetryMs);
    launcher.helper = FakeHelper{};
    launcher.helper.answers = {"OK"};
    EXPECT_TRUE(reset.SetTcpEntry(Row()).ok());
    EXPECT_EQ(launcher.launches, 2);
    const ResetResult died = reset.SetTcpEntry(Row());  // no answer queued: it ends
    EXPECT_EQ(died.status, ResetStatus::kRefused);
    EXPECT_EQ(died.detail, "the reset helper ended (exit status 1)");
    EXPECT_EQ(reset.SetTcpEntry(Row()).status, ResetStatus::kRefused);
    EXPECT_EQ(launcher.launches, 2) << "not asked again within the minute";
}

TEST_F(PrivilegedResetTest, StopHelperGivesUpOnAWaitAndDestroyingItEndsTheHelper) {
    {
        PrivilegedReset reset(direct, false, launcher, clock);
        launcher.helper.readyAfterPolls = 100;
        reset.StartHelper(true);
        EXPECT_EQ(reset.Poll(), PrivilegedReset::HelperState::kStarting);
        reset.StopHelper("cancelled while waiting for the administrator's password");
        EXPECT_TRUE(launcher.helper.destroyed);
        const ResetResult r = reset.SetTcpEntry(Row());
        EXPECT_EQ(r.Describe(), "refused: cancelled while waiting for the administrator's password");

        launcher.helper.readyAfterPolls = 0;
        reset.StartHelper(true);
        EXPECT_EQ(reset.Poll(), PrivilegedReset::HelperState::kReady);
        EXPECT_FALSE(launcher.helper.destroyed);
    }
    EXPECT_TRUE(launcher.helper.destroyed);
}

}  // namespace
}  // namespace varnel
