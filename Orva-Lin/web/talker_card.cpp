#include "Orva-Lin/web/talker_card.h"

namespace card {

Ask nextAsk(Gate& gate, std::int32_t talker, bool& painted, std::uint64_t nowMs) {
  Ask ask;
  if (gate.busy) return ask;
  const bool retry = talker == gate.failedTalker && nowMs >= gate.retryAt;
  ask.talker = talker;
  ask.image = painted || retry || talker != gate.lastImageTalker;
  if (ask.image) painted = false;
  ask.profile = painted || retry || talker != gate.lastProfileTalker;
  if (ask.profile) painted = false;
  if (!ask.any()) return ask;
  if (ask.image) gate.lastImageTalker = talker;
  if (ask.profile) gate.lastProfileTalker = talker;
  gate.busy = true;
  return ask;
}

Change finish(Gate& gate, const Ask& asked, Answer image, Answer profile, std::int32_t current,
              std::uint64_t nowMs) {
  gate.busy = false;
  Change c;
  const bool failed = image == Answer::Failed || profile == Answer::Failed;
  if (failed) {
    gate.failedTalker = asked.talker;
    gate.retryAt = nowMs + kRetryMs;
  } else if (gate.failedTalker == asked.talker) {
    gate.failedTalker = -1;
  }
  if (failed || asked.talker != current) {
    c.drop = true;
    return c;
  }
  c.picture = image != Answer::NotAsked;
  c.pictureArrived = image == Answer::Arrived;
  c.name = profile != Answer::NotAsked || image == Answer::Absent;
  c.nameArrived = profile == Answer::Arrived;
  return c;
}

}  // namespace card
