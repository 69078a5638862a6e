// Book-keeping of the member picture cache: which member sits in which
// slot, what its last fetch gave, and which members wait for the fetch
// worker. The bitmaps themselves live beside it in the Windows side, one per
// slot; both are kept under one lock there.
#pragma once

#include <cstdint>

#include "Orva-Lin/net/channel_grids.h"

namespace pictures {

// Eleven channels of sixteen members, and room to spare for members who
// move while their pictures are on the way.
inline constexpr int kSlots = 192;
// A picture older than this is fetched again the next time a window asks
// for it (and shown meanwhile), so a changed picture shows within a minute.
inline constexpr std::uint64_t kRefreshMs = 30000;

struct Slot {
  std::int32_t member = -1;   // -1: free
  grids::Fetch state = grids::Fetch::Pending;
  bool queued = false;
  bool fetched = false;       // fetchedAt is meaningful
  std::uint64_t fetchedAt = 0;
  std::uint64_t usedAt = 0;
};

struct Book {
  Slot slots[kSlots];
  std::int32_t queue[kSlots] = {};   // members waiting, oldest first
  int head = 0;
  int waiting = 0;
};

void clearBook(Book& book);

struct Lookup {
  grids::Fetch state = grids::Fetch::Pending;
  int slot = -1;          // -1: no slot could be given (every slot waits for a fetch)
  int freedSlot = -1;     // a slot handed to this member from another: its old bitmap goes
};
// What to draw for a member now. A member not yet in the book gets a slot
// (the one used longest ago that no fetch waits for) and joins the queue;
// a member whose last fetch is older than kRefreshMs joins it again.
Lookup lookUp(Book& book, std::int32_t member, std::uint64_t nowMs);

// The next member for the worker, -1 when none waits.
std::int32_t takeNext(Book& book);

struct Stored {
  int slot = -1;              // -1: the member left the book meanwhile; drop the bitmap
  bool keepsBitmap = false;   // the slot's previous bitmap stays (no answer this time)
};
// The outcome of a fetch. A host that could not be reached leaves a
// picture already shown in place; any answer replaces it.
Stored storeFetch(Book& book, std::int32_t member, grids::Fetch outcome, std::uint64_t nowMs);

}  // namespace pictures
