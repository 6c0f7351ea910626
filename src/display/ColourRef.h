#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <QPalette>
#include <cstdint>

namespace varnel {

// Conversions between the scheme's 0x00BBGGRR colour values and QColor. The top byte of a stored
// value is ignored when it is drawn.
inline QColor ToQColor(uint32_t ref) {
    return QColor(static_cast<int>(ref & 0xFF), static_cast<int>((ref >> 8) & 0xFF),
                  static_cast<int>((ref >> 16) & 0xFF));
}

inline uint32_t ToColourRef(const QColor& c) {
    return static_cast<uint32_t>(c.red()) | (static_cast<uint32_t>(c.green()) << 8) |
           (static_cast<uint32_t>(c.blue()) << 16);
}

// Gives a scroll area's viewport the scheme's background and text colours in every colour group
// (an inactive or disabled widget must not change colour) and has it fill its whole area with the
// background, including the part no content covers.
inline void ApplyViewportColours(QAbstractScrollArea& area, uint32_t background, uint32_t text) {
    QPalette pal = area.palette();
    const QColor bg = ToQColor(background), fg = ToQColor(text);
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        pal.setColor(g, QPalette::Base, bg);
        pal.setColor(g, QPalette::Text, fg);
    }
    area.setPalette(pal);
    area.viewport()->setAutoFillBackground(true);
    area.viewport()->update();
}

}  // namespace varnel
