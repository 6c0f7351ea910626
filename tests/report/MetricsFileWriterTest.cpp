#include "report/MetricsFileWriter.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "autokill/MonitorEvent.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeConnectionTable.h"
#include "platform/fake/FakeProcessList.h"
#include "report/MetricsRegistry.h"
#include "session/SessionMonitor.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

class MetricsFileWriterTest : public ::testing::Test {
  protected:
    MetricsFileWriterTest() {
        char tmpl[] = "/tmp/varnel-metrics-XXXXXX";
        dir = mkdtemp(tmpl);
    }
    ~MetricsFileWriterTest() override { fs::remove_all(dir); }
    static std::string Read(const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    }
    std::string dir;
};

// A registry that has cut by `rules` rule lines: a file of some size, different each time.
std::string Rendered(int rules) {
    MetricsRegistry r("0.31");
    MonitorEvent e;
    for (int line = 1; line <= rules; ++line) {
        e.ruleLine = line;
        r.Count(e);
    }
    return r.Render();
}

// node_exporter reads the file while the program may be killed at any moment: it must only ever
// find a whole rendering.
TEST_F(MetricsFileWriterTest, AKilledWriterNeverLeavesHalfAFile) {
    const std::string path = dir + "/varnel.prom";
    const std::string small = Rendered(5), big = Rendered(3000);
    ASSERT_TRUE(MetricsFileWriter(path).Write(small, {}).empty());
    std::mt19937 rng(7);
    int kills = 0, sawBig = 0;
    const auto start = std::chrono::steady_clock::now();
    while (kills < 60 && std::chrono::steady_clock::now() - start < std::chrono::seconds(4)) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            MetricsFileWriter w(path);
            for (unsigned i = 0;; ++i) w.Write(i % 2 ? small : big, {});
        }
        std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(200, 20000)(rng)));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        ++kills;
        const std::string text = Read(path);
        ASSERT_TRUE(text == small || text == big) << "a partial file of " << text.size() << " bytes";
        sawBig += text == big;
    }
    EXPECT_GT(sawBig, 0) << "the writer never got a write through";
    EXPECT_GT(kills, 10);
}

TEST_F(MetricsFileWriterTest, IsWrittenEveryTenSecondsReadableByOthersAndAFailureIsToldOnce) {
    const auto t0 = MetricsFileWriter::Clock::time_point{} + std::chrono::hours(1);
    const mode_t old = umask(077);
    MetricsFileWriter w(dir + "/varnel.prom");
    EXPECT_TRUE(w.Due(t0)) << "the first write is due at once";
    EXPECT_EQ(w.Write("a 1\n", t0), "");
    umask(old);
    struct stat st {};
    ASSERT_EQ(stat((dir + "/varnel.prom").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u) << "node_exporter reads it as another user";
    EXPECT_FALSE(w.Due(t0 + std::chrono::milliseconds(9999)));
    EXPECT_TRUE(w.Due(t0 + std::chrono::seconds(10)));

    MetricsFileWriter missing(dir + "/no/such/folder/varnel.prom");
    const std::string told = missing.Write("a 1\n", t0);
    EXPECT_EQ(told.rfind("metrics file " + dir + "/no/such/folder/varnel.prom not written: ", 0), 0u) << told;
    EXPECT_EQ(missing.Write("a 1\n", t0), "") << "told once";
    fs::create_directories(dir + "/no/such/folder");
    EXPECT_EQ(missing.Write("a 1\n", t0), "");
    fs::remove_all(dir + "/no");
    EXPECT_NE(missing.Write("a 1\n", t0), "") << "told again after a write worked";
}

// Failures count by their reason (a summary line, which has none, counts nothing); a tick as long
// as a bucket's bound falls in that bucket, one longer than every bound only in +Inf.
TEST(MetricsRegistryTest, FailuresByReasonAndTicksInTheirBuckets) {
    FakeConnectionTable table;
    FakeProcessList processes;
    FakeClock clock;
    SessionMonitor monitor(table, processes, clock, UiLanguage::English());
    MetricsRegistry r("0.31");
    MonitorEvent e;
    e.kind = MonitorEvent::Kind::kNotBlocked;
    r.Count(e);
    e.reason = "refused";
    r.Count(e);
    r.ObserveTick(monitor, 0, 0.005, 1);
    r.ObserveTick(monitor, 0, 9.0, 2);
    const std::string text = r.Render();
    for (const char* line : {"varnel_reset_failures_total{reason=\"refused\"} 1",
                             "varnel_reset_failures_total{reason=\"failed\"} 0",
                             "varnel_tick_duration_seconds_bucket{le=\"0.0025\"} 0",
                             "varnel_tick_duration_seconds_bucket{le=\"0.005\"} 1",
                             "varnel_tick_duration_seconds_bucket{le=\"2.5\"} 1",
                             "varnel_tick_duration_seconds_bucket{le=\"+Inf\"} 2"})
        EXPECT_NE(text.find(std::string("\n") + line + "\n"), std::string::npos) << line << "\n" << text;
}

}  // namespace
}  // namespace varnel
