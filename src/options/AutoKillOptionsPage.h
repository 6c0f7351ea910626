#pragma once

#include <functional>
#include <string>

#include "options/OptionsPage.h"
#include "options/RuleExplanationPanel.h"
#include "options/RuleTextLines.h"
#include "settings/SettingsFile.h"
#include "settings/UiLanguage.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace varnel {

// The "Auto Kill Session" page: the rule file as free text, the block-log switch ("BlockedLog",
// ticked only for a stored 1, as the block log reads it)
// and the block log's file name template ("AutoBlockLogFileName"), both in section "Session".
//
// The rule file is the user's: OK writes it only when the text in the box was changed. Lines
// the user did not touch keep their bytes and breaks whatever their encoding (RuleTextLines);
// saving goes through RuleFileWriter (atomic, link followed, owner and mode kept, a read-only
// file left alone). An emptied box deletes the file. A file that cannot be read (no permission,
// a folder, too big) or is read-only is told in notice() above the box, and an unedited box
// leaves it as it is. A failed save is told in a message box and Apply returns false with the
// rules still in the box and the two keys as they were: the keys are stored only after the
// rules were. The name box shows the name the block log uses; the name is stored only when the
// user changed it, so an OK for other reasons never moves the log to another file.
//
// Edited rules that have lines with errors, or a rule that cuts every connection, are saved only
// when the user says so to a Yes/No question; No makes Apply return false with nothing stored,
// so the dialog stays open on the editor. Beside the editor a RuleExplanationPanel tells what the
// text being edited will do, against the rows `rows` gives. Tab order: rules, log check box,
// name box, then the panel.
//
// The settings file is borrowed and must outlive the page. GUI thread only.
class AutoKillOptionsPage : public OptionsPage {
    Q_OBJECT

  public:
    // How a failed save is shown; replaceable so that tests see it without a modal box.
    using Warn = std::function<void(const QString& text)>;
    // The Yes/No question before saving rules with errors or rules that cut everything; true for
    // Yes. By default a modal QMessageBox; replaceable as Warn is.
    using Question = std::function<bool(QWidget* parent, const QString& text)>;

    AutoKillOptionsPage(SettingsFile& settings, std::string ruleFilePath, UiLanguage lang,
                        RuleExplanationPanel::RowSource rows = {}, QWidget* parent = nullptr);
    ~AutoKillOptionsPage() override;

    QString Title() const override;
    void LoadSettings() override;
    bool Confirm() override;
    bool Apply() override;

    QPlainTextEdit* rulesEdit() const { return rules_; }
    QCheckBox* logCheck() const { return logCheck_; }
    QLineEdit* logNameEdit() const { return logName_; }
    RuleExplanationPanel* explanation() const { return explanation_; }
    // Why the rule file is left as it is (unreadable, read-only); hidden when all is well.
    QLabel* notice() const { return notice_; }
    void SetWarn(Warn warn) { warn_ = std::move(warn); }
    void SetQuestion(Question question) { question_ = std::move(question); }
    // The question for the rules as they stand in the box, or an empty text when there is none
    // to ask: "3 rule lines have errors. 2 rules will cut every connection, SSH included. Save
    // anyway?", each sentence only when its count is not 0.
    QString SaveQuestion();

  private:
    void ShowNotice(const QString& text);

    SettingsFile& settings_;
    std::string ruleFilePath_;
    UiLanguage lang_;
    QPlainTextEdit* rules_ = nullptr;
    QCheckBox* logCheck_ = nullptr;
    QLineEdit* logName_ = nullptr;
    QLabel* notice_ = nullptr;
    RuleExplanationPanel* explanation_ = nullptr;
    Warn warn_;
    Question question_;
    // The file as loaded, line by line, to map an edited text back to bytes.
    RuleTextLines loaded_;
    // The box's texts as loaded: an unchanged box stores nothing.
    QString shownRules_;
    QString shownName_;
};

}  // namespace varnel
