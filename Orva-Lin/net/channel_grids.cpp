#include "Orva-Lin/net/channel_grids.h"

#include <algorithm>

namespace grids {

namespace {
constexpr int kRowPitch = 51;
constexpr int kGroupCellsLeft = 20;
constexpr int kMarkerFromRight = 35;
constexpr int kMarkerWidth = 10;

constexpr int kPeerStart = 10;
constexpr int kPeerStepX = 71;
constexpr int kPeerStepY = 88;
constexpr int kPeerWrapAt = 290;   // a cursor past this goes to the next row

constexpr int kUnfoldStep = 20;
constexpr int kGrowStep = 10;
constexpr int kGroupMaxWidth = 646;
constexpr int kGroupFrameExtra = 20;
constexpr int kGroupMaxHeight = 650;
constexpr int kPeerMaxWidth = 315;
}  // namespace

int groupRowTop(int row) { return kRowPitch * row - 41; }

Rect groupCell(int row, int k) {
  const int x = kGroupCellsLeft + kGroupCellStep * k;
  const int y = groupRowTop(row);
  return {x, y, x + kGroupCellWidth, y + kGroupCellHeight};
}

Rect groupLabel(int row) {
  const int y = groupRowTop(row) + 10;
  return {kGroupLabelX, y, kGroupLabelX, y};
}

Rect groupMarker(int windowWidth, int row) {
  const int y = kRowPitch * row - 30;
  return {windowWidth - kMarkerFromRight, y, windowWidth - kMarkerFromRight + kMarkerWidth, y + kMarkerHeight};
}

Rect groupPreviousMarker(int windowWidth, int row) {
  return groupMarker(windowWidth, row == 1 ? kGroupRows : row - 1);
}

int nextGroupRow(int row) { return row >= kGroupRows ? 1 : row + 1; }

Frame groupUnfoldFrame(int i, int mainLeft, int mainTop) {
  const int s = kUnfoldStep * i;
  return {mainLeft + 100 + s / 4, mainTop + 135 - s, s, s};
}

Frame groupGrowFrame(int i, int w0, int h0) {
  const int g = kGrowStep * i;
  return {0, 0, std::min(w0 + g, kGroupMaxWidth) + kGroupFrameExtra, std::min(h0 + g, kGroupMaxHeight)};
}

Rect peerCell(int k) {
  int x = kPeerStart, y = kPeerStart;
  for (int i = 0; i < k; ++i) {
    if (x + kPeerStepX > kPeerWrapAt) {
      x = kPeerStart;
      y += kPeerStepY;
    } else {
      x += kPeerStepX;
    }
  }
  return {x, y, x + kPeerCellWidth, y + kPeerCellHeight};
}

Frame peerUnfoldFrame(int i, int mainRight, int mainTop) {
  const int s = kUnfoldStep * i;
  return {mainRight - 50 + s / 4, mainTop + 200 - s, s, s};
}

Frame peerGrowFrame(int i, int w0, int h0) {
  const int g = kGrowStep * i;
  return {0, 0, std::min(w0 + g, kPeerMaxWidth), h0 + g};
}

}  // namespace grids
