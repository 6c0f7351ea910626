#pragma once

#include "display/core/ScreenRect.h"

namespace varnel {

// The window system's frame around a window's client area: its thickness on each side in pixels
// (all 0 without a frame, or before the window system has told it). The saved placement and the
// window's start size are outer rectangles; the toolkit places client areas.
struct WindowFrame {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    // The outer rectangle around the client rectangle `client`.
    ScreenRect Outer(const ScreenRect& client) const;
    // The client rectangle inside the outer rectangle `outer`; never narrower or lower than 0.
    ScreenRect Client(const ScreenRect& outer) const;

    bool operator==(const WindowFrame&) const = default;
};

}  // namespace varnel
