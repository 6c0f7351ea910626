#include "display/SessionItemDelegate.h"

#include <QPainter>

#include "display/SessionListModel.h"

namespace varnel {

SessionItemDelegate::SessionItemDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

void SessionItemDelegate::SetSelectionColours(const QColor& selectedText, const QColor& selection) {
    selectedText_ = selectedText;
    selection_ = selection;
}

QRect SessionItemDelegate::TextRect(const QRect& cell, bool framed) {
    if (framed) return FrameRect(cell).adjusted(3, 0, -3, 0);
    return cell.adjusted(4, 1, -4, -1);
}

void SessionItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    const bool highlighted = option.state & QStyle::State_Selected;
    const bool framed = index.data(SessionListModel::kFramedRole).toBool();
    QColor text = index.data(Qt::ForegroundRole).value<QColor>();
    QColor background = index.data(Qt::BackgroundRole).value<QColor>();
    if (highlighted) {
        text = selectedText_;
        background = selection_;
    }
    if (!text.isValid()) text = option.palette.color(QPalette::Text);
    if (!background.isValid()) background = option.palette.color(QPalette::Base);

    const QRect cell = option.rect;
    painter->save();
    painter->setClipRect(cell);
    painter->fillRect(cell, background);

    Qt::Alignment alignment = Qt::AlignLeft;
    const QVariant alignValue = index.data(Qt::TextAlignmentRole);
    if (alignValue.isValid()) alignment = Qt::Alignment(alignValue.toInt()) & Qt::AlignHorizontal_Mask;
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
        const QString full = index.data(Qt::DisplayRole).toString();
        const QString shown = option.fontMetrics.elidedText(full, Qt::ElideRight, textRect.width());
        painter->setFont(option.font);
        painter->setPen(text);
        painter->setClipRect(textRect);
        painter->drawText(textRect, static_cast<int>(alignment | Qt::AlignVCenter) | Qt::TextSingleLine,
                          shown);
    }
    painter->restore();
}

}  // namespace varnel
