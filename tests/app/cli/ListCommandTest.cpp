#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <unistd.h>
#include <iostream>
#include <sstream>

#include <nlohmann/json.hpp>

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
    table.Add(kTcpCloseWait, "10.0.0.1", 50002, "10.0.0.7", 22, 42);  // half-closed: not listed
    table.Add(kTcpTimeWait, "10.0.0.1", 50003, "10.0.0.7", 22, 42);
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
    table.Add(kTcpFinWait2, "10.0.0.1", 39999, "10.0.0.7", 22, 0);
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
    EXPECT_EQ(count, 1 + 651);
    // The half-closed connection comes last, with its own state.
    EXPECT_TRUE(
        text.ends_with("10.0.0.1\t10.0.0.1\t40649\t10.0.0.7\t10.0.0.7\t22\tConnecting\t00s\t(0)\n"
                       "10.0.0.1\t10.0.0.1\t39999\t10.0.0.7\t10.0.0.7\t22\tFIN WAIT2\t00s\t(0)\n"))
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

// Runs --list (with --all, --ipv6 as asked) on `table` and returns what it prints.
std::string ListText(FakeConnectionTable& table, bool all, bool ipv6) {
    FakeProcessList processes;
    processes.processes = {{42, "ssh"}};
    FakeClock clock;
    std::ostringstream out;
    ListCommand list(table, processes, clock, UiLanguage::English());
    list.SetAll(all);
    list.SetIpv6(ipv6);
    list.Run(out, std::cerr);
    return out.str();
}

TEST(ListCommandTest, WithoutIpv6TheOutputIsThatOfTheTableWithoutIpv6Connections) {
    FakeConnectionTable v4, mixed;
    for (int i = 0; i < 620; ++i) {
        v4.Add(kTcpEstablished, "10.0.0.1", 40000 + i, "10.0.0.7", 22, 42);
        mixed.Add(kTcpEstablished, "10.0.0.1", 40000 + i, "10.0.0.7", 22, 42);
        if (i % 3 == 0) mixed.Add(kTcpEstablished, "2001:db8::1", 50000 + i, "2001:db8::7", 22, 42);
    }
    mixed.Add(kTcpListen, "::", 22, "::", 0, 42);
    for (bool all : {false, true}) {
        const std::string expected = ListText(v4, all, false);
        EXPECT_EQ(ListText(mixed, all, false), expected) << "all " << all;
        EXPECT_EQ(expected.find(':'), std::string::npos);
    }
}

TEST(ListCommandTest, Ipv6ListsTheIpv6ConnectionsInTheCanonicalFormAndCountsThemInThe599) {
    FakeConnectionTable table;
    table.Add(kTcpEstablished, "10.0.0.1", 40000, "10.0.0.7", 22, 42);
    table.Add(kTcpSynSent, "2001:0DB8:0:0:0:0:0:1", 50000, "2001:db8::7", 22, 42);
    table.Add(kTcpListen, "::", 22, "::", 0, 42);
    EXPECT_EQ(ListText(table, false, true),
              "IP Address1\tHostname1\tPort1\tIP Address2\tHostname2\tPort2\tStatus\tTime\tProcessName(PID)\n"
              "10.0.0.1\t10.0.0.1\t40000\t10.0.0.7\t10.0.0.7\t22\tConnecting\t00s\tssh(42)\n"
              "2001:db8::1\t2001:db8::1\t50000\t2001:db8::7\t2001:db8::7\t22\tWaiting\t00s\tssh(42)\n");

    for (int i = 0; i < 700; ++i) table.Add(kTcpEstablished, "::1", 30000 + i, "::1", 7000, 42);
    auto lines = [](const std::string& text) { return std::count(text.begin(), text.end(), '\n'); };
    EXPECT_EQ(lines(ListText(table, false, true)), 1 + 599);
    EXPECT_EQ(lines(ListText(table, true, true)), 1 + 702);
    EXPECT_EQ(lines(ListText(table, true, false)), 1 + 1);
}

// Python's csv module reads `text` and gives its rows back as a JSON array of arrays.
nlohmann::json CsvRowsByPython(const std::string& text) {
    char path[] = "/tmp/varnel-csv-XXXXXX";
    close(mkstemp(path));
    std::ofstream(path, std::ios::binary) << text;
    const std::string command =
        std::string("python3 -c 'import csv,json,sys; print(json.dumps(list(csv.reader(open(sys.argv[1], "
                    "newline=\"\")))))' ") + path;
    std::string output;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) output.append(buf, n);
        pclose(p);
    }
    unlink(path);
    return nlohmann::json::parse(output);
}

// The same connections in the three formats, those beyond the list's rows (--all) included, read
// back by real parsers: numbers are numbers, quoting survives, control characters are escaped.
TEST(ListCommandTest, JsonAndCsvListEveryConnectionTheTextDoesAndReadBack) {
    const std::string hostile = "we,\"ird\" \x1b[2J\ttab\nline\x7f";
    FakeConnectionTable table;
    for (int i = 0; i < 603; ++i) table.Add(kTcpEstablished, "10.0.0.1", 40000 + i, "10.0.0.7", 22, 42);
    table.Add(kTcpFinWait2, "2001:db8::1", 39999, "2001:db8::7", 22, 42);
    auto list = [&](OutputFormat format) {
        FakeProcessList processes;
        processes.processes = {{42, hostile}};
        FakeClock clock;
        std::ostringstream out;
        ListCommand command(table, processes, clock, UiLanguage::English());
        command.SetAll(true);
        command.SetIpv6(true);
        command.SetFormat(format);
        command.Run(out, std::cerr);
        return out.str();
    };
    const std::string text = list(OutputFormat::kText), json = list(OutputFormat::kJson),
                      csv = list(OutputFormat::kCsv);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1 + 604);
    EXPECT_EQ(std::count(json.begin(), json.end(), '\n'), 604) << "one line per connection";
    const std::string last = json.substr(json.rfind('\n', json.size() - 2) + 1);
    nlohmann::json expected = nlohmann::json::parse(R"({"local_address":"2001:db8::1",
        "local_host":null,"local_port":39999,"remote_address":"2001:db8::7","remote_host":null,"remote_port":22,
        "family":"ipv6","state":"FIN_WAIT2","age_seconds":0,"pid":42})");
    expected["process"] = hostile;
    EXPECT_EQ(nlohmann::json::parse(last), expected);

    const nlohmann::json rows = CsvRowsByPython(csv);
    ASSERT_EQ(rows.size(), 1u + 604u) << csv.substr(0, 300);
    EXPECT_EQ(rows[0], nlohmann::json::parse(R"(["local_address","local_host","local_port","remote_address",
        "remote_host","remote_port","family","state","age_seconds","process","pid"])"));
    // The escape, TAB and DEL are spaces; the comma, the quotes and the line break stay.
    EXPECT_EQ(rows[604], nlohmann::json::parse(R"(["2001:db8::1","","39999","2001:db8::7","","22","ipv6",
        "FIN_WAIT2","0","we,\"ird\"  [2J tab\nline ","42"])"));
}

// Names that depend only on the address, so that the listing is the same on every run.
class DeterministicHostNames : public HostNameSource {
  public:
    void LookupHostName(const char* address, char* out, size_t n) override {
        const size_t len = std::strlen(address);
        if (len % 3 == 0)
            std::snprintf(out, n, "(%s)", address);  // still unknown
        else
            std::snprintf(out, n, "h%zu-%s.example", len, address);
    }
};

// 2,000 connections of every kind (IPv4 and IPv6, listening, half-closed, owned and not, more than
// the list's 599 rows) listed with --all --ipv6 and names, compared byte for byte with the output
// recorded from the program before the monitor's assembly moved out of the commands. Set
// VARNEL_WRITE_GOLDEN=1 to record it again after a change that is meant to change the listing.
TEST(ListCommandTest, AllOnTwoThousandConnectionsIsByteIdenticalToTheRecordedListing) {
    FakeConnectionTable table;
    FakeProcessList processes;
    FakeClock clock;
    processes.processes = {{42, "ssh"}, {77, "curl"}, {1234, "a\tb"}};
    const uint32_t states[] = {kTcpEstablished, kTcpSynSent,  kTcpListen,     kTcpTimeWait,
                               kTcpFinWait1,    kTcpFinWait2, kTcpCloseWait,  kTcpSynRcvd,
                               kTcpLastAck,     kTcpClosing,  kTcpEstablished};
    const uint32_t pids[] = {42, 77, 0, 1234, 99999};
    for (int i = 0; i < 2000; ++i) {
        const uint32_t state = states[(i * 7) % std::size(states)];
        const uint32_t pid = pids[i % std::size(pids)];
        char local[48], remote[48];
        if (i % 4 == 3) {
            std::snprintf(local, sizeof local, "2001:db8::%x", i % 300 + 1);
            std::snprintf(remote, sizeof remote, i % 8 == 3 ? "::1" : "2001:db8:0:%x::7", i % 13);
        } else {
            std::snprintf(local, sizeof local, "10.0.%d.%d", i % 5, i % 250 + 1);
            std::snprintf(remote, sizeof remote, "192.168.%d.%d", i % 7, i % 200 + 2);
        }
        table.Add(state, local, 1024 + (i * 37) % 60000, remote, (i % 9) * 1000 + 22, pid);
    }
    DeterministicHostNames hosts;
    ListCommand list(table, processes, clock, UiLanguage::English());
    list.SetAll(true);
    list.SetIpv6(true);
    list.SetHostNameSource(&hosts, 0);
    std::ostringstream out;
    ASSERT_EQ(list.Run(out, std::cerr), 0);

    const std::string golden = std::string(VARNEL_TEST_SOURCE_DIR) + "/app/cli/golden/list-all-2000.txt";
    if (std::getenv("VARNEL_WRITE_GOLDEN") != nullptr) {
        std::ofstream(golden, std::ios::binary) << out.str();
        GTEST_SKIP() << "recorded " << golden;
    }
    std::ifstream in(golden, std::ios::binary);
    ASSERT_TRUE(in) << golden;
    std::stringstream expected;
    expected << in.rdbuf();
    EXPECT_TRUE(out.str() == expected.str()) << "the listing differs from " << golden;
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
        EXPECT_FALSE(cl.ipv6);
    }
    {
        CommandLine cl;
        std::string error;
        const char* argv[] = {"varnel", "--list", "--ipv6", "--all"};
        ASSERT_TRUE(cl.Parse(4, argv, error)) << error;
        EXPECT_TRUE(cl.ipv6);
        EXPECT_TRUE(cl.all);
        EXPECT_NE(std::string(CommandLine::HelpText()).find("--ipv6"), std::string::npos);
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
