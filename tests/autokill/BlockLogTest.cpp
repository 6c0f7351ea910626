#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "autokill/BlockLog.h"
#include "platform/fake/FakeClock.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

SessionRow MakeRow(const char* localHost = "10.0.0.1", const char* remoteHost = "www.example.com") {
    SessionRow row{};
    const char* texts[kColumnCount] = {"10.0.0.1", localHost,    "50000",   "93.184.216.34", remoteHost,
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
    settings->WriteString(
        "Session", "AutoBlockLogFormat",
        "$IP1$ $HOST1$ $PORT1$ $IP2$ $HOST2$ $PORT2$ $STAT$ $TM$ $PID$ #$RULE$ $FOO$ $HOST2$");
    BlockLog log = Make();
    EXPECT_EQ(log.path(), dir + "/14-12-31_235958.txt");
    // A host name that looks like a placeholder stays as it is.
    std::string line = log.Write(MakeRow("$PORT2$", "a.example.com"), true, 12);
    EXPECT_EQ(line,
              "10.0.0.1 $PORT2$ 50000 93.184.216.34 a.example.com 443 Connecting 01m 05s curl(77) #12 $FOO$ "
              "a.example.com");
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

TEST_F(BlockLogTest, PathIsRecomputedOnANewHourOrANewDateOnly) {
    clock.local = {};
    clock.local.tm_year = 114;
    clock.local.tm_mon = 0;  // January 2014
    clock.local.tm_mday = 31;
    clock.local.tm_hour = 10;
    clock.local.tm_min = 15;
    BlockLog log(*settings, dir, clock);
    log.Write(MakeRow(), true, 1);
    EXPECT_EQ(log.path(), dir + "/dunmoth_autoblock201401.log");
    // Same hour, same day: the name is not recomputed, even when the template changed meanwhile.
    settings->WriteString("Session", "AutoBlockLogFileName", "other$YYYY$$MM$.log");
    clock.local.tm_min = 40;
    log.Write(MakeRow(), true, 1);
    EXPECT_EQ(log.path(), dir + "/dunmoth_autoblock201401.log");
    settings->WriteString("Session", "AutoBlockLogFileName", BlockLog::kDefaultNameTemplate);
    // 1 February, 10:20: the same clock hour, but a date change recomputes the name, so the line
    // goes to the new month's file.
    clock.local.tm_mon = 1;
    clock.local.tm_mday = 1;
    clock.local.tm_min = 20;
    log.Write(MakeRow(), true, 1);
    EXPECT_EQ(log.path(), dir + "/dunmoth_autoblock201402.log");
    clock.local.tm_hour = 11;
    clock.local.tm_min = 0;
    log.Write(MakeRow(), true, 1);
    EXPECT_EQ(log.path(), dir + "/dunmoth_autoblock201402.log");
    std::string jan = Read(dir + "/dunmoth_autoblock201401.log");
    std::string feb = Read(dir + "/dunmoth_autoblock201402.log");
    EXPECT_EQ(std::count(jan.begin(), jan.end(), '\n'), 2);
    EXPECT_EQ(std::count(feb.begin(), feb.end(), '\n'), 2);
}

TEST_F(BlockLogTest, AWriteOnALaterDateAtAnEarlierMinuteGoesToTheNewMonth) {
    clock.local = {};
    clock.local.tm_year = 114;
    clock.local.tm_mon = 0;  // 31 January 2014, 10:15
    clock.local.tm_mday = 31;
    clock.local.tm_hour = 10;
    clock.local.tm_min = 15;
    BlockLog log(*settings, dir, clock);
    log.Write(MakeRow(), true, 1);
    clock.local.tm_mon = 2;  // 1 March, 10:05: the same hour of the clock, a month later
    clock.local.tm_mday = 1;
    clock.local.tm_min = 5;
    log.Write(MakeRow(), true, 1);
    EXPECT_EQ(log.path(), dir + "/dunmoth_autoblock201403.log");
    std::string march = Read(dir + "/dunmoth_autoblock201403.log");
    EXPECT_EQ(std::count(march.begin(), march.end(), '\n'), 1);
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
    ASSERT_EQ(log.paneLines().size(), 2u) << "the block line and the report that the file missed it";
    EXPECT_EQ(log.paneLines()[0].rfind("BLOCKED [", 0), 0u);
    EXPECT_EQ(log.paneLines()[1], "block log not written: " + log.path() + ": the log folder " + dir +
                                      "/missing/folder/: No such file or directory");
}

// Failure reports as the listener hears them.
class BlockLogFailureTest : public BlockLogTest {
  protected:
    BlockLog MakeHeard() {
        BlockLog log = Make();
        log.SetFailureListener([this](const std::string& report) { reports.push_back(report); });
        return log;
    }
    std::vector<std::string> reports;
};

TEST_F(BlockLogFailureTest, APlantedSymbolicLinkIsNotFollowed) {
    const std::string target = dir + "/target";
    std::ofstream(target) << "precious\n";
    BlockLog log = MakeHeard();
    fs::create_symlink(target, log.path());
    log.Write(MakeRow(), true, 1);
    EXPECT_EQ(Read(target), "precious\n");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0],
              "block log not written: " + log.path() + ": a symbolic link, which is not followed");
    EXPECT_EQ(log.paneLines().size(), 2u);

    // Nor is a link that stands for a folder inside the name.
    fs::create_directory(dir + "/elsewhere");
    fs::create_directory_symlink(dir + "/elsewhere", dir + "/sub");
    settings->WriteString("Session", "AutoBlockLogFileName", "sub/blocked.log");
    BlockLog viaFolder = MakeHeard();
    viaFolder.Write(MakeRow(), true, 1);
    EXPECT_FALSE(fs::exists(dir + "/elsewhere/blocked.log"));
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_NE(reports[1].find(": folder sub: a symbolic link, which is not followed"), std::string::npos)
        << reports[1];
}

TEST_F(BlockLogFailureTest, OnlyARegularFileIsWritten) {
    BlockLog log = MakeHeard();
    fs::create_directory(log.path());
    log.Write(MakeRow(), true, 1);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "block log not written: " + log.path() + ": a folder, not a regular file");
    fs::remove(log.path());

    // A FIFO without a reader, then with one: neither blocks the write, neither gets the line.
    ASSERT_EQ(mkfifo(log.path().c_str(), 0600), 0);
    BlockLog noReader = MakeHeard();
    noReader.Write(MakeRow(), true, 1);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1],
              "block log not written: " + log.path() + ": a FIFO (named pipe), not a regular file");
    int reader = ::open(log.path().c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    BlockLog withReader = MakeHeard();
    withReader.Write(MakeRow(), true, 1);
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[2], reports[1]);
    char byte;
    EXPECT_LE(::read(reader, &byte, 1), 0) << "nothing went into the FIFO";
    ::close(reader);
}

TEST_F(BlockLogTest, ANewFileIsReadableOnlyByOwnerAndGroup) {
    const mode_t old = umask(022);
    BlockLog log = Make();
    log.Write(MakeRow(), true, 1);
    umask(old);
    struct stat st {};
    ASSERT_EQ(stat(log.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(BlockLogFailureTest, ANameThatLeavesTheLogFolderIsRefused) {
    fs::create_directory(dir + "/logs");
    settings->WriteString("Settings", "LogRootFolder", dir + "/logs/");
    const std::string escapes[] = {dir + "/abs$MM$.log", "../up$MM$.log", "a/../../up$MM$.log", "..",
                                   "$YYYY$/../../up.log"};
    for (const std::string& name : escapes) {
        reports.clear();
        settings->WriteString("Session", "AutoBlockLogFileName", name);
        BlockLog log = MakeHeard();
        EXPECT_NE(log.nameError().find("the file name \"" + name + "\""), std::string::npos)
            << log.nameError();
        EXPECT_NE(log.nameError().find("it must stay in the log folder"), std::string::npos)
            << log.nameError();
        log.Write(MakeRow(), true, 1);
        ASSERT_EQ(reports.size(), 1u) << name;
        EXPECT_EQ(reports[0], "block log not written: " + log.path() + ": " + log.nameError());
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2)
        << "only the ini and logs/";
    EXPECT_TRUE(fs::is_empty(dir + "/logs"));

    // A folder inside the log folder is fine, and so is a name that only looks like "..".
    fs::create_directory(dir + "/logs/2014");
    settings->WriteString("Session", "AutoBlockLogFileName", "$YYYY$/..$MM$.log");
    BlockLog inside = MakeHeard();
    EXPECT_EQ(inside.nameError(), "");
    inside.Write(MakeRow(), true, 1);
    EXPECT_TRUE(fs::exists(dir + "/logs/2014/..12.log"));
    EXPECT_EQ(reports.size(), 1u);
}

TEST_F(BlockLogFailureTest, AFailureIsReportedOnceUntilAWriteWorksAgain) {
    settings->WriteString("Settings", "LogRootFolder", dir + "/logs/");
    BlockLog log(*settings, dir, clock, UiLanguage::Japanese());
    log.RefreshSettings();
    log.SetFailureListener([this](const std::string& report) { reports.push_back(report); });
    for (int i = 0; i < 3; ++i) log.Write(MakeRow(), true, 1);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].rfind("切断ログに書き込めません: " + dir + "/logs/", 0), 0u) << reports[0];
    fs::create_directory(dir + "/logs");
    log.Write(MakeRow(), true, 1);
    log.Write(MakeRow(), true, 1);
    EXPECT_EQ(reports.size(), 1u);
    fs::remove_all(dir + "/logs");
    log.Write(MakeRow(), true, 1);
    log.Write(MakeRow(), true, 1);
    EXPECT_EQ(reports.size(), 2u);
    EXPECT_EQ(log.paneLines().size(), 9u) << "seven block lines and two reports";
}

TEST_F(BlockLogFailureTest, AWriteCutShortIsReportedAndTakenBackToWholeLines) {
    // The file size limit lets the second line in only in part, then fails the write (EFBIG); in
    // a child process, so that the limit stays there.
    BlockLog log = MakeHeard();
    auto writeOverTheLimit = [&] {
        log.Write(MakeRow(), true, 1);
        const std::string whole = Read(log.path());
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = whole.size() + 20;
        setrlimit(RLIMIT_FSIZE, &limit);
        log.Write(MakeRow(), true, 1);
        const std::string expected = log.path() + ": File too large (20 of " + std::to_string(whole.size()) +
                                     " bytes written, taken back)";
        bool ok = reports.size() == 1 && reports[0].find(expected) != std::string::npos;
        if (!ok) std::fprintf(stderr, "reports: %s\n", reports.empty() ? "none" : reports[0].c_str());
        if (Read(log.path()) != whole) {
            std::fprintf(stderr, "file: %s\n", Read(log.path()).c_str());
            ok = false;
        }
        std::exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(writeOverTheLimit(), ::testing::ExitedWithCode(0), "");
}

TEST_F(BlockLogFailureTest, TheLogFolderAndItsLinkMustBeTheUsersOrRoots) {
    fs::create_directory(dir + "/real");
    fs::create_directory_symlink("real", dir + "/ours");
    fs::create_directory_symlink(dir + "/real", dir + "/planted");
    // A link of this user's is followed (systemd's LogsDirectory= of a DynamicUser= service is one).
    settings->WriteString("Settings", "LogRootFolder", dir + "/ours/");
    MakeHeard().Write(MakeRow(), true, 1);
    EXPECT_TRUE(reports.empty()) << reports[0];
    EXPECT_FALSE(fs::is_empty(dir + "/real"));
    if (geteuid() != 0) GTEST_SKIP() << "handing a link or a folder to another user needs root";
    fs::remove_all(dir + "/real");
    fs::create_directory(dir + "/real");
    ASSERT_EQ(lchown((dir + "/planted").c_str(), 65534, 65534), 0);
    const std::pair<std::string, std::string> cases[] = {
        // The '/' must not make the link followed.
        {"planted/", "planted/: a symbolic link made by user 65534, which is not followed"},
        {"real", "real/: owned by user 65534, neither this user nor root"},
        {"ours", "ours/: owned by user 65534, neither this user nor root"},
    };
    ASSERT_EQ(chown((dir + "/real").c_str(), 65534, 65534), 0);
    for (const auto& [name, why] : cases) {
        reports.clear();
        settings->WriteString("Settings", "LogRootFolder", dir + "/" + name);
        MakeHeard().Write(MakeRow(), true, 1);
        ASSERT_EQ(reports.size(), 1u) << name;
        EXPECT_NE(reports[0].find(": the log folder " + dir + "/" + why), std::string::npos) << reports[0];
    }
    EXPECT_TRUE(fs::is_empty(dir + "/real"));
}

TEST_F(BlockLogTest, PaneLinesNeverHoldControlCharacters) {
    BlockLog log = Make();
    log.AddPaneLine(
        "a\x1b[2Jb\nc\xC2\x9B"
        "1m 日本");
    EXPECT_EQ(log.paneLines().front(), "a [2Jb c 1m 日本");
    std::string line = log.Write(MakeRow("\xC2\x85"
                                         "evil\x1b]0;x\x07",
                                         "ホスト"),
                                 true, 1);
    EXPECT_EQ(line, "BLOCKED [2014/12/31 23:59:58]  evil ]0;x :50000 ホスト:443 curl(77)");
    EXPECT_EQ(log.paneLines().front(), line);
}

}  // namespace
}  // namespace varnel
