#include "app/shell/WindowPlacementText.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace varnel {

std::optional<WindowPlacementText> WindowPlacementText::Parse(std::string_view text) {
    // strtoll needs a terminated string; a value is short, so a copy is cheap.
    const std::string copy(text);
    const char* p = copy.c_str();
    int values[10];
    for (int i = 0; i < 10; ++i) {
        if (i > 0) {
            if (*p != ':') return std::nullopt;
            ++p;
        }
        char* end = nullptr;
        errno = 0;
        const long long value = std::strtoll(p, &end, 0);
        if (end == p || errno == ERANGE || value < INT_MIN || value > INT_MAX) return std::nullopt;
        values[i] = static_cast<int>(value);
        p = end;
    }
    WindowPlacementText out;
    out.flags = values[0];
    out.showCommand = values[1];
    out.minimizedPosition = {values[2], values[3]};
    out.maximizedPosition = {values[4], values[5]};
    out.restored = {values[6], values[7], values[8], values[9]};
    return out;
}

std::string WindowPlacementText::Format() const {
    char text[160];
    std::snprintf(text, sizeof text, "%i:%i:%i:%i:%i:%i:%i:%i:%i:%i", flags, showCommand, minimizedPosition.x,
                  minimizedPosition.y, maximizedPosition.x, maximizedPosition.y, restored.left, restored.top,
                  restored.right, restored.bottom);
    return text;
}

}  // namespace varnel
