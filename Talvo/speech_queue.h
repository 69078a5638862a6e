// What waits to be spoken: the member's own typed text and the texts the
// client sends, in a fixed queue. The typed text goes first, since the
// client is keyed for it; the client's texts follow in arrival order, and
// those that find the queue full are dropped (a client that chatters must
// not keep the member's text, or the push-to-talk, waiting).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace talk {

inline constexpr int kQueueSlots = 8;
inline constexpr std::size_t kTextUnits = 1024;   // the editor's 1023 characters and a terminator

enum class Kind : std::uint8_t {
  Typed,   // "Envoyer": keys the client around it
  Said,    // a client text or a notice of the window: spoken only
};

struct Utterance {
  Kind kind = Kind::Said;
  std::size_t length = 0;
  char16_t text[kTextUnits] = {};   // terminated
};

struct Queue {
  Utterance slots[kQueueSlots];
  int head = 0;
  int count = 0;
};

// False when the text is empty or too long, or (for a Said text) when the
// queue is full. A typed text goes ahead of every Said one; a typed text
// already waiting is replaced by the new one (it is the same editor); when
// the queue is full, the newest Said text makes room for it.
bool push(Queue& queue, Kind kind, std::u16string_view text);

// The next utterance into `out`; false when none waits.
bool pop(Queue& queue, Utterance& out);

}  // namespace talk
