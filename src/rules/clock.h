#pragma once
// The game clock slowed while building: by the timescale key, or on entering workshop mode when
// the settings ask for it. The game's own multiplier is kept while the clock is slowed and put
// back on the key or on leaving workshop mode.

#include "common/shared.h"
#include "config/settings.h"

namespace freeplot {

struct ClockState {
    // The game's multiplier while the clock is slowed; 0 while it is not.
    float keptMultiplier = 0.0f;
    // Set by the timescale key; while set, entering workshop mode does not slow the clock.
    // Leaving workshop mode clears it.
    Shared<bool> keyUsed;
};
extern ClockState buildClock;

// The timescale key: slows the clock or puts the game's multiplier back, and says which.
void toggleSlowClock();

// Run on every input event: slows the clock on entering workshop mode (when the settings ask and
// the key has not been used) and puts it back on leaving.
void autoTimescale();

// Whether autoTimescale has nothing to do on an event: the common case, told by a look at a few
// flags without a call (the input handlers' quick exit asks the same).
inline bool autoTimescaleIdle(bool inWorkshop) {
    if (!inWorkshop) return buildClock.keptMultiplier == 0.0f && !buildClock.keyUsed;
    return buildClock.keptMultiplier != 0.0f || !settings.autoTimescaleEnabled ||
           buildClock.keyUsed;
}

}  // namespace freeplot
