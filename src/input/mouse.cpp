// The mouse handler: in workshop mode, with an object selected, the wheel (wheelRotation on) or a
// held left or right button (wheelRotation off) turns the object about the rotation axis, and
// the game does not see that wheel movement or those button transitions.

#include "common/Guard.h"
#include "config/settings.h"
#include "feedback/workers.h"
#include "game/gamefunctions.h"
#include "game/patches.h"
#include "input/handlers.h"
#include "objects/transforms.h"

namespace freeplot {
namespace {

constexpr std::uint16_t kButtonMask =
    kLeftButtonDown | kLeftButtonUp | kRightButtonDown | kRightButtonUp;

// The held-button worker turns the object while mouseRotateState says so; a running worker
// picks up a new direction by itself.
void startTurning(GameReference* reference) {
    startWorker(workers.rotateBusy, "rotate", rotateSelected, reference, std::int16_t{0}, false);
}

void handleButtons(std::uint16_t buttons, GameReference* reference) {
    const std::uint8_t state = mouseRotateState;
    if (buttons & kLeftButtonDown) {
        mouseRotateState = 1;
        startTurning(reference);
    } else if (buttons & kRightButtonDown) {
        mouseRotateState = 2;
        startTurning(reference);
    } else if (((buttons & kLeftButtonUp) && state == 1) ||
               ((buttons & kRightButtonUp) && state == 2)) {
        mouseRotateState = 0;  // the worker stops before its next turn
    } else if (state != 0) {
        startTurning(reference);
    }
}

std::int32_t handleMouse(RawMouse& record) {
    autoExtraSelection();
    autoObjectUnlock();
    autoOutline();
    autoTimescale();

    const bool wheel = settings.wheelRotation;
    const std::uint16_t buttons = record.buttonFlags;
    if ((buttons & (wheel ? kMouseWheel : kButtonMask)) == 0) return 0;
    if (readGame<std::int32_t>(Loc::workshopModeFlag) == 0 ||
        readGame<std::uint8_t>(Loc::inputIgnoreFlag) != 0 ||
        readGame<std::uint8_t>(Loc::workshopStateByte) == 1)
        return 0;
    GameReference* reference = selectedForTransform();
    if (!reference) return 0;

    if (wheel) {
        // One step per notch, several notches in one command; less than a notch turns nothing.
        const auto notches =
            static_cast<std::int16_t>(static_cast<std::int16_t>(record.buttonData) / kWheelDelta);
        if (notches != 0) rotateSelected(reference, notches, false);
    } else {
        handleButtons(buttons, reference);
    }
    // Taken over: the game sees neither the buttons nor the wheel of this event.
    record.buttonFlags = 0;
    record.buttonData = 0;
    return 0;
}

// Most mouse events (every movement) change nothing: the housekeeping has nothing to do and the
// event holds none of the buttons or the wheel the plugin takes. They are told here by a few
// loads, without a call, and leave at once; every other event goes to the full handler.
bool quietMouseEvent(const RawMouse& record) {
    if (halted()) return true;
    const bool inWorkshop = readGame<std::int32_t>(Loc::workshopModeFlag) != 0;
    if (!autoExtraSelectionIdle(inWorkshop) || !autoObjectUnlockIdle() ||
        !autoOutlineIdle(inWorkshop) || !autoTimescaleIdle(inWorkshop))
        return false;
    return (record.buttonFlags & (settings.wheelRotation ? kMouseWheel : kButtonMask)) == 0;
}

FREEPLOT_NOINLINE std::int32_t FREEPLOT_MSABI fullMouseHandler(void* record) {
    return guarded("mouse handler", std::int32_t{0},
                   [record] { return handleMouse(*static_cast<RawMouse*>(record)); });
}

}  // namespace

std::int32_t FREEPLOT_MSABI onMouseInput(void* record) {
    if (quietMouseEvent(*static_cast<const RawMouse*>(record))) return 0;
    return fullMouseHandler(record);
}

}  // namespace freeplot
