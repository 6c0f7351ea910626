#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QImage>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTreeWidget>
#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>

#include "autokill/RuleFileParser.h"
#include "autokill/RuleFileWriter.h"
#include "options/AutoKillOptionsPage.h"
#include "options/OptionsDialog.h"
#include "options/OptionsPage.h"
#include "settings/SettingsFile.h"

namespace varnel {
namespace {

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class OptionsDialogTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    std::string iniPath = dir.filePath("varnel.ini").toStdString();
    std::string rulePath = dir.filePath("varnel_autoblock.txt").toStdString();
    SettingsFile settings{iniPath};

    // A dialog with the rules page, shown (the stored choice is applied when first shown).
    std::unique_ptr<OptionsDialog> Open(UiLanguage lang = UiLanguage::English()) {
        auto dialog = std::make_unique<OptionsDialog>(settings, lang);
        page = new AutoKillOptionsPage(settings, rulePath, lang);
        // The question before saving rules that cut everything is answered here, not in a box.
        page->SetQuestion([this](QWidget* parent, const QString& text) {
            EXPECT_EQ(parent, page);
            asked << text;
            return yes;
        });
        dialog->AddPage(page);
        dialog->show();
        QApplication::processEvents();
        return dialog;
    }
    QStringList Tabs(const OptionsDialog& d) const {
        QStringList out;
        for (int i = 0; i < d.tabBar()->count(); ++i) out << d.tabBar()->tabText(i);
        return out;
    }
    std::string Key(const char* section, const char* key) const {
        return settings.ReadString(section, key, "<none>");
    }

    AutoKillOptionsPage* page = nullptr;
    QStringList asked;
    bool yes = true;
};

TEST_F(OptionsDialogTest, FirstOpeningSelectsTheItemAndShowsTheRulesPageInEnglish) {
    auto d = Open();
    EXPECT_EQ(d->windowTitle(), "Options");
    ASSERT_EQ(d->tree()->topLevelItemCount(), 1);
    EXPECT_EQ(d->tree()->topLevelItem(0)->text(0), "Session Monitor");
    EXPECT_TRUE(d->tree()->topLevelItem(0)->isSelected());
    EXPECT_EQ(d->tree()->palette().color(QPalette::Text), QColor(0, 96, 0));
    EXPECT_EQ(d->tree()->palette().color(QPalette::Base), QColor(255, 255, 235));
    // The tree follows the mouse: the item under a moving mouse, no button held, is the hovered one.
    QModelIndex hovered;
    QObject::connect(d->tree(), &QAbstractItemView::entered, [&](const QModelIndex& i) { hovered = i; });
    const QPoint over = d->tree()->visualItemRect(d->tree()->topLevelItem(0)).center();
    QMouseEvent move(QEvent::MouseMove, over, d->tree()->viewport()->mapToGlobal(over), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(d->tree()->viewport(), &move);
    EXPECT_EQ(hovered, d->tree()->model()->index(0, 0));
    EXPECT_TRUE(d->tree()->viewport()->testAttribute(Qt::WA_Hover));
    EXPECT_EQ(Tabs(*d), (QStringList{"Auto Kill Session", "Color"}));
    EXPECT_EQ(d->tabBar()->currentIndex(), 0);
    EXPECT_EQ(d->currentPage(), page);
    EXPECT_TRUE(page->isVisible());
    EXPECT_EQ(d->languageLabel()->text(), "Language: English");
    EXPECT_FALSE(d->languageLabel()->isEnabled());
    EXPECT_EQ(page->Title(), "Auto Kill Session");

    // The "Color" tab has no page yet: an empty area, the rules page hidden.
    d->tabBar()->setCurrentIndex(1);
    EXPECT_EQ(d->currentTab(), 1);
    EXPECT_EQ(d->currentPage(), nullptr);
    EXPECT_FALSE(page->isVisible());
    d->tabBar()->setCurrentIndex(0);
    EXPECT_EQ(d->currentPage(), page);
}

TEST_F(OptionsDialogTest, JapaneseLabels) {
    auto d = Open(UiLanguage::Japanese());
    EXPECT_EQ(d->windowTitle(), QString("オプション設定"));
    EXPECT_EQ(d->tree()->topLevelItem(0)->text(0), QString("セッションモニター"));
    EXPECT_EQ(Tabs(*d), (QStringList{"自動切断", "色設定"}));
    EXPECT_EQ(d->languageLabel()->text(), "Language: Japanese");
    EXPECT_EQ(page->Title(), QString("自動切断"));
    EXPECT_EQ(page->logCheck()->text(), QString("自動切断ログを出力する"));
}

TEST_F(OptionsDialogTest, StoredChoiceIsClampedOrSelectsNothing) {
    settings.WriteInt("Settings", "ConfigTab", 5);
    auto onColour = Open();
    EXPECT_EQ(onColour->tabBar()->currentIndex(), 1);
    EXPECT_EQ(onColour->currentTab(), 1);
    onColour->reject();
    EXPECT_EQ(settings.ReadInt("Settings", "ConfigTab", -1), 1);

    settings.WriteInt("Settings", "ConfigTab", -3);
    auto first = Open();
    EXPECT_EQ(first->currentTab(), 0);
    EXPECT_EQ(first->currentPage(), page);
    first->reject();

    settings.WriteInt("Settings", "ConfigSel", 1);
    settings.WriteInt("Settings", "ConfigTab", 1);
    auto none = Open();
    EXPECT_TRUE(none->tree()->selectedItems().isEmpty());
    EXPECT_EQ(none->tabBar()->count(), 0);
    EXPECT_EQ(none->currentPage(), nullptr);
    none->reject();
    EXPECT_EQ(settings.ReadInt("Settings", "ConfigSel", -1), 1);
    // A click on the item then brings the group's first tab.
    auto again = Open();
    again->tree()->topLevelItem(0)->setSelected(true);
    EXPECT_EQ(again->currentSelection(), 0);
    EXPECT_EQ(again->currentTab(), 0);
    EXPECT_EQ(again->currentPage(), page);
}

TEST_F(OptionsDialogTest, CancelStoresTheChoiceAndNothingElse) {
    WriteBytes(rulePath, "HOST2=example.com\r\n");
    auto d = Open();
    page->rulesEdit()->setPlainText("PORT2=80\n");
    page->logCheck()->setChecked(false);
    page->logNameEdit()->setText("other.log");
    d->tabBar()->setCurrentIndex(1);
    d->reject();
    EXPECT_FALSE(page->applyFlag());
    EXPECT_EQ(d->result(), QDialog::Rejected);
    EXPECT_EQ(Key("Settings", "ConfigSel"), "0");
    EXPECT_EQ(Key("Settings", "ConfigTab"), "1");
    EXPECT_EQ(Key("Session", "BlockedLog"), "<none>");
    EXPECT_EQ(Key("Session", "AutoBlockLogFileName"), "<none>");
    EXPECT_EQ(ReadBytes(rulePath), "HOST2=example.com\r\n");
}

TEST_F(OptionsDialogTest, OkStoresTheLogSettingsWithTheirDefaults) {
    auto d = Open();
    EXPECT_TRUE(page->logCheck()->isChecked());
    // The name the block log itself uses when none is stored.
    EXPECT_EQ(page->logNameEdit()->text(), "dunmoth_autoblock$YYYY$$MM$.log");
    EXPECT_TRUE(page->logNameEdit()->isEnabled());
    page->logCheck()->setChecked(false);
    EXPECT_FALSE(page->logNameEdit()->isEnabled());
    page->logNameEdit()->clear();
    d->accept();
    EXPECT_TRUE(page->applyFlag());
    EXPECT_EQ(d->result(), QDialog::Accepted);
    EXPECT_EQ(Key("Session", "BlockedLog"), "0");
    EXPECT_EQ(Key("Session", "AutoBlockLogFileName"), "dunmoth_autoblock$YYYY$$MM$.log");
    EXPECT_EQ(Key("Settings", "ConfigTab"), "0");

    auto next = Open();
    EXPECT_FALSE(page->logCheck()->isChecked());
    EXPECT_FALSE(page->logNameEdit()->isEnabled());
    EXPECT_EQ(page->logNameEdit()->text(), "dunmoth_autoblock$YYYY$$MM$.log");

    // A stored 2 is off, as the block log reads it: nothing would be logged.
    settings.WriteInt("Session", "BlockedLog", 2);
    auto third = Open();
    EXPECT_FALSE(page->logCheck()->isChecked());
}

TEST_F(OptionsDialogTest, EmptyRulesBoxDeletesTheFileAndLeavesNoRule) {
    WriteBytes(rulePath, "HOST2=example.com\nPORT2=80\n");
    AutoKillRuleSet rules;
    ASSERT_EQ(RuleFileParser::LoadFile(rulePath, rules), 2);
    auto d = Open();
    EXPECT_EQ(page->rulesEdit()->toPlainText(), "HOST2=example.com\nPORT2=80\n");
    page->rulesEdit()->clear();
    d->accept();
    EXPECT_FALSE(QFile::exists(QString::fromStdString(rulePath)));
    EXPECT_EQ(RuleFileParser::LoadFile(rulePath, rules), 0);

    // An empty box with no file stays so.
    auto again = Open();
    again->accept();
    EXPECT_FALSE(QFile::exists(QString::fromStdString(rulePath)));
}

TEST_F(OptionsDialogTest, LongLinesAndManyLinesRoundTripByteForByte) {
    std::string bytes = "HOST2=" + std::string(2994, 'a') + "\r\n";
    for (int i = 0; i < 12000; ++i) bytes += "PORT2=" + std::to_string(i % 65536) + (i % 2 ? "\r\n" : "\n");
    bytes += "# last line without a break";
    ASSERT_GT(bytes.size(), 65535u);
    WriteBytes(rulePath, bytes);
    auto d = Open();
    EXPECT_EQ(page->rulesEdit()->document()->blockCount(), 12002);
    EXPECT_EQ(page->rulesEdit()->document()->firstBlock().text().size(), 3000);
    d->accept();
    EXPECT_EQ(ReadBytes(rulePath), bytes);

    // An edit keeps the whole text and writes the file's CR LF breaks.
    auto edited = Open();
    QTextCursor end(edited->findChild<QPlainTextEdit*>()->document());
    end.movePosition(QTextCursor::End);
    end.insertText("\nPORT1=1");
    edited->accept();
    const std::string saved = ReadBytes(rulePath);
    EXPECT_EQ(saved.substr(0, 3002), bytes.substr(0, 3002));
    const std::string tail = "# last line without a break\r\nPORT1=1";
    ASSERT_GT(saved.size(), tail.size());
    EXPECT_EQ(saved.substr(saved.size() - tail.size()), tail);
    EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 12002);
}

TEST_F(OptionsDialogTest, FailedSaveIsToldAndKeepsTheDialogAndWhatWasThere) {
    // A folder where the rule file should be: it cannot be replaced, even by root.
    ASSERT_TRUE(QDir(dir.path()).mkpath("varnel_autoblock.txt/inside"));
    settings.WriteString("Session", "AutoBlockLogFileName", "mine.log");
    settings.WriteInt("Session", "BlockedLog", 1);
    auto d = Open();
    EXPECT_EQ(page->rulesEdit()->toPlainText(), "");
    EXPECT_TRUE(page->notice()->isVisibleTo(page));
    EXPECT_TRUE(page->notice()->text().contains("is a folder")) << page->notice()->text().toStdString();
    page->logCheck()->setChecked(false);
    page->logNameEdit()->setText("other.log");
    QStringList warnings;
    page->SetWarn([&warnings](const QString& text) { warnings << text; });
    page->rulesEdit()->setPlainText("PORT2=80\n");
    d->accept();
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings[0].startsWith("The rule file could not be saved.")) << warnings[0].toStdString();
    EXPECT_TRUE(d->isVisible());
    EXPECT_FALSE(page->applyFlag());
    EXPECT_EQ(d->result(), QDialog::Rejected);
    EXPECT_EQ(page->rulesEdit()->toPlainText(), "PORT2=80\n");
    EXPECT_TRUE(QFileInfo(QString::fromStdString(rulePath)).isDir());
    // The page's keys are stored only with the rules.
    EXPECT_EQ(Key("Session", "AutoBlockLogFileName"), "mine.log");
    EXPECT_EQ(Key("Session", "BlockedLog"), "1");
    // No half-written new file is left beside it.
    EXPECT_TRUE(QDir(dir.path()).entryList({"varnel_autoblock.txt.*"}, QDir::AllEntries).isEmpty());

    // With the folder gone OK goes through.
    ASSERT_TRUE(QDir(QString::fromStdString(rulePath)).removeRecursively());
    d->accept();
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(ReadBytes(rulePath), "PORT2=80\n");
    EXPECT_EQ(warnings.size(), 1);
    EXPECT_EQ(Key("Session", "AutoBlockLogFileName"), "other.log");
    EXPECT_EQ(Key("Session", "BlockedLog"), "0");
}

TEST_F(OptionsDialogTest, UntouchedOkLeavesTheRuleFileAndTheLogNameAsTheyWere) {
    // Too big for the editor: shown as why, never written.
    {
        std::ofstream big(rulePath, std::ios::binary);
        big.seekp(std::streamoff(RuleFileWriter::kMaxLoadBytes));
        big << 'x';
    }
    struct stat before {}, after {};
    ASSERT_EQ(::stat(rulePath.c_str(), &before), 0);
    auto d = Open();
    EXPECT_EQ(page->notice()->text(), "The rule file cannot be read. OK leaves it as it is unless you type new rules.\n" +
                                          QString::fromStdString(rulePath) + " is larger than 8 MiB");
    d->accept();
    ASSERT_EQ(::stat(rulePath.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_size, before.st_size);
    // The block log keeps its file: no name is stored for an OK that did not touch it.
    EXPECT_EQ(Key("Session", "AutoBlockLogFileName"), "<none>");
    EXPECT_EQ(Key("Session", "BlockedLog"), "1");
}

TEST_F(OptionsDialogTest, AnEditKeepsTheBytesOfUntouchedLines) {
    // A Shift-JIS comment ("テスト"), mixed breaks and no break at the end.
    const std::string sjis = "# \x83\x65\x83\x58\x83\x67 comment";
    WriteBytes(rulePath, sjis + "\r\nPORT2=80\nHOST2=a\nIP1=1\n" + sjis + "\r\nPID=1");
    auto d = Open();
    QTextCursor line(page->rulesEdit()->document()->findBlockByNumber(1));
    line.movePosition(QTextCursor::EndOfBlock);
    line.insertText("80");
    d->accept();
    // The changed line is written with the file's CR LF; the others keep their LF.
    EXPECT_EQ(ReadBytes(rulePath), sjis + "\r\nPORT2=8080\r\nHOST2=a\nIP1=1\n" + sjis + "\r\nPID=1");
}

TEST_F(OptionsDialogTest, ReadOnlyAndLinkedRuleFilesAreKeptAsTheUserSetThemUp) {
    WriteBytes(rulePath, "PORT2=80\n");
    ASSERT_EQ(::chmod(rulePath.c_str(), 0444), 0);
    QStringList warnings;
    auto d = Open();
    page->SetWarn([&warnings](const QString& text) { warnings << text; });
    EXPECT_TRUE(page->notice()->text().startsWith("The rule file is read-only.")) << page->notice()->text().toStdString();
    page->rulesEdit()->setPlainText("PORT2=81\n");
    d->accept();
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings[0].contains("read-only"));
    EXPECT_EQ(ReadBytes(rulePath), "PORT2=80\n");
    ASSERT_EQ(::unlink(rulePath.c_str()), 0);

    // A link to a file in another folder: the link stays, the target gets the rules and keeps its
    // mode and (as root) its owner.
    ASSERT_TRUE(QDir(dir.path()).mkpath("shared"));
    const std::string target = dir.filePath("shared/rules.txt").toStdString();
    WriteBytes(target, "PORT2=80\n");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    const uid_t owner = ::geteuid() == 0 ? 4242 : ::geteuid();
    if (::geteuid() == 0) ASSERT_EQ(::chown(target.c_str(), owner, 4242), 0);
    ASSERT_EQ(::symlink(target.c_str(), rulePath.c_str()), 0);
    auto linked = Open();
    page->rulesEdit()->setPlainText("PORT2=82\n");
    linked->accept();
    EXPECT_TRUE(QFileInfo(QString::fromStdString(rulePath)).isSymLink());
    EXPECT_EQ(ReadBytes(target), "PORT2=82\n");
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(st.st_uid, owner);
    EXPECT_EQ(QDir(dir.filePath("shared")).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

// Edited rules with mistyped values, or a rule that cuts every connection, are saved only when
// the user says so; No leaves the dialog open on the editor, with nothing stored.
TEST_F(OptionsDialogTest, OkAsksBeforeSavingRulesWithErrorsOrThatCutEverything) {
    WriteBytes(rulePath, "PORT2=6667\n");
    yes = false;
    auto d = Open();
    page->logCheck()->setChecked(false);
    page->rulesEdit()->setPlainText("PORT2=6667\nPORT2=http\nSTAT=3\nALLOW=1\nTIME=5m\n");
    d->tabBar()->setCurrentIndex(1);
    d->accept();
    EXPECT_EQ(d->currentPage(), page) << "No returns to the rules";
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0], "2 rule lines have errors. 2 rules will cut every connection, SSH included. Save anyway?");
    EXPECT_TRUE(d->isVisible());
    EXPECT_FALSE(page->applyFlag());
    EXPECT_EQ(ReadBytes(rulePath), "PORT2=6667\n");
    EXPECT_EQ(Key("Session", "BlockedLog"), "<none>");
    EXPECT_EQ(page->rulesEdit()->toPlainText(), "PORT2=6667\nPORT2=http\nSTAT=3\nALLOW=1\nTIME=5m\n");
    // The panel marks the lines with errors red, the other suspect ones yellow.
    const QList<QTextEdit::ExtraSelection> marks = page->explanation()->view()->extraSelections();
    ASSERT_EQ(marks.size(), 4);
    EXPECT_EQ(marks[0].format.background().color(), RuleExplanationPanel::kErrorMark);
    EXPECT_EQ(marks[1].format.background().color(), RuleExplanationPanel::kWarningMark);
    // Black on the light marks, also under a palette with light text.
    EXPECT_EQ(marks[0].format.foreground().color(), QColor(Qt::black));
    EXPECT_EQ(marks[1].format.foreground().color(), QColor(Qt::black));

    // One of each, in the singular; then Yes stores.
    page->rulesEdit()->setPlainText("PORT2=70000\nNOLOG=1\n");
    yes = true;
    d->accept();
    ASSERT_EQ(asked.size(), 2);
    EXPECT_EQ(asked[1], "1 rule line has errors. 1 rule will cut every connection, SSH included. Save anyway?");
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(ReadBytes(rulePath), "PORT2=70000\nNOLOG=1\n");

    // Rules as loaded are in force already, and rules without errors that cut only some
    // connections need no question.
    Open()->accept();
    auto clean = Open();
    page->rulesEdit()->setPlainText("PORT2=6667\nSTAT=3,TIME=60\n");
    clean->accept();
    EXPECT_EQ(asked.size(), 2);

    yes = false;
    auto jp = Open(UiLanguage::Japanese());
    page->rulesEdit()->setPlainText("STAT=established\n");
    jp->accept();
    ASSERT_EQ(asked.size(), 3);
    EXPECT_EQ(asked[2], QString::fromUtf8("エラーのあるルール行が 1 行あります。1 件のルールが SSH も含めすべての接続を切断します。"
                                          "このまま保存しますか?"));
    EXPECT_TRUE(jp->isVisible());
}

TEST_F(OptionsDialogTest, EnterAndEscInsideThePageDoNotCloseTheDialog) {
    auto d = Open();
    auto send = [](QWidget* target, int key) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(target, &press);
    };
    send(page->logNameEdit(), Qt::Key_Return);
    send(page->logNameEdit(), Qt::Key_Escape);
    send(page->logCheck(), Qt::Key_Return);
    send(page->rulesEdit(), Qt::Key_Escape);
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(Key("Settings", "ConfigSel"), "<none>");
    page->rulesEdit()->setFocus();
    send(page->rulesEdit(), Qt::Key_Return);
    EXPECT_EQ(page->rulesEdit()->toPlainText(), "\n");
    EXPECT_TRUE(d->isVisible());
    // The dialog's own Esc still cancels.
    send(d.get(), Qt::Key_Escape);
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(Key("Settings", "ConfigSel"), "0");
}

// Notes when the dialog applies it, and whether the dialog's own keys were stored by then.
struct RecordingPage : OptionsPage {
    RecordingPage(QString name, QStringList& log, const SettingsFile& settings)
        : name(std::move(name)), log(log), settings(settings) {}
    QString Title() const override { return name; }
    void LoadSettings() override {}
    bool Apply() override {
        log << name + (settings.ReadString("Settings", "ConfigTab", "").empty() ? " first" : " after the keys");
        return true;
    }
    QString name;
    QStringList& log;
    const SettingsFile& settings;
};

TEST_F(OptionsDialogTest, CloseOrderIsTheKeysThenTheColourPageThenTheRulesPage) {
    QStringList log;
    OptionsDialog d(settings, UiLanguage::English());
    d.AddPage(new RecordingPage("rules", log, settings));
    d.AddPage(new RecordingPage("colour", log, settings));
    d.show();
    d.accept();
    EXPECT_EQ(log, (QStringList{"colour after the keys", "rules after the keys"}));
}

TEST_F(OptionsDialogTest, TabOrderIsRulesCheckBoxNameThenThePanel) {
    auto d = Open();
    const QList<QWidget*> wanted = {page->rulesEdit(), page->logCheck(), page->logNameEdit(),
                                    page->explanation()->view()};
    QList<QWidget*> order;
    QWidget* w = page->rulesEdit();
    for (int i = 0; i < 200 && order.size() < wanted.size(); ++i, w = w->nextInFocusChain())
        if (wanted.contains(w) && !order.contains(w)) order << w;
    EXPECT_EQ(order, wanted);
}

TEST_F(OptionsDialogTest, PageTextReadsOnTheWhitePageUnderADarkPalette) {
    const QPalette before = QApplication::palette();
    QApplication::setPalette(QPalette(QColor(0x20, 0x20, 0x20)));  // white text on dark grey
    auto d = Open();
    const QImage img = page->grab().toImage();
    QApplication::setPalette(before);
    // The name box's label: dark glyphs on the white page.
    QLabel* label = page->findChildren<QLabel*>().front();
    ASSERT_EQ(label->text(), "Output log filename");
    const QRect area = label->geometry().intersected(img.rect());
    int ink = 0, paper = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const int grey = qGray(img.pixel(x, y));
            ink += grey < 96;
            paper += grey > 240;
        }
    EXPECT_GT(ink, 20);
    EXPECT_GT(paper, area.width() * area.height() / 2);
}

}  // namespace
}  // namespace varnel
