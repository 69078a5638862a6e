#include "Orva-Lin/net/channel_grids.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace grids;

namespace {
auto tie(const Rect& r) { return std::make_tuple(r.left, r.top, r.right, r.bottom); }
auto tie(const Frame& f) { return std::make_tuple(f.x, f.y, f.width, f.height); }
}  // namespace

TEST(ChannelGrids, GroupRowsCellsAndLabels) {
  struct Case {
    int row, k;
    std::tuple<int, int, int, int> cell;
    int labelY;
  };
  const Case cases[] = {
      {1, 0, {20, 10, 53, 51}, 20},
      {1, 1, {58, 10, 91, 51}, 20},
      {4, 15, {590, 163, 623, 204}, 173},
      {10, 0, {20, 469, 53, 510}, 479},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.row * 100 + c.k);
    EXPECT_EQ(tie(groupCell(c.row, c.k)), c.cell);
    EXPECT_EQ(groupLabel(c.row).left, 5);
    EXPECT_EQ(groupLabel(c.row).top, c.labelY);
  }
}

TEST(ChannelGrids, MarkerWalksDownAndWipesThePreviousRow) {
  // Window 666 wide: the marker column runs from 631 to 641.
  EXPECT_EQ(tie(groupMarker(666, 1)), std::make_tuple(631, 21, 641, 31));
  EXPECT_EQ(tie(groupMarker(666, 4)), std::make_tuple(631, 174, 641, 184));
  EXPECT_EQ(tie(groupPreviousMarker(666, 4)), std::make_tuple(631, 123, 641, 133));
  // Row 1 wipes row 10's marker at y = 480.
  EXPECT_EQ(tie(groupPreviousMarker(666, 1)), std::make_tuple(631, 480, 641, 490));
  const int order[] = {2, 3, 4, 5, 6, 7, 8, 9, 10, 1};
  int row = 1;
  for (int want : order) EXPECT_EQ(row = nextGroupRow(row), want);
}

TEST(ChannelGrids, PeerCellsFourPerRow) {
  const int xs[] = {10, 81, 152, 223};
  const int ys[] = {10, 98, 186, 274};
  for (int k = 0; k < kPeerCells; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(tie(peerCell(k)), std::make_tuple(xs[k % 4], ys[k / 4], xs[k % 4] + 66, ys[k / 4] + 83));
  }
}

TEST(ChannelGrids, UnfoldAndGrowFrames) {
  // Main window at (300, 200), right edge 850.
  EXPECT_EQ(tie(groupUnfoldFrame(0, 300, 200)), std::make_tuple(400, 335, 0, 0));
  EXPECT_EQ(tie(groupUnfoldFrame(kGroupUnfoldFrames - 1, 300, 200)), std::make_tuple(450, 135, 200, 200));
  EXPECT_EQ(tie(groupGrowFrame(1, 200, 200)), std::make_tuple(0, 0, 230, 210));
  EXPECT_EQ(tie(groupGrowFrame(kGroupGrowFrames - 1, 200, 200)), std::make_tuple(0, 0, 666, 650));
  EXPECT_EQ(tie(peerUnfoldFrame(5, 850, 200)), std::make_tuple(825, 300, 100, 100));
  EXPECT_EQ(tie(peerUnfoldFrame(kPeerUnfoldFrames - 1, 850, 200)), std::make_tuple(850, 200, 200, 200));
  EXPECT_EQ(tie(peerGrowFrame(kPeerGrowFrames - 1, 200, 204)), std::make_tuple(0, 0, 315, 464));
}

TEST(ChannelGrids, OnlyAnAbsentPictureGivesUpItsCell) {
  EXPECT_FALSE(takesCell(Fetch::Absent));
  for (Fetch f : {Fetch::Pending, Fetch::Failed, Fetch::Undecoded, Fetch::Picture}) EXPECT_TRUE(takesCell(f));
}
