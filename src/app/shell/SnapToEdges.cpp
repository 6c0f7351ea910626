#include "app/shell/SnapToEdges.h"

namespace varnel {

namespace {

constexpr int kReach = 8;
constexpr int kHolds = 5;

enum Direction { kLeft = 1, kRight = 2, kUp = 4, kDown = 8 };

// True while the edge is held; false (and the counter restarted) when it is let go.
bool Hold(SnapToEdgesState& state) {
    if (state.hold < kHolds) {
        ++state.hold;
        return true;
    }
    state.hold = 0;
    return false;
}

// One axis: `low` and `high` are the rectangle's edges on it, `far` the work area's far edge.
void SnapAxis(SnapToEdgesState& state, int& low, int& high, int size, int far) {
    if (-kReach < low && low < 0) {
        const bool held = Hold(state);
        low = held ? 0 : -kReach;
        high = held ? size : size - kReach;
    }
    if (0 < low && low < kReach) {
        const bool held = Hold(state);
        low = held ? 0 : kReach;
        high = held ? size : size + kReach;
    }
    if (far < high && high < far + kReach) {
        high = Hold(state) ? far : far + kReach;
        low = high - size;
    }
    if (far - kReach < high && high < far) {
        high = Hold(state) ? far : far - kReach;
        low = high - size;
    }
}

}  // namespace

void SnapToEdges(SnapToEdgesState& state, ScreenRect& rect, ScreenPoint cursor, const ScreenRect& workArea) {
    int direction = 0;
    if (state.lastLeft > rect.left) direction |= kLeft;
    if (state.lastLeft < rect.left) direction |= kRight;
    if (state.lastTop > rect.top) direction |= kUp;
    if (state.lastTop < rect.top) direction |= kDown;
    const int width = rect.width();
    const int height = rect.height();

    SnapAxis(state, rect.left, rect.right, width, workArea.right);
    SnapAxis(state, rect.top, rect.bottom, height, workArea.bottom);

    const bool insideX = rect.left <= cursor.x && cursor.x <= rect.right;
    const bool insideY = rect.top <= cursor.y && cursor.y <= rect.bottom;
    switch (direction) {
        case kLeft:
            if (insideX && 0 < rect.left && rect.left < kReach) {
                rect.left = 0;
                rect.right = width;
            }
            break;
        case kRight:
            if (insideX && workArea.right - kReach < rect.right && rect.right < workArea.right) {
                rect.right = workArea.right;
                rect.left = workArea.right - width;
            }
            break;
        case kUp:
            if (insideY && 0 < rect.top && rect.top < kReach) {
                rect.top = 0;
                rect.bottom = height;
            }
            break;
        case kDown:
            if (insideY && workArea.bottom - kReach < rect.bottom && rect.bottom < workArea.bottom) {
                rect.bottom = workArea.bottom;
                rect.top = workArea.bottom - height;
            }
            break;
        default:
            break;
    }
    state.lastLeft = rect.left;
    state.lastTop = rect.top;
}

}  // namespace varnel
