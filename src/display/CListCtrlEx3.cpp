#include "display/CListCtrlEx3.h"

#include "settings/SettingsFile.h"
#include "display/CSortHeaderCtrl.h"
#include "display/ColourRef.h"
#include "display/SessionItemDelegate.h"
#include "display/SessionListModel.h"

namespace varnel {

CListCtrlEx3::CListCtrlEx3(QWidget* parent)
    : OwnerDrawnListView(0xFFFFFF, 0, QAbstractItemView::ExtendedSelection, parent),
      header_(new CSortHeaderCtrl(this)),
      delegate_(new SessionItemDelegate(this)) {
    setHorizontalHeader(header_);
    setItemDelegate(delegate_);
    header_->setStretchLastSection(false);
    CaptureSelectionColours();
    ApplyColours();
}

CListCtrlEx3::~CListCtrlEx3() = default;

void CListCtrlEx3::SetUp(const SettingsFile& settings) {
    initialTextBk_ = backgroundColour_;
    // Taken again here and kept: later palette changes do not move the selection colours.
    CaptureSelectionColours();
    FixRowHeight();
    LoadColours(settings);
    header_->SetSortIndicator(-1, false);
}

void CListCtrlEx3::LoadColours(const SettingsFile& settings) {
    scheme_.Load(settings, initialTextBk_, textColour_);
    textColour_ = scheme_.colour(ColorScheme::kText);
    backgroundColour_ = scheme_.colour(ColorScheme::kTextBk);
    ApplyColours();
    PushScheme();
    viewport()->update();
}

void CListCtrlEx3::ApplyColours() {
    delegate_->SetSelectionColours(ToQColor(selectedTextColour()), ToQColor(selectionColour()));
    OwnerDrawnListView::ApplyColours();
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

}  // namespace varnel
