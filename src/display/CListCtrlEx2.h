#pragma once

#include <QStandardItemModel>
#include <QStringList>
#include <QTableView>
#include <cstdint>

namespace varnel {

class ColorListDelegate;

// The colour list of the colour options page: a table view over rows of texts it holds itself,
// painted by ColorListDelegate. It knows nothing of the colour scheme: a cell whose text ends in
// "%" shows a swatch of the colour whose decimal value (0x00BBGGRR) precedes the sign, every other
// cell plain text. Full rows, single selection, the selected row drawn highlighted with or without
// the focus, no grid, no focus rectangle, fixed rows of the small-icon height + 1; the area right of
// and below the rows shows the background colour. UI thread only.
class CListCtrlEx2 : public QTableView {
    Q_OBJECT
  public:
    explicit CListCtrlEx2(QWidget* parent = nullptr);
    ~CListCtrlEx2() override;

    // The list's own colours (0x00BBGGRR), set by the page before SetUp. Background and text
    // background are one colour here: the cells' and the empty area's.
    void SetBkColor(uint32_t colour);
    void SetTextBkColor(uint32_t colour);
    void SetTextColor(uint32_t colour);

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

    uint32_t textColour() const { return textColour_; }
    uint32_t backgroundColour() const { return backgroundColour_; }
    uint32_t selectedTextColour() const { return selectedText_; }
    uint32_t selectionColour() const { return selection_; }
    ColorListDelegate* itemDelegateEx() const { return delegate_; }
    // Small-icon height + 1.
    int RowHeight() const;

  private:
    void ApplyColours();

    QStandardItemModel model_;
    ColorListDelegate* delegate_;
    uint32_t textColour_ = 0;
    uint32_t backgroundColour_ = 0xFFFFFF;
    uint32_t selectedText_ = 0xFFFFFF;
    uint32_t selection_ = 0x800000;
};

}  // namespace varnel
