#include "autokill/BlockLog.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/fake/FakeClock.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

SessionRow MakeRow(const char* localHost = "10.0.0.1", const char* remoteHost = "www.example.com") {
    SessionRow row{};
    const char* texts[kColumnCount] = {"10.0.0.1", localHost, "50000", "93.184.216.34", remoteHost,
                                       "443",      "Connecting", "01m 05s", "curl(77)"};
    for (int c = 0; c < kColumnCount; ++c) std::snprintf(row.text[c], sizeof row.text[c], "%s", texts[c]);
    return row;
}

class BlockLogTest : public ::testing::Test {
protected:
    BlockLogTest() {
        char tmpl[] = "/tmp/varnel-blocklog-XXXXXX";
        dir = mkdtemp(tmpl);
        settings = std::make_unique<SettingsFile>(dir + "/varnel.ini");
    }
    ~BlockLogTest() override { fs::remove_all(dir); }

    std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    BlockLog Make() {
        BlockLog log(*settings, dir, clock);
        log.RefreshSettings();
        return log;
    }

    std::string dir;
    std::unique_ptr<SettingsFile> settings;
    FakeClock clock;  // 2014-12-31 23:59:58
};

TEST_F(BlockLogTest, DefaultsWriteAMonthlyFileBesideTheSettings) {
    BlockLog log = Make();
    EXPECT_EQ(log.path(), dir + "/dunmoth_autoblock201412.log");
    std::string line = log.Write(MakeRow(), true, 3);
    EXPECT_EQ(line, "BLOCKED [2014/12/31 23:59:58] 10.0.0.1:50000 www.example.com:443 curl(77)");
    log.Write(MakeRow(), false, 3);
    EXPECT_EQ(Read(log.path()),
              "BLOCKED [2014/12/31 23:59:58] 10.0.0.1:50000 www.example.com:443 curl(77)\r\n"
              "BLOCKED [2014/12/31 23:59:58] 10.0.0.1:50000 www.example.com:443 \r\n");
    ASSERT_EQ(log.paneLines().size(), 2u);
    EXPECT_EQ(log.PaneText().substr(0, 8), "BLOCKED ");
}

TEST_F(BlockLogTest, TemplatesAndPlaceholders) {
    settings->WriteString("Session", "AutoBlockLogFileName", "$YY$-$MM$-$DD$_$HH$$MI$$SS$.txt");
    settings->WriteString("Session", "AutoBlockLogFormat",
                          "$IP1$ $HOST1$ $PORT1$ $IP2$ $HOST2$ $PORT2$ $STAT$ $TM$ $PID$ #$RULE$ $FOO$ $HOST2$");
    BlockLog log = Make();
    EXPECT_EQ(log.path(), dir + "/14-12-31_235958.txt");
    // A host name that looks like a placeholder stays as it is.
    std::string line = log.Write(MakeRow("$PORT2$", "a.example.com"), true, 12);
    EXPECT_EQ(line,
              "10.0.0.1 $PORT2$ 50000 93.184.216.34 a.example.com 443 Connecting 01m 05s curl(77) #12 $FOO$ a.example.com");
}

TEST_F(BlockLogTest, ControlCharactersAndLongLinesStayOneLine) {
    BlockLog log = Make();
    std::string line = log.Write(MakeRow("evil\r\nBLOCKED [fake]", "tab\there"), true, 1);
    EXPECT_EQ(line.find_first_of("\r\n\t"), std::string::npos);
    settings->WriteString("Session", "AutoBlockLogFormat", std::string(4000, 'x') + "$HOST2$$HOST2$$HOST2$");
    log.RefreshSettings();
    std::string host(120, 'h');
    host.replace(93, 3, "日");  // bytes 4093..4095 of the line: the cut falls inside it
    std::string longLine = log.Write(MakeRow("a", host.c_str()), true, 1);
    EXPECT_EQ(longLine.size(), 4093u) << "cut before the character that does not fit whole";
    std::string file = Read(log.path());
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 2);
    EXPECT_EQ(file.substr(file.size() - 2), "\r\n");
}

TEST_F(BlockLogTest, LogRootFolderMustBeAbsolute) {
    fs::create_directory(dir + "/logs");
    settings->WriteString("Settings", "LogRootFolder", dir + "/logs/");
    EXPECT_EQ(Make().path(), dir + "/logs/dunmoth_autoblock201412.log");
    settings->WriteString("Settings", "LogRootFolder", dir + "/logs");
    EXPECT_EQ(Make().path(), dir + "/logs/dunmoth_autoblock201412.log") << "the missing / is supplied";
    settings->WriteString("Settings", "LogRootFolder", "logs/");
    EXPECT_EQ(Make().path(), dir + "/dunmoth_autoblock201412.log") << "a relative folder is not used";
}

TEST_F(BlockLogTest, SwitchOffFeedsOnlyThePane) {
    BlockLog log = Make();
    log.SetEnabled(false);
    std::vector<std::string> heard;
    log.SetLineListener([&](const std::string& l) { heard.push_back(l); });
    log.Write(MakeRow(), true, 1);
    EXPECT_FALSE(fs::exists(log.path()));
    EXPECT_EQ(log.paneLines().size(), 1u);
    EXPECT_EQ(heard.size(), 1u);
}

TEST_F(BlockLogTest, PathIsRecomputedAtMostOncePerClockHour) {
    clock.local = {};
    clock.local.tm_year = 114;
    clock.local.tm_mon = 0;  // January 2014
    clock.local.tm_mday = 31;
    clock.local.tm_hour = 10;
    clock.local.tm_min = 15;
    BlockLog log(*settings, dir, clock);
    log.Write(MakeRow(), true, 1);
    EXPECT_EQ(log.path(), dir + "/dunmoth_autoblock201401.log");
    clock.local.tm_mon = 1;  // 1 February, 10:20: same hour, same file
    clock.local.tm_mday = 1;
    clock.local.tm_min = 20;
    log.Write(MakeRow(), true, 1);
    EXPECT_EQ(log.path(), dir + "/dunmoth_autoblock201401.log");
    clock.local.tm_hour = 11;
    clock.local.tm_min = 0;
    log.Write(MakeRow(), true, 1);
    EXPECT_EQ(log.path(), dir + "/dunmoth_autoblock201402.log");
    std::string jan = Read(dir + "/dunmoth_autoblock201401.log");
    EXPECT_EQ(std::count(jan.begin(), jan.end(), '\n'), 2);
}

TEST_F(BlockLogTest, PaneKeepsNewestFirstAndRestartsAfter300Lines) {
    BlockLog log = Make();
    for (int i = 1; i <= 300; ++i) log.AddPaneLine("line " + std::to_string(i));
    EXPECT_EQ(log.paneLines().size(), 300u);
    EXPECT_EQ(log.paneLines().front(), "line 300");
    EXPECT_EQ(log.paneLines().back(), "line 1");
    log.AddPaneLine("line 301");
    ASSERT_EQ(log.paneLines().size(), 1u);
    EXPECT_EQ(log.PaneText(), "line 301\n");
}

TEST_F(BlockLogTest, AnUnwritableFolderLosesOnlyTheFileLine) {
    settings->WriteString("Settings", "LogRootFolder", dir + "/missing/folder/");
    BlockLog log = Make();
    log.Write(MakeRow(), true, 1);
    EXPECT_FALSE(fs::exists(log.path()));
    EXPECT_EQ(log.paneLines().size(), 1u);
}

}  // namespace
}  // namespace varnel
