#include "display/CListCtrlEx3.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPalette>
#include <QStyle>
#include <algorithm>

#include "settings/SettingsFile.h"
#include "display/CSortHeaderCtrl.h"
#include "display/ColourRef.h"
#include "display/SessionItemDelegate.h"
#include "display/SessionListModel.h"

namespace varnel {

CListCtrlEx3::CListCtrlEx3(QWidget* parent)
    : QTableView(parent), header_(new CSortHeaderCtrl(this)), delegate_(new SessionItemDelegate(this)) {
    setHorizontalHeader(header_);
    setItemDelegate(delegate_);
    verticalHeader()->hide();
    setShowGrid(false);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setSortingEnabled(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setCornerButtonEnabled(false);
    header_->setStretchLastSection(false);

    const QPalette pal = palette();
    selectedText_ = ToColourRef(pal.color(QPalette::Active, QPalette::HighlightedText));
    selection_ = ToColourRef(pal.color(QPalette::Active, QPalette::Highlight));
    delegate_->SetSelectionColours(ToQColor(selectedText_), ToQColor(selection_));
    ApplyPalette();
}

CListCtrlEx3::~CListCtrlEx3() = default;

void CListCtrlEx3::SetBkColor(uint32_t colour) {
    backgroundColour_ = colour;
    ApplyPalette();
}

void CListCtrlEx3::SetTextBkColor(uint32_t colour) {
    // One colour serves cells and empty area alike; see the header.
    backgroundColour_ = colour;
    ApplyPalette();
}

void CListCtrlEx3::SetTextColor(uint32_t colour) {
    textColour_ = colour;
    ApplyPalette();
}

int CListCtrlEx3::RowHeight() const {
    return style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this) + 1;
}

void CListCtrlEx3::SetUp(const SettingsFile& settings) {
    initialTextBk_ = backgroundColour_;

    // Taken once: later palette changes do not move the selection colours.
    const QPalette pal = palette();
    selectedText_ = ToColourRef(pal.color(QPalette::Active, QPalette::HighlightedText));
    selection_ = ToColourRef(pal.color(QPalette::Active, QPalette::Highlight));
    delegate_->SetSelectionColours(ToQColor(selectedText_), ToQColor(selection_));

    const int h = RowHeight();
    QHeaderView* rows = verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(std::min(h, rows->minimumSectionSize()));
    rows->setDefaultSectionSize(h);

    LoadColours(settings);
    header_->SetSortIndicator(-1, false);
}

void CListCtrlEx3::LoadColours(const SettingsFile& settings) {
    scheme_.Load(settings, initialTextBk_, textColour_);
    textColour_ = scheme_.colour(ColorScheme::kText);
    backgroundColour_ = scheme_.colour(ColorScheme::kTextBk);
    ApplyPalette();
    PushScheme();
    viewport()->update();
}

void CListCtrlEx3::ApplyPalette() {
    // The viewport's Base fill is the empty area right of and below the rows. The header inherits
    // this palette but paints with the button roles only, which stay as they are.
    ApplyViewportColours(*this, backgroundColour_, textColour_);
}

void CListCtrlEx3::PushScheme() {
    // The list's scheme carries the colours in force (text and background may come from the list's
    // own captured defaults); the model paints the cells with them.
    ColorScheme s = scheme_;
    s.setColour(ColorScheme::kText, textColour_);
    s.setColour(ColorScheme::kTextBk, backgroundColour_);
    if (auto* m = qobject_cast<SessionListModel*>(model())) m->SetColorScheme(s);
}

void CListCtrlEx3::setModel(QAbstractItemModel* model) {
    QTableView::setModel(model);
    PushScheme();
}

QList<int> CListCtrlEx3::SelectedRows() const {
    QList<int> rows;
    if (!selectionModel()) return rows;
    for (const QModelIndex& i : selectionModel()->selectedRows()) rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

}  // namespace varnel
