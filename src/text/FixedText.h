#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varnel {

// Copies `text` into the fixed buffer `dst` of `dstSize` bytes (dstSize >= 1) and terminates it.
// A text that does not fit is cut at the last whole UTF-8 character that fits, so a cut never
// leaves half a character behind. Returns the number of bytes stored (without the terminator).
size_t CopyFixedText(char* dst, size_t dstSize, std::string_view text);

// Length of the longest prefix of `text` of at most `maxBytes` bytes that ends on a UTF-8
// character boundary.
size_t Utf8PrefixLength(std::string_view text, size_t maxBytes);

// `text` as one line that is safe to print on a terminal or show in the log pane: every C0
// control byte (0x00..0x1F, so TAB, CR, LF and the ESC that starts a terminal's escape sequence),
// DEL and every C1 control character (U+0080..U+009F, the UTF-8 pairs C2 80..C2 9F) becomes one
// space. Everything else passes unchanged, multibyte UTF-8 text and bytes that are no valid UTF-8
// included: a terminal in UTF-8 mode takes a lone byte 0x80..0x9F for a bad character, not for a
// control.
std::string PrintableLine(std::string_view text);

}  // namespace varnel
