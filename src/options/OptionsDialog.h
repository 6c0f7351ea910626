#pragma once

#include <QDialog>
#include <vector>

#include "settings/SettingsFile.h"
#include "settings/UiLanguage.h"

class QLabel;
class QStackedWidget;
class QTabBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace varnel {

class OptionsPage;

// The Options dialog: a tree of page groups on the left, the chosen group's tabs on the right and
// the chosen tab's page laid over the tab area. There is one group ("Session Monitor") with the
// tabs "Auto Kill Session" and "Color"; a tab whose page has not been added shows an empty area.
//
// Pages are added in tab order (AddPage: the first is tab 0) and owned by the dialog; each page's
// LoadSettings runs when it is added. The chosen tree item and tab are read from "ConfigSel" and
// "ConfigTab" (section "Settings") when the dialog is first shown and written back at every close
// (OK, Cancel, the close button, the end of the desktop session). A "ConfigSel" that names no
// tree item leaves the tree without a selection and shows no tab and no page; "ConfigTab" is
// clamped to the tabs there are.
//
// OK sets every page's apply flag, lets every page ask its questions (Confirm, in tab order),
// then stores the two keys and applies the pages from the last tab to the first; a page whose
// question the user answered No, or that cannot store its settings, keeps the dialog open with
// all flags cleared, and is brought on screen. Cancel clears the flags and stores nothing but the
// two keys. See OptionsPage for the pages' side.
//
// The settings file is borrowed and must outlive the dialog. GUI thread only.
class OptionsDialog : public QDialog {
    Q_OBJECT

  public:
    // Slots of the label table: per group, the tree item's text then up to four tab texts.
    static constexpr int kLabelsPerGroup = 5;
    static constexpr int kMaxTabs = kLabelsPerGroup - 1;

    OptionsDialog(SettingsFile& settings, UiLanguage lang, QWidget* parent = nullptr);
    ~OptionsDialog() override;

    // Adds the page of the next tab and takes ownership of it.
    void AddPage(OptionsPage* page);

    void done(int result) override;

    QTreeWidget* tree() const { return tree_; }
    QTabBar* tabBar() const { return tabBar_; }
    QLabel* languageLabel() const { return languageLabel_; }
    const std::vector<OptionsPage*>& pages() const { return pages_; }
    // The page on screen: the current page number's page, or nullptr (no selection, or a tab
    // whose page has not been added).
    OptionsPage* currentPage() const;
    int currentSelection() const { return selection_; }
    int currentTab() const { return tab_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    // Selects the tree item "ConfigSel" names, if any.
    void SelectStoredItem();
    void OnTreeSelection();
    void OnTabSelection(int index);
    // Shows page number selection × kLabelsPerGroup + tab, or none.
    void ShowPage(int number);
    void WriteSelection();
    // Shows the page at `index` (its group and tab), after its Apply failed.
    void ShowFailedPage(int index);

    SettingsFile& settings_;
    UiLanguage lang_;
    QTreeWidget* tree_ = nullptr;
    QTabBar* tabBar_ = nullptr;
    QStackedWidget* stack_ = nullptr;
    QWidget* blank_ = nullptr;
    QLabel* languageLabel_ = nullptr;
    std::vector<OptionsPage*> pages_;
    int selection_ = 0;
    int previousSelection_ = 0;
    int tab_ = 0;
    int shownPage_ = -1;
    bool initialised_ = false;
    bool filling_ = false;
};

}  // namespace varnel
