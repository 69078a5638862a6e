#include "Orva-Lin/net/grid_accessible.h"

#include <oleacc.h>

#include <algorithm>
#include <cstdio>

#include "Orva-Lin/accessible_win.h"
#include "Orva-Lin/draw_helpers.h"
#include "Orva-Lin/net/channel_grids.h"
#include "Orva-Lin/net/channels.h"
#include "Orva-Lin/shared_state.h"
#include "common/ansi_text.h"

namespace {

// The group list's cells as last drawn, row by row (row 0 unused).
std::int32_t groupRowMembers[grids::kGroupRows + 1][grids::kGroupCells] = {};
int groupRowCounts[grids::kGroupRows + 1] = {};
std::int32_t peerCellMembers[grids::kPeerCells] = {};
int peerCellCount = 0;

void cellItem(AccessibleItem& out, const grids::Rect& r, const char* name, const char* description) {
  setAccessibleText(out.name, name);
  setAccessibleText(out.description, description);
  out.role = ROLE_SYSTEM_CELL;
  out.state = STATE_SYSTEM_READONLY;
  out.client = {r.left, r.top, r.right, r.bottom};
}

// ---- group list: the members of channels 1 to 10, row by row, then the warning

constexpr auto kWarning =
    ansi::text("Ne pas laisser cette fenêtre longtemps ouverte car elle consomme beaucoup de ressources réseau");
constexpr RECT kWarningLines{186, 550, 560, 584};

int groupMembers() {
  int n = 0;
  for (int row = 1; row <= grids::kGroupRows; ++row) n += groupRowCounts[row];
  return n;
}

int groupCount(HWND) { return groupMembers() + 1; }

// Row and position of the index-th member cell; false past the last.
bool groupCellOf(int index, int& row, int& i) {
  for (row = 1; row <= grids::kGroupRows; ++row) {
    const int n = groupRowCounts[row];
    if (index < n) {
      i = index;
      return true;
    }
    index -= n;
  }
  return false;
}

void groupItem(HWND, int index, AccessibleItem& out) {
  int row = 0, i = 0;
  if (!groupCellOf(index, row, i)) {
    const int n = MultiByteToWideChar(kTextCodePage, 0, kWarning.c_str(), -1, out.name, kAccessibleTextChars);
    if (n <= 0) out.name[0] = L'\0';
    out.role = ROLE_SYSTEM_STATICTEXT;
    out.state = STATE_SYSTEM_READONLY;
    out.client = kWarningLines;
    return;
  }
  char name[64], description[kAccessibleTextChars];
  std::snprintf(name, sizeof name, "Membre %d", static_cast<int>(groupRowMembers[row][i]));
  std::snprintf(description, sizeof description, "Canal %02d", row);
  cellItem(out, grids::groupCell(row, i), name, description);
}

int groupHit(HWND, int x, int y) {
  int index = 0;
  for (int row = 1; row <= grids::kGroupRows; ++row) {
    const int n = groupRowCounts[row];
    for (int i = 0; i < n; ++i, ++index) {
      const grids::Rect r = grids::groupCell(row, i);
      if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return index;
    }
  }
  const POINT p{x, y};
  return PtInRect(&kWarningLines, p) ? index : -1;
}

// ---- peers window: sixteen cells of the current channel, members first

int peersChannel() { return channels::indexOfPort(relaxed(channelPort)); }

int peersCount(HWND) { return peersChannel() > 0 ? grids::kPeerCells : 0; }

void peersItem(HWND, int index, AccessibleItem& out) {
  const int channel = peersChannel();
  if (channel <= 0) return;
  char name[64];
  if (index < peerCellCount)
    std::snprintf(name, sizeof name, "Membre %d", static_cast<int>(peerCellMembers[index]));
  else
    std::snprintf(name, sizeof name, "Place libre");
  char description[16];
  std::snprintf(description, sizeof description, "Canal %02d", channel);
  cellItem(out, grids::peerCell(index), name, description);
}

int peersHit(HWND w, int x, int y) {
  for (int k = 0; k < peersCount(w); ++k) {
    const grids::Rect r = grids::peerCell(k);
    if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return k;
  }
  return -1;
}

void noAction(HWND, int) {}

const AccessibleProvider kGroupList = {groupCount, groupItem, groupHit, noAction};
const AccessibleProvider kPeers = {peersCount, peersItem, peersHit, noAction};

}  // namespace

void noteGroupRow(int row, const std::int32_t* members, int count) {
  if (row < 1 || row > grids::kGroupRows) return;
  groupRowCounts[row] = std::clamp(count, 0, grids::kGroupCells);
  std::copy_n(members, groupRowCounts[row], groupRowMembers[row]);
}

void notePeerCells(const std::int32_t* members, int count) {
  peerCellCount = std::clamp(count, 0, grids::kPeerCells);
  std::copy_n(members, peerCellCount, peerCellMembers);
}

LRESULT answerGroupListObject(HWND w, WPARAM wp, LPARAM lp) { return answerAccessibleObject(w, wp, lp, kGroupList); }
LRESULT answerPeersObject(HWND w, WPARAM wp, LPARAM lp) { return answerAccessibleObject(w, wp, lp, kPeers); }
