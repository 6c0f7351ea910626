#include "display/CListCtrlEx2.h"

#include <QHeaderView>
#include <algorithm>

#include "display/ColorListDelegate.h"
#include "display/ColourRef.h"

namespace varnel {

CListCtrlEx2::CListCtrlEx2(QWidget* parent)
    : OwnerDrawnListView(0, 0xFFFFFF, QAbstractItemView::SingleSelection, parent),
      delegate_(new ColorListDelegate(this)) {
    setModel(&model_);
    setItemDelegate(delegate_);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    ApplyColours();
}

CListCtrlEx2::~CListCtrlEx2() {
    // The model is a member: the view must let go of it before it goes.
    setModel(nullptr);
}

void CListCtrlEx2::SetUp() {
    CaptureSelectionColours();
    FixRowHeight();
    ApplyColours();
}

void CListCtrlEx2::ApplyColours() {
    delegate_->SetColours(ToQColor(textColour_), ToQColor(backgroundColour_), ToQColor(selectedTextColour()),
                          ToQColor(selectionColour()));
    OwnerDrawnListView::ApplyColours();
}

void CListCtrlEx2::SetColumns(const QStringList& titles, const QList<int>& widths) {
    model_.setColumnCount(static_cast<int>(titles.size()));
    model_.setHorizontalHeaderLabels(titles);
    for (int c = 0; c < titles.size(); ++c) {
        model_.setHeaderData(c, Qt::Horizontal, int(Qt::AlignLeft | Qt::AlignVCenter), Qt::TextAlignmentRole);
        if (c < widths.size()) setColumnWidth(c, widths[c]);
    }
}

int CListCtrlEx2::InsertItem(int row, const QStringList& texts) {
    row = std::clamp(row, 0, model_.rowCount());
    QList<QStandardItem*> items;
    for (int c = 0; c < model_.columnCount(); ++c) {
        auto* item = new QStandardItem(c < texts.size() ? texts[c] : QString());
        item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        item->setEditable(false);
        items.push_back(item);
    }
    model_.insertRow(row, items);
    return row;
}

void CListCtrlEx2::DeleteAllItems() {
    model_.removeRows(0, model_.rowCount());
}

int CListCtrlEx2::ItemCount() const {
    return model_.rowCount();
}

QString CListCtrlEx2::ItemText(int row, int column) const {
    return model_.data(model_.index(row, column)).toString();
}

int CListCtrlEx2::LastVisibleRow() const {
    if (model_.rowCount() == 0) return -1;
    const int first = std::max(0, rowAt(0));
    const int perPage = std::max(1, viewport()->height() / std::max(1, rowHeight(first)));
    return std::min(first + perPage - 1, model_.rowCount() - 1);
}

void CListCtrlEx2::EnsureVisible(int row) {
    if (row < 0 || row >= model_.rowCount()) return;
    // The scroll range may still be the one of before a refill.
    updateGeometries();
    scrollTo(model_.index(row, 0), QAbstractItemView::EnsureVisible);
}

int CListCtrlEx2::SelectedRow() const {
    // Single selection: at most one row.
    const QList<int> rows = SelectedRows();
    return rows.isEmpty() ? -1 : rows.front();
}

}  // namespace varnel
