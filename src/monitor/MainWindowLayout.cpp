#include "monitor/MainWindowLayout.h"

namespace varnel {

namespace {

constexpr int kPageShortfall = 19;
constexpr int kListNarrower = 9;
constexpr int kListShortfall = 53;
constexpr int kPaneGap = 18;
constexpr int kPaneShortfall = 5;
constexpr int kToolBarFromRight = 51;
constexpr int kToolBarTop = 4;
constexpr int kToolBarHeight = 30;

}  // namespace

MainWindowLayout MainWindowLayout::Compute(const ScreenRect& area, int splitSize, bool logView) {
    const int r = area.right;
    const int b = area.bottom;
    MainWindowLayout out;
    out.page = {0, 0, r, b - kPageShortfall};
    if (logView) {
        out.list = {0, 0, r - kListNarrower, b - splitSize - kListShortfall};
        out.pane = {area.left + 1, b - splitSize - kPaneGap, r - kListNarrower, splitSize - kPaneShortfall};
        out.paneShown = true;
    } else {
        out.list = {0, 0, r - kListNarrower, b - kListShortfall};
    }
    out.toolBar = {r - kToolBarFromRight, kToolBarTop, r, kToolBarHeight};
    return out;
}

}  // namespace varnel
