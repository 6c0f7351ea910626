#pragma once

#include "display/core/ScreenRect.h"

namespace varnel {

// Where the main window puts the page's inner windows. `area` is the tab's client rectangle less
// the tab's margins (4 left, 23 top, 5 right, 5 bottom); `splitSize` is the log pane's height
// allowance, taken as it is (sums that would leave int saturate); `logView` whether the pane is shown. A
// window that keeps its position has only its size set here (x and y stay 0).
//
// Example: split 100 with the pane on and a bottom of 400 gives a list 247 high and a pane at
// y 282, 95 high.
struct MainWindowLayout {
    struct Box {
        int x = 0;
        int y = 0;
        int width = 0;
        int height = 0;
        bool operator==(const Box&) const = default;
    };

    Box page;     // size only
    Box list;     // size only
    Box pane;     // empty while the pane is hidden
    Box toolBar;  // position and size
    bool paneShown = false;

    static MainWindowLayout Compute(const ScreenRect& area, int splitSize, bool logView);
};

}  // namespace varnel
