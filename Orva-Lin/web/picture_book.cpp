#include "Orva-Lin/web/picture_book.h"

namespace pictures {

namespace {

int find(const Book& book, std::int32_t member) {
  for (int i = 0; i < kSlots; ++i)
    if (book.slots[i].member == member) return i;
  return -1;
}

void enqueue(Book& book, int slot) {
  if (book.slots[slot].queued || book.waiting >= kSlots) return;
  book.queue[(book.head + book.waiting) % kSlots] = book.slots[slot].member;
  ++book.waiting;
  book.slots[slot].queued = true;
}

// A free slot first, else the one used longest ago with no fetch waiting.
int claim(const Book& book) {
  int best = -1;
  for (int i = 0; i < kSlots; ++i) {
    const Slot& s = book.slots[i];
    if (s.member < 0) return i;
    if (!s.queued && (best < 0 || s.usedAt < book.slots[best].usedAt)) best = i;
  }
  return best;
}

}  // namespace

void clearBook(Book& book) { book = Book{}; }

Lookup lookUp(Book& book, std::int32_t member, std::uint64_t nowMs) {
  Lookup out;
  int slot = find(book, member);
  if (slot < 0) {
    slot = claim(book);
    if (slot < 0) return out;
    if (book.slots[slot].member >= 0) out.freedSlot = slot;
    book.slots[slot] = Slot{};
    book.slots[slot].member = member;
  }
  Slot& s = book.slots[slot];
  s.usedAt = nowMs;
  if (!s.fetched || nowMs - s.fetchedAt >= kRefreshMs) enqueue(book, slot);
  out.state = s.state;
  out.slot = slot;
  return out;
}

std::int32_t takeNext(Book& book) {
  while (book.waiting > 0) {
    const std::int32_t member = book.queue[book.head];
    book.head = (book.head + 1) % kSlots;
    --book.waiting;
    const int slot = find(book, member);
    if (slot >= 0 && book.slots[slot].queued) {
      book.slots[slot].queued = false;
      return member;
    }
  }
  return -1;
}

Stored storeFetch(Book& book, std::int32_t member, grids::Fetch outcome, std::uint64_t nowMs) {
  Stored out;
  const int slot = find(book, member);
  if (slot < 0) return out;
  Slot& s = book.slots[slot];
  out.slot = slot;
  out.keepsBitmap = outcome == grids::Fetch::Failed && s.state == grids::Fetch::Picture;
  if (!out.keepsBitmap) s.state = outcome;
  s.fetched = true;
  s.fetchedAt = nowMs;
  return out;
}

}  // namespace pictures
