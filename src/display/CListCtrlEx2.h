#pragma once

#include <QStandardItemModel>
#include <QStringList>

#include "display/OwnerDrawnListView.h"

namespace varnel {

class ColorListDelegate;

// The colour list of the colour options page: a table view over rows of texts it holds itself,
// painted by ColorListDelegate. It knows nothing of the colour scheme: a cell whose text ends in
// "%" shows a swatch of the colour whose decimal value (0x00BBGGRR) precedes the sign, every other
// cell plain text. Single selection, the selected row drawn highlighted with or without the focus,
// no focus rectangle, a header that does not sort; otherwise as OwnerDrawnListView. Starts with
// black text on white. UI thread only.
class CListCtrlEx2 : public OwnerDrawnListView {
    Q_OBJECT
  public:
    explicit CListCtrlEx2(QWidget* parent = nullptr);
    ~CListCtrlEx2() override;

    // The page sets the list's own colours (SetBkColor, SetTextBkColor, SetTextColor) before SetUp.
    // Once, after the colours are set: captures the text and background colours and the palette's
    // two selection colours (later changes move none of them) and fixes the row height.
    void SetUp();

    // Column titles, left-aligned; `widths` in pixels, one per title.
    void SetColumns(const QStringList& titles, const QList<int>& widths);
    // Inserts a row of cell texts (one per column) before `row`; returns its index.
    int InsertItem(int row, const QStringList& texts);
    void DeleteAllItems();
    int ItemCount() const;
    QString ItemText(int row, int column) const;

    // The last row shown whole or in part at the bottom of the view (first visible + rows per page
    // - 1, clamped to the rows there are); -1 without rows.
    int LastVisibleRow() const;
    // Scrolls the least needed to show `row`; nothing for a row out of range.
    void EnsureVisible(int row);
    // The selected row, or -1.
    int SelectedRow() const;

    ColorListDelegate* itemDelegateEx() const { return delegate_; }

  protected:
    // Hands all four colours to the delegate as well.
    void ApplyColours() override;

  private:
    QStandardItemModel model_;
    ColorListDelegate* delegate_;
};

}  // namespace varnel
