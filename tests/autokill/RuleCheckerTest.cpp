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
        "8: PORT2=4464-4464  # PORT2 70000 became 4464\n"
        "9: ignored: no keyword\n"
        "10: \"HOST2=/a,b/\",PID=svchost\n"
        "11: NOLOG=1  # no conditions: matches every session\n"
        "13: HOST1=mybox,STAT=1,TIME=60  # HOST1 \"mybox\" also matches badmybox; write .mybox\n"
        "14: IP1!=10.,HOST1!=/lan/,PORT1!=1-1024,IP2!=/172.16./,HOST2!=????,PORT2!=443-443,STAT!=2,TIME!=30,"
        "PID!=sshd,SYSTIME!=0-6\n"
        "15: ALLOW=0  # ALLOW \"yes\" reads as 0; no conditions: matches every session\n"
        "16: HOST2=.x.org  # PORT ignored: no such keyword\n"
        "18: IP2=10.1  # IP2 10.1 also matches 10.10...; write 10.1.; "
        "SYSTIME \"9-30\" is no hour window within 0-23: no condition\n"
        "12 rules\n";
    EXPECT_EQ(Report(sample), expected);
}

TEST(RuleCheckerTest, ConversionWarnings) {
    struct Case {
        const char* line;
        const char* expected;
    };
    const Case cases[] = {
        {"PORT2=-80", "1: PORT2=1-65535  # PORT2 -80 became 1-65535\n"},
        {"PORT2=0-80", "1: PORT2=1-65535  # PORT2 0-80 became 1-65535\n"},
        {"PORT2=0", "1: PORT2=1-65535\n"},
        {"PORT1=90-80", "1: PORT1=90-90  # PORT1 90-80 became 90-90\n"},
        {"PORT2=http", "1: PORT2=1-65535  # PORT2 \"http\" reads as 1-65535\n"},
        {"PORT2=80-70000", "1: PORT2=80-4464  # PORT2 70000 became 4464\n"},
        {"TIME=-1", "1: TIME=4294967295  # TIME -1 became 4294967295\n"},
        {"TIME=60s", "1: TIME=60  # TIME \"60s\" reads as 60\n"},
        {"SYSTIME!=-5", "1: SYSTIME!=0-5  # SYSTIME! \"-5\" reads as 0-5\n"},
        {"SYSTIME=22-6,HOST2=",
         "1: SYSTIME=22-22  # HOST2 is empty: no condition; SYSTIME 22-6 became 22-22\n"},
        {"STAT!=3", "1: STAT!=3  # STAT! 3 names every state: the rule never matches\n"},
        {"ALLOW=1", "1: ALLOW=1  # no conditions: exempts every session from the rules after it\n"},
        {"IP2=10.", "1: IP2=10.\n"},
        {"IP2=192.168.1.26", "1: IP2=192.168.1.26\n"},
        {"HOST2=????,HOST1=/lan", "1: HOST1=/lan,HOST2=????\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(Report(c.line), std::string(c.expected) + "1 rules\n") << c.line;
    EXPECT_EQ(Report("Host2=x,foo"),
              "1: ignored: no keyword  # Host2 ignored: keywords are upper case\n0 rules\n");
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
        {"IP2=::ffff:192.0.2.1", ""},
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
            "1023 rules\n"),
        std::string::npos);
    EXPECT_EQ(report.find("1026:"), std::string::npos);
    // Exactly 1023 candidates and then only comments: nothing is left unread, so no note.
    std::string exact = "# header\n";
    for (int i = 1; i <= 1023; ++i) exact += "PORT2=" + std::to_string(i) + "\n";
    report = Report(exact + "# trailing\n\n");
    EXPECT_EQ(report.find("reading stopped"), std::string::npos);
    EXPECT_NE(report.find("\n1024: PORT2=1023-1023\n1023 rules\n"), std::string::npos);

    std::string longLine = "HOST2=." + std::string(65533 - 7, 'a') + ",PORT2=22\n";
    report = Report(longLine + "PORT2=1\n");
    EXPECT_EQ(report.substr(0, 16), "1: HOST2=.aaaaaa");
    EXPECT_NE(report.find("\n1: PORT2=22-22\n2: PORT2=1-1\n3 rules\n"), std::string::npos);
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
    EXPECT_EQ(out.str(), "2: NOLOG=1,HOST2=.ads.example\n1 rules\n");
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
    EXPECT_EQ(out, "2: NOLOG=1,HOST2=.ads.example\n3: HOST1=.日本,PID= [31mx y 2J\n2 rules\n");
    EXPECT_EQ(err, "");
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
                 "ignored\n1023 rules\n"),
        std::string::npos)
        << out.substr(out.size() - 300);
}

}  // namespace
}  // namespace varnel
