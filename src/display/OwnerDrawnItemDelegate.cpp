#include "display/OwnerDrawnItemDelegate.h"

#include <QVariant>

namespace varnel {

OwnerDrawnItemDelegate::OwnerDrawnItemDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

void OwnerDrawnItemDelegate::SetSelectionColours(const QColor& selectedText, const QColor& selection) {
    selectedText_ = selectedText;
    selection_ = selection;
}

Qt::Alignment OwnerDrawnItemDelegate::HorizontalAlignment(const QModelIndex& index) {
    const QVariant alignValue = index.data(Qt::TextAlignmentRole);
    if (!alignValue.isValid()) return Qt::AlignLeft;
    return Qt::Alignment(alignValue.toInt()) & Qt::AlignHorizontal_Mask;
}

}  // namespace varnel
