#include "options/AutoKillOptionsPage.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QVBoxLayout>

#include <sys/stat.h>

#include "autokill/BlockLog.h"
#include "autokill/RuleFileWriter.h"
#include "platform/AtomicFileWriter.h"

namespace varnel {

namespace {


QString Text(const std::string& bytes) {
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}

}  // namespace

AutoKillOptionsPage::AutoKillOptionsPage(SettingsFile& settings, std::string ruleFilePath,
                                         UiLanguage lang, RuleExplanationPanel::RowSource rows,
                                         QWidget* parent)
    : OptionsPage(parent), settings_(settings), ruleFilePath_(std::move(ruleFilePath)), lang_(lang) {
    logCheck_ = new QCheckBox(lang_.Pick("自動切断ログを出力する", "Auto Kill session log output"), this);
    auto* nameLabel = new QLabel(lang_.Pick("ログファイル名", "Output log filename"), this);
    logName_ = new QLineEdit(this);
    auto* rulesLabel = new QLabel(lang_.Pick("自動切断のルール設定", "Auto Kill Session set of rules"), this);
    notice_ = new QLabel(this);
    notice_->setWordWrap(true);
    notice_->setTextFormat(Qt::PlainText);
    notice_->hide();
    rules_ = new QPlainTextEdit(this);
    // The rules line up in columns only in a fixed-pitch font; long lines scroll, never wrap.
    rules_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    rules_->setLineWrapMode(QPlainTextEdit::NoWrap);
    rules_->setTabChangesFocus(true);
    explanation_ = new RuleExplanationPanel(rules_, std::move(rows), lang_, this);
    auto* split = new QSplitter(Qt::Horizontal, this);
    split->addWidget(rules_);
    split->addWidget(explanation_);
    split->setChildrenCollapsible(false);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(logCheck_);
    layout->addSpacing(8);
    layout->addWidget(nameLabel);
    layout->addWidget(logName_);
    layout->addSpacing(8);
    layout->addWidget(rulesLabel);
    layout->addWidget(notice_);
    layout->addWidget(split, 1);

    // The page is painted white like the colour page; its check box and labels draw no background
    // of their own. The notice is dark red on that white whatever the palette.
    PaintWhite();
    QPalette red = notice_->palette();
    red.setColor(QPalette::WindowText, QColor(0xA0, 0, 0));
    notice_->setPalette(red);

    setTabOrder(rules_, logCheck_);
    setTabOrder(logCheck_, logName_);
    setTabOrder(logName_, explanation_->view());

    connect(logCheck_, &QCheckBox::toggled, logName_, &QWidget::setEnabled);
    warn_ = [this](const QString& text) {
        QMessageBox::warning(this, QCoreApplication::applicationName(), text);
    };
    question_ = [](QWidget* parent, const QString& text) {
        QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), text,
                        QMessageBox::Yes | QMessageBox::No, parent);
        box.setDefaultButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    };
}

AutoKillOptionsPage::~AutoKillOptionsPage() = default;

QString AutoKillOptionsPage::Title() const {
    return lang_.Pick("自動切断", "Auto Kill Session");
}

void AutoKillOptionsPage::LoadSettings() {
    logCheck_->setChecked(settings_.Read(SettingsKeys::kBlockedLog));
    // The name the block log itself uses when none is stored.
    logName_->setText(Text(settings_.Read(SettingsKeys::kAutoBlockLogFileName)));
    logName_->setEnabled(logCheck_->isChecked());
    shownName_ = logName_->text();

    std::string bytes, error;
    if (!RuleFileWriter::Load(ruleFilePath_, bytes, &error)) {
        ShowNotice(lang_.Pick("ルールファイルを読めません。ルールを入力しない限り、OK でもファイルはそのまま残ります。\n",
                              "The rule file cannot be read. OK leaves it as it is unless you type new rules.\n") +
                   Text(error));
    } else {
        const std::string target = AtomicFileWriter::Target(ruleFilePath_);
        struct stat st {};
        if (::stat(target.c_str(), &st) == 0 && !AtomicFileWriter::Refuses(target, st).empty())
            ShowNotice(lang_.Pick("ルールファイルは読み取り専用です。OK でも変更されません。\n",
                                  "The rule file is read-only. OK leaves it as it is.\n") +
                       Text(ruleFilePath_));
    }
    loaded_ = RuleTextLines(bytes);
    rules_->setPlainText(loaded_.Text());
    shownRules_ = rules_->toPlainText();
    loaded_.AdoptShown(shownRules_);
    explanation_->Refresh();
}

void AutoKillOptionsPage::ShowNotice(const QString& text) {
    notice_->setText(text);
    notice_->setVisible(!text.isEmpty());
}

QString AutoKillOptionsPage::SaveQuestion() {
    // The panel may not have caught up with the last keystrokes yet.
    explanation_->Refresh();
    const RuleExplainer& explained = explanation_->explainer();
    const int errors = explained.errorLines();
    const int everything = explained.cutEverything();
    QString text;
    if (errors > 0) {
        text += lang_.IsJapanese() ? QString::fromUtf8("エラーのあるルール行が %1 行あります。").arg(errors)
                : errors == 1      ? QStringLiteral("1 rule line has errors. ")
                                   : QStringLiteral("%1 rule lines have errors. ").arg(errors);
    }
    if (everything > 0) {
        text += lang_.IsJapanese()
                    ? QString::fromUtf8("%1 件のルールが SSH も含めすべての接続を切断します。").arg(everything)
                : everything == 1 ? QStringLiteral("1 rule will cut every connection, SSH included. ")
                                  : QStringLiteral("%1 rules will cut every connection, SSH included. ").arg(everything);
    }
    if (text.isEmpty()) return text;
    return text + QString::fromUtf8(lang_.Pick("このまま保存しますか?", "Save anyway?"));
}

bool AutoKillOptionsPage::Confirm() {
    // Rules stored as they were loaded are not asked about again: they are what is in force.
    if (rules_->toPlainText() != shownRules_ && question_) {
        const QString question = SaveQuestion();
        if (!question.isEmpty() && !question_(this, question)) {
            rules_->setFocus();
            return false;
        }
    }
    return true;
}

bool AutoKillOptionsPage::Apply() {
    if (!applyFlag()) return true;
    // The rule file first: when it cannot be saved, the settings stay as they were too.
    if (rules_->toPlainText() != shownRules_) {
        const std::string bytes = loaded_.Bytes(rules_->toPlainText());
        std::string error;
        if (!RuleFileWriter::Save(ruleFilePath_, bytes, &error)) {
            if (warn_)
                warn_(lang_.Pick("ルールファイルを保存できませんでした。\n", "The rule file could not be saved.\n") +
                      Text(error));
            return false;
        }
        loaded_ = RuleTextLines(bytes);
        shownRules_ = rules_->toPlainText();
        loaded_.AdoptShown(shownRules_);
    }
    SettingsFile::Batch batch(settings_);
    // A name stored only because OK was pressed would move the log to another file this month.
    if (logName_->text() != shownName_) {
        QString name = logName_->text();
        if (name.isEmpty()) name = QString::fromLatin1(BlockLog::kDefaultNameTemplate);
        // The name is stored also while the log is off.
        batch.Set(SettingsKeys::kAutoBlockLogFileName, name.toStdString());
        shownName_ = logName_->text();
    }
    batch.Set(SettingsKeys::kBlockedLog, logCheck_->isChecked());
    batch.Commit();
    return true;
}

}  // namespace varnel
