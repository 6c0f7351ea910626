#pragma once

#include <QList>
#include <QTableView>
#include <cstdint>

#include "display/core/ColorScheme.h"

namespace varnel {

class CSortHeaderCtrl;
class SessionItemDelegate;
class SettingsFile;

// The session list: a table view whose cells are painted by SessionItemDelegate in the colours the
// SessionListModel gives them, with a CSortHeaderCtrl as its horizontal header. Full rows, extended
// selection, selected rows drawn highlighted with or without the focus, no grid, no focus
// rectangle, fixed rows of the small-icon height + 1, horizontal scrolling by pixels; the area
// right of and below the rows shows "Color_TextBk".
//
// The list keeps its own copy of the colour scheme and hands it to a SessionListModel set on it
// (setModel or LoadColours). Any other model is shown with its own roles. Owns its header and
// delegate. UI thread only.
class CListCtrlEx3 : public QTableView {
    Q_OBJECT
  public:
    // Starts with white text on black, the colours the page gives the list before SetUp.
    explicit CListCtrlEx3(QWidget* parent = nullptr);
    ~CListCtrlEx3() override;

    // The list's own colours (0x00BBGGRR), as the page sets them before SetUp and the main window
    // after LoadColours. Background and text background are one colour here: the cells' and the
    // empty area's.
    void SetBkColor(uint32_t colour);
    void SetTextBkColor(uint32_t colour);
    void SetTextColor(uint32_t colour);

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
    // Selected row indexes, ascending.
    QList<int> SelectedRows() const;

    uint32_t textColour() const { return textColour_; }
    uint32_t backgroundColour() const { return backgroundColour_; }
    uint32_t selectedTextColour() const { return selectedText_; }
    uint32_t selectionColour() const { return selection_; }
    const ColorScheme& colorScheme() const { return scheme_; }
    // Small-icon height + 1.
    int RowHeight() const;

    void setModel(QAbstractItemModel* model) override;

  private:
    void ApplyPalette();
    void PushScheme();

    CSortHeaderCtrl* header_;
    SessionItemDelegate* delegate_;
    ColorScheme scheme_;
    uint32_t textColour_ = 0xFFFFFF;
    uint32_t initialTextBk_ = 0;
    uint32_t backgroundColour_ = 0;
    uint32_t selectedText_ = 0xFFFFFF;
    uint32_t selection_ = 0x800000;
};

}  // namespace varnel
