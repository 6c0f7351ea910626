#include "text/AsciiCase.h"

namespace varnel {

namespace {

// `text` holds `folded` at `at` when both are folded.
bool FoldedAt(std::string_view text, size_t at, std::string_view folded) {
    for (size_t i = 0; i < folded.size(); ++i)
        if (AsciiLower(text[at + i]) != folded[i]) return false;
    return true;
}

}  // namespace

std::string AsciiLowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = AsciiLower(c);
    return out;
}

void AsciiLowerInPlace(char* text) {
    for (; *text != '\0'; ++text) *text = AsciiLower(*text);
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

bool EndsWithFolded(std::string_view text, std::string_view folded) {
    return text.size() >= folded.size() && FoldedAt(text, text.size() - folded.size(), folded);
}

bool ContainsFolded(std::string_view text, std::string_view folded) {
    if (folded.size() > text.size()) return false;
    for (size_t at = 0; at + folded.size() <= text.size(); ++at)
        if (FoldedAt(text, at, folded)) return true;
    return false;
}

}  // namespace varnel
