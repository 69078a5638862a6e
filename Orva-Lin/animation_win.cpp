#include "Orva-Lin/animation.h"

// The frames are decoded by the animation renderer, not part of this build
// yet; until then the zone keeps its white frame.
void startAnimation() {}
void drawNextAnimationFrame(std::uint32_t) {}
