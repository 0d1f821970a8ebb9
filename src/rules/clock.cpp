#include "rules/clock.h"

#include <cstdint>

#include "common/write_code.h"
#include "feedback/notify.h"
#include "game/gamefunctions.h"
#include "game/locations.h"

namespace freeplot {

ClockState buildClock;

namespace {

void slow(float& multiplier) {
    buildClock.keptMultiplier = multiplier;
    multiplier = settings.buildTimescale;
}

void restore(float& multiplier) {
    multiplier = buildClock.keptMultiplier;
    buildClock.keptMultiplier = 0.0f;
}

}  // namespace

void toggleSlowClock() {
    buildClock.keyUsed = !buildClock.keyUsed;
    float* multiplier = timeMultiplier();
    if (!multiplier) return;
    {
        // The scale worker and the console thread write code under the same lock; the clock is
        // changed under it too, so a state and what it governs never part.
        const CodeWriterLock lock;
        if (buildClock.keptMultiplier == 0.0f)
            slow(*multiplier);
        else
            restore(*multiplier);
    }
    showNow(buildClock.keptMultiplier != 0.0f ? Msg::timescaleOn : Msg::timescaleOff);
}

void autoTimescale() {
    const bool inWorkshop = readGame<std::int32_t>(Loc::workshopModeFlag) != 0;
    if (autoTimescaleIdle(inWorkshop)) return;
    const CodeWriterLock lock;
    if (!inWorkshop) {
        if (buildClock.keptMultiplier != 0.0f) {
            if (float* multiplier = timeMultiplier()) restore(*multiplier);
        }
        buildClock.keyUsed = false;
    } else if (buildClock.keptMultiplier == 0.0f && settings.autoTimescaleEnabled &&
               !buildClock.keyUsed) {
        if (float* multiplier = timeMultiplier()) slow(*multiplier);
    }
}

}  // namespace freeplot
