#include "report/ConnectionListFormatter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unistd.h>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/TcpRow.h"
#include "text/FixedText.h"

namespace varnel {
namespace {

using nlohmann::json;

// A record and the row the list shows for it: first seen `ageMs` before `now`.
struct Shown {
    SessionRecord record{};
    SessionRow row{};
    Shown(const char* local, int lport, const char* remote, int rport, const char* remoteHost, const char* process,
          uint32_t pid, uint32_t now, uint32_t ageMs, bool v6 = false) {
        CopyFixedText(record.localAddress, sizeof record.localAddress, local);
        CopyFixedText(record.localHost, sizeof record.localHost, local);
        CopyFixedText(record.remoteAddress, sizeof record.remoteAddress, remote);
        CopyFixedText(record.remoteHost, sizeof record.remoteHost, remoteHost);
        record.localPort = lport;
        record.remotePort = rport;
        record.state = kTcpEstablished;
        record.firstSeen = now - ageMs;
        record.key.v6 = v6;
        record.pid = pid;
        char text[128] = "";
        if (pid != 0) std::snprintf(text, sizeof text, "%s(%u)", process, pid);
        CopyFixedText(record.processText, sizeof record.processText, text);
        BuildSessionRow(record, now, true, UiLanguage::English(), row);
    }
};

// Python's csv module reads `text` and gives its rows back as a JSON array of arrays.
json CsvRowsByPython(const std::string& text) {
    char path[] = "/tmp/varnel-csv-XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    std::ofstream(path, std::ios::binary) << text;
    const std::string command = std::string("python3 -c 'import csv,json,sys; "
                                            "print(json.dumps(list(csv.reader(open(sys.argv[1], newline=\"\")))))' ") +
                                path;
    std::string output;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) output.append(buf, n);
        pclose(p);
    }
    close(fd);
    unlink(path);
    return json::parse(output);
}

const char kHostile[] = "we,\"ird\" \x1b[2J\ttab\nline\x7f";

TEST(ConnectionListFormatterTest, JsonLinesCarryTheConnectionsOwnValues) {
    const uint32_t now = 900'000;
    const Shown rows[] = {
        {"10.0.0.1", 50000, "10.0.0.7", 22, "git.example.org", "ssh", 42, now, 75'400},
        {"10.0.0.1", 50001, "10.0.0.8", 443, "(10.0.0.8)", kHostile, 7, now, 999},  // name pending
        {"2001:db8::1", 8080, "2001:db8::7", 65535, "2001:db8::7", "", 0, now, 0, true},  // no name, no owner
    };
    std::string text;
    const ConnectionListFormatter jsonLines(OutputFormat::kJson, UiLanguage::English());
    jsonLines.AppendHeader(text);
    for (const Shown& s : rows) jsonLines.AppendRow(s.record, s.row, now, text);
    ASSERT_EQ(std::count(text.begin(), text.end(), '\n'), 3) << "one line each: " << text;
    for (char c : text) EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << "raw control in " << text;

    std::istringstream lines(text);
    std::string line;
    std::vector<json> parsed;
    while (std::getline(lines, line)) parsed.push_back(json::parse(line));
    ASSERT_EQ(parsed.size(), 3u);
    EXPECT_EQ(parsed[0], json::parse(R"({"local_address":"10.0.0.1","local_host":null,"local_port":50000,
        "remote_address":"10.0.0.7","remote_host":"git.example.org","remote_port":22,"family":"ipv4",
        "state":"ESTABLISHED","age_seconds":75,"process":"ssh","pid":42})"));
    EXPECT_TRUE(parsed[1]["remote_host"].is_null());
    EXPECT_EQ(parsed[1]["process"], std::string(kHostile).substr(0, std::strlen(kHostile)));
    EXPECT_EQ(parsed[1]["age_seconds"], 0);
    EXPECT_EQ(parsed[2]["family"], "ipv6");
    EXPECT_EQ(parsed[2]["remote_port"], 65535);
    EXPECT_TRUE(parsed[2]["remote_host"].is_null());
    EXPECT_TRUE(parsed[2]["process"].is_null());
    EXPECT_TRUE(parsed[2]["pid"].is_null());
}

TEST(ConnectionListFormatterTest, CsvQuotingSurvivesCommasQuotesAndLineBreaks) {
    const uint32_t now = 900'000;
    const Shown rows[] = {
        {"10.0.0.1", 50001, "10.0.0.8", 443, "a,b.example", kHostile, 7, now, 61'000},
        {"10.0.0.1", 50002, "10.0.0.9", 80, "10.0.0.9", "plain", 8, now, 0},
    };
    std::string text;
    const ConnectionListFormatter csv(OutputFormat::kCsv, UiLanguage::English());
    csv.AppendHeader(text);
    for (const Shown& s : rows) csv.AppendRow(s.record, s.row, now, text);
    EXPECT_EQ(text.find('\x1b'), std::string::npos) << "an escape reaches the terminal";
    const json table = CsvRowsByPython(text);
    ASSERT_EQ(table.size(), 3u) << text;
    EXPECT_EQ(table[0], json::parse(R"(["local_address","local_host","local_port","remote_address","remote_host",
        "remote_port","family","state","age_seconds","process","pid"])"));
    // The escape and DEL are spaces; the comma, quotes, TAB-less line break stay as they were.
    EXPECT_EQ(table[1], json::parse(R"(["10.0.0.1","","50001","10.0.0.8","a,b.example","443","ipv4",
        "ESTABLISHED","61","we,\"ird\"  [2J tab\nline ","7"])"));
    EXPECT_EQ(table[2][4], "");
}

TEST(ConnectionListFormatterTest, ProcessTextSplitsOnlyAtAPidTail) {
    const struct {
        const char* text;
        const char* name;
        uint32_t pid;
    } cases[] = {{"ssh(42)", "ssh", 42},           {"a(b)(7)", "a(b)", 7},  {"odd(x)", "odd(x)", 0},
                 {"(0)", "", 0},                    {"big(99999999999)", "big(99999999999)", 0},
                 {"", "", 0},                       {"()", "()", 0}};
    for (const auto& c : cases) {
        std::string_view name;
        uint32_t pid = 1;
        SplitProcessText(c.text, name, pid);
        EXPECT_EQ(name, c.name) << c.text;
        EXPECT_EQ(pid, c.pid) << c.text;
    }
}

}  // namespace
}  // namespace varnel
