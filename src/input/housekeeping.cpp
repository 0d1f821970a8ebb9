#include "input/housekeeping.h"

#include "feedback/workers.h"
#include "input/stay.h"

namespace freeplot {
namespace {
void (*stayStart)() = nullptr;
}  // namespace

void setStayStart(void (*atStayStart)()) { stayStart = atStayStart; }

bool runChores(std::uint8_t chores, Where where) {
    const bool inWorkshop = where != Where::outside;
    bool stayReady = true;
    if ((chores & chore::stay) != 0) {
        if (inWorkshop) {
            stayReady = beginStay();
        } else {
            markStayStart();
            if ((switches.dueInside & kStayKept) != 0) stayEnds();
        }
    }
    if ((chores & chore::extraSelection) != 0) autoExtraSelection();
    if ((chores & chore::objectUnlock) != 0) autoObjectUnlock();
    if ((chores & chore::outline) != 0) autoOutline();
    if ((chores & chore::clock) != 0 && stayReady) autoTimescale();
    if ((chores & chore::keptKeys) != 0 && (switches.dueInside & kKeysKept) != 0 &&
        (!inWorkshop || readGame<std::uint8_t>(Loc::inputIgnoreFlag) != 0))
        forgetTakenKeys();
    return stayReady;
}

void autoObjectUnlock() {
    if (!autoObjectUnlockIdle()) setSwitch(Switch::objectLock, false);
}

void autoOutline() {
    const bool inWorkshop = readGame<std::int32_t>(Loc::workshopModeFlag) != 0;
    if (inWorkshop ? (switches.dueInside & kParkedOutline) != 0 : !outlineParkIdleOutside())
        parkOutsideWorkshop(Switch::outline, inWorkshop);
}

void autoExtraSelection() {
    const bool inWorkshop = readGame<std::int32_t>(Loc::workshopModeFlag) != 0;
    if (inWorkshop ? (switches.dueInside & kParkedExtraSelection) != 0
                   : !extraSelectionParkIdleOutside())
        parkOutsideWorkshop(Switch::extraSelection, inWorkshop);
}

bool beginStay() {
    if ((switches.dueInside & kStayStarts) == 0) return true;
    if (anyWorkerBusy()) return false;
    switches.dueInside = static_cast<std::uint8_t>(switches.dueInside & ~kStayStarts);
    if (stayStart) stayStart();
    return true;
}

}  // namespace freeplot
