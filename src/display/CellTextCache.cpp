#include "display/CellTextCache.h"

#include <QFontMetrics>
#include <QHashFunctions>
#include <QPaintDevice>
#include <QPainter>
#include <QTextLine>
#include <QTextOption>

namespace varnel {

CellTextCache::CellTextCache(std::size_t capacity) : capacity_(capacity < 2 ? 2 : capacity) {}

CellTextCache::~CellTextCache() = default;

void CellTextCache::Clear() {
    current_.clear();
    previous_.clear();
    draws_ = 0;
}

void CellTextCache::Turn() {
    previous_.clear();  // frees the memory before the swap reuses nothing of it
    std::swap(previous_, current_);
    draws_ = 0;
}

std::size_t CellTextCache::KeyHash::operator()(const Key& k) const {
    return qHash(k.text) ^ (static_cast<std::size_t>(k.width) * 0x9E3779B97F4A7C15ull);
}

bool CellTextCache::NeedsDrawText(const QString& text) {
    // drawText turns these into spaces, line breaks or length variants before shaping; such texts
    // are rare enough to take the long way.
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F || u == 0x9C || u == 0x2028 || u == 0x2029) return true;
    }
    return false;
}

namespace {

// One line laid out as drawText lays out a single-line text: in the painter's direction, aligned left
// (drawText places the line itself), no wrapping width.
std::unique_ptr<QTextLayout> Shape(const QString& text, const QFont& font, Qt::LayoutDirection direction) {
    auto layout = std::make_unique<QTextLayout>(text, font);
    QTextOption option;
    option.setTextDirection(direction);
    option.setAlignment(Qt::AlignLeft);
    layout->setTextOption(option);
    layout->setCacheEnabled(true);  // keeps the glyphs after endLayout
    layout->beginLayout();
    QTextLine line = layout->createLine();
    if (line.isValid()) {
        line.setLineWidth(0x01000000);
        line.setPosition(QPointF(0, 0));
    }
    layout->endLayout();
    return layout;
}

}  // namespace

const CellTextCache::Entry* CellTextCache::Find(QPainter* painter, const QFont& font,
                                                const QFontMetrics& metrics, const QString& text, int width) {
    const QPaintDevice* device = painter->device();
    const int dpiX = device ? device->logicalDpiX() : 0, dpiY = device ? device->logicalDpiY() : 0;
    const Qt::LayoutDirection direction = painter->layoutDirection();
    if (dpiX != dpiX_ || dpiY != dpiY_ || direction != direction_ || !(font == font_) ||
        font.resolveMask() != font_.resolveMask()) {
        Clear();
        direction_ = direction;
        font_ = font;
        dpiX_ = dpiX;
        dpiY_ = dpiY;
    }
    if (++draws_ > kMinWindow && draws_ > 8 * current_.size()) Turn();
    if (current_.size() >= capacity_ / 2) Turn();

    Key key{text, width};
    auto it = current_.find(key);
    if (it != current_.end()) return &it->second;
    if (auto old = previous_.find(key); old != previous_.end())
        return &current_.insert(previous_.extract(old)).position->second;

    // The painter's font is the one drawText shapes with (resolved for the device).
    const QFont shapeFont = painter->font();
    Entry entry;
    entry.layout = Shape(text, shapeFont, direction);
    QTextLine line = entry.layout->lineAt(0);
    // A text that plainly fits is not elided; measuring it again would shape it a second time. Near
    // the edge (or with trailing spaces, which the line's width leaves out) the elision decides.
    const bool fits =
        line.isValid() && !text.isEmpty() && !text.back().isSpace() && line.naturalTextWidth() + 1 <= width;
    if (!fits) {
        const QString shown = metrics.elidedText(text, Qt::ElideRight, width);
        if (shown != text) {
            entry.layout = Shape(shown, shapeFont, direction);
            line = entry.layout->lineAt(0);
        }
    }
    if (line.isValid() && entry.layout->text().size() > 0) {
        entry.width = line.naturalTextWidth();
        entry.height = line.ascent() + line.descent();
    } else {
        entry.layout.reset();  // nothing to draw
    }
    return &current_.emplace(std::move(key), std::move(entry)).first->second;
}

void CellTextCache::Draw(QPainter* painter, const QRect& rect, Qt::Alignment alignment, const QFont& font,
                         const QFontMetrics& metrics, const QString& text) {
    if (rect.isEmpty()) return;
    painter->setFont(font);
    // Left to right, drawText's offsets below hold; a right-to-left line would be placed by its
    // leading spaces too.
    const Qt::LayoutDirection direction = painter->layoutDirection();
    const bool leftToRight =
        direction == Qt::LeftToRight || (direction == Qt::LayoutDirectionAuto && !text.isRightToLeft());
    if (!leftToRight || NeedsDrawText(text)) {
        painter->drawText(rect, static_cast<int>(alignment | Qt::AlignVCenter) | Qt::TextSingleLine,
                          metrics.elidedText(text, Qt::ElideRight, rect.width()));
        return;
    }
    const Entry* entry = Find(painter, font, metrics, text, rect.width());
    if (!entry->layout) return;

    // The offsets drawText gives one line: centred vertically on its ascent + descent, placed
    // horizontally by its advance.
    const QTextLine line = entry->layout->lineAt(0);
    const QRectF r(rect);
    const qreal y = (r.height() - entry->height) / 2;
    qreal x = 0;
    if (alignment & Qt::AlignRight)
        x = r.width() - line.horizontalAdvance();
    else if (alignment & Qt::AlignHCenter)
        x = (r.width() - line.horizontalAdvance()) / 2;
    line.draw(painter, QPointF(r.x() + x, r.y() + y));
}

}  // namespace varnel
