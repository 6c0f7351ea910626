#pragma once

#include <cstdint>

#include "display/OwnerDrawnListView.h"
#include "display/core/ColorScheme.h"

namespace varnel {

class CSortHeaderCtrl;
class SessionItemDelegate;
class SettingsFile;

// The session list: a table view whose cells are painted by SessionItemDelegate in the colours the
// SessionListModel gives them, with a CSortHeaderCtrl as its horizontal header. Extended selection,
// selected rows drawn highlighted with or without the focus, no focus rectangle; the area right of
// and below the rows shows "Color_TextBk"; otherwise as OwnerDrawnListView.
//
// The list keeps its own copy of the colour scheme and hands it to a SessionListModel set on it
// (setModel or LoadColours). Any other model is shown with its own roles. Owns its header and
// delegate. UI thread only.
class CListCtrlEx3 : public OwnerDrawnListView {
    Q_OBJECT
  public:
    // Starts with white text on black, the colours the page gives the list before SetUp.
    explicit CListCtrlEx3(QWidget* parent = nullptr);
    ~CListCtrlEx3() override;

    // The page sets the list's own colours (SetBkColor, SetTextBkColor, SetTextColor) before SetUp,
    // the main window after LoadColours.

    // Once, after the first colours are set: captures the text and background colours (the defaults
    // of "Color_Text" and "Color_TextBk") and the palette's selection colours, fixes the row height,
    // loads the colours and clears the sort mark.
    void SetUp(const SettingsFile& settings);
    // Reads the 37 "Surveil" colours ("Color_TextBk" defaulting to the background captured at set-up,
    // "Color_Text" to the current text colour), applies background and text to the list itself,
    // passes the scheme to the model and repaints everything.
    void LoadColours(const SettingsFile& settings);

    CSortHeaderCtrl* sortHeader() const { return header_; }
    SessionItemDelegate* itemDelegateEx() const { return delegate_; }
    const ColorScheme& colorScheme() const { return scheme_; }

    void setModel(QAbstractItemModel* model) override;

  protected:
    // Hands the selection colours to the delegate as well; the cells' other colours come from the
    // model.
    void ApplyColours() override;

  private:
    void PushScheme();

    CSortHeaderCtrl* header_;
    SessionItemDelegate* delegate_;
    ColorScheme scheme_;
    uint32_t initialTextBk_ = 0;
};

}  // namespace varnel
