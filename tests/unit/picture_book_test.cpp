#include "Orva-Lin/web/picture_book.h"

#include <gtest/gtest.h>

#include <vector>

using grids::Fetch;
using namespace pictures;

namespace {
std::vector<int> drain(Book& b) {
  std::vector<int> out;
  for (int m; (m = takeNext(b)) >= 0;) out.push_back(m);
  return out;
}
}  // namespace

TEST(PictureBook, EachMemberFetchedOnceUntilItsPictureAges) {
  static Book b;
  clearBook(b);
  EXPECT_EQ(lookUp(b, 7, 1000).state, Fetch::Pending);
  EXPECT_EQ(lookUp(b, 9, 1000).state, Fetch::Pending);
  lookUp(b, 7, 1001);  // asked twice, queued once
  EXPECT_EQ(drain(b), (std::vector<int>{7, 9}));
  storeFetch(b, 7, Fetch::Picture, 1100);
  storeFetch(b, 9, Fetch::Absent, 1100);
  EXPECT_EQ(lookUp(b, 7, 1200).state, Fetch::Picture);
  EXPECT_EQ(lookUp(b, 9, 1200).state, Fetch::Absent);
  EXPECT_EQ(drain(b), std::vector<int>{});
  // Aged: still shown, fetched again.
  EXPECT_EQ(lookUp(b, 7, 1100 + kRefreshMs).state, Fetch::Picture);
  EXPECT_EQ(drain(b), std::vector<int>{7});
}

TEST(PictureBook, UnreachableHostKeepsTheShownPictureAnyAnswerReplacesIt) {
  static Book b;
  clearBook(b);
  lookUp(b, 3, 0);
  takeNext(b);
  EXPECT_FALSE(storeFetch(b, 3, Fetch::Picture, 10).keepsBitmap);
  EXPECT_TRUE(storeFetch(b, 3, Fetch::Failed, 20).keepsBitmap);
  EXPECT_EQ(lookUp(b, 3, 30).state, Fetch::Picture);
  EXPECT_FALSE(storeFetch(b, 3, Fetch::Absent, 40).keepsBitmap);
  EXPECT_EQ(lookUp(b, 3, 50).state, Fetch::Absent);
  EXPECT_EQ(storeFetch(b, 4, Fetch::Picture, 60).slot, -1);  // never asked for
}

TEST(PictureBook, FullBookHandsOverTheLeastRecentlyUsedFetchedSlot) {
  static Book b;
  clearBook(b);
  for (int m = 0; m < kSlots; ++m) lookUp(b, 1000 + m, static_cast<std::uint64_t>(m));
  // Every slot waits for a fetch: nothing can be given up.
  EXPECT_EQ(lookUp(b, 5, 500).slot, -1);
  for (int m; (m = takeNext(b)) >= 0;) storeFetch(b, m, Fetch::Picture, 600);
  lookUp(b, 1000, 700);  // used again: no longer the oldest
  const Lookup l = lookUp(b, 5, 800);
  EXPECT_EQ(l.slot, l.freedSlot);
  EXPECT_EQ(b.slots[l.slot].member, 5);
  EXPECT_EQ(lookUp(b, 1000, 900).state, Fetch::Picture);
  EXPECT_EQ(lookUp(b, 1001, 900).state, Fetch::Pending);  // it was the one handed over
}
