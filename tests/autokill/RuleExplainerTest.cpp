#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "autokill/RuleChecker.h"
#include "autokill/RuleExplainer.h"

namespace varnel {
namespace {

SessionRow MakeRow(const char* remoteHost, const char* remotePort, const char* process = "curl(77)") {
    SessionRow row{};
    const char* texts[kColumnCount] = {"10.0.0.2", "desk.lan", "50000", "93.184.216.34", remoteHost,
                                       remotePort, "Connecting", "05s", process};
    for (int c = 0; c < kColumnCount; ++c) std::strncpy(row.text[c], texts[c], SessionRow::kTextSize - 1);
    return row;
}

// The explainer's lines are the command line's report, line for line.
TEST(RuleExplainerTest, LinesAreWhatCheckRulesPrints) {
    const std::string text =
        "# comment\n"
        "PORT2=80\n"
        "\n"
        "HOST2=example.com\n"
        "host2=foo\n";
    RuleExplainer explainer(UiLanguage::English());
    // The same explainer through a series of edits: lines it has seen before move, change and come
    // back, and each time it says what the command line says.
    const std::string edits[] = {"PORT2=80\nHOST2=.x.org\n", "#\n\nPORT2=80\nPORT2=81\nHOST2=.x.org\n",
                                 "PORT2=81\nPORT2=8\nHOST2=x.org", "PORT2=http\nSTAT=3\nALLOW=1\nTIME=5m\n", text};
    for (const std::string& edit : edits) {
        explainer.Check(edit);
        std::ostringstream report;
        const RuleChecker::Summary summary = RuleChecker::Check(edit, report);
        std::string fromLines;
        int errors = 0, cutEverything = 0;
        for (const RuleExplainer::Line& line : explainer.lines()) {
            fromLines += std::to_string(line.lineNumber) + ": " + line.text + "\n";
            errors += line.error;
            cutEverything += line.cutsEverything;
        }
        EXPECT_EQ(fromLines + RuleChecker::SummaryText(summary) + "\n", report.str());
        EXPECT_EQ(explainer.errorLines(), summary.errorLines);
        EXPECT_EQ(explainer.errorLines(), errors);
        EXPECT_EQ(explainer.cutEverything(), cutEverything);
    }
    // The mistyped edit: two lines with errors, two rules that cut everything (the ALLOW rule
    // exempts everything, and cuts nothing).
    explainer.Check(edits[3]);
    EXPECT_EQ(std::pair(explainer.errorLines(), explainer.cutEverything()), std::pair(2, 2));
    explainer.Check(text);

    const auto& lines = explainer.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].lineNumber, 2);
    EXPECT_EQ(lines[0].text, "PORT2=80-80");
    EXPECT_EQ(lines[0].rule, 1);
    EXPECT_FALSE(lines[0].warned);
    EXPECT_EQ(lines[1].lineNumber, 4);
    EXPECT_EQ(lines[1].rule, 2);
    EXPECT_TRUE(lines[1].warned);
    EXPECT_NE(lines[1].text.find("also matches badexample.com"), std::string::npos);
    EXPECT_EQ(lines[2].lineNumber, 5);
    EXPECT_EQ(lines[2].rule, 0);
    EXPECT_EQ(lines[2].text.rfind("ignored: no keyword", 0), 0u);
    EXPECT_EQ(explainer.ruleCount(), 2);
}

// Under Japanese the editor's lines carry their findings in Japanese; the rule, keys and values
// stay as written, and a rule without findings is unchanged.
TEST(RuleExplainerTest, JapaneseFindings) {
    struct Row {
        const char* rule;
        const char* japanese;
    } rows[] = {
        {"PORT2=80", "PORT2=80-80"},
        {"HOST2=example.com", "HOST2=example.com  # HOST2 \"example.com\" は次にも一致します: badexample.com。"
                              "次のように書いてください: .example.com"},
        {"PORT2=http", "PORT2=1-65535  # エラー: PORT2 \"http\" はポート番号でも範囲でもありません (読み取り値 "
                       "1-65535); どの接続も外れることのない条件: すべての接続に一致します"},
        {"SYSTIME=9-30", "SYSTIME=24-24  # エラー: SYSTIME 9-30 は 0-23 時の範囲外です (条件なし); 条件なし: "
                         "すべての接続に一致します"},
        {"PORT2=1,PORT2=2", "PORT2=2-2  # PORT2 が 2 回指定されています: 最後のものだけが有効です"},
        {"IP2=10.1.2.0/24", "IP2=10.1.2.0/24  # IP2 10.1.2.0/24 はネットワークではありません: '/' は次を含むアドレスを"
                            "探します: \"10.1.2.024\" (そのようなアドレスはありません)。次のように書いてください: 10.1.2."},
        {"host2=foo", "無視: キーワードがありません  # host2 は無視されます: キーワードは大文字です"},
    };
    RuleExplainer explainer(UiLanguage::Japanese());
    for (const Row& r : rows) {
        explainer.Check(std::string(r.rule) + "\n");
        ASSERT_EQ(explainer.lines().size(), 1u) << r.rule;
        EXPECT_EQ(explainer.lines()[0].text, r.japanese) << r.rule;
    }
}

// A row counts once, against the rule that ends its search: an ALLOW ahead of a cutting rule takes
// the rows both match, a later catch-all gets only what is left, held rows count against nothing.
TEST(RuleExplainerTest, CountsFollowFirstMatchAndAllow) {
    RuleExplainer explainer(UiLanguage::English());
    explainer.Check("ALLOW=1,HOST2=.example.com\nPORT2=80\nPORT2=443\nSTAT=1\n");
    const std::vector<SessionRow> rows = {
        MakeRow("www.example.com", "80"),   // allowed, though PORT2=80 matches too
        MakeRow("cdn.example.com", "443"),  // allowed
        MakeRow("tracker.net", "80"),       // cut by rule 2
        MakeRow("tracker.net", "80"),       // cut by rule 2
        MakeRow("ads.net", "8080"),         // cut by the catch-all on state
    };
    explainer.Count(rows, 12);
    const auto& lines = explainer.lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].matches, 2);
    EXPECT_TRUE(lines[0].allow);
    EXPECT_EQ(lines[1].matches, 2);
    EXPECT_EQ(lines[2].matches, 0);
    EXPECT_EQ(lines[3].matches, 1);
    EXPECT_EQ(explainer.cut(), 3);
    EXPECT_EQ(explainer.spared(), 2);
    EXPECT_EQ(explainer.held(), 0);
    EXPECT_EQ(explainer.rowsCounted(), 5);

    // Rows past the first `shown` are connections the list does not show: counted apart.
    explainer.Count(rows, 12, 3);
    EXPECT_EQ(lines[0].matches, 2);
    EXPECT_EQ(lines[1].matches, 1);
    EXPECT_EQ(lines[1].matchesNotShown, 1);
    EXPECT_EQ(lines[3].matchesNotShown, 1);
    EXPECT_EQ(std::pair(explainer.cut(), explainer.cutNotShown()), std::pair(1, 2));
    EXPECT_EQ(std::pair(explainer.spared(), explainer.sparedNotShown()), std::pair(2, 0));
    EXPECT_EQ(std::pair(explainer.rowsCounted(), explainer.rowsNotShown()), std::pair(3, 2));

    // A host name still being looked up holds back a row that a host rule would cut.
    explainer.Check("HOST2!=.example.com\n");
    explainer.Count({MakeRow("(93.184.216.34)", "80"), MakeRow("x.tracker.net", "80")}, 12);
    EXPECT_EQ(explainer.held(), 1);
    EXPECT_EQ(explainer.lines()[0].matches, 1);

    // A new text forgets the old counts.
    explainer.Check("PORT2=1\n");
    EXPECT_EQ(explainer.lines()[0].matches, 0);
    EXPECT_EQ(explainer.cut(), 0);
}

// The limit line is shown and marked; the rules before it still count.
TEST(RuleExplainerTest, StopsAtTheRuleLimitLikeTheLoader) {
    std::string text;
    for (int i = 0; i < 1030; ++i) text += "PORT2=" + std::to_string(1000 + i) + "\n";
    RuleExplainer explainer(UiLanguage::English());
    explainer.Check(text);
    ASSERT_EQ(explainer.lines().size(), 1024u);
    EXPECT_EQ(explainer.ruleCount(), 1023);
    const RuleExplainer::Line& last = explainer.lines().back();
    EXPECT_EQ(last.lineNumber, 1024);
    EXPECT_EQ(last.rule, 0);
    EXPECT_TRUE(last.warned);
    EXPECT_EQ(last.text.rfind("reading stopped", 0), 0u);
    explainer.Count({MakeRow("a", "2022"), MakeRow("a", "2023")}, 3);
    EXPECT_EQ(explainer.lines()[1022].matches, 1);
    EXPECT_EQ(explainer.cut(), 1);
}

}  // namespace
}  // namespace varnel
