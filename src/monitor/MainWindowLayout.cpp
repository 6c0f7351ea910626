#include "monitor/MainWindowLayout.h"

#include <algorithm>
#include <climits>

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

// The split size comes from the settings file as any int: the sums are made wide and saturate.
int Sum(long long value) {
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

}  // namespace

MainWindowLayout MainWindowLayout::Compute(const ScreenRect& area, int splitSize, bool logView) {
    const long long r = area.right;
    const long long b = area.bottom;
    const long long s = splitSize;
    MainWindowLayout out;
    out.page = {0, 0, Sum(r), Sum(b - kPageShortfall)};
    if (logView) {
        out.list = {0, 0, Sum(r - kListNarrower), Sum(b - s - kListShortfall)};
        out.pane = {Sum(area.left + 1LL), Sum(b - s - kPaneGap), Sum(r - kListNarrower),
                    Sum(s - kPaneShortfall)};
        out.paneShown = true;
    } else {
        out.list = {0, 0, Sum(r - kListNarrower), Sum(b - kListShortfall)};
    }
    out.toolBar = {Sum(r - kToolBarFromRight), kToolBarTop, Sum(r), kToolBarHeight};
    return out;
}

}  // namespace varnel
