#include "display/OwnerDrawnListView.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPalette>
#include <QStyle>
#include <algorithm>

#include "display/ColourRef.h"

namespace varnel {

OwnerDrawnListView::OwnerDrawnListView(uint32_t text, uint32_t background,
                                       QAbstractItemView::SelectionMode selection, QWidget* parent)
    : QTableView(parent), textColour_(text), backgroundColour_(background) {
    verticalHeader()->hide();
    setShowGrid(false);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(selection);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setSortingEnabled(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setCornerButtonEnabled(false);
}

void OwnerDrawnListView::SetBkColor(uint32_t colour) {
    backgroundColour_ = colour;
    ApplyColours();
}

void OwnerDrawnListView::SetTextBkColor(uint32_t colour) {
    // One colour serves cells and empty area alike; see the header.
    backgroundColour_ = colour;
    ApplyColours();
}

void OwnerDrawnListView::SetTextColor(uint32_t colour) {
    textColour_ = colour;
    ApplyColours();
}

int OwnerDrawnListView::RowHeight() const {
    return style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this) + 1;
}

void OwnerDrawnListView::CaptureSelectionColours() {
    const QPalette pal = palette();
    selectedText_ = ToColourRef(pal.color(QPalette::Active, QPalette::HighlightedText));
    selection_ = ToColourRef(pal.color(QPalette::Active, QPalette::Highlight));
}

void OwnerDrawnListView::FixRowHeight() {
    const int h = RowHeight();
    QHeaderView* rows = verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(std::min(h, rows->minimumSectionSize()));
    rows->setDefaultSectionSize(h);
}

void OwnerDrawnListView::ApplyColours() {
    // The viewport's Base fill is the empty area right of and below the rows. The header inherits
    // this palette but paints with the button roles only, which stay as they are.
    ApplyViewportColours(*this, backgroundColour_, textColour_);
}

QList<int> OwnerDrawnListView::SelectedRows() const {
    QList<int> rows;
    if (!selectionModel()) return rows;
    for (const QModelIndex& i : selectionModel()->selectedRows()) rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

}  // namespace varnel
