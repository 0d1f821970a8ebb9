// The mouse handler: in workshop mode, with an object selected, the wheel (wheelRotation on) or a
// held left or right button (wheelRotation off) turns the object about the rotation axis, and
// the game does not see that wheel movement or those button transitions. Every other change a
// record holds reaches the game as it came, and so does the release of every press the game saw,
// whatever the handler does with the event that brings it.

#include "common/guard.h"
#include "config/settings.h"
#include "feedback/workers.h"
#include "game/gamefunctions.h"
#include "input/handlers.h"
#include "input/housekeeping.h"
#include "input/stay.h"
#include "objects/transforms.h"
#include "rules/clock.h"
#include "rules/switches.h"

namespace freeplot {
namespace {

constexpr std::uint16_t kButtonMask =
    kLeftButtonDown | kLeftButtonUp | kRightButtonDown | kRightButtonUp;
constexpr std::uint16_t kPresses = kLeftButtonDown | kRightButtonDown;
constexpr std::uint16_t kReleases = kLeftButtonUp | kRightButtonUp;
static_assert(kLeftButtonUp == kLeftButtonDown << 1 && kRightButtonUp == kRightButtonDown << 1);

// The release flags of the buttons whose press the handler took over and whose release it has not
// seen since. Only those releases are kept from the game: the game saw every other press.
std::uint16_t takenPresses = 0;

// A mouse event runs every chore wherever it finds the game, and ends the key presses the keyboard
// kept when the game gets it outside workshop mode or while it ignores input (a click in a menu).
constexpr Chores kMouseChores{.outside = chore::all | chore::keptKeys,
                              .ignored = chore::all | chore::keptKeys,
                              .inside = chore::all | chore::keptKeys,
                              .tellsIgnored = false};

// Whether the event holds what the handler may take: the wheel with wheelRotation on, else the
// buttons.
inline bool holdsTurning(const RawMouse& record, bool wheel) {
    return (record.buttonFlags & (wheel ? kMouseWheel : kButtonMask)) != 0;
}

// Whether the handler takes this event's buttons or wheel over, turning the object.
bool takeOver(const RawMouse& record, bool wheel) {
    if (!holdsTurning(record, wheel)) return false;
    return readGame<std::int32_t>(Loc::workshopModeFlag) != 0 &&
           readGame<std::uint8_t>(Loc::inputIgnoreFlag) == 0 &&
           readGame<std::uint8_t>(Loc::workshopStateByte) != 1;
}

// The release of the button that turns the object ends the turning, whatever else holds: the
// crosshair may have left the object, the game may ignore input or the workshop be busy by then,
// and the worker would otherwise turn the object on until the next button event.
void endTurningOnRelease(std::uint16_t buttons) {
    const std::uint8_t state = transforms.mouseRotateState;
    if (((buttons & kLeftButtonUp) && state == 1) || ((buttons & kRightButtonUp) && state == 2))
        transforms.mouseRotateState = 0;  // the worker stops before its next turn
}

// `presses` are the record's presses of buttons it does not also release (a press and release of
// one button in one record is a click, held for no time: it turns nothing).
void handleButtons(std::uint16_t presses, const Selection& selected) {
    // A press while no button turns the object starts a new hold on this object; a press of the
    // other button while one is held only turns the other way.
    const bool newHold = transforms.mouseRotateState == 0;
    if (presses & kLeftButtonDown) {
        beginTurning(1, selected, newHold);
    } else if (presses & kRightButtonDown) {
        beginTurning(2, selected, newHold);
    } else if (const std::uint8_t state = transforms.mouseRotateState; state != 0) {
        beginTurning(state, selected, false);
    }
}

std::int32_t turnOrPass(RawMouse& record);

std::int32_t handleMouse(RawMouse& record) {
    // The first event of a stay reads the settings file first: the wheel setting and the clock
    // follow the file as it is now.
    const Where where = whereIs<kMouseChores>();
    runChores(kMouseChores.at(where), where);
    // A record with the buttons or the wheel in workshop mode is kept for the stay's replay.
    const std::uint16_t buttons = record.buttonFlags;
    const std::int16_t data = static_cast<std::int16_t>(record.buttonData);
    const bool kept = where != Where::outside && (buttons & (kButtonMask | kMouseWheel)) != 0;
    if (kept) stayBeforeMouse();
    const std::int32_t result = turnOrPass(record);
    if (kept) stayMouse(buttons, data);
    return result;
}

std::int32_t turnOrPass(RawMouse& record) {
    const bool wheel = settings.wheelRotation;
    const std::uint16_t buttons = record.buttonFlags;
    if (!wheel) endTurningOnRelease(buttons);

    // The releases the game must see are settled before anything else: those of its presses.
    const std::uint16_t releases = buttons & kReleases;
    auto gameReleases = static_cast<std::uint16_t>(releases & ~takenPresses);
    const auto presses = static_cast<std::uint16_t>((buttons & kPresses) << 1);
    takenPresses = static_cast<std::uint16_t>((takenPresses & ~releases) & ~presses);

    if (!takeOver(record, wheel)) return 0;
    const ReferenceUse use;
    const Selection selected = selectedForTransform();
    if (!selected.reference) return 0;

    if (wheel) {
        // One step per notch, several notches in one command; less than a notch turns nothing.
        const auto notches =
            static_cast<std::int16_t>(static_cast<std::int16_t>(record.buttonData) / kWheelDelta);
        rotateSelected(selected, notches);
    } else {
        // A button pressed and released in this one record (a click) is taken whole: the game
        // sees neither, and no hold is left behind to turn the object on and on.
        const auto held = static_cast<std::uint16_t>(presses & ~releases);
        handleButtons(static_cast<std::uint16_t>(held >> 1), selected);
        takenPresses = static_cast<std::uint16_t>(takenPresses | held);
        gameReleases = static_cast<std::uint16_t>(gameReleases & ~presses);
    }
    // Taken over: the game sees every change of the record the handler does not act on, as it
    // came. With the wheel taken, that is the buttons; with the buttons taken, the other buttons
    // and the wheel with its data, and of the left and right buttons the releases of its own
    // presses.
    if (wheel) {
        record.buttonFlags = static_cast<std::uint16_t>(buttons & ~kMouseWheel);
        record.buttonData = 0;
    } else {
        record.buttonFlags = static_cast<std::uint16_t>((buttons & ~kButtonMask) | gameReleases);
    }
    return 0;
}

// Most mouse events (every movement) change nothing: the housekeeping has nothing to do and the
// event holds none of the buttons or the wheel the plugin takes. They are told here by a few
// loads, without a call, and leave at once; every other event goes to the full handler.
bool quietMouseEvent(const RawMouse& record) {
    if (halted()) return true;
    const Where where = whereIs<kMouseChores>();
    return choresIdle<kMouseChores>(where) && !holdsTurning(record, settings.wheelRotation);
}

FREEPLOT_NOINLINE std::int32_t FREEPLOT_MSABI fullMouseHandler(void* record) {
    return guarded("mouse handler", std::int32_t{0},
                   [record] { return handleMouse(*static_cast<RawMouse*>(record)); });
}

}  // namespace

void forgetTakenButtons() { takenPresses = 0; }

std::int32_t FREEPLOT_MSABI onMouseInput(void* record) {
    if (quietMouseEvent(*static_cast<const RawMouse*>(record))) return 0;
    return fullMouseHandler(record);
}

}  // namespace freeplot
