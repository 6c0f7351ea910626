#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "display/core/ScreenRect.h"

namespace varnel {

// The saved window placement, one settings value of ten integers joined by colons: flags, show
// command, minimised position x and y, maximised position x and y, restored rectangle left, top,
// right, bottom. Example: "0:1:-1:-1:-1:-1:100:100:900:600".
struct WindowPlacementText {
    static constexpr int kRestoreToMaximized = 2;  // flag: the window was maximised
    static constexpr int kShowNormal = 1;
    static constexpr int kShowMinimized = 2;
    static constexpr int kShowMaximized = 3;

    int flags = 0;
    int showCommand = kShowNormal;
    ScreenPoint minimizedPosition{-1, -1};
    ScreenPoint maximizedPosition{-1, -1};
    ScreenRect restored;

    // The placement of a value holding ten integers, each decimal, 0x-hexadecimal or 0-octal with
    // an optional sign and leading blanks, separated by single colons; text after the tenth is
    // ignored. Nothing for an empty value, a missing or unreadable number, or one outside int.
    static std::optional<WindowPlacementText> Parse(std::string_view text);
    // The ten integers in decimal.
    std::string Format() const;

    bool operator==(const WindowPlacementText&) const = default;
};

}  // namespace varnel
