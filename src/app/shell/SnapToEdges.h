#pragma once

#include "display/core/ScreenRect.h"

namespace varnel {

// What the sticky edges remember between two moves: the last position and one hold counter
// shared by all four edges.
struct SnapToEdgesState {
    int lastLeft = -1;
    int lastTop = 0;
    int hold = 0;
};

// Sticky screen edges for a window being dragged. `rect` is the proposed outer rectangle and is
// changed in place; `cursor` is the mouse position and `workArea` the usable part of the screen.
//
// An edge within 8 pixels of the screen's edge (either side) is held at it for five moves; the
// sixth lets it go 8 pixels past, and the count starts again. The left and top edges are the
// screen's origin, the right and bottom edges the work area's. Moving along one axis only, with
// the cursor inside the window's extent on that axis, also pulls the leading edge onto a screen
// edge less than 8 pixels ahead.
void SnapToEdges(SnapToEdgesState& state, ScreenRect& rect, ScreenPoint cursor, const ScreenRect& workArea);

}  // namespace varnel
