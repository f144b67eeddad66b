// The splitter's geometry: where bar and panes lie, the clamp of a drag and the pull-back of a bar left
// outside the client area after a resize; the layout's sizes at a screen's DPI.
#include <gtest/gtest.h>

#include "browser/DpiScale.h"
#include "browser/SplitterGeometry.h"

#include <climits>
#include <ostream>
#include <utility>
#include <vector>

std::ostream& operator<<(std::ostream& out, const SplitRect& r) {
    return out << "{" << r.left << "," << r.top << "," << r.right << "," << r.bottom << "}";
}

namespace {

const SplitMetrics kMetrics{4, 1};
const SplitRect kClient{0, 0, 640, 330};

// A vertical bar as the main window sets it up: both panes 200 wide, then a first size of 640 x 330.
CSplitterGeometry Sized() {
    CSplitterGeometry geometry;
    geometry.Attach({0, 0, 200, 100}, {0, 0, 200, 100}, kMetrics);
    geometry.FitClient(kClient, 640, 330, kMetrics);
    return geometry;
}

} // namespace

TEST(SplitterGeometry, BarIsCentredOnTheFirstPaneAndBothPanesReachUnderIt) {
    CSplitterGeometry vertical;
    vertical.Attach({0, 0, 200, 100}, {0, 0, 200, 100}, kMetrics);
    EXPECT_EQ(vertical.FirstPane(kMetrics), (SplitRect{0, 0, 199, 100}));
    EXPECT_EQ(vertical.SecondPane(kMetrics), (SplitRect{201, 0, 201, 100})) << "empty, never negative";
    EXPECT_EQ(vertical.LowerLimit(), 0);
    EXPECT_EQ(vertical.UpperLimit(), 200);
    // An odd frame metric (5 here, 4 in kMetrics) still gives an even bar: twice the half thickness.
    EXPECT_EQ(vertical.Bar(SplitMetrics{5, 1}), (SplitRect{198, 0, 202, 100}));
}

TEST(SplitterGeometry, AReleaseOutsideTheClientAreaStopsAtItsEdgeUntilTheNextResize) {
    CSplitterGeometry geometry = Sized();
    EXPECT_EQ(geometry.FirstPane(kMetrics), (SplitRect{0, 0, 199, 330}));
    EXPECT_EQ(geometry.SecondPane(kMetrics), (SplitRect{201, 0, 640, 330}));

    geometry.MoveTo(-40);
    EXPECT_EQ(geometry.Position(), 0);
    EXPECT_EQ(geometry.FirstPane(kMetrics), (SplitRect{0, 0, 1, 330}));

    // Beyond the right edge the bar stops at the client width: the tree covers it all, the list has no width.
    geometry.MoveTo(900);
    EXPECT_EQ(geometry.Bar(kMetrics), (SplitRect{640, 0, 644, 330}));
    EXPECT_EQ(geometry.FirstPane(kMetrics).right, 641);
    EXPECT_EQ(geometry.SecondPane(kMetrics).left, geometry.SecondPane(kMetrics).right);
    // The tracker follows the mouse itself.
    EXPECT_EQ(geometry.BarAt(900, kMetrics).left, 900);

    // The next resize pulls it back, centred 10 pixels inside.
    geometry.FitClient(kClient, 640, 330, kMetrics);
    EXPECT_EQ(geometry.Bar(kMetrics), (SplitRect{628, 0, 632, 330}));

    // A bar beyond the left edge comes back the same way.
    CSplitterGeometry left;
    left.Attach({-60, 0, -20, 100}, {-60, 0, 300, 100}, kMetrics);
    left.FitClient(kClient, 640, 330, kMetrics);
    EXPECT_EQ(left.Bar(kMetrics), (SplitRect{8, 0, 12, 330}));
    EXPECT_EQ(left.FirstPane(kMetrics), (SplitRect{0, 0, 9, 330}));
}

TEST(SplitterGeometry, AResizeKeepsABarThatStaysInsideAndPullsBackOneThatDoesNot) {
    CSplitterGeometry geometry = Sized();
    geometry.MoveTo(300);
    geometry.FitClient({0, 0, 500, 200}, 500, 200, kMetrics);
    EXPECT_EQ(geometry.Bar(kMetrics), (SplitRect{300, 0, 304, 200}));
    EXPECT_EQ(geometry.SecondPane(kMetrics), (SplitRect{303, 0, 500, 200})) << "only the list follows";
    EXPECT_EQ(geometry.UpperLimit(), 500);

    // Narrower than the bar's place: centred 10 pixels inside the new edge, the list 11 - h wide.
    geometry.FitClient({0, 0, 200, 200}, 200, 200, kMetrics);
    EXPECT_EQ(geometry.Bar(kMetrics), (SplitRect{188, 0, 192, 200}));
    const SplitRect list = geometry.SecondPane(kMetrics);
    EXPECT_EQ(list.right - list.left, 11 - kMetrics.Half());
    EXPECT_EQ(geometry.FirstPane(kMetrics).right, 189);
}

TEST(DpiScale, RoundsAsTheSystemDoesAndAStoredLayoutSurvivesEveryScreen) {
    // MulDiv's rounding (halves away from zero, either sign), its -1 answers, no 32-bit intermediate.
    EXPECT_EQ(MulDivRounded(3, 1, 2), 2);
    EXPECT_EQ(MulDivRounded(-3, 1, 2), -2);
    EXPECT_EQ(MulDivRounded(3, 1, -2), -2);
    EXPECT_EQ(MulDivRounded(5, 1, 4), 1);
    EXPECT_EQ(MulDivRounded(7, 1, 0), -1);
    EXPECT_EQ(MulDivRounded(INT_MAX, 2, 1), -1);
    EXPECT_EQ(MulDivRounded(INT_MAX, 192, 192), INT_MAX);

    // The defaults (columns 200, 75, 125, the bar at 200) at the four densities: 75 and 125 at 144 DPI
    // are halves, rounded up as MulDiv does, not cut.
    const int dpis[] = {96, 120, 144, 192};
    const int expected[][3] = {{200, 75, 125}, {250, 94, 156}, {300, 113, 188}, {400, 150, 250}};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ((std::vector<int>{ToPixels(200, dpis[i]), ToPixels(75, dpis[i]), ToPixels(125, dpis[i])}),
                  (std::vector<int>(expected[i], expected[i] + 3)))
            << dpis[i] << " DPI";
    EXPECT_EQ(ToPixels(200, 0), 200) << "no DPI known: 96";

    // Every value the store accepts, shown at any of them and stored again, is the value stored; a width
    // taken from one screen to another keeps its size in units.
    for (int dpi : dpis) {
        int changed = 0;
        for (int units = 0; units <= 10000; ++units)
            changed += ToUnits(ToPixels(units, dpi), dpi) != units;
        EXPECT_EQ(changed, 0) << dpi << " DPI";
    }
    EXPECT_EQ(Rescale(113, 144, 120), 94);
    EXPECT_EQ(Rescale(400, 192, 96), 200);

    // The bar's metrics grow with the density: 4 and 1 at 96 DPI are 6 and 2 (a half, up) at 144.
    const SplitMetrics at144 = SplitMetrics{4, 1}.ScaledTo(144);
    EXPECT_EQ(std::make_pair(at144.frame, at144.border), std::make_pair(6, 2));
    const SplitMetrics at96 = SplitMetrics{4, 1}.ScaledTo(96);
    EXPECT_EQ(std::make_pair(at96.frame, at96.border), std::make_pair(4, 1));
}
