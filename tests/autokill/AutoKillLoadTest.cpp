// What AutoKill tells the user about a rule load, and how its reports reach a terminal.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "autokill/AutoKill.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeConnectionReset.h"
#include "platform/fake/FakeConnectionTable.h"
#include "platform/fake/FakeProcessList.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

class AutoKillLoadTest : public ::testing::Test {
  protected:
    AutoKillLoadTest() {
        char tmpl[] = "/tmp/varnel-autokill-load-XXXXXX";
        dir = mkdtemp(tmpl);
        settings = std::make_unique<SettingsFile>(dir + "/varnel.ini");
    }
    ~AutoKillLoadTest() override { fs::remove_all(dir); }

    std::string RulePath() const { return dir + "/varnel_autoblock.txt"; }
    std::unique_ptr<AutoKill> Make(UiLanguage lang = UiLanguage::English()) {
        return std::make_unique<AutoKill>(*settings, RulePath(), dir, reset, clock, lang);
    }
    std::vector<std::string> MessagesFor(const std::string& rules, UiLanguage lang = UiLanguage::English()) {
        std::ofstream(RulePath(), std::ios::binary) << rules;
        auto autokill = Make(lang);
        autokill->LoadRules();
        return autokill->LoadMessages();
    }

    std::string dir;
    std::unique_ptr<SettingsFile> settings;
    FakeClock clock;
    FakeConnectionReset reset;
};

TEST_F(AutoKillLoadTest, SuspectLinesAreCountedWithTheWordsTheirNumberNeeds) {
    EXPECT_TRUE(MessagesFor("PORT2=80\nHOST2=.example.com\n").empty());
    EXPECT_EQ(MessagesFor("HOST2=example.com\nPORT2=80\n"),
              std::vector<std::string>{"1 rule line looks suspect; run varnel --check-rules"});
    EXPECT_EQ(MessagesFor("HOST2=example.com\nPORT1=80\nhost1=a\nPORT2=1-65535\n"),
              std::vector<std::string>{"3 rule lines look suspect; run varnel --check-rules"});
    // Lines with errors are counted apart, a line with both among them.
    EXPECT_EQ(MessagesFor("HOST2=example.com\nPORT2=80x\nhost1=a\n"),
              std::vector<std::string>{
                  "1 rule line has errors, 2 rule lines look suspect; run varnel --check-rules"});
    EXPECT_EQ(MessagesFor("TIME=5m,HOST2=example.com\nSTAT=established\nPORT2=80\n"),
              std::vector<std::string>{"2 rule lines have errors; run varnel --check-rules"});
    const std::vector<std::string> jp = MessagesFor("HOST2=example.com\n", UiLanguage::Japanese());
    ASSERT_EQ(jp.size(), 1u);
    EXPECT_NE(jp[0].find("疑わしいルール行が 1 行"), std::string::npos) << jp[0];
    EXPECT_NE(jp[0].find("varnel --check-rules"), std::string::npos) << jp[0];
    EXPECT_EQ(MessagesFor("PORT2=http\nALLOW=yes\nHOST2=example.com\n", UiLanguage::Japanese()),
              std::vector<std::string>{"エラーのあるルール行が 2 行、疑わしいルール行が 1 行あります。"
                                       "varnel --check-rules で確かめてください"});
}

TEST_F(AutoKillLoadTest, TheLimitIsToldWithItsLine) {
    std::string text;
    for (int i = 1; i <= 1030; ++i) text += "PORT2=" + std::to_string(i) + "\n";
    EXPECT_EQ(MessagesFor(text),
              std::vector<std::string>{"rule file line 1024: reading stopped: at most 1023 rule "
                                       "lines are read; this line and the rest are ignored"});
}

TEST_F(AutoKillLoadTest, ARuleFileThatCannotBeReadIsToldAndAMissingOneIsNot) {
    auto autokill = Make();
    EXPECT_EQ(autokill->LoadRules(), 0);
    EXPECT_TRUE(autokill->loadReport().missing);
    EXPECT_TRUE(autokill->LoadMessages().empty()) << "no rule file is the normal case";

    fs::create_directory(RulePath());
    autokill->LoadRules();
    EXPECT_FALSE(autokill->loadReport().missing);
    EXPECT_EQ(autokill->LoadMessages(),
              std::vector<std::string>{"rule file not read, no rules in force: " + RulePath() +
                                       " is a folder, not a regular file"});
}

TEST_F(AutoKillLoadTest, ARefusedBlockLogNameIsToldWhileTheLogIsOn) {
    settings->WriteString("Session", "AutoBlockLogFileName", "../$YYYY$.log");
    auto autokill = Make();
    autokill->LoadRules();
    EXPECT_EQ(autokill->LoadMessages(),
              std::vector<std::string>{"block log not written: the file name \"../$YYYY$.log\" has a \"..\" "
                                       "component; it must stay in the log folder"});
    settings->WriteInt("Session", "BlockedLog", 0);
    autokill->LoadRules();
    EXPECT_TRUE(autokill->LoadMessages().empty());
    // Only 1 is on: a stored 2 logs nothing, as the options page shows it.
    settings->WriteInt("Session", "BlockedLog", 2);
    autokill->LoadRules();
    EXPECT_FALSE(autokill->blockLog().enabled());
    EXPECT_TRUE(autokill->LoadMessages().empty());
}

TEST_F(AutoKillLoadTest, AFailureReportHoldsNoControlCharacters) {
    FakeConnectionTable table;
    FakeProcessList processes;
    processes.processes = {{77, "cu\x1b[2J\xC2\x9Brl"}};
    table.Add(kTcpEstablished, "10.0.0.1", 50000, "10.0.0.2", 80, 77);
    SessionMonitor monitor(table, processes, clock, UiLanguage::Japanese());
    std::ofstream(RulePath()) << "PORT2=80\n";
    auto autokill = Make(UiLanguage::Japanese());
    std::vector<std::string> failures;
    autokill->SetFailureListener([&](const std::string& line) { failures.push_back(line); });
    autokill->LoadRules();
    autokill->SetEnabled(true);
    reset.answer = {ResetStatus::kPermissionDenied, EPERM};
    monitor.SetTickHook(autokill.get());
    monitor.Start();
    monitor.Tick();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].rfind("切断できません 10.0.0.1:50000 10.0.0.2:80 cu [2J rl(77): ", 0), 0u)
        << failures[0];
    EXPECT_EQ(autokill->blockLog().paneLines().front(), failures[0]);
}

}  // namespace
}  // namespace varnel
