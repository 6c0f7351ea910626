// The real program in window mode (offscreen): SIGTERM and SIGINT while it monitors end it as Exit
// does, with the settings saved and status 0, within a tick.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace varnel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr auto kStartUp = 6000ms;  // a sanitizer build starts Qt and exits several times slower
constexpr auto kExitLimit = 4000ms;
#else
constexpr auto kStartUp = 1500ms;
constexpr auto kExitLimit = 800ms;  // a tick is 500 ms; the rest is slack for a busy machine
#endif

// Waits up to `limit` for `pid`; -1 when it is still running.
int WaitStatus(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
        if (waitpid(pid, &status, WNOHANG) == pid) return status;
        std::this_thread::sleep_for(10ms);
    }
    return -1;
}

TEST(WindowSignalTest, TerminationSignalsSaveTheSettingsAndEndWithStatusZero) {
    for (int signal : {SIGTERM, SIGINT}) {
        const fs::path dir = fs::temp_directory_path() / ("varnel-window-" + std::to_string(getpid()));
        fs::create_directories(dir / "run");
        fs::permissions(dir / "run", fs::perms::owner_all);
        std::ofstream(dir / "varnel.ini") << "[Session]\r\nAutoStart=1\r\nAskDNS=0\r\n";
        const pid_t child = fork();
        if (child == 0) {
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);
            execl(VARNEL_BINARY, VARNEL_BINARY, "--lang", "EN", "--config-dir", dir.c_str(), nullptr);
            _exit(127);
        }
        // Up and monitoring: the window has read its settings and ticked a few times.
        std::this_thread::sleep_for(kStartUp);
        ASSERT_EQ(WaitStatus(child, 0ms), -1) << "the window ended by itself";
        kill(child, signal);
        const int status = WaitStatus(child, kExitLimit);
        if (status == -1) kill(child, SIGKILL), waitpid(child, nullptr, 0);
        ASSERT_NE(status, -1) << "still running after signal " << signal;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        std::stringstream ini;
        ini << std::ifstream(dir / "varnel.ini").rdbuf();
        for (const char* key : {"MainWindow=", "Position=", "IsZoomed=", "SplitSize=", "ColnmWidth"})
            EXPECT_NE(ini.str().find(key), std::string::npos) << key << " not saved after signal " << signal;
        fs::remove_all(dir);
    }
}

}  // namespace
}  // namespace varnel
