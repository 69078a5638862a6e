// Where the group list and the peers window put their rows, cells, marker
// and unfolding frames, and which members take a cell. Pure functions; the
// windows draw what these return.
#pragma once

#include <cstdint>

namespace grids {

struct Rect {
  int left, top, right, bottom;
};
struct Frame {
  int x, y, width, height;
};

// What became of one member's picture fetch, as a cell sees it.
enum class Fetch : std::uint8_t {
  Pending,     // not fetched yet: the cell is kept, blank, until it is
  Absent,      // the host answered with nothing (status other than 200, empty body)
  Failed,      // no answer at all (connection, request or session failed)
  Undecoded,   // a body that is not a picture
  Picture,
};
// An absent picture takes no cell, so the next member closes the gap; any
// other outcome keeps its cell (blank unless there is a picture).
constexpr bool takesCell(Fetch f) { return f != Fetch::Absent; }

// ---- Group list: rows 1..10, one per channel ------------------------------
inline constexpr int kGroupRows = 10;
inline constexpr int kGroupCells = 16;
inline constexpr int kGroupCellWidth = 33;
inline constexpr int kGroupCellHeight = 41;
inline constexpr int kGroupCellStep = 38;
inline constexpr int kGroupLabelX = 5;
inline constexpr int kMarkerHeight = 10;

int groupRowTop(int row);                  // 51 r - 41
Rect groupCell(int row, int k);            // k-th box of the row
Rect groupLabel(int row);                  // top-left of "%02d" (width and height unused)
// The red marker of a row and the cyan that wipes the previous row's.
Rect groupMarker(int windowWidth, int row);
Rect groupPreviousMarker(int windowWidth, int row);
int nextGroupRow(int row);                 // 10 wraps to 1

inline constexpr int kGroupUnfoldFrames = 11;   // s = 0, 20, ..., 200 every 20 ms
inline constexpr int kGroupGrowFrames = 61;     // g = 0, 10, ..., 600 every 10 ms
inline constexpr int kGroupUnfoldMs = 20;
inline constexpr int kGroupGrowMs = 10;
// (mainLeft, mainTop): the main window's screen corner; (w0, h0): the
// window's size once unfolded. Grow frames keep the window where it is.
Frame groupUnfoldFrame(int i, int mainLeft, int mainTop);
Frame groupGrowFrame(int i, int w0, int h0);

// ---- Peers window: 16 cells of the current channel ------------------------
inline constexpr int kPeerCells = 16;
inline constexpr int kPeerCellWidth = 66;
inline constexpr int kPeerCellHeight = 83;
// The k-th cell that the cursor reaches from (10, 10): four per row.
Rect peerCell(int k);

inline constexpr int kPeerUnfoldFrames = 11;   // s = 0, 20, ..., 200 every 20 ms
inline constexpr int kPeerGrowFrames = 27;     // g = 0, 10, ..., 260 every 20 ms
inline constexpr int kPeerUnfoldMs = 20;
inline constexpr int kPeerGrowMs = 20;
// (mainRight, mainTop): the main window's right edge and top.
Frame peerUnfoldFrame(int i, int mainRight, int mainTop);
Frame peerGrowFrame(int i, int w0, int h0);

}  // namespace grids
