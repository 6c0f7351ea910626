#include "text/FixedText.h"

#include <cstring>

namespace varnel {

size_t Utf8PrefixLength(std::string_view text, size_t maxBytes) {
    if (text.size() <= maxBytes) return text.size();
    size_t n = maxBytes;
    // Step back over continuation bytes (10xxxxxx) to the lead byte of the character at the cut;
    // that character does not fit whole, so the prefix ends right before it.
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    return n;
}

size_t CopyFixedText(char* dst, size_t dstSize, std::string_view text) {
    size_t n = Utf8PrefixLength(text, dstSize - 1);
    if (n > 0) std::memcpy(dst, text.data(), n);  // an empty view may have no data at all
    dst[n] = '\0';
    return n;
}

std::string PrintableLine(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            out += ' ';
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80) {
            out += ' ';
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace varnel
