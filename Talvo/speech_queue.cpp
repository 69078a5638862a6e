#include "Talvo/speech_queue.h"

namespace talk {

namespace {

Utterance& at(Queue& q, int i) { return q.slots[(q.head + i) % kQueueSlots]; }

void fill(Utterance& u, Kind kind, std::u16string_view text) {
  u.kind = kind;
  u.length = text.size();
  text.copy(u.text, text.size());
  u.text[text.size()] = 0;
}

}  // namespace

bool push(Queue& q, Kind kind, std::u16string_view text) {
  if (text.empty() || text.size() >= kTextUnits) return false;
  if (kind == Kind::Said) {
    if (q.count == kQueueSlots) return false;
    fill(at(q, q.count++), kind, text);
    return true;
  }
  // At most one typed text waits, and it waits at the head.
  if (q.count > 0 && at(q, 0).kind == Kind::Typed) {
    fill(at(q, 0), kind, text);
    return true;
  }
  if (q.count == kQueueSlots) --q.count;   // the newest client text goes
  q.head = (q.head + kQueueSlots - 1) % kQueueSlots;
  ++q.count;
  fill(at(q, 0), kind, text);
  return true;
}

bool pop(Queue& q, Utterance& out) {
  if (q.count == 0) return false;
  out = at(q, 0);
  q.head = (q.head + 1) % kQueueSlots;
  --q.count;
  return true;
}

}  // namespace talk
