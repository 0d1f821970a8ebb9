#include "input/housekeeping.h"

#include "config/messages.h"
#include "config/reload.h"
#include "feedback/notify.h"
#include "feedback/workers.h"

namespace freeplot {

bool runChores(std::uint8_t chores, Where where) {
    const bool inWorkshop = where != Where::outside;
    bool stayReady = true;
    if ((chores & chore::stay) != 0) {
        if (inWorkshop)
            stayReady = beginStay();
        else
            markStayStart();
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
    // The player learns on screen whether the file they edited was taken; the log says why not.
    switch (reloadSettingsIfChanged()) {
        case Reload::reloaded:
            prepareKeyLookup();
            forgetTakenButtons();
            forgetTakenKeys();
            showNow(Msg::settingsReloaded);
            break;
        case Reload::kept:
            showNow(Msg::settingsRefused);
            break;
        case Reload::unchanged:
            break;
    }
    return true;
}

}  // namespace freeplot
