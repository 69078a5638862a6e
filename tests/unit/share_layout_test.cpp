#include "Orva-Lin/web/share_layout.h"

#include <gtest/gtest.h>

#include <tuple>

TEST(ShareLayout, PictureScaledToFitAndCentred) {
  struct Case {
    int W, H, w, h;
    std::tuple<int, int, int, int> placed;  // left, top, width, height
  };
  const Case cases[] = {
      {584, 541, 1200, 600, {0, 124, 584, 292}},
      {584, 541, 100, 100, {21, 0, 541, 541}},    // enlarged
      {584, 541, 584, 541, {0, 0, 584, 541}},
      {584, 541, 300, 1200, {224, 0, 135, 541}},  // tall: s = 541/1200
      {584, 0, 100, 100, {0, 0, 0, 0}},           // minimised window
      {584, 541, 0, 100, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    const share::Placement p = share::placePicture(c.W, c.H, c.w, c.h);
    EXPECT_EQ(std::make_tuple(p.left, p.top, p.width, p.height), c.placed) << c.w << "x" << c.h;
  }
}

TEST(ShareLayout, ScrollRangesOnlyForPicturesOver600) {
  EXPECT_EQ(share::scrollRangeEnd(1200), 600);
  EXPECT_EQ(share::scrollRangeEnd(601), 1);
  EXPECT_EQ(share::scrollRangeEnd(600), 0);
  EXPECT_EQ(share::scrollRangeEnd(30), 0);
}

TEST(ShareLayout, HugePicturesRefusedBeforeDecoding) {
  EXPECT_TRUE(share::pictureSizeAccepted(1200, 600));
  EXPECT_TRUE(share::pictureSizeAccepted(5000, 5000));
  EXPECT_FALSE(share::pictureSizeAccepted(5001, 5000));
  EXPECT_FALSE(share::pictureSizeAccepted(16385, 10));
  EXPECT_FALSE(share::pictureSizeAccepted(60000, 60000));
  EXPECT_FALSE(share::pictureSizeAccepted(0, 10));
}
