#pragma once

#include <QColor>
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

}  // namespace varnel
