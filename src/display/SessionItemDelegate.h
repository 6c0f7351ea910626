#pragma once

#include <QColor>
#include <QRect>

#include "display/CellTextCache.h"
#include "display/OwnerDrawnItemDelegate.h"

namespace varnel {

// Paints one cell of the session list from the model's roles; it decides no colour of its own except
// for selected rows, which it draws in the two selection colours it is given (selected rows are
// highlighted whether or not the list has the focus).
//
// Ordinary cell: the whole cell filled with the background, the text inset 4 px left and right and
// 1 px top and bottom, one line, vertically centred, cut with "…" at the end, in the model's
// alignment. Framed cell (kFramedRole): a 1 px frame in the text colour 1 px inside the cell, the
// text a further 3 px in on each side and centred. No focus rectangle. Texts are drawn through a
// CellTextCache, so a repaint of unchanged cells does not elide and shape their texts again. UI thread only.
class SessionItemDelegate : public OwnerDrawnItemDelegate {
    Q_OBJECT
  public:
    explicit SessionItemDelegate(QObject* parent = nullptr);

    // Where the text of a cell goes.
    static QRect TextRect(const QRect& cell, bool framed);
    // The frame of a framed cell (its outer pixels).
    static QRect FrameRect(const QRect& cell) { return cell.adjusted(1, 1, -1, -1); }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

  private:
    // Whether the cell already shows `background` because the view filled its viewport with it.
    static bool ViewportFilledWith(const QPainter* painter, const QStyleOptionViewItem& option,
                                   const QColor& background);

    // The cells' texts as last elided and shaped; painting is const to the view, not to the cache.
    mutable CellTextCache texts_;
};

}  // namespace varnel
