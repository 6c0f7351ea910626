#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <sstream>

#include "app/cli/CommandLine.h"
#include "app/cli/ListCommand.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeConnectionTable.h"
#include "platform/fake/FakeProcessList.h"

namespace varnel {
namespace {

TEST(ListCommandTest, PrintsTitlesAndRowsInDisplayOrder) {
    FakeConnectionTable table;
    FakeProcessList processes;
    FakeClock clock;
    processes.processes = {{42, "ssh"}};
    table.Add(kTcpSynSent, "10.0.0.1", 50001, "10.0.0.7", 22, 42);
    table.Add(kTcpListen, "0.0.0.0", 22, "0.0.0.0", 0, 1);
    table.Add(kTcpEstablished, "10.0.0.1", 50000, "10.0.0.7", 22, 42);
    std::ostringstream out;
    EXPECT_EQ(ListCommand(table, processes, clock, UiLanguage::English()).Run(out, std::cerr), 0);
    EXPECT_EQ(out.str(),
              "IP Address1\tHostname1\tPort1\tIP Address2\tHostname2\tPort2\tStatus\tTime\tProcessName(PID)\n"
              "10.0.0.1\t10.0.0.1\t50000\t10.0.0.7\t10.0.0.7\t22\tConnecting\t00s\tssh(42)\n"
              "10.0.0.1\t10.0.0.1\t50001\t10.0.0.7\t10.0.0.7\t22\tWaiting\t00s\tssh(42)\n");

    table.hasExtended = false;  // only the plain table: the ninth field is empty
    std::ostringstream jp;
    ListCommand(table, processes, clock, UiLanguage::Japanese()).Run(jp, std::cerr);
    std::string text = jp.str();
    EXPECT_EQ(
        text.substr(0, text.find('\n')),
        "IPアドレス1\tホスト1\tポート1\tIPアドレス2\tホスト2\tポート2\t通信状態\t通信時間\tイメージ名(PID)");
    EXPECT_NE(text.find("\t接続中\t00秒\t\n"), std::string::npos) << text;
}

TEST(ListCommandTest, AllPrintsTheConnectionsBeyondTheListsRows) {
    FakeConnectionTable table;
    FakeProcessList processes;
    FakeClock clock;
    for (int i = 0; i < 650; ++i) table.Add(kTcpEstablished, "10.0.0.1", 40000 + i, "10.0.0.7", 22, 0);
    auto lines = [&](bool all) {
        std::ostringstream out;
        ListCommand list(table, processes, clock, UiLanguage::English());
        list.SetAll(all);
        list.Run(out, std::cerr);
        const std::string text = out.str();
        return std::make_pair(std::count(text.begin(), text.end(), '\n'), text);
    };
    EXPECT_EQ(lines(false).first, 1 + 599);
    auto [count, text] = lines(true);
    EXPECT_EQ(count, 1 + 650);
    EXPECT_TRUE(text.ends_with("10.0.0.1\t10.0.0.1\t40649\t10.0.0.7\t10.0.0.7\t22\tConnecting\t00s\t(0)\n"))
        << text.substr(text.size() - 200);
}

class OddHostNames : public HostNameSource {
  public:
    void LookupHostName(const char*, char* out, size_t n) override {
        std::snprintf(out, n, "evil\tname\r\nx");
    }
};

TEST(ListCommandTest, ControlCharactersInNamesCannotBreakTheLayout) {
    FakeConnectionTable table;
    FakeProcessList processes;
    FakeClock clock;
    table.Add(kTcpEstablished, "10.0.0.1", 1, "10.0.0.2", 2, 0);
    OddHostNames hosts;
    ListCommand list(table, processes, clock, UiLanguage::English());
    list.SetHostNameSource(&hosts, 0);
    std::ostringstream out;
    list.Run(out, std::cerr);
    std::string text = out.str();
    std::string row = text.substr(text.find('\n') + 1);
    EXPECT_EQ(std::count(row.begin(), row.end(), '\n'), 1);
    EXPECT_EQ(std::count(row.begin(), row.end(), '\t'), 8);
    EXPECT_NE(row.find("evil name  x"), std::string::npos);
}

class EscapingHostNames : public HostNameSource {
  public:
    void LookupHostName(const char*, char* out, size_t n) override {
        std::snprintf(out, n,
                      "a\x1b]0;title\x07\xC2\x9B"
                      "31m日本.example");
    }
};

TEST(ListCommandTest, NoFieldCanSendATerminalAControl) {
    FakeConnectionTable table;
    FakeProcessList processes;
    FakeClock clock;
    processes.processes = {{42, "ev\x1b[2Jil\x7f"}};
    table.Add(kTcpEstablished, "10.0.0.1", 1, "10.0.0.2", 2, 42);
    EscapingHostNames hosts;
    ListCommand list(table, processes, clock, UiLanguage::English());
    list.SetHostNameSource(&hosts, 0);
    std::ostringstream out;
    list.Run(out, std::cerr);
    std::string row = out.str().substr(out.str().find('\n') + 1);
    EXPECT_EQ(row,
              "10.0.0.1\ta ]0;title  31m日本.example\t1\t10.0.0.2\ta ]0;title  "
              "31m日本.example\t2\tConnecting\t00s\t"
              "ev [2Jil (42)\n");
}

TEST(ListCommandTest, AnUnreadableTableIsAnErrorNotAnEmptyList) {
    FakeConnectionTable table;
    FakeProcessList processes;
    FakeClock clock;
    table.failing = true;
    std::ostringstream out, err;
    EXPECT_EQ(ListCommand(table, processes, clock, UiLanguage::English()).Run(out, err), 1);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "varnel: cannot read the connection table\n");
}

TEST(CommandLineTest, ParsesModesAndOptions) {
    {
        CommandLine cl;
        std::string error;
        const char* argv[] = {"varnel", "--list", "--all"};
        ASSERT_TRUE(cl.Parse(3, argv, error)) << error;
        EXPECT_TRUE(cl.all);
    }
    CommandLine cl;
    std::string error;
    const char* a[] = {"varnel", "--list", "--no-resolve", "--lang", "jp", "--config-dir", "/tmp/x"};
    ASSERT_TRUE(cl.Parse(7, a, error)) << error;
    EXPECT_EQ(cl.mode, CommandLine::Mode::kList);
    EXPECT_TRUE(cl.noResolve);
    EXPECT_EQ(cl.lang, "JP");
    EXPECT_EQ(cl.configDir, "/tmp/x");

    CommandLine rules;
    const char* b[] = {"varnel", "--check-rules", "my rules.txt"};
    ASSERT_TRUE(rules.Parse(3, b, error));
    EXPECT_EQ(rules.rulesFile, "my rules.txt");

    const char* bad[][3] = {
        {"varnel", "--lang", "fr"}, {"varnel", "--list", "--headless"}, {"varnel", "--frobnicate", ""}};
    for (auto& args : bad) {
        CommandLine c;
        EXPECT_FALSE(c.Parse(args[2][0] ? 3 : 2, args, error)) << args[1];
        EXPECT_FALSE(error.empty());
    }
    CommandLine missing;
    const char* c[] = {"varnel", "--config-dir"};
    EXPECT_FALSE(missing.Parse(2, c, error));
}

}  // namespace
}  // namespace varnel
