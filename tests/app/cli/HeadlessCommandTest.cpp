#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <streambuf>

#include <nlohmann/json.hpp>
#include <arpa/inet.h>

#include "app/cli/HeadlessCommand.h"
#include "platform/fake/FakeConnectEventSource.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeConnectionReset.h"
#include "platform/fake/FakeConnectionTable.h"
#include "platform/fake/FakeProcessList.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

// A connection table that lets the test act before every read, so that a whole run happens on the
// test's thread: the hook changes files, asks for a reload or stops the loop.
class HookedTable : public FakeConnectionTable {
  public:
    std::function<void(int read)> beforeRead;
    int readCount = 0;

    bool GetExtendedTcpTable(std::vector<TcpRow>& rows) override {
        Before();
        return FakeConnectionTable::GetExtendedTcpTable(rows);
    }
    bool GetTcpExTableFromStack(std::vector<TcpRow>& rows) override {
        Before();
        return FakeConnectionTable::GetTcpExTableFromStack(rows);
    }
    bool GetTcpTable(std::vector<TcpRow>& rows) override {
        Before();
        return FakeConnectionTable::GetTcpTable(rows);
    }

  private:
    void Before() {
        ++readCount;
        if (beforeRead) beforeRead(readCount);
    }
};

// A stream buffer that takes nothing, like standard output after its reader went away.
class ClosedBuffer : public std::streambuf {
  protected:
    int_type overflow(int_type) override { return traits_type::eof(); }
};

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class HeadlessCommandTest : public ::testing::Test {
  protected:
    HeadlessCommandTest() {
        char tmpl[] = "/tmp/varnel-headless-unit-XXXXXX";
        dir = mkdtemp(tmpl);
        processes.processes = {{77, "curl"}};
        table.Add(kTcpEstablished, "10.0.0.1", 50000, "10.0.0.2", 80, 77);
    }
    ~HeadlessCommandTest() override { fs::remove_all(dir); }

    // Runs the command in `folder` (default: the test's) until the hook stops it.
    int Run(std::ostream& out, bool forceAutoKill = false, const std::string& folder = {},
            OutputFormat format = OutputFormat::kText) {
        ConfigLocation::Environment env;
        ConfigLocation location(env, folder.empty() ? dir : folder);
        HeadlessCommand command({table, processes, reset, clock, events}, location, UiLanguage::English());
        command.SetForceAutoKill(forceAutoKill);
        command.SetFormat(format);
        command.SetNoInstantCut(noInstantCut);
        command.SetTickMs(1);
        return command.Run(out, err, stop, reload);
    }
    void WriteRules(const std::string& text) { std::ofstream(dir + "/varnel_autoblock.txt") << text; }
    SettingsFile Settings() const { return SettingsFile(dir + "/varnel.ini"); }

    std::string dir;
    HookedTable table;
    FakeProcessList processes;
    FakeConnectionReset reset;
    FakeClock clock;
    std::ostringstream err;
    std::atomic<bool> stop{false};
    std::atomic<bool> reload{false};
    ConnectEventSource* events = nullptr;
    bool noInstantCut = false;
};

TEST_F(HeadlessCommandTest, AReloadRereadsTheRulesAndTheSettings) {
    WriteRules("HOST2=example.com\nPORT2=http,HOST2=.none\n");  // match nothing, suspect and mistyped
    Settings().WriteInt("Session", "AutoBlock", 0);
    size_t resetsBeforeReload = 0;
    table.beforeRead = [&](int read) {
        if (read == 3) {
            resetsBeforeReload = reset.calls.size();
            WriteRules("PORT2=80\n");
            Settings().WriteInt("Session", "AutoBlock", 1);
            reload = true;
        }
        if (read == 6) stop = true;
    };
    std::ostringstream out;
    EXPECT_EQ(Run(out), 0);
    EXPECT_EQ(resetsBeforeReload, 0u);
    EXPECT_EQ(reset.calls.size(), 3u) << "cut at the three ticks after the reload";
    EXPECT_FALSE(reload.load()) << "the request was taken";
    const std::string rules = dir + "/varnel_autoblock.txt";
    const std::string log = dir + "/dunmoth_autoblock201412.log";
    EXPECT_EQ(err.str(), "varnel: monitoring; auto kill off, 2 rules from " + rules + "; block log " + log +
                             "; instant cut off\n"
                             "varnel: 1 rule line has errors, 1 rule line looks suspect; run varnel --check-rules\n"
                             "varnel: reloaded the rules and settings; auto kill on, 1 rule from " +
                             rules + "; block log " + log + "; instant cut off\n");
    EXPECT_EQ(Count(out.str(), "BLOCKED ["), 3u);
}

TEST_F(HeadlessCommandTest, AForcedAutoKillStaysOnAcrossAReload) {
    WriteRules("PORT2=80\n");
    Settings().WriteInt("Session", "AutoBlock", 0);
    table.beforeRead = [&](int read) {
        reload = read == 2;
        if (read == 4) stop = true;
    };
    std::ostringstream out;
    Run(out, true);
    EXPECT_EQ(reset.calls.size(), 4u);
    EXPECT_NE(err.str().find("reloaded the rules and settings; auto kill on"), std::string::npos)
        << err.str();
}

TEST_F(HeadlessCommandTest, AClosedOutputIsToldOnceAndEnforcingGoesOn) {
    WriteRules("PORT2=80\n");
    table.beforeRead = [&](int read) {
        if (read == 5) stop = true;
    };
    ClosedBuffer closed;
    std::ostream out(&closed);
    EXPECT_EQ(Run(out, true), 0);
    EXPECT_EQ(reset.calls.size(), 5u);
    const std::string log = dir + "/dunmoth_autoblock201412.log";
    EXPECT_EQ(Count(err.str(), "varnel: standard output closed; block-log lines go on to " + log + "\n"), 1u)
        << err.str();
    std::ifstream file(log, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_EQ(Count(text.str(), "BLOCKED ["), 5u);
}

TEST_F(HeadlessCommandTest, AnUnreadableTableIsToldOncePerOutageAndTriedAgain) {
    // Reads 2-4 fail, 5 works, 6-7 fail again.
    table.beforeRead = [&](int read) {
        table.failing = (read >= 2 && read <= 4) || read >= 6;
        if (read == 7) stop = true;
    };
    std::ostringstream out;
    EXPECT_EQ(Run(out), 0);
    EXPECT_EQ(table.readCount, 7) << "a failed read does not end the run";
    EXPECT_EQ(Count(err.str(), "varnel: cannot read the connection table; trying again at every tick\n"), 2u)
        << err.str();
}

TEST_F(HeadlessCommandTest, AutoKillIsOnOnlyWhenTheSettingIsOne) {
    WriteRules("PORT2=80\n");
    Settings().WriteInt("Session", "AutoBlock", 2);
    table.beforeRead = [&](int read) {
        if (read == 2) {
            Settings().WriteInt("Session", "AutoBlock", 1);
            reload = true;
        }
        if (read == 3) stop = true;
    };
    std::ostringstream out;
    Run(out);
    EXPECT_EQ(reset.calls.size(), 1u) << "off at 2, on after the reload read 1";
}

TEST_F(HeadlessCommandTest, ReportsReachTheTerminalAsPrintableLinesOnce) {
    // A configuration folder whose name holds an escape sequence, and a block log that cannot be
    // written there.
    const std::string folder = dir + "/odd\x1b[2Jname";
    fs::create_directory(folder);
    std::ofstream(folder + "/varnel_autoblock.txt") << "PORT2=80\n";
    SettingsFile(folder + "/varnel.ini").WriteString("Settings", "LogRootFolder", folder + "/missing");
    table.beforeRead = [&](int read) {
        if (read == 3) stop = true;
    };
    std::ostringstream out;
    Run(out, true, folder);
    const std::string text = err.str();
    EXPECT_EQ(text.find('\x1b'), std::string::npos) << text;
    EXPECT_NE(text.find("from " + dir + "/odd [2Jname/varnel_autoblock.txt"), std::string::npos) << text;
    EXPECT_EQ(Count(text, "varnel: block log not written: " + dir + "/odd [2Jname/missing/"), 1u) << text;
    EXPECT_EQ(Count(out.str(), "BLOCKED ["), 3u) << "the lines still reach standard output";
}

// JSON events on standard output, read back by a JSON parser; the metrics file named in the
// settings, whose counters a reload (which starts BLOCKED afresh) does not reset.
TEST_F(HeadlessCommandTest, JsonEventsAndMetricsCountersOutliveAReload) {
    WriteRules("# the cut\nPORT2=80\n");
    processes.processes = {{77, "cu,\"rl\"\x1b"}};
    const std::string metrics = dir + "/varnel.prom";
    Settings().WriteString("Session", "MetricsFile", metrics);
    std::string atReload;
    table.beforeRead = [&](int read) {
        if (read == 3) {
            reload = true;
            std::ifstream file(metrics);
            atReload.assign(std::istreambuf_iterator<char>(file), {});
        }
        if (read == 5) stop = true;
    };
    std::ostringstream out;
    EXPECT_EQ(Run(out, true, {}, OutputFormat::kJson), 0);
    EXPECT_EQ(err.str(), "") << "every event is a JSON line on standard output";
    std::istringstream lines(out.str());
    std::string line;
    int loads = 0, cuts = 0;
    while (std::getline(lines, line)) {
        const nlohmann::json e = nlohmann::json::parse(line);
        ASSERT_TRUE(e["time"].is_number()) << line;
        if (e["event"] == "rules-loaded") ++loads;
        if (e["event"] != "blocked") continue;
        ++cuts;
        EXPECT_EQ(e["rule_line"], 2);
        EXPECT_EQ(e["local"], "10.0.0.1:50000");
        EXPECT_EQ(e["remote"], "10.0.0.2:80");
        EXPECT_EQ(e["process"], "cu,\"rl\"\x1b");
        EXPECT_EQ(e["pid"], 77);
        EXPECT_EQ(e["message"].get<std::string>().rfind("BLOCKED [", 0), 0u) << line;
    }
    EXPECT_EQ(loads, 2);
    EXPECT_EQ(static_cast<size_t>(cuts), reset.calls.size());

    EXPECT_NE(atReload.find("\nvarnel_up 1\n"), std::string::npos) << "written at the first tick:\n" << atReload;
    std::ifstream file(metrics);
    const std::string text(std::istreambuf_iterator<char>(file), {});
    const std::string total = std::to_string(reset.calls.size());
    EXPECT_NE(text.find("\nvarnel_blocked_total " + total + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nvarnel_blocked_by_rule_total{line=\"2\"} " + total + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nvarnel_up 0\n"), std::string::npos) << "the last write says it ended";
    EXPECT_NE(text.find("\nvarnel_instant_cut_enabled 0\n"), std::string::npos) << "no event source here";
    EXPECT_NE(text.find("\nvarnel_tick_duration_seconds_count 5\n"), std::string::npos) << text;
}

TEST_F(HeadlessCommandTest, AConnectionTheKernelReportsIsCutBetweenTheTicksOnce) {
    WriteRules("PORT2=8080\n");
    FakeConnectEventSource source;
    events = &source;
    table.beforeRead = [&](int read) {
        if (read == 2) {
            ConnectEvent e;
            e.row = TcpRow{kTcpEstablished, FakeConnectionTable::PackAddress("10.0.0.1"), htons(50001),
                           FakeConnectionTable::PackAddress("10.0.0.2"), htons(8080), 77};
            source.Push(e);
        }
        if (read == 4) stop = true;
    };
    std::ostringstream out;
    Run(out, true);
    ASSERT_EQ(reset.calls.size(), 1u) << "nothing in the table matches; the event's connection is cut";
    EXPECT_EQ(Count(out.str(), "10.0.0.2:8080 curl(77)"), 1u) << out.str();
    EXPECT_NE(err.str().find("; instant cut on\n"), std::string::npos) << err.str();
}

TEST_F(HeadlessCommandTest, WhereInstantCutCannotRunThatIsToldOnceAndTheTicksCut) {
    WriteRules("PORT2=80\n");
    FakeConnectEventSource source;
    source.refuse = "bpf: Operation not permitted";
    events = &source;
    table.beforeRead = [&](int read) {
        reload = read == 2;
        if (read == 3) stop = true;
    };
    std::ostringstream out;
    Run(out, true);
    EXPECT_EQ(source.opens, 2) << "tried again at the reload";
    EXPECT_EQ(Count(err.str(), "varnel: instant cut unavailable (bpf: Operation not permitted); cutting at each "
                               "500 ms tick\n"),
              1u)
        << err.str();
    EXPECT_EQ(reset.calls.size(), 3u);

    // Switched off (the setting, or --no-instant-cut): not tried, nothing told.
    for (int way = 0; way < 2; ++way) {
        FakeConnectEventSource unused;
        events = &unused;
        noInstantCut = way == 1;
        Settings().WriteInt("Session", "InstantCut", way == 1 ? 1 : 0);
        err.str("");
        stop = false;
        table.beforeRead = [&](int read) { stop = read >= 5; };
        Run(out, true);
        EXPECT_EQ(unused.opens, 0) << way;
        EXPECT_EQ(err.str().find("unavailable"), std::string::npos) << err.str();
        EXPECT_NE(err.str().find("; instant cut off\n"), std::string::npos) << err.str();
    }
}

}  // namespace
}  // namespace varnel
