#include "display/CSortHeaderCtrl.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <algorithm>
#include <cstdlib>

namespace varnel {

namespace {

QColor Shift(const QColor& c, int delta) {
    auto ch = [delta](int v) { return std::clamp(v + delta, 0, 255); };
    return QColor(ch(c.red()), ch(c.green()), ch(c.blue()));
}

// One pixel wide line from `from` up to, not including, `to` (the pen-position rule the triangle
// coordinates are given in).
void LineTo(QPainter* p, QPoint from, QPoint to, const QColor& colour) {
    int x = from.x(), y = from.y();
    const int dx = std::abs(to.x() - x), sx = x < to.x() ? 1 : -1;
    const int dy = -std::abs(to.y() - y), sy = y < to.y() ? 1 : -1;
    int err = dx + dy;
    while (x != to.x() || y != to.y()) {
        p->fillRect(x, y, 1, 1, colour);
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
}

}  // namespace

CSortHeaderCtrl::CSortHeaderCtrl(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setSectionsClickable(true);
    setSectionsMovable(false);
    setSortIndicatorShown(false);
    setHighlightSections(false);
}

void CSortHeaderCtrl::SetSortIndicator(int column, bool descending) {
    sortColumn_ = column;
    descending_ = descending;
    viewport()->update();
}

CSortHeaderCtrl::Triangle CSortHeaderCtrl::TriangleFor(int right, int bottom, int unit, bool descending) {
    const int u = unit;
    if (!descending)
        return {{right - 2 * u, u - 1}, {right - u - 1, bottom - u - 2}, {right - 3 * u + 1, bottom - u - 2}};
    return {{right - u - 1, u + 1}, {right - 2 * u, bottom - u - 1}, {right - 3 * u + 1, u + 1}};
}

void CSortHeaderCtrl::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    if (!rect.isValid()) return;
    painter->save();
    // Edges as half-open coordinates: right and bottom are one past the last pixel.
    const int left = rect.left(), top = rect.top();
    const int right = left + rect.width(), bottom = top + rect.height();
    const int width = rect.width(), height = rect.height();
    const int u = height / 4;
    const bool sorted = logicalIndex == sortColumn_;
    const bool pressed = logicalIndex == pressed_;

    const int textLeft = left + u + 1;
    const int textRight = right - (u + 1) - (sorted ? 3 * u : 0);

    const QPalette& pal = palette();
    const QColor base = Shift(pal.color(QPalette::Button), 21);

    for (int i = 0; i < height; ++i) painter->fillRect(left + 1, top + i, width - 2, 1, Shift(base, -3 * i));

    const QColor light = Shift(base, 192), dark = Shift(base, -192);
    const QColor& topLeft = pressed ? dark : light;
    const QColor& bottomRight = pressed ? light : dark;
    painter->fillRect(left, top, width - 1, 1, topLeft);
    painter->fillRect(left, top, 1, height - 1, topLeft);
    painter->fillRect(right - 1, top, 1, height, bottomRight);
    painter->fillRect(left, bottom - 1, width, 1, bottomRight);

    if (textLeft < textRight) {
        QRect textRect(textLeft, top, textRight - textLeft, height);
        if (pressed) textRect.translate(1, 1);
        const Qt::Alignment format = Qt::Alignment(
            model() ? model()->headerData(logicalIndex, orientation(), Qt::TextAlignmentRole).toInt() : 0);
        Qt::Alignment align = Qt::AlignLeft;
        if (format & Qt::AlignHCenter)
            align = Qt::AlignHCenter;
        else if (format & Qt::AlignRight)
            align = Qt::AlignRight;
        const QString caption =
            model() ? model()->headerData(logicalIndex, orientation(), Qt::DisplayRole).toString()
                    : QString();
        painter->setFont(font());
        painter->setPen(pal.color(QPalette::ButtonText));
        painter->drawText(textRect, static_cast<int>(align | Qt::AlignVCenter) | Qt::TextSingleLine,
                          fontMetrics().elidedText(caption, Qt::ElideRight, textRect.width()));
    }

    if (sorted && textRight - textLeft > 3 * u) {
        const QColor highlight = pal.color(QPalette::Light), shadow = pal.color(QPalette::Dark);
        const Triangle t = TriangleFor(right, bottom, u, descending_);
        LineTo(painter, t.p0, t.p1, highlight);
        LineTo(painter, t.p1, t.p2, descending_ ? shadow : highlight);
        LineTo(painter, t.p2, t.p0, shadow);
    }
    painter->restore();
}

bool CSortHeaderCtrl::OnResizeHandle(int x) const {
    // The same grip zones QHeaderView resizes from: a press there drags an edge, it presses nothing.
    const int grip = style()->pixelMetric(QStyle::PM_HeaderGripMargin, nullptr, this);
    const int section = logicalIndexAt(x);
    if (section < 0) return false;
    const int start = sectionViewportPosition(section);
    if (x < start + grip) {
        const int visual = visualIndex(section);
        return visual > 0 && sectionResizeMode(logicalIndex(visual - 1)) == QHeaderView::Interactive;
    }
    if (x > start + sectionSize(section) - grip)
        return sectionResizeMode(section) == QHeaderView::Interactive;
    return false;
}

void CSortHeaderCtrl::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    pressed_ = sectionsClickable() && event->button() == Qt::LeftButton && !OnResizeHandle(at.x())
                   ? logicalIndexAt(at)
                   : -1;
    QHeaderView::mousePressEvent(event);
    viewport()->update();
}

void CSortHeaderCtrl::mouseReleaseEvent(QMouseEvent* event) {
    pressed_ = -1;
    QHeaderView::mouseReleaseEvent(event);
    viewport()->update();
}

}  // namespace varnel
