// The cache's drawing must be drawText's, pixel for pixel, whether the text is shaped now or taken
// from the cache; and the cache must stay within its bounds.

#include <gtest/gtest.h>

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QString>
#include <functional>
#include <utility>
#include <vector>

#include "display/CellTextCache.h"

namespace varnel {
namespace {

constexpr QRgb kBackground = 0xFF102030;

Qt::LayoutDirection gDirection = Qt::LayoutDirectionAuto;

QImage Paint(QImage::Format format, const std::function<void(QPainter&)>& draw) {
    QImage img(260, 40, format);
    img.fill(kBackground);
    QPainter p(&img);
    p.setLayoutDirection(gDirection);
    p.setPen(QColor(0xFFE0C040));
    draw(p);
    p.end();
    return img;
}

QImage Reference(QImage::Format format, const QFont& font, const QRect& rect, Qt::Alignment alignment,
                 const QString& text) {
    return Paint(format, [&](QPainter& p) {
        const QFontMetrics metrics(font);
        p.setClipRect(rect);
        p.setFont(font);
        p.drawText(rect, static_cast<int>(alignment | Qt::AlignVCenter) | Qt::TextSingleLine,
                   metrics.elidedText(text, Qt::ElideRight, rect.width()));
    });
}

QImage Cached(CellTextCache& cache, QImage::Format format, const QFont& font, const QRect& rect,
              Qt::Alignment alignment, const QString& text) {
    return Paint(format, [&](QPainter& p) {
        p.setClipRect(rect);
        cache.Draw(&p, rect, alignment, font, QFontMetrics(font), text);
    });
}

QFont Font(bool antialiased, int pointSize) {
    QFont font("DejaVu Sans", pointSize);
    if (!antialiased) font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

TEST(CellTextCacheTest, DrawsWhatDrawTextDrawsShapedOrCached) {
    const std::vector<QString> texts = {
        "",
        "443",
        "Connecting",
        "host-93.184.0.117.example.co.jp",
        "firefox-esr-with-a-long-name(77)",
        "trailing spaces   ",
        "   leading spaces",
        "a&b && c",
        "x\ty\r\nz",                                       // drawn through drawText
        QString::fromUtf8("ﬁne office fi"),                // ligatures
        QString::fromUtf8("日本語のホスト名.example.jp"),  // fallback fonts
        QString::fromUtf8("مرحبا host"),                   // right-to-left script in a left-to-right line
        QString(QChar(0x2026)),
    };
    const std::vector<QRect> rects = {QRect(4, 1, 200, 15), QRect(7, 3, 57, 16), QRect(5, 2, 23, 14),
                                      QRect(4, 1, 1, 15),   QRect(3, 0, 61, 17), QRect(9, 5, 120, 13)};
    const Qt::Alignment alignments[] = {Qt::AlignLeft, Qt::AlignRight, Qt::AlignHCenter};
    // A widget's painter lays out left to right, an image's in the direction of the text.
    for (auto [format, direction] : {std::pair{QImage::Format_ARGB32_Premultiplied, Qt::LeftToRight},
                                     std::pair{QImage::Format_RGB32, Qt::LeftToRight},
                                     std::pair{QImage::Format_ARGB32_Premultiplied, Qt::LayoutDirectionAuto},
                                     std::pair{QImage::Format_RGB32, Qt::RightToLeft}}) {
        gDirection = direction;
        for (const QFont& font : {Font(true, 9), Font(false, 9), Font(true, 11)}) {
            CellTextCache cache;
            for (int pass = 0; pass < 2; ++pass) {  // the first shapes, the second finds
                for (const QString& text : texts)
                    for (const QRect& rect : rects)
                        for (Qt::Alignment alignment : alignments) {
                            const QImage want = Reference(format, font, rect, alignment, text);
                            const QImage got = Cached(cache, format, font, rect, alignment, text);
                            ASSERT_EQ(got, want)
                                << "pass " << pass << " text \"" << text.toStdString() << "\" rect "
                                << rect.x() << "," << rect.y() << " " << rect.width() << "x" << rect.height()
                                << " alignment " << alignment << " font " << font.pointSize()
                                << (font.styleStrategy() & QFont::NoAntialias ? " aliased" : " antialiased");
                        }
            }
            // Each (text, width) once, control-character texts and empty widths not at all.
            EXPECT_LE(cache.size(), texts.size() * rects.size());
            if (direction != Qt::RightToLeft) {
                EXPECT_GT(cache.size(), 0u);
            }
        }
    }
}

TEST(CellTextCacheTest, StaysWithinItsCapacity) {
    gDirection = Qt::LayoutDirectionAuto;
    CellTextCache cache(64);
    const QFont font = Font(true, 9);
    const QFontMetrics metrics(font);
    QImage img(200, 20, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&img);
    for (int i = 0; i < 5000; ++i) {
        cache.Draw(&p, QRect(0, 0, 150, 17), Qt::AlignLeft, font, metrics, QString::number(i));
        ASSERT_LE(cache.size(), 64u) << i;
    }
}

TEST(CellTextCacheTest, KeepsTextsDrawnOnEveryRepaintAmongChangingOnes) {
    // A repaint of 40 cells: 36 of them the same on every repaint, 4 new each time.
    CellTextCache cache(4096);
    const QFont font = Font(true, 9);
    const QFontMetrics metrics(font);
    QImage img(200, 20, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&img);
    for (int repaint = 0; repaint < 500; ++repaint) {
        for (int i = 0; i < 36; ++i)
            cache.Draw(&p, QRect(0, 0, 150, 17), Qt::AlignLeft, font, metrics, QString("steady %1").arg(i));
        for (int i = 0; i < 4; ++i)
            cache.Draw(&p, QRect(0, 0, 150, 17), Qt::AlignLeft, font, metrics,
                       QString("changing %1").arg(repaint * 4 + i));
    }
    // Memory follows what is shown: the 2,000 changing texts do not pile up to the capacity.
    EXPECT_LT(cache.size(), 1000u);
    EXPECT_GE(cache.size(), 36u);
}

TEST(CellTextCacheTest, ShapesAgainForAnotherFont) {
    CellTextCache cache;
    QImage img(200, 20, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&img);
    const QFont small = Font(true, 9), large = Font(true, 14);
    for (int i = 0; i < 10; ++i)
        cache.Draw(&p, QRect(0, 0, 150, 17), Qt::AlignLeft, small, QFontMetrics(small), QString::number(i));
    EXPECT_EQ(cache.size(), 10u);
    cache.Draw(&p, QRect(0, 0, 150, 17), Qt::AlignLeft, large, QFontMetrics(large), "0");
    EXPECT_EQ(cache.size(), 1u);
}

}  // namespace
}  // namespace varnel
