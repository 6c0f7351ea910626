#include "session/ProcessText.h"

namespace varnel {

void SplitProcessText(std::string_view text, std::string_view& name, uint32_t& pid) {
    name = text;
    pid = 0;
    if (text.size() < 3 || text.back() != ')') return;
    const size_t open = text.rfind('(');
    if (open == std::string_view::npos || open + 2 >= text.size()) return;
    uint64_t value = 0;
    for (size_t i = open + 1; i + 1 < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9' || value > 0xFFFFFFFFull / 10) return;
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    if (value > 0xFFFFFFFFull) return;
    name = text.substr(0, open);
    pid = static_cast<uint32_t>(value);
}

}  // namespace varnel
