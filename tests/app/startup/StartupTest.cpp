// The start-up steps that run before the window: the restart hand-over, the single-instance lock and
// the display check.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/startup/DisplayCheck.h"
#include "app/startup/RestartHandOver.h"
#include "app/startup/SingleInstanceLock.h"

namespace varnel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

pid_t Child(int sleepMs) {
    pid_t pid = fork();
    if (pid == 0) {
        usleep(static_cast<useconds_t>(sleepMs) * 1000);
        _exit(0);
    }
    return pid;
}

TEST(RestartHandOverTest, WaitsForTheOldCopyOnlyWhenAskedExactly) {
    // Asked only with exactly two arguments, the first beginning with "/w".
    pid_t pid = 0;
    EXPECT_FALSE(RestartHandOver::Asked({"/w"}, pid));
    EXPECT_FALSE(RestartHandOver::Asked({"/w", "12", "x"}, pid));
    EXPECT_FALSE(RestartHandOver::Asked({"w", "12"}, pid));
    EXPECT_TRUE(RestartHandOver::Asked({"/wait", " 12abc"}, pid));
    EXPECT_EQ(pid, 12);
    EXPECT_TRUE(RestartHandOver::Asked({"/w", "xyz"}, pid));
    EXPECT_EQ(pid, 0);
    EXPECT_TRUE(RestartHandOver::Asked({"/w", "99999999999"}, pid));
    EXPECT_EQ(pid, 0) << "out of range names no process";

    // No process, PID 0 or a negative one (a process group to kill()): carry on at once.
    auto start = Clock::now();
    EXPECT_EQ(RestartHandOver::Run({"/w", "0"}, 2s), RestartHandOver::Outcome::kCarryOn);
    EXPECT_EQ(RestartHandOver::Run({"/w", "-1"}, 2s), RestartHandOver::Outcome::kCarryOn);
    const pid_t gone = Child(0);
    waitpid(gone, nullptr, 0);
    EXPECT_EQ(RestartHandOver::Run({"/w", std::to_string(gone)}, 2s), RestartHandOver::Outcome::kCarryOn);
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_EQ(RestartHandOver::Run({"/w"}, 2s), RestartHandOver::Outcome::kNotAsked);
}

TEST(RestartHandOverTest, AnOldCopyThatEndsLetsTheNewOneStartHoweverLongItTakes) {
    // A child that ends after 300 ms: the wait returns soon after (a thread reaps it meanwhile, as
    // the old copy's own parent would).
    const pid_t ending = Child(300);
    std::thread reaper([ending] { waitpid(ending, nullptr, 0); });
    auto start = Clock::now();
    EXPECT_EQ(RestartHandOver::Run({"/w", std::to_string(ending)}, 5s), RestartHandOver::Outcome::kCarryOn);
    EXPECT_LT(Clock::now() - start, 3s);
    reaper.join();

    // One that outlives the limit is still waited for, and that is said once: the new copy starts
    // when the old one has ended, so one copy is always left.
    const pid_t slow = Child(1200);
    std::thread slowReaper([slow] { waitpid(slow, nullptr, 0); });
    std::vector<pid_t> told;
    start = Clock::now();
    EXPECT_EQ(RestartHandOver::Run({"/w", std::to_string(slow)}, 400ms,
                                   [&](pid_t p) {
                                       told.push_back(p);
                                       EXPECT_GE(Clock::now() - start, 390ms)
                                           << "told when the limit has passed, not before";
                                   }),
              RestartHandOver::Outcome::kCarryOn);
    EXPECT_GE(Clock::now() - start, 1150ms);
    EXPECT_EQ(told, std::vector<pid_t>{slow});
    slowReaper.join();
}

TEST(SingleInstanceLockTest, ASecondHolderIsToldAndTheLockGoesWithItsOwner) {
    const std::string dir =
        std::filesystem::temp_directory_path() / ("varnel-lock-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/varnel.lock";
    {
        SingleInstanceLock first(path);
        ASSERT_EQ(first.Acquire(), SingleInstanceLock::State::kHeld);
        SingleInstanceLock second(path);  // a separate open: flock sees another holder
        EXPECT_EQ(second.Acquire(), SingleInstanceLock::State::kHeldElsewhere);
        // Another process sees it held too.
        pid_t child = fork();
        if (child == 0) {
            SingleInstanceLock other(path);
            _exit(other.Acquire() == SingleInstanceLock::State::kHeldElsewhere ? 0 : 1);
        }
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    {
        // A copy the user let start beside the first holds the lock too: once the first has ended,
        // a third start still finds a copy running.
        auto first = std::make_unique<SingleInstanceLock>(path);
        ASSERT_EQ(first->Acquire(), SingleInstanceLock::State::kHeld);
        SingleInstanceLock second(path);
        ASSERT_EQ(second.Acquire(), SingleInstanceLock::State::kHeldElsewhere);
        first.reset();
        SingleInstanceLock third(path);
        EXPECT_EQ(third.Acquire(), SingleInstanceLock::State::kHeldElsewhere);
    }
    SingleInstanceLock again(path);
    EXPECT_EQ(again.Acquire(), SingleInstanceLock::State::kHeld) << "released when its holder went";

    if (geteuid() == 0) {
        // Another user's file under the name is not taken, even by root, who could lock it.
        const std::string foreign = dir + "/foreign.lock";
        ::close(::creat(foreign.c_str(), 0666));
        ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
        SingleInstanceLock theirs(foreign);
        EXPECT_EQ(theirs.Acquire(), SingleInstanceLock::State::kUnavailable);
        EXPECT_NE(theirs.error().find("not a regular file of this user"), std::string::npos);
    }

    // A link planted under the name is not followed.
    const std::string planted = dir + "/planted.lock";
    std::filesystem::create_symlink(dir + "/target", planted);
    SingleInstanceLock link(planted);
    EXPECT_EQ(link.Acquire(), SingleInstanceLock::State::kUnavailable);
    EXPECT_FALSE(std::filesystem::exists(dir + "/target"));
    std::filesystem::remove_all(dir);

    setenv("XDG_RUNTIME_DIR", "relative/dir", 1);
    EXPECT_EQ(
        SingleInstanceLock::PathFor("varnel"),
        (std::filesystem::temp_directory_path() / ("varnel-" + std::to_string(getuid()) + ".lock")).string());
    unsetenv("XDG_RUNTIME_DIR");
}

TEST(DisplayCheckTest, SaysWhyThereIsNoWindowInsteadOfLettingQtAbort) {
    EXPECT_EQ(DisplayCheck::Problem("offscreen", nullptr, nullptr), "");
    EXPECT_NE(DisplayCheck::Problem(nullptr, nullptr, nullptr).find("neither DISPLAY nor WAYLAND_DISPLAY"),
              std::string::npos);
    EXPECT_NE(DisplayCheck::Problem("", "", "").find("--headless"), std::string::npos);
    EXPECT_NE(DisplayCheck::Problem("xcb", nullptr, "wayland-0").find("DISPLAY"), std::string::npos);
    EXPECT_NE(DisplayCheck::Problem("wayland", ":0", nullptr).find("WAYLAND_DISPLAY"), std::string::npos);
    EXPECT_EQ(DisplayCheck::Problem(nullptr, nullptr, "wayland-0"), "");
    EXPECT_EQ(DisplayCheck::Problem(nullptr, "remotehost:10.0", nullptr), "")
        << "remote displays are Qt's to try";
    // A local display number with no X server behind it.
    EXPECT_NE(DisplayCheck::Problem(nullptr, ":4711", nullptr).find("does not answer"), std::string::npos);
}

}  // namespace
}  // namespace varnel
