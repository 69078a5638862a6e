// When the talker card asks the web host, and what an answer does to the
// card. The refresh timer asks, one exchange at a time; a worker fetches;
// the window shows what comes back for the talker still current.
#pragma once

#include <cstdint>

namespace card {

// A picture that could not be fetched is asked for again after this long,
// not at every tick: a host that is down is not hammered once a second.
inline constexpr std::uint64_t kRetryMs = 15000;

struct Gate {
  std::int32_t lastImageTalker = 0;    // asked for last (0: nobody yet)
  std::int32_t lastProfileTalker = 0;
  bool busy = false;                   // an exchange is under way
  std::int32_t failedTalker = -1;      // whose last exchange failed (-1: none)
  std::uint64_t retryAt = 0;
};

struct Ask {
  std::int32_t talker = 0;
  bool image = false;
  bool profile = false;
  bool any() const { return image || profile; }
};

// The refresh tick. The picture is asked for when the talker changed or the
// panel was repainted (which wiped the card); the profile when the talker
// changed, or after a repaint if the picture did not take the repaint
// (`painted` is cleared by what asks). Nothing while an exchange is under
// way: the tick after it ends looks again.
Ask nextAsk(Gate& gate, std::int32_t talker, bool& painted, std::uint64_t nowMs);

// What one request brought.
enum class Answer : std::uint8_t {
  NotAsked,
  Failed,    // no answer: the host could not be reached, stalled, or cut the body
  Absent,    // an answer without a usable body: non-200, empty, not a picture
  Arrived,
};

// What the card does with an exchange's answers.
struct Change {
  bool drop = false;        // nothing changes on the card
  bool picture = false;     // the picture is replaced (by none when !pictureArrived)
  bool pictureArrived = false;
  bool name = false;        // name, city and phrase are replaced (by empty texts when !nameArrived)
  bool nameArrived = false;
};

// The exchange has ended; `current` is the talker now. An answer for an
// earlier talker is dropped. A failure keeps the whole card as it stands
// (no half of a new card beside half of the old one); an answer without a
// picture or profile clears both, so the card never shows one member's
// face under another's name.
Change finish(Gate& gate, const Ask& asked, Answer image, Answer profile, std::int32_t current,
              std::uint64_t nowMs);

}  // namespace card
