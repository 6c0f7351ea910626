#pragma once

#include <cstddef>
#include <string_view>

namespace varnel {

// Copies `text` into the fixed buffer `dst` of `dstSize` bytes (dstSize >= 1) and terminates it.
// A text that does not fit is cut at the last whole UTF-8 character that fits, so a cut never
// leaves half a character behind. Returns the number of bytes stored (without the terminator).
size_t CopyFixedText(char* dst, size_t dstSize, std::string_view text);

// Length of the longest prefix of `text` of at most `maxBytes` bytes that ends on a UTF-8
// character boundary.
size_t Utf8PrefixLength(std::string_view text, size_t maxBytes);

}  // namespace varnel
