// The splitter's geometry: where bar and panes lie, the clamp of a drag and the pull-back of a bar left
// outside the client area after a resize.
#include <gtest/gtest.h>

#include "browser/SplitterGeometry.h"

#include <ostream>

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
