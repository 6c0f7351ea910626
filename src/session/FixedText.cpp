#include "session/FixedText.h"

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

}  // namespace varnel
