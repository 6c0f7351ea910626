#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/cli/CheckRulesCommand.h"
#include "autokill/RuleChecker.h"

namespace varnel {
namespace {

std::string Report(std::string_view text) {
    std::ostringstream out;
    RuleChecker::Check(text, out);
    return out.str();
}

TEST(RuleCheckerTest, SampleFile) {
    const std::string sample =
        "# sample rules\r\n"
        "ALLOW=1,HOST2=.example.com\r\n"
        "PORT2=80\r\n"
        "\r\n"
        "host2=x\r\n"
        "HOST2=example.com,IP2=192.168.1.1\r\n"
        "SYSTIME=22-6,NOLOG=1\r\n"
        "PORT2=70000\r\n"
        "just words\r\n"
        "\"HOST2=/a,b/\",PID=svchost\r\n"
        " NOLOG=1\r\n"
        ";comment\r\n"
        "HOST1=myHOST1box,TIME=60,STAT=1\r\n"
        "IP1!=10.,HOST1!=/lan/,PORT1!=1-1024,STAT!=2,TIME!=30,PID!=sshd,SYSTIME!=0-6,IP2!=/172.16./,"
        "HOST2!=????,PORT2!=443\r\n"
        "ALLOW=yes\r\n"
        "PORT=80,HOST2=.x.org\r\n"
        "\tHOST2=x\r\n"
        "IP2=10.1,SYSTIME=9-30";
    const std::string expected =
        "2: ALLOW=1,HOST2=.example.com\n"
        "3: PORT2=80-80\n"
        "5: ignored: no keyword  # host2 ignored: keywords are upper case\n"
        "6: IP2=192.168.1.1,HOST2=example.com  # IP2 192.168.1.1 also matches 192.168.1.10...; "
        "HOST2 \"example.com\" also matches badexample.com; write .example.com\n"
        "7: NOLOG=1,SYSTIME=22-22  # SYSTIME 22-6 became 22-22\n"
        "8: PORT2=4464-4464  # error: PORT2 70000 is outside the ports 0-65535 (reads as 4464-4464)\n"
        "9: ignored: no keyword\n"
        "10: \"HOST2=/a,b/\",PID=svchost\n"
        "11: NOLOG=1  # no conditions: matches every session\n"
        "13: HOST1=mybox,STAT=1,TIME=60  # HOST1 \"mybox\" also matches badmybox; write .mybox\n"
        "14: IP1!=10.,HOST1!=/lan/,PORT1!=1-1024,IP2!=/172.16./,HOST2!=????,PORT2!=443-443,STAT!=2,TIME!=30,"
        "PID!=sshd,SYSTIME!=0-6\n"
        "15: ALLOW=0  # error: ALLOW \"yes\" is not a number (reads as 0); no conditions: matches every session\n"
        "16: HOST2=.x.org  # PORT ignored: no such keyword\n"
        "18: IP2=10.1  # error: SYSTIME 9-30 is outside the hours 0-23 (no condition); "
        "IP2 10.1 also matches 10.10...; write 10.1.\n"
        "12 rules, 3 lines with errors, 8 lines with warnings\n";
    EXPECT_EQ(Report(sample), expected);
}

// Errors are values read as something other than what was written; warnings are rules that
// probably do not do what was meant.
TEST(RuleCheckerTest, ErrorsAndWarnings) {
    struct Case {
        const char* line;
        const char* expected;
    };
    const Case cases[] = {
        // Number fields that are no number, or have more after the digits.
        {"PORT2=http", "PORT2=1-65535  # error: PORT2 \"http\" is not a port number or range (reads as 1-65535); "
                       "no condition a session can fail: matches every session"},
        {"TIME=5m,PORT2=22", "PORT2=22-22,TIME=5  # error: TIME \"5m\" is not a number (reads as 5)"},
        {"STAT=established", "STAT=0  # error: STAT \"established\" is not a number (reads as 0); no conditions: "
                             "matches every session"},
        {"ALLOW=yes,PORT2=22", "PORT2=22-22  # error: ALLOW \"yes\" is not a number (reads as 0)"},
        {"SYSTIME!=-5", "SYSTIME!=0-5  # error: SYSTIME! \"-5\" is not an hour or hour window (reads as 0-5)"},
        // Ports and hours outside their range.
        {"PORT2=70000", "PORT2=4464-4464  # error: PORT2 70000 is outside the ports 0-65535 (reads as 4464-4464)"},
        {"PORT2=80-70000", "PORT2=80-4464  # error: PORT2 80-70000 is outside the ports 0-65535 (reads as 80-4464)"},
        {"SYSTIME=24,PORT2=22", "PORT2=22-22  # error: SYSTIME 24 is outside the hours 0-23 (no condition)"},
        // Conversions that are no mistake but change what was written.
        {"PORT2=-80", "PORT2=1-65535  # PORT2 -80 became 1-65535; no condition a session can fail: matches every "
                      "session"},
        {"PORT2=0-80,IP2=10.", "IP2=10.,PORT2=1-65535  # PORT2 0-80 became 1-65535"},
        {"PORT1=90-80", "PORT1=90-90  # PORT1 90-80 became 90-90"},
        {"TIME=-1", "TIME=4294967295  # TIME -1 became 4294967295"},
        {"SYSTIME=22-6,HOST2=", "SYSTIME=22-22  # HOST2 is empty: no condition; SYSTIME 22-6 became 22-22"},
        {"STAT!=3", "STAT!=3  # STAT! 3 names every state: the rule never matches"},
        // Rules that match every session, whatever their fields say.
        {"NOLOG=1", "NOLOG=1  # no conditions: matches every session"},
        {"ALLOW=1", "ALLOW=1  # no conditions: exempts every session from the rules after it"},
        {"STAT=0", "STAT=0  # no conditions: matches every session"},
        {"PORT2=0", "PORT2=1-65535  # no condition a session can fail: matches every session"},
        {"STAT=3,SYSTIME=0-23,PORT1=1-65535,HOST2=/",
         "PORT1=1-65535,HOST2=/,STAT=3,SYSTIME=0-23  # no condition a session can fail: matches every session"},
        {"ALLOW=1,PORT2=0", "ALLOW=1,PORT2=1-65535  # no condition a session can fail: exempts every session from "
                            "the rules after it"},
        {"NOLOG=1,PORT2!=22", "NOLOG=1,PORT2!=22-22"},
        // A key given twice: the later field counts.
        {"PORT2=80,PORT2=443", "PORT2=443-443  # PORT2 given 2 times: only the last counts"},
        // Address patterns that never match: a network, an IPv4-mapped address.
        {"IP2=10.1.2.0/24", "IP2=10.1.2.0/24  # IP2 10.1.2.0/24 is no network: a '/' asks for an address containing "
                            "\"10.1.2.024\", which none does; write 10.1.2."},
        {"IP2=2001:db8::/32", "IP2=2001:db8::/32  # IP2 2001:db8::/32 is no network: a '/' asks for an address "
                              "containing \"2001:db8::32\""},
        {"IP2=::ffff:10.1.2.3", "IP2=::ffff:10.1.2.3  # IP2 ::ffff:10.1.2.3 never matches: connections of "
                                "IPv4-mapped addresses are shown as IPv4; write 10.1.2.3"},
        {"IP2=::FFFF:10.1.2.3", "IP2=::FFFF:10.1.2.3  # IP2 ::FFFF:10.1.2.3 never matches: connections of "
                                "IPv4-mapped addresses are shown as IPv4; write 10.1.2.3"},
        {"IP2=0:0:0:0:0:ffff:a01:203", "IP2=0:0:0:0:0:ffff:a01:203  # IP2 0:0:0:0:0:ffff:a01:203 never matches: "
                                       "connections of IPv4-mapped addresses are shown as IPv4; write 10.1.2.3"},
        {"IP2=/::ffff:10.1./", "IP2=/::ffff:10.1./  # IP2 /::ffff:10.1./ never matches: connections of "
                               "IPv4-mapped addresses are shown as IPv4; write /10.1./"},
        {"IP2=10.", "IP2=10."},
        {"IP2=192.168.1.26", "IP2=192.168.1.26"},
        {"HOST2=????,HOST1=/lan", "HOST1=/lan,HOST2=????"},
    };
    for (const Case& c : cases) {
        const std::string report = Report(c.line);
        EXPECT_EQ(report.substr(0, report.find('\n')), "1: " + std::string(c.expected)) << c.line;
        const bool error = std::string_view(c.expected).find("# error: ") != std::string_view::npos;
        const bool warning = std::string_view(c.expected).find(error ? "; " : "  # ") != std::string_view::npos;
        EXPECT_EQ(report.substr(report.find('\n') + 1),
                  std::string("1 rules, ") + (error ? "1 line" : "0 lines") + " with errors, " +
                      (warning ? "1 line" : "0 lines") + " with warnings\n")
            << c.line;
    }
    EXPECT_EQ(Report("Host2=x,foo"),
              "1: ignored: no keyword  # Host2 ignored: keywords are upper case\n"
              "0 rules, 0 lines with errors, 1 line with warnings\n");
}

TEST(RuleCheckerTest, Ipv6PatternsNotInCanonicalFormAreWarnedAbout) {
    struct Case {
        const char* line;
        const char* warning;  // "" for none
    } cases[] = {
        {"IP2=2001:db8:", ""},
        {"IP2=2001:db8::", ""},
        {"IP1=::1", ""},
        {"IP2=/::7/", ""},
        {"IP2=fe80::", ""},
        {"IP2=2001:db8:0:", ""},  // a lone zero group is written out
        {"IP2=/0d:/", ""},        // the end of a group such as a0d
        {"IP2=/0db8:/",
         "IP2 /0db8:/ never matches: IPv6 addresses are shown in canonical form; write /db8:/"},
        {"IP2=::ffff:192.0.2.1",
         "IP2 ::ffff:192.0.2.1 never matches: connections of IPv4-mapped addresses are shown as IPv4; write "
         "192.0.2.1"},
        {"IP2=2001:DB8:",
         "IP2 2001:DB8: never matches: IPv6 addresses are shown in canonical form; write 2001:db8:"},
        {"IP2=2001:0db8:",
         "IP2 2001:0db8: never matches: IPv6 addresses are shown in canonical form; write 2001:db8:"},
        {"IP1=2001:db8:0:0::",
         "IP1 2001:db8:0:0:: never matches: IPv6 addresses are shown in canonical form; "
         "write 2001:db8::"},
        {"IP2=2001:db8::0:1",
         "IP2 2001:db8::0:1 never matches: IPv6 addresses are shown in canonical form; "
         "write 2001:db8::1"},
        {"IP2=2001:db8:0:0:0:0:0:1",
         "IP2 2001:db8:0:0:0:0:0:1 never matches: IPv6 addresses are shown in "
         "canonical form; write 2001:db8::1"},
        {"IP2=2001:db8::1:1:1:1:1",
         "IP2 2001:db8::1:1:1:1:1 never matches: IPv6 addresses are shown in "
         "canonical form; write 2001:db8:0:1:1:1:1:1"},
        {"IP2=/::ABCD/",
         "IP2 /::ABCD/ never matches: IPv6 addresses are shown in canonical form; write /::abcd/"},
        {"IP2!=0:0::1", "IP2! 0:0::1 never matches: IPv6 addresses are shown in canonical form; write ::1"},
    };
    for (const Case& c : cases) {
        const std::string report = Report(c.line);
        const size_t hash = report.find("  # ");
        const std::string warnings =
            hash == std::string::npos ? "" : report.substr(hash + 4, report.find('\n') - hash - 4);
        EXPECT_EQ(warnings, c.warning) << c.line;
    }
}

TEST(RuleCheckerTest, CanonicalFormReadsBackToTheSameRule) {
    const char* patterns[] = {"a,b",     "a\"b",       "\"abc",  "abc\"", "x,\"\",y",
                              "xHOST1y", "HOST1HOST1", "é.日本", "????"};
    for (const char* text : patterns) {
        AutoKillRule rule;
        rule.must.host1 = RulePattern(text);
        rule.mustNot.pid = RulePattern(text);
        rule.must.port2 = PortRange{80, 90};
        rule.mustNot.sysTime = HourWindow{0, 6};
        rule.must.time = 4294967295u;
        const std::string canonical = RuleChecker::CanonicalForm(rule);
        AutoKillRule back;
        ASSERT_TRUE(RuleFileParser::ParseCandidate(canonical, back)) << canonical;
        EXPECT_TRUE(back.SameFields(rule)) << text << " -> " << canonical << " -> " << back.must.host1.text();
    }
    // A rule whose fields are all at their defaults still reads back as a rule.
    AutoKillRule defaults;
    ASSERT_TRUE(RuleFileParser::ParseCandidate("ALLOW=no,PID=", defaults));
    EXPECT_EQ(RuleChecker::CanonicalForm(defaults), "ALLOW=0,PID=");
}

TEST(RuleCheckerTest, LineNumbersLimitAndLongLines) {
    std::string text = "# only the first 1023 candidates count\n";
    for (int i = 1; i <= 1030; ++i) text += "PORT2=" + std::to_string(i) + "\n";
    text += "# a comment after the limit\n";
    std::string report = Report(text);
    // The first candidate left unread gets the note, and nothing after it is reported.
    EXPECT_NE(
        report.find(
            "\n1024: PORT2=1023-1023\n"
            "1025: reading stopped: at most 1023 rule lines are read; this line and the rest are ignored\n"
            "1023 rules, 0 lines with errors, 1 line with warnings\n"),
        std::string::npos);
    EXPECT_EQ(report.find("1026:"), std::string::npos);
    // Exactly 1023 candidates and then only comments: nothing is left unread, so no note.
    std::string exact = "# header\n";
    for (int i = 1; i <= 1023; ++i) exact += "PORT2=" + std::to_string(i) + "\n";
    report = Report(exact + "# trailing\n\n");
    EXPECT_EQ(report.find("reading stopped"), std::string::npos);
    EXPECT_NE(report.find("\n1024: PORT2=1023-1023\n1023 rules, 0 lines"), std::string::npos);

    std::string longLine = "HOST2=." + std::string(65533 - 7, 'a') + ",PORT2=22\n";
    report = Report(longLine + "PORT2=1\n");
    EXPECT_EQ(report.substr(0, 16), "1: HOST2=.aaaaaa");
    EXPECT_NE(report.find("\n1: PORT2=22-22\n2: PORT2=1-1\n3 rules, 0 lines"), std::string::npos);
}

TEST(RuleCheckerTest, RunCheckRulesReadsTheFile) {
    char path[] = "/tmp/varnel_check_rulesXXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    {
        std::ofstream file(path, std::ios::binary);
        file << "# rules\r\nHOST2=.ads.example,NOLOG=1\r\n";
    }
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(RunCheckRules(path, out, err), 0);
    EXPECT_EQ(out.str(), "2: NOLOG=1,HOST2=.ads.example\n1 rules, 0 lines with errors, 0 lines with warnings\n");
    std::remove(path);
}

class CheckRulesFileTest : public ::testing::Test {
  protected:
    CheckRulesFileTest() {
        char tmpl[] = "/tmp/varnel-check-XXXXXX";
        dir = mkdtemp(tmpl);
    }
    ~CheckRulesFileTest() override { std::filesystem::remove_all(dir); }

    // Runs the command on `path`; out and err are kept.
    int Run(const std::string& path) {
        std::ostringstream o;
        std::ostringstream e;
        int status = RunCheckRules(path, o, e);
        out = o.str();
        err = e.str();
        return status;
    }
    void Write(const std::string& name, const std::string& text) {
        std::ofstream(dir + "/" + name, std::ios::binary) << text;
    }

    std::string dir;
    std::string out;
    std::string err;
};

TEST_F(CheckRulesFileTest, ReadsAFileAndKeepsEachReportLineOnePrintableLine) {
    Write("rules.txt",
          "# rules\r\nHOST2=.ads.example,NOLOG=1\r\nPID=\x1b[31mx\x07y\xC2\x9B"
          "2J,HOST1=.日本\r\n");
    EXPECT_EQ(Run(dir + "/rules.txt"), 0) << err;
    EXPECT_EQ(out, "2: NOLOG=1,HOST2=.ads.example\n3: HOST1=.日本,PID= [31mx y 2J\n"
                   "2 rules, 0 lines with errors, 0 lines with warnings\n");
    EXPECT_EQ(err, "");
}

// Errors make the exit status 1 (a script can refuse to install such rules); warnings alone
// leave it 0. The last line counts both.
TEST_F(CheckRulesFileTest, ExitStatusIsOneOnlyWithErrors) {
    struct Case {
        const char* rules;
        int status;
        const char* summary;
    } cases[] = {
        {"PORT2=80\nHOST2=.example.com\n", 0, "2 rules, 0 lines with errors, 0 lines with warnings"},
        {"PORT2=0\nPORT2=80,PORT2=443\nIP2=10.1.2.0/24\n", 0, "3 rules, 0 lines with errors, 3 lines with warnings"},
        {"PORT2=80\nPORT2=http\n", 1, "2 rules, 1 line with errors, 1 line with warnings"},
        {"TIME=5m,PORT2=22\nSTAT=established\nALLOW=yes,PORT2=1\nSYSTIME=9-30,PORT2=2\n", 1,
         "4 rules, 4 lines with errors, 1 line with warnings"},
        {"# nothing\n", 0, "0 rules, 0 lines with errors, 0 lines with warnings"},
    };
    for (const Case& c : cases) {
        Write("rules.txt", c.rules);
        EXPECT_EQ(Run(dir + "/rules.txt"), c.status) << c.rules << out;
        EXPECT_TRUE(out.ends_with(std::string(c.summary) + "\n")) << out;
        EXPECT_EQ(err, "");
    }
}

TEST_F(CheckRulesFileTest, AMissingFileIsAnErrorNotAnEmptySet) {
    EXPECT_EQ(Run(dir + "/varnel_autoblock.txt"), 1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "varnel: no rule file at " + dir + "/varnel_autoblock.txt\n");
}

TEST_F(CheckRulesFileTest, WhatIsNoRegularFileIsRefusedWithoutReading) {
    // Read as files, both would be empty: "0 rules", as if all were well. (FIFOs and endless
    // devices, which would block or never end, are tested on the load.)
    const std::pair<std::string, std::string> cases[] = {{dir, "a folder"},
                                                         {"/dev/null", "a character device"}};
    for (const auto& [path, kind] : cases) {
        EXPECT_EQ(Run(path), 1) << path;
        EXPECT_EQ(out, "") << path;
        EXPECT_EQ(err.rfind("varnel: " + path + " is " + kind, 0), 0u) << err;
        EXPECT_NE(err.find("not a regular file"), std::string::npos) << err;
    }
}

TEST_F(CheckRulesFileTest, AnUnreadableFileGivesTheReason) {
    Write("secret.txt", "PORT2=80\n");
    const std::string path = dir + "/secret.txt";
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    // Root reads every file, so the check runs in a child that is nobody.
    auto check = [&] {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) std::exit(2);
        const int status = Run(path);
        std::fprintf(stderr, "status %d, out \"%s\", err \"%s\"", status, out.c_str(), err.c_str());
        std::exit(status == 1 && out.empty() && err == "varnel: cannot read " + path + ": Permission denied\n"
                      ? 0
                      : 1);
    };
    EXPECT_EXIT(check(), ::testing::ExitedWithCode(0), "");
}

TEST_F(CheckRulesFileTest, ALongFileNotesWhereReadingStopped) {
    std::string text = "# header\n";
    for (int i = 1; i <= 1100; ++i)
        text += (i % 2 ? "#\n" : "") + std::string("PORT2=") + std::to_string(i) + "\n";
    Write("long.txt", text);
    EXPECT_EQ(Run(dir + "/long.txt"), 0);
    // Candidate 1024 is on line 1 + 1024 + 512 (the comments before the odd ports).
    EXPECT_NE(
        out.find("\n1537: reading stopped: at most 1023 rule lines are read; this line and the rest are "
                 "ignored\n1023 rules, 0 lines with errors, 1 line with warnings\n"),
        std::string::npos)
        << out.substr(out.size() - 300);
}

}  // namespace
}  // namespace varnel
