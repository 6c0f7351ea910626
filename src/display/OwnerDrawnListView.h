#pragma once

#include <QAbstractItemView>
#include <QList>
#include <QTableView>
#include <cstdint>

namespace varnel {

// What the two owner-drawn lists share: a table view of full rows with no grid, no row header, no
// editing, no sorting of its own and no corner button, scrolled by pixels sideways and by rows up
// and down; fixed rows of the small-icon height + 1; the list's own text and background colours
// (0x00BBGGRR) on the viewport, so that the area right of and below the rows shows the background;
// and the palette's two selection colours, taken when the list says so and kept thereafter. The
// cells are painted by the subclass's delegate, which ApplyColours hands the colours to. UI thread only.
class OwnerDrawnListView : public QTableView {
    Q_OBJECT
  public:
    // Background and text background are one colour here: the cells' and the empty area's.
    void SetBkColor(uint32_t colour);
    void SetTextBkColor(uint32_t colour);
    void SetTextColor(uint32_t colour);

    uint32_t textColour() const { return textColour_; }
    uint32_t backgroundColour() const { return backgroundColour_; }
    uint32_t selectedTextColour() const { return selectedText_; }
    uint32_t selectionColour() const { return selection_; }
    // Small-icon height + 1.
    int RowHeight() const;
    // Selected row indexes, ascending.
    QList<int> SelectedRows() const;

  protected:
    // The colours the list starts with; the selection colours start as white on dark blue until
    // CaptureSelectionColours.
    OwnerDrawnListView(uint32_t text, uint32_t background, QAbstractItemView::SelectionMode selection,
                       QWidget* parent);

    // Takes the palette's active selection colours; later palette changes do not move them.
    void CaptureSelectionColours();
    // Fixes every row at RowHeight.
    void FixRowHeight();

    // Puts the colours on the viewport. A subclass also hands them to its delegate, then calls this;
    // the base constructor calls none of it, so a subclass's constructor calls it when it is done.
    virtual void ApplyColours();

    // The list's own colours; a subclass that loads both at once sets them here, then ApplyColours.
    uint32_t textColour_;
    uint32_t backgroundColour_;

  private:
    uint32_t selectedText_ = 0xFFFFFF;
    uint32_t selection_ = 0x800000;
};

}  // namespace varnel
