#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>
#include <cstring>
#include <fstream>
#include <memory>

#include "options/AutoKillOptionsPage.h"
#include "settings/SettingsFile.h"

namespace varnel {
namespace {

SessionRow MakeRow(const char* remoteHost, const char* remotePort) {
    SessionRow row{};
    const char* texts[kColumnCount] = {"10.0.0.2", "desk.lan", "50000", "93.184.216.34", remoteHost,
                                       remotePort, "Connecting", "05s", "curl(77)"};
    for (int c = 0; c < kColumnCount; ++c) std::strncpy(row.text[c], texts[c], SessionRow::kTextSize - 1);
    return row;
}

// The rules page on a rule file, with a fake list of four rows behind it.
class RuleExplanationPanelTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    std::string rulePath = dir.filePath("rules.txt").toStdString();
    SettingsFile settings{dir.filePath("varnel.ini").toStdString()};
    std::vector<SessionRow> shown = {MakeRow("www.example.com", "80"), MakeRow("tracker.net", "80"),
                                     MakeRow("tracker.net", "80"), MakeRow("ads.example.org", "443")};
    // Connections auto kill tests that the list does not show (past its row limit, hidden IPv6).
    std::vector<SessionRow> notShown;
    int sourceCalls = 0;

    std::unique_ptr<AutoKillOptionsPage> Open(const std::string& rules,
                                              UiLanguage lang = UiLanguage::English()) {
        std::ofstream(rulePath, std::ios::binary) << rules;
        auto page = std::make_unique<AutoKillOptionsPage>(
            settings, rulePath, lang, [this](std::vector<SessionRow>& rows, size_t& shownCount, int& hour) {
                ++sourceCalls;
                rows = shown;
                shownCount = rows.size();
                rows.insert(rows.end(), notShown.begin(), notShown.end());
                hour = 12;
            });
        page->LoadSettings();
        return page;
    }
    static QStringList Lines(const AutoKillOptionsPage& page) {
        return page.explanation()->view()->toPlainText().split('\n');
    }
};

TEST_F(RuleExplanationPanelTest, ShowsTheCheckedLinesAndFirstMatchCounts) {
    auto page = Open(
        "# my rules\n"
        "ALLOW=1,HOST2=.example.com\n"
        "PORT2=80\n"
        "HOST2=example.org\n"
        "port2=443\n");
    EXPECT_EQ(Lines(*page), (QStringList{
                                "spares    1  2: ALLOW=1,HOST2=.example.com",
                                "cuts      2  3: PORT2=80-80",
                                "cuts      1  4: HOST2=example.org  # HOST2 \"example.org\" also matches "
                                "badexample.org; write .example.org",
                                "             5: ignored: no keyword  # port2 ignored: keywords are upper case",
                            }));
    EXPECT_EQ(page->explanation()->summary()->text(),
              "3 rules; of the 4 connections shown, 3 would be cut, 1 spared");
    // Warned lines are marked: the host suffix and the ignored line.
    EXPECT_EQ(page->explanation()->view()->extraSelections().size(), 2);
}

TEST_F(RuleExplanationPanelTest, FollowsTypingOnlyWhenItPauses) {
    auto page = Open("PORT2=80\n");
    ASSERT_EQ(Lines(*page).value(0), "cuts      3  1: PORT2=80-80");
    page->show();
    QPlainTextEdit* editor = page->rulesEdit();
    editor->moveCursor(QTextCursor::End);
    editor->insertPlainText("ALLOW=1,PORT2=443\nPORT2=443\n");
    // Nothing is re-checked at the keystroke itself.
    EXPECT_TRUE(page->explanation()->debounceTimer()->isActive());
    EXPECT_EQ(Lines(*page).size(), 1);
    QElapsedTimer waited;
    waited.start();
    while (page->explanation()->debounceTimer()->isActive() && waited.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(Lines(*page), (QStringList{"cuts      3  1: PORT2=80-80", "spares    1  2: ALLOW=1,PORT2=443-443",
                                         "cuts      0  3: PORT2=443-443"}));

    // The counts follow the list, without an edit.
    shown.resize(1);
    page->explanation()->Recount();
    EXPECT_EQ(Lines(*page).value(0), "cuts      1  1: PORT2=80-80");
    shown.clear();
    page->explanation()->Recount();
    EXPECT_EQ(Lines(*page).value(0), "1: PORT2=80-80");
    EXPECT_EQ(page->explanation()->summary()->text(), "3 rules (no connections shown)");
}

TEST_F(RuleExplanationPanelTest, ClickingALinePutsTheEditorCursorOnIt) {
    auto page = Open("# header\n\nPORT2=80\n\n\nHOST2=.tracker.net\n");
    QPlainTextEdit* view = page->explanation()->view();
    ASSERT_EQ(view->document()->blockCount(), 2);
    view->setTextCursor(QTextCursor(view->document()->findBlockByNumber(1)));
    EXPECT_EQ(page->rulesEdit()->textCursor().blockNumber(), 5);
    EXPECT_EQ(page->rulesEdit()->textCursor().block().text(), "HOST2=.tracker.net");
    view->setTextCursor(QTextCursor(view->document()->findBlockByNumber(0)));
    EXPECT_EQ(page->rulesEdit()->textCursor().blockNumber(), 2);
}

// What auto kill will do includes the connections the list does not show: counted apart.
TEST_F(RuleExplanationPanelTest, CountsTheConnectionsTheListDoesNotShow) {
    notShown = {MakeRow("tracker.net", "80"), MakeRow("v6.tracker.net", "80"), MakeRow("Shop.Example.COM", "80")};
    auto page = Open("ALLOW=1,HOST2=.example.com\nPORT2=80\nPORT2=443\nPORT2=http\n");
    EXPECT_EQ(Lines(*page),
              (QStringList{
                  "spares    1 (+1 not shown)     1: ALLOW=1,HOST2=.example.com",
                  "cuts      2 (+2 not shown)     2: PORT2=80-80",
                  "cuts      1                    3: PORT2=443-443",
                  "cuts      0                    4: PORT2=1-65535  # error: PORT2 \"http\" is not a port number or "
                  "range (reads as 1-65535); no condition a session can fail: matches every session",
              }));
    EXPECT_EQ(page->explanation()->summary()->text(),
              "4 rules; of the 4 connections shown (+3 not shown), 3 would be cut (+2 not shown), 1 spared "
              "(+1 not shown)");
    // The line with an error is marked red.
    const QList<QTextEdit::ExtraSelection> marks = page->explanation()->view()->extraSelections();
    ASSERT_EQ(marks.size(), 1);
    EXPECT_EQ(marks[0].cursor.block().blockNumber(), 3);
    EXPECT_EQ(marks[0].format.background().color(), RuleExplanationPanel::kErrorMark);

    // Only connections the list does not show: still counted.
    shown.clear();
    page->explanation()->Recount();
    EXPECT_EQ(Lines(*page).value(1), "cuts      0 (+2 not shown)     2: PORT2=80-80");
    page = Open("PORT2=80\n", UiLanguage::Japanese());
    EXPECT_EQ(Lines(*page), QStringList{QString::fromUtf8("切断    0 (+3 非表示)     1: PORT2=80-80")});
    EXPECT_EQ(page->explanation()->summary()->text(),
              QString::fromUtf8("ルール 1 件。表示中の接続 0 件 (+非表示 3 件) のうち 切断 0 件 (+非表示 3 件)、除外 0 件 "
                                "(+非表示 0 件)"));
}

TEST_F(RuleExplanationPanelTest, JapaneseCounts) {
    auto page = Open("ALLOW=1,PORT2=443\nPORT2=80\n", UiLanguage::Japanese());
    EXPECT_EQ(Lines(*page), (QStringList{"除外    1  1: ALLOW=1,PORT2=443-443", "切断    3  2: PORT2=80-80"}));
    EXPECT_EQ(page->explanation()->summary()->text(),
              QString("ルール 2 件。表示中の接続 4 件のうち 切断 3 件、除外 1 件"));
}

}  // namespace
}  // namespace varnel
