#include "session/QuickFilter.h"

#include "text/AsciiCase.h"

namespace varnel {

void QuickFilter::SetText(std::string_view text) {
    words_.clear();
    std::string word;
    for (char c : text) {
        if (static_cast<unsigned char>(c) <= ' ' || c == '\x7f') {
            if (!word.empty()) words_.push_back(AsciiLowered(word));
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words_.push_back(AsciiLowered(word));
}

bool QuickFilter::Matches(const SessionRow& row) const {
    for (const std::string& word : words_) {
        bool found = false;
        for (int c = 0; c < kColumnCount && !found; ++c) found = ContainsFolded(row.text[c], word);
        if (!found) return false;
    }
    return true;
}

}  // namespace varnel
