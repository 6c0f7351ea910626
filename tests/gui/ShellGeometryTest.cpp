// The main window's arithmetic without widgets: sticky edges, the saved placement text, the layout.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "app/shell/SnapToEdges.h"
#include "app/shell/WindowFrame.h"
#include "app/shell/WindowPlacementText.h"
#include "monitor/MainWindowLayout.h"

namespace varnel {
namespace {

constexpr ScreenRect kScreen{0, 0, 1280, 768};
// A work area whose right edge is a taskbar on the right of a 1280-pixel screen.
constexpr ScreenRect kWorkToTaskbar{0, 0, 1024, 768};

ScreenRect Window(int left, int top, int width = 400, int height = 300) {
    return {left, top, left + width, top + height};
}

// Proposes the same rectangle `times` times (the user keeps dragging against the edge) and returns
// the left and top the snap gave each time.
std::vector<ScreenPoint> Drag(SnapToEdgesState& state, ScreenRect proposed, int times,
                              const ScreenRect& work = kScreen) {
    std::vector<ScreenPoint> out;
    for (int i = 0; i < times; ++i) {
        ScreenRect r = proposed;
        SnapToEdges(state, r, {-100, -100}, work);
        EXPECT_EQ(r.width(), proposed.width());
        EXPECT_EQ(r.height(), proposed.height());
        out.push_back({r.left, r.top});
    }
    return out;
}

std::vector<int> Lefts(const std::vector<ScreenPoint>& points) {
    std::vector<int> out;
    for (ScreenPoint p : points) out.push_back(p.x);
    return out;
}

std::vector<int> Tops(const std::vector<ScreenPoint>& points) {
    std::vector<int> out;
    for (ScreenPoint p : points) out.push_back(p.y);
    return out;
}

TEST(SnapToEdgesTest, EachEdgeHoldsFiveTimesThenLetsGoEightPast) {
    struct Case {
        const char* edge;
        ScreenRect proposed;
        const ScreenRect& work;
        std::vector<int> lefts;
        std::vector<int> tops;
    };
    const Case cases[] = {
        {"left inside", Window(3, 100), kScreen, {0, 0, 0, 0, 0, 8}, {100, 100, 100, 100, 100, 100}},
        {"left outside", Window(-3, 100), kScreen, {0, 0, 0, 0, 0, -8}, {100, 100, 100, 100, 100, 100}},
        {"top inside", Window(300, 5), kScreen, {300, 300, 300, 300, 300, 300}, {0, 0, 0, 0, 0, 8}},
        {"top outside", Window(300, -5), kScreen, {300, 300, 300, 300, 300, 300}, {0, 0, 0, 0, 0, -8}},
        // Right edge 1020 inside a work area ending at 1024: held at 1024, let go at 1016.
        {"right inside",
         Window(620, 100),
         kWorkToTaskbar,
         {624, 624, 624, 624, 624, 616},
         {100, 100, 100, 100, 100, 100}},
        {"right outside",
         Window(627, 100),
         kWorkToTaskbar,
         {624, 624, 624, 624, 624, 632},
         {100, 100, 100, 100, 100, 100}},
        {"bottom inside",
         Window(300, 465),
         kScreen,
         {300, 300, 300, 300, 300, 300},
         {468, 468, 468, 468, 468, 460}},
        {"bottom outside",
         Window(300, 471),
         kScreen,
         {300, 300, 300, 300, 300, 300},
         {468, 468, 468, 468, 468, 476}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.edge);
        SnapToEdgesState state;
        auto points = Drag(state, c.proposed, 6, c.work);
        EXPECT_EQ(Lefts(points), c.lefts);
        EXPECT_EQ(Tops(points), c.tops);
        EXPECT_EQ(state.hold, 0);
    }
}

TEST(SnapToEdgesTest, RightEdgeSticksToTheWorkAreaNotTheScreen) {
    SnapToEdgesState state;
    ScreenRect r = Window(621, 200);  // right 1021
    SnapToEdges(state, r, {800, 300}, kWorkToTaskbar);
    EXPECT_EQ(r, Window(624, 200));
    // Far from every edge nothing changes and the counter stays.
    ScreenRect free = Window(400, 200);
    SnapToEdges(state, free, {500, 300}, kWorkToTaskbar);
    EXPECT_EQ(free, Window(400, 200));
    EXPECT_EQ(state.hold, 1);
    EXPECT_EQ(state.lastLeft, 400);
    EXPECT_EQ(state.lastTop, 200);
}

TEST(SnapToEdgesTest, OneCounterForAllEdges) {
    SnapToEdgesState state;
    // Near the left and the top at once: two holds in one move.
    ScreenRect corner = Window(2, 3);
    SnapToEdges(state, corner, {0, 0}, kScreen);
    EXPECT_EQ(corner, Window(0, 0));
    EXPECT_EQ(state.hold, 2);
    // Three more holds on the left alone bring it to five; the next edge rule lets go, on the top.
    auto lefts = Lefts(Drag(state, Window(4, 200), 3));
    EXPECT_EQ(lefts, (std::vector<int>{0, 0, 0}));
    ScreenRect top = Window(300, 6);
    SnapToEdges(state, top, {0, 0}, kScreen);
    EXPECT_EQ(top, Window(300, 8));
    EXPECT_EQ(state.hold, 0);
}

TEST(SnapToEdgesTest, MovingAlongOneAxisPullsALeadingEdgeTheRulesLeftShortOfTheScreen) {
    // A window nearly as wide as the work area: holding its right edge at 1024 leaves its left at 4.
    SnapToEdgesState state;
    state.lastLeft = 10;
    state.lastTop = 100;
    ScreenRect r{2, 100, 1022, 400};  // moving left only, cursor inside
    SnapToEdges(state, r, {500, 200}, kWorkToTaskbar);
    // The left-inside rule holds at 0, the right-inside rule then moves it to 4; the pull takes it
    // back to 0.
    EXPECT_EQ(r, (ScreenRect{0, 100, 1020, 400}));

    // The same with the cursor outside the window's extent: no pull.
    SnapToEdgesState outside;
    outside.lastLeft = 10;
    outside.lastTop = 100;
    ScreenRect s{2, 100, 1022, 400};
    SnapToEdges(outside, s, {1100, 200}, kWorkToTaskbar);
    EXPECT_EQ(s, (ScreenRect{4, 100, 1024, 400}));

    // Diagonal moves are no single direction: no pull either.
    SnapToEdgesState diagonal;
    diagonal.lastLeft = 10;
    diagonal.lastTop = 120;
    ScreenRect d{2, 100, 1022, 400};
    SnapToEdges(diagonal, d, {500, 200}, kWorkToTaskbar);
    EXPECT_EQ(d, (ScreenRect{4, 100, 1024, 400}));
}

TEST(WindowPlacementTextTest, ReadsTenIntegersAndWritesThemBack) {
    auto p = WindowPlacementText::Parse("0:1:-1:-1:-1:-1:100:100:900:600");
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(p->flags, 0);
    EXPECT_EQ(p->showCommand, WindowPlacementText::kShowNormal);
    EXPECT_EQ(p->minimizedPosition.x, -1);
    EXPECT_EQ(p->maximizedPosition.y, -1);
    EXPECT_EQ(p->restored, (ScreenRect{100, 100, 900, 600}));
    EXPECT_EQ(p->Format(), "0:1:-1:-1:-1:-1:100:100:900:600");

    WindowPlacementText maximised;
    maximised.flags = WindowPlacementText::kRestoreToMaximized;
    maximised.showCommand = WindowPlacementText::kShowMaximized;
    maximised.restored = {-30, 20, 2000, 1500};
    EXPECT_EQ(WindowPlacementText::Parse(maximised.Format()), std::optional(maximised));

    // Numbers as %i reads them: hexadecimal, octal, signs, leading blanks; text after the tenth.
    auto bases = WindowPlacementText::Parse("0x2: 3:-1:+1:0:0:010:0x10:900:600 trailing");
    ASSERT_TRUE(bases.has_value());
    EXPECT_EQ(bases->flags, 2);
    EXPECT_EQ(bases->showCommand, 3);
    EXPECT_EQ(bases->minimizedPosition.y, 1);
    EXPECT_EQ(bases->restored.left, 8);
    EXPECT_EQ(bases->restored.top, 16);
}

TEST(WindowPlacementTextTest, ValuesThatDoNotLoadAreIgnored) {
    for (const char* text :
         {"", "0:1:-1:-1:-1:-1:100:100:900", "0:1:-1:-1:-1:-1:100:100:900:", "0:1:-1:-1:-1:-1:100:100:900:x",
          "0;1;-1;-1;-1;-1;100;100;900;600", "0:1:-1:-1:-1:-1:100 :100:900:600",
          "0:1:-1:-1:-1:-1:100:100:900:99999999999", "garbage"}) {
        EXPECT_FALSE(WindowPlacementText::Parse(text).has_value()) << text;
    }
}

TEST(WindowFrameTest, OuterAndClientRectanglesTurnIntoEachOther) {
    const WindowFrame frame{4, 24, 5, 6};
    EXPECT_EQ(frame.Outer({104, 124, 895, 594}), (ScreenRect{100, 100, 900, 600}));
    EXPECT_EQ(frame.Client({100, 100, 900, 600}), (ScreenRect{104, 124, 895, 594}));
    EXPECT_EQ(frame.Client({0, 0, 803, 440}).width(), 794);
    EXPECT_EQ(frame.Client({0, 0, 803, 440}).height(), 410);
    // An outer rectangle smaller than the frame leaves an empty client area, not a negative one.
    EXPECT_EQ(frame.Client({10, 10, 15, 20}), (ScreenRect{14, 34, 14, 34}));
    EXPECT_EQ(WindowFrame{}.Client({10, 10, 15, 20}), (ScreenRect{10, 10, 15, 20}));
}

TEST(MainWindowLayoutTest, ListAndPaneShareTheHeightBySplitSize) {
    const ScreenRect area{4, 23, 794, 400};
    MainWindowLayout with = MainWindowLayout::Compute(area, 100, true);
    EXPECT_EQ(with.page, (MainWindowLayout::Box{0, 0, 794, 381}));
    EXPECT_EQ(with.list.height, 247);
    EXPECT_EQ(with.list.width, 785);
    EXPECT_TRUE(with.paneShown);
    EXPECT_EQ(with.pane, (MainWindowLayout::Box{5, 282, 785, 95}));
    EXPECT_EQ(with.toolBar, (MainWindowLayout::Box{743, 4, 794, 30}));

    MainWindowLayout without = MainWindowLayout::Compute(area, 100, false);
    EXPECT_EQ(without.list.height, 347);
    EXPECT_FALSE(without.paneShown);
    EXPECT_EQ(without.pane, MainWindowLayout::Box{});

    // The split size is taken as it is.
    EXPECT_EQ(MainWindowLayout::Compute(area, 5, true).pane.height, 0);
    EXPECT_EQ(MainWindowLayout::Compute(area, 200, true).list.height, 147);
    // A split from a hostile file saturates instead of wrapping round.
    EXPECT_EQ(MainWindowLayout::Compute(area, INT_MIN, true).list.height, INT_MAX);
    EXPECT_EQ(MainWindowLayout::Compute(area, INT_MIN, true).pane.height, INT_MIN);
}

}  // namespace
}  // namespace varnel
