#pragma once

#include <functional>
#include <string>

#include "options/OptionsPage.h"
#include "options/RuleExplanationPanel.h"
#include "settings/SettingsFile.h"
#include "settings/UiLanguage.h"

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;

namespace varnel {

// The "Auto Kill Session" page: the rule file as free text, the block-log switch ("BlockedLog")
// and the block log's file name template ("AutoBlockLogFileName"), both in section "Session".
//
// The rule file is loaded whole and, when the rules box was not edited, written back with exactly
// the bytes it had; edited text is written with the line breaks the file used (CR LF when it had
// any, else LF). Saving replaces the file atomically (RuleFileWriter); an empty box deletes it.
// A failed save is told in a message box and Apply returns false with the rules still in the box.
// The text is stored as typed, but edited rules that have lines with errors, or a rule that cuts
// every connection, are saved only when the user says so to a Yes/No question; No makes Apply
// return false with nothing stored, so the dialog stays open on the editor. Beside the editor a
// RuleExplanationPanel tells what the text being edited will do, against the rows `rows` gives.
//
// The settings file is borrowed and must outlive the page. GUI thread only.
class AutoKillOptionsPage : public OptionsPage {
    Q_OBJECT

  public:
    static constexpr const char* kShownDefaultName = "brisel_autoblock$YYYY$$MM$.log";
    static constexpr const char* kStoredDefaultName = "dunmoth_autoblock$YYYY$$MM$.log";

    // How a failed save is shown; replaceable so that tests see it without a modal box.
    using Warn = std::function<void(const QString& text)>;
    // The Yes/No question before saving rules with errors or rules that cut everything; true for
    // Yes. By default a modal QMessageBox; replaceable as Warn is.
    using Question = std::function<bool(QWidget* parent, const QString& text)>;

    AutoKillOptionsPage(const SettingsFile& settings, std::string ruleFilePath, UiLanguage lang,
                        RuleExplanationPanel::RowSource rows = {}, QWidget* parent = nullptr);
    ~AutoKillOptionsPage() override;

    QString Title() const override;
    void LoadSettings() override;
    bool Apply() override;

    QPlainTextEdit* rulesEdit() const { return rules_; }
    QCheckBox* logCheck() const { return logCheck_; }
    QLineEdit* logNameEdit() const { return logName_; }
    RuleExplanationPanel* explanation() const { return explanation_; }
    void SetWarn(Warn warn) { warn_ = std::move(warn); }
    void SetQuestion(Question question) { question_ = std::move(question); }
    // The question for the rules as they stand in the box, or an empty text when there is none
    // to ask: "3 rule lines have errors. 2 rules will cut every connection, SSH included. Save
    // anyway?", each sentence only when its count is not 0.
    QString SaveQuestion();

  private:
    // The bytes to store for the rules box as it stands.
    std::string RulesBytes() const;

    const SettingsFile& settings_;
    std::string ruleFilePath_;
    UiLanguage lang_;
    QPlainTextEdit* rules_ = nullptr;
    QCheckBox* logCheck_ = nullptr;
    QLineEdit* logName_ = nullptr;
    RuleExplanationPanel* explanation_ = nullptr;
    Warn warn_;
    Question question_;
    // The file as loaded, kept so that an unedited box stores it unchanged.
    std::string loadedBytes_;
    QString shownRules_;
    bool crlf_ = false;
};

}  // namespace varnel
