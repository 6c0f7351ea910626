#include "display/SessionItemDelegate.h"

#include <QAbstractItemView>
#include <QPainter>

#include "display/SessionListModel.h"

namespace varnel {

SessionItemDelegate::SessionItemDelegate(QObject* parent) : OwnerDrawnItemDelegate(parent) {}

bool SessionItemDelegate::ViewportFilledWith(const QPainter* painter, const QStyleOptionViewItem& option,
                                             const QColor& background) {
    // A view painting its own viewport has filled the whole update region with the viewport's
    // background before the cells; filling a cell again with the same solid colour changes no pixel.
    // Alternate rows and selected rows may have been painted over by the style, and a cell painted
    // anywhere else (a drag image) starts from nothing: those are filled.
    if (option.state & QStyle::State_Selected) return false;
    if (option.features & QStyleOptionViewItem::Alternate) return false;
    const auto* view = qobject_cast<const QAbstractItemView*>(option.widget);
    if (!view) return false;
    const QWidget* viewport = view->viewport();
    if (painter->device() != viewport || !viewport->autoFillBackground()) return false;
    const QBrush& brush = viewport->palette().brush(viewport->backgroundRole());
    return brush.style() == Qt::SolidPattern && brush.color() == background && background.alpha() == 255;
}

QRect SessionItemDelegate::TextRect(const QRect& cell, bool framed) {
    if (framed) return FrameRect(cell).adjusted(3, 0, -3, 0);
    return InsetTextRect(cell);
}

void SessionItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    const bool highlighted = option.state & QStyle::State_Selected;
    const bool framed = index.data(SessionListModel::kFramedRole).toBool();
    QColor text = index.data(Qt::ForegroundRole).value<QColor>();
    QColor background = index.data(Qt::BackgroundRole).value<QColor>();
    if (highlighted) {
        text = selectedTextColour();
        background = selectionColour();
    }
    if (!text.isValid()) text = option.palette.color(QPalette::Text);
    if (!background.isValid()) background = option.palette.color(QPalette::Base);

    const QRect cell = option.rect;
    painter->save();
    // Everything up to the text stays inside the cell, so the cell needs no clip of its own.
    if (!ViewportFilledWith(painter, option, background)) painter->fillRect(cell, background);

    Qt::Alignment alignment = HorizontalAlignment(index);
    if (framed) {
        // Frame along the inside edge of the rectangle 1 px in from the cell.
        const QRect frame = FrameRect(cell);
        if (frame.width() > 0 && frame.height() > 0) {
            painter->setPen(QPen(text, 0));
            painter->setBrush(Qt::NoBrush);
            painter->drawRect(frame.adjusted(0, 0, -1, -1));
        }
        alignment = Qt::AlignHCenter;
    }

    const QRect textRect = TextRect(cell, framed);
    if (textRect.width() > 0 && textRect.height() > 0) {
        painter->setPen(text);
        painter->setClipRect(textRect);
        texts_.Draw(painter, textRect, alignment, option.font, option.fontMetrics,
                    index.data(Qt::DisplayRole).toString());
    }
    painter->restore();
}

}  // namespace varnel
