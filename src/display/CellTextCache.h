#pragma once

#include <QFont>
#include <QRect>
#include <QString>
#include <QTextLayout>
#include <cstddef>
#include <memory>
#include <unordered_map>

class QFontMetrics;
class QPainter;

namespace varnel {

// Draws one line of cell text cut with "…" at the end, exactly as
//   painter->drawText(rect, alignment | Qt::AlignVCenter | Qt::TextSingleLine,
//                     metrics.elidedText(text, Qt::ElideRight, rect.width()))
// would, but keeps the elided and shaped text of each (text, width) so that a cell whose text did not
// change is not elided and shaped again on every repaint.
//
// The cache keeps the texts in use, in two generations: a text found in the older moves to the newer,
// and the older is dropped (the newer becoming the older) when the draws since the last turn exceed
// eight times the newer's size and kMinWindow, or when the newer holds half of `capacity`. A text
// thus survives while it is drawn now and then, and memory follows what the view shows rather than
// how long it has run. Everything is dropped when the font, the painter's layout direction or the device's
// resolution differ from those the texts were shaped with. Texts holding control characters or length
// variants, and texts the painter lays out right to left, go through drawText uncached. Not copyable; UI
// thread only.
class CellTextCache {
  public:
    static constexpr std::size_t kDefaultCapacity = 4096;
    static constexpr std::size_t kMinWindow = 256;

    explicit CellTextCache(std::size_t capacity = kDefaultCapacity);
    ~CellTextCache();
    CellTextCache(const CellTextCache&) = delete;
    CellTextCache& operator=(const CellTextCache&) = delete;

    // Draws `text` into `rect` in the painter's current pen with `font`, set on the painter here.
    // `metrics` are those of `font` on the view (as QStyleOptionViewItem::fontMetrics); the elision
    // is measured with them. `alignment` is horizontal: left, right or centred. The caller has
    // clipped the painter to `rect`. Nothing is drawn into an empty rectangle.
    void Draw(QPainter* painter, const QRect& rect, Qt::Alignment alignment, const QFont& font,
              const QFontMetrics& metrics, const QString& text);

    // Texts held, both generations.
    std::size_t size() const { return current_.size() + previous_.size(); }
    std::size_t capacity() const { return capacity_; }
    void Clear();

  private:
    struct Key {
        QString text;
        int width;
        bool operator==(const Key& o) const { return width == o.width && text == o.text; }
    };
    struct KeyHash {
        std::size_t operator()(const Key& k) const;
    };
    // The elided text shaped on one line at (0, 0); `width` and `height` are what drawText centres by.
    struct Entry {
        std::unique_ptr<QTextLayout> layout;
        qreal width = 0;
        qreal height = 0;
    };

    const Entry* Find(QPainter* painter, const QFont& font, const QFontMetrics& metrics, const QString& text,
                      int width);
    static bool NeedsDrawText(const QString& text);
    void Turn();

    using Map = std::unordered_map<Key, Entry, KeyHash>;
    std::size_t capacity_;
    Map current_;            // drawn since the last turn
    Map previous_;           // drawn in the window before, not since
    std::size_t draws_ = 0;  // since the last turn
    // What the cached texts were shaped with.
    QFont font_;
    int dpiX_ = 0;
    int dpiY_ = 0;
    Qt::LayoutDirection direction_ = Qt::LeftToRight;
};

}  // namespace varnel
