#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

#include "display/core/ColorScheme.h"
#include "options/OptionsPage.h"
#include "settings/SettingsFile.h"
#include "settings/UiLanguage.h"

class QPushButton;

namespace varnel {

class CListCtrlEx2;

// The "Color" page of the Options dialog: the 37 items of the colour scheme, one row each with a
// swatch of its colour (column 0, the colour as "%d%%") and its name in the language in force
// (column 1). A double-click on a row opens the colour chooser on that item's colour; "Default
// Color" puts every item back to its default after a Yes to string 119. The page's scheme copy
// holds every edit until OK: Apply writes all 37 keys in item order, nothing else writes.
//
// The chooser and the question are injectable so that no modal dialog is needed to drive the page;
// by default they are QColorDialog and a Yes/No QMessageBox. UI thread only.
class ColorOptionsPage : public OptionsPage {
    Q_OBJECT
  public:
    // The chosen colour (0x00BBGGRR), or empty when the user cancelled.
    using Chooser = std::function<std::optional<uint32_t>(QWidget* parent, uint32_t current)>;
    // True for Yes.
    using Question = std::function<bool(QWidget* parent, const QString& text)>;

    // `newerPlatform` gives the page its white background and transparent buttons and labels.
    ColorOptionsPage(SettingsFile& settings, const UiLanguage& lang, bool newerPlatform = true,
                     QWidget* parent = nullptr);
    ~ColorOptionsPage() override;

    QString Title() const override;
    // Every item's default, then the "Surveil" keys over them; fills the list.
    void LoadSettings() override;
    // Writes all 37 keys. A write that fails is told by the settings file's failure listener, so
    // this reports success.
    bool Apply() override;

    void SetChooser(Chooser chooser) { chooser_ = std::move(chooser); }
    void SetQuestion(Question question) { question_ = std::move(question); }

    // Opens the chooser on the selected row's item; a confirmed colour becomes the item's.
    void EditSelected();
    // Asks string 119; on Yes every item goes back to its default.
    void RestoreDefaults();

    // String 119 in the language in force.
    QString DefaultQuestion() const;
    QString ItemName(int index) const;

    const ColorScheme& colours() const { return scheme_; }
    CListCtrlEx2* list() const { return list_; }
    QPushButton* defaultButton() const { return defaultButton_; }

  private:
    // Refills the rows from the scheme, keeping the scroll position.
    void FillList();

    SettingsFile settings_;
    UiLanguage lang_;
    ColorScheme scheme_;
    CListCtrlEx2* list_;
    QPushButton* defaultButton_;
    Chooser chooser_;
    Question question_;
};

}  // namespace varnel
