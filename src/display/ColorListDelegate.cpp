#include "display/ColorListDelegate.h"

#include <QPainter>
#include <cstdlib>

#include "display/ColourRef.h"

namespace varnel {

ColorListDelegate::ColorListDelegate(QObject* parent) : OwnerDrawnItemDelegate(parent) {}

void ColorListDelegate::SetColours(const QColor& text, const QColor& background, const QColor& selectedText,
                                   const QColor& selection) {
    text_ = text;
    background_ = background;
    SetSelectionColours(selectedText, selection);
}

std::optional<uint32_t> ColorListDelegate::SwatchColour(const QString& text) {
    if (!text.endsWith(QLatin1Char('%'))) return std::nullopt;
    // Leading blanks and a sign as atoi takes them; the value wraps to 32 bits like a C int.
    const QByteArray bytes = text.toLatin1();
    const long long v = std::strtoll(bytes.constData(), nullptr, 10);
    return static_cast<uint32_t>(static_cast<int32_t>(v));
}

void ColorListDelegate::PaintBumpEdge(QPainter* painter, const QRect& r, const QPalette& pal) const {
    // Raised outer line: light top and left, darkest shadow bottom and right; sunken inner line:
    // shadow top and left, light bottom and right.
    auto frame = [painter](const QRect& f, const QColor& topLeft, const QColor& bottomRight) {
        if (f.width() <= 0 || f.height() <= 0) return;
        painter->fillRect(QRect(f.left(), f.top(), f.width(), 1), topLeft);
        painter->fillRect(QRect(f.left(), f.top(), 1, f.height()), topLeft);
        painter->fillRect(QRect(f.left(), f.bottom(), f.width(), 1), bottomRight);
        painter->fillRect(QRect(f.right(), f.top(), 1, f.height()), bottomRight);
    };
    frame(r, pal.color(QPalette::Light), pal.color(QPalette::Shadow));
    frame(r.adjusted(1, 1, -1, -1), pal.color(QPalette::Dark), pal.color(QPalette::Light));
}

void ColorListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    const bool highlighted = option.state & QStyle::State_Selected;
    const QString text = index.data(Qt::DisplayRole).toString();
    const QRect cell = option.rect;
    painter->save();
    painter->setClipRect(cell);
    painter->fillRect(cell, highlighted ? selectionColour() : background_);

    if (const std::optional<uint32_t> swatch = SwatchColour(text)) {
        PaintBumpEdge(painter, cell.adjusted(1, 1, -1, -1), option.palette);
        const QRect fill = SwatchRect(cell);
        if (fill.width() > 0 && fill.height() > 0) painter->fillRect(fill, ToQColor(*swatch));
    } else {
        // Names are black on the window colour; on a dark one they take the list's text colour,
        // which the page pairs with that background, so they stay readable.
        const QColor name = qGray(background_.rgb()) < 128 ? text_ : QColor(Qt::black);
        QColor pen = index.column() == 0 ? QColor(0xFF, 0xFF, 0x80) : index.column() == 1 ? name : text_;
        if (highlighted) pen = selectedTextColour();
        const QRect textRect = TextRect(cell);
        if (textRect.width() > 0 && textRect.height() > 0) {
            painter->setPen(pen);
            painter->setFont(option.font);
            const QString shown = option.fontMetrics.elidedText(text, Qt::ElideRight, textRect.width());
            painter->drawText(textRect,
                              int(HorizontalAlignment(index) | Qt::AlignVCenter | Qt::TextSingleLine), shown);
        }
    }
    painter->restore();
}

}  // namespace varnel
