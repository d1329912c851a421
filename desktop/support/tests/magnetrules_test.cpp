// Snapping geometry of the form magnet, with the clock given explicitly.
#include <gtest/gtest.h>

#include <random>

#include "support/magnetrules.h"

namespace om {
namespace {

constexpr double kT0 = 46000.5;             // some day, noon
constexpr double kMs = 1.0 / 86400000.0;    // one millisecond in days
const TMagnetRect kWork{0, 0, 1000, 800};

TMagnetRect Rect(int l, int t, int w, int h) { return TMagnetRect{l, t, l + w, t + h}; }

// The proposed rectangle n after the screen rules for a form at c.
TMagnetRect Screen(const TMagnetRect& c, TMagnetRect n, TMagnetClocks& clk, double now = kT0) {
  ApplyScreenMagnet(n, c, kWork, 15, clk, now);
  return n;
}

// The same after the main-form rules, main form at kMain.
const TMagnetRect kMain = Rect(100, 100, 300, 200);  // bottom at 300
TMagnetRect MainForm(const TMagnetRect& c, TMagnetRect n, TMagnetClocks& clk) {
  ApplyMainFormMagnet(n, c, kMain, 15, clk, kT0);
  return n;
}

TEST(MagnetClock, FreshnessIsMoreThan250msEitherWay) {
  EXPECT_TRUE(MagnetClockFresh(0, kT0));
  EXPECT_FALSE(MagnetClockFresh(kT0, kT0));
  EXPECT_FALSE(MagnetClockFresh(kT0, kT0 + 200 * kMs));
  EXPECT_TRUE(MagnetClockFresh(kT0, kT0 + 300 * kMs));
  EXPECT_TRUE(MagnetClockFresh(kT0 + 300 * kMs, kT0));  // a clock in the future counts too
}

TEST(MagnetRange, ByteSetSemantics) {
  EXPECT_TRUE(MagnetInRange(2, 2, 15));
  EXPECT_TRUE(MagnetInRange(15, 2, 15));
  EXPECT_FALSE(MagnetInRange(16, 2, 15));
  EXPECT_FALSE(MagnetInRange(1, 2, 15));
  EXPECT_FALSE(MagnetInRange(-3, -5, 15));    // negatives never count
  EXPECT_FALSE(MagnetInRange(256, 2, 1000));  // nor values above 255
  EXPECT_TRUE(MagnetInRange(10, 2, 256 + 15));
  EXPECT_FALSE(MagnetInRange(20, 2, 256 + 15));  // only the low byte bounds the range
  EXPECT_FALSE(MagnetInRange(5, 2, 256));
}

TEST(ScreenMagnet, LeftEdgeSnapsFromInsideKeepingTheWidth) {
  TMagnetClocks clk;
  EXPECT_EQ(Screen(Rect(20, 100, 200, 150), Rect(5, 100, 200, 150), clk), Rect(0, 100, 200, 150));
  EXPECT_EQ(clk.Left, kT0);
  EXPECT_EQ(clk.Right, 0);
}

TEST(ScreenMagnet, PullingPastTheEdgeTearsLooseThenRecentSnapPullsBack) {
  // Fresh clock, 10 px beyond the edge: the form jumps 15 px beyond it.
  TMagnetClocks clk;
  const TMagnetRect c = Rect(0, 100, 200, 150);
  EXPECT_EQ(Screen(c, Rect(-10, 100, 200, 150), clk), Rect(-15, 100, 200, 150));
  // Within 250 ms of a snap the same proposal is pulled onto the edge.
  clk.Left = kT0;
  EXPECT_EQ(Screen(c, Rect(-10, 100, 200, 150), clk, kT0 + 100 * kMs), Rect(0, 100, 200, 150));
  // Long after the last snap, a form far from every edge moves freely.
  EXPECT_EQ(Screen(Rect(310, 100, 200, 150), Rect(300, 100, 200, 150), clk, kT0 + 1000 * kMs),
            Rect(300, 100, 200, 150));
}

TEST(ScreenMagnet, OneMovementSnapsAtMostOnePerAxisAndFarEdges) {
  TMagnetClocks clk;
  // Moving left, near the right edge (its right 5 px inside): the right edge
  // is pushed 15 px inside, as the fresh far-edge step says.
  EXPECT_EQ(Screen(Rect(800, 300, 200, 150), Rect(795, 300, 200, 150), clk).Right, 1000 - 15);
  EXPECT_EQ(clk.Right, kT0);
  // Moving right with the right edge 5 px inside: onto the edge.
  clk = TMagnetClocks{};
  EXPECT_EQ(Screen(Rect(790, 300, 200, 150), Rect(795, 300, 200, 150), clk), Rect(800, 300, 200, 150));
  // Moving up with the top 1 px below the edge: onto it.
  clk = TMagnetClocks{};
  EXPECT_EQ(Screen(Rect(300, 10, 200, 150), Rect(300, 1, 200, 150), clk), Rect(300, 0, 200, 150));
  EXPECT_EQ(clk.Top, kT0);
}

TEST(ScreenMagnet, DownSnapsOntoTheBottomEdgeNotPastIt) {
  // Recently snapped (clock not fresh), bottom 5 px above the work area's bottom.
  TMagnetClocks clk;
  clk.Bottom = kT0;
  const TMagnetRect c = Rect(300, 600, 200, 150);
  TMagnetRect n = Screen(c, Rect(300, 645, 200, 150), clk, kT0 + 100 * kMs);
  EXPECT_EQ(n.Bottom, 800);
  EXPECT_EQ(n.Top, 650);
  // Fresh clock: from 5 px inside onto the edge as well.
  clk = TMagnetClocks{};
  EXPECT_EQ(Screen(c, Rect(300, 645, 200, 150), clk).Bottom, 800);
  EXPECT_EQ(clk.Bottom, kT0);
  // Fresh clock, pulled 5 px past the bottom: tears loose by Area.
  clk = TMagnetClocks{};
  EXPECT_EQ(Screen(Rect(300, 650, 200, 150), Rect(300, 655, 200, 150), clk).Bottom, 815);
}

TEST(ScreenMagnet, AreaAbove255UsesItsLowByteForRangesOnly) {
  const uint32_t area = 256 + 15;
  TMagnetClocks clk;
  TMagnetRect c = Rect(40, 300, 200, 150), n = Rect(20, 300, 200, 150);
  ApplyScreenMagnet(n, c, kWork, area, clk, kT0);
  EXPECT_EQ(n.Left, 20);  // 20 is outside [2..15]
  clk.Left = kT0;         // not fresh: the less-than test sees the whole 271
  n = Rect(20, 300, 200, 150);
  ApplyScreenMagnet(n, c, kWork, area, clk, kT0 + 10 * kMs);
  EXPECT_EQ(n.Left, 0);
}

TEST(MainFormMagnet, ActsOnlyWithOverlapAcrossTheMovement) {
  TMagnetClocks clk;
  // Below the main form and overlapping it horizontally, moving up, 5 px below it.
  EXPECT_EQ(MainForm(Rect(150, 320, 200, 100), Rect(150, 305, 200, 100), clk), Rect(150, 300, 200, 100));
  EXPECT_EQ(clk.Top, kT0);
  // The same movement beside the main form (no horizontal overlap): untouched.
  clk = TMagnetClocks{};
  EXPECT_EQ(MainForm(Rect(600, 320, 200, 100), Rect(600, 305, 200, 100), clk), Rect(600, 305, 200, 100));
  EXPECT_EQ(clk.Top, 0);
  // Equal left edges are no overlap either.
  EXPECT_EQ(MainForm(Rect(100, 320, 200, 100), Rect(100, 305, 200, 100), clk), Rect(100, 305, 200, 100));
  // Right of the main form, overlapping vertically, moving left 5 px off it:
  // sticks to its right side and stamps the right clock.
  EXPECT_EQ(MainForm(Rect(420, 150, 100, 100), Rect(405, 150, 100, 100), clk), Rect(400, 150, 100, 100));
  EXPECT_EQ(clk.Right, kT0);
}

TEST(FormsTouch, ExactlyOneCoordinateEqual) {
  TMagnetRect moved = Rect(100, 100, 200, 100);  // right 300, bottom 200
  EXPECT_TRUE(MagnetFormsTouch(moved, Rect(300, 500, 50, 50)));   // other axis not compared
  EXPECT_TRUE(MagnetFormsTouch(moved, Rect(0, 200, 50, 50)));
  EXPECT_TRUE(MagnetFormsTouch(moved, Rect(50, 0, 50, 10)));      // its right is our left
  EXPECT_TRUE(MagnetFormsTouch(moved, Rect(500, 60, 10, 40)));    // its bottom is our top
  EXPECT_FALSE(MagnetFormsTouch(moved, Rect(301, 100, 50, 50)));
}

TEST(MagnetProperties, SizeIsAlwaysKept) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> pos(-300, 1300), size(1, 400), step(-20, 20), area(0, 600);
  std::uniform_int_distribution<int> age(0, 600);
  for (int i = 0; i < 20000; ++i) {
    TMagnetRect c = Rect(pos(rng), pos(rng), size(rng), size(rng));
    TMagnetRect n = Rect(c.Left + step(rng), c.Top + step(rng), c.Right - c.Left, c.Bottom - c.Top);
    TMagnetRect before = n;
    TMagnetClocks clk{kT0 - age(rng) * kMs, kT0 - age(rng) * kMs, kT0 - age(rng) * kMs, 0};
    uint32_t a = static_cast<uint32_t>(area(rng));
    ApplyScreenMagnet(n, c, kWork, a, clk, kT0);
    ApplyMainFormMagnet(n, c, Rect(pos(rng), pos(rng), size(rng), size(rng)), a, clk, kT0);
    ASSERT_EQ(n.Right - n.Left, before.Right - before.Left);
    ASSERT_EQ(n.Bottom - n.Top, before.Bottom - before.Top);
  }
}

}  // namespace
}  // namespace om
