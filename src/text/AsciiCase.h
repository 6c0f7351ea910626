#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varnel {

// ASCII case folding for texts that compare without regard to case (DNS names: a PTR answer
// picks its own case). Only A-Z fold; every other byte, UTF-8 included, compares as it is.
// Stateless; any thread. None of these allocate except AsciiLowered.

inline char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// `text` with A-Z turned to a-z.
std::string AsciiLowered(std::string_view text);
// Folds `text` (a NUL-terminated buffer) in place.
void AsciiLowerInPlace(char* text);

// The tests below take `folded` already lowered (fold a pattern once, when it is read) and fold
// only `text` as they go.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);
bool EndsWithFolded(std::string_view text, std::string_view folded);
bool ContainsFolded(std::string_view text, std::string_view folded);

}  // namespace varnel
