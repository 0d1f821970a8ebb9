// The keyboard dispatcher: what a bound key does in workshop mode. Its press never reaches the
// game; on the release of a press it kept, the dispatch chain below runs the first row that
// applies. A release whose press reached the game only goes on to the game.

#include <array>
#include <initializer_list>

#include "common/guard.h"
#include "common/write_code.h"
#include "config/dispatch_order.h"
#include "config/messages.h"
#include "config/settings.h"
#include "config/steps.h"
#include "feedback/notify.h"
#include "feedback/workers.h"
#include "game/gamefunctions.h"
#include "input/handlers.h"
#include "input/housekeeping.h"
#include "input/presses.h"
#include "objects/scale.h"
#include "objects/transforms.h"
#include "objects/undo.h"
#include "os/os.h"
#include "rules/clock.h"
#include "rules/switches.h"

namespace freeplot {
namespace {

constexpr std::uint16_t kShift = 16, kCtrl = 17, kAlt = 18;
constexpr std::uint16_t kLeftCtrl = 162, kRightCtrl = 163, kLeftAlt = 164, kRightAlt = 165;

// Real key codes are below 256; each has its set of actions here. A code of 256 or more can
// only come from a settings file and is looked up in the bindings directly.
std::array<std::uint64_t, 256> actionsByCode{};

// Set beside a low byte's actions (no action has this bit) when a bound code of 256 or more ends
// in that byte: the quick exit looks a key up by its low byte alone, and such a key must still
// reach the full handler.
constexpr std::uint64_t kSharedLowByte = std::uint64_t{1} << 63;
static_assert(kActionCount < 63);

// 1 for each key (by its code's low byte, Shift, Ctrl and Alt by side) held down while the game
// had the key events: outside workshop mode or while it ignored input. Its repeats and its release
// stay the game's, also once workshop mode has started, so a key held into a stay never acts.
std::array<std::uint8_t, 256> heldByGame{};

// Outside workshop mode a key event only marks the stay and parks the outline; the extra
// selection and the object lock wait for a mouse event or a key inside (as while the game
// ignores input).
constexpr Chores kKeyChores{.outside = chore::stay | chore::outline | chore::clock,
                            .ignored = chore::stay | chore::outline | chore::clock,
                            .inside = chore::all,
                            .tellsIgnored = true};

// The code of any key but Shift: Ctrl and Alt as left or right by the E0 flag, others as they are.
constexpr std::uint16_t withoutShift(std::uint16_t vkey, std::uint16_t flags) {
    if (vkey == kCtrl) return (flags & kKeyE0) ? kRightCtrl : kLeftCtrl;
    if (vkey == kAlt) return (flags & kKeyE0) ? kRightAlt : kLeftAlt;
    return vkey;
}

// The entry of heldByGame for an event's key: Shift, Ctrl and Alt by their side (the game's code
// names both sides, and one side held by the game leaves the other free), Shift told by its scan
// code here without the system call; any other key by its code.
inline std::uint8_t& heldEntry(const RawKeyboard& record) {
    std::uint16_t key = withoutShift(record.vkey, record.flags);
    if (key == kShift) key = record.makeCode == 0x2A ? 160 : record.makeCode == 0x36 ? 161 : kShift;
    return heldByGame[key & 0xFF];
}

// A key event let through without a look at its key: every kept press ends, and the key's presses
// and releases are the game's.
inline void letKeyThrough(const RawKeyboard& record) {
    forgetTakenKeys();
    heldEntry(record) = (record.flags & kKeyBreak) == 0;
}

std::uint64_t scanBindings(std::uint16_t code) {
    std::uint64_t set = 0;
    for (std::size_t i = 0; i < kActionCount; ++i)
        if (matches(static_cast<Action>(i), code)) set |= std::uint64_t{1} << i;
    return set;
}

// What one key release works on: the actions its key is bound to, and the workshop state
// byte as read once for this event.
struct KeyEvent {
    std::uint64_t actions;
    bool workshopBusy;  // the workshop state byte is 1: move, scale, undo and copies wait

    bool is(Action action) const { return (actions & actionBit(action)) != 0; }

    // Which way a key of a row of two opposite actions goes: `winner`'s direction when the key
    // is bound to it (also when bound to both), else the other one's.
    int direction(Action winner) const {
        const int d = paramsOf(winner).direction;
        return is(winner) ? d : -d;
    }
};

// A move key: the first of its move actions in the table's order gives the axis (up and down
// before sideways before back and forth); any of them going backwards makes it go backwards.
MoveRequest moveRequest(const KeyEvent& key) {
    MoveRequest move{0, +1};
    for (Action a : {Action::moveDown, Action::moveUp, Action::moveLeft, Action::moveRight,
                     Action::moveBack, Action::moveForth}) {
        if (!key.is(a)) continue;
        if (move.axis == 0) move.axis = paramsOf(a).axis;
        if (paramsOf(a).direction < 0) move.direction = -1;
    }
    return move;
}

// An apply key: the fields of each stored-parameter action it is bound to.
ApplyRequest applyRequest(const KeyEvent& key) {
    ApplyRequest request{0, key.is(Action::copyAll)};
    for (Action a : {Action::copyPosX, Action::copyPosY, Action::copyPosZ, Action::copyAngleX,
                     Action::copyAngleY, Action::copyAngleZ, Action::copyScale})
        if (key.is(a)) request.fields |= paramsOf(a).fields;
    return request;
}

// A scale key: a reset wins over down, down over up.
ScaleChange scaleChange(const KeyEvent& key) {
    if (key.is(Action::scaleReset)) return ScaleChange::reset;
    return key.is(Action::scaleDown) ? ScaleChange::down : ScaleChange::up;
}

void showStep(Msg message, double step) { showNow(formatMessage(message, step)); }
void showStep(Msg message, std::int32_t step) { showNow(formatMessage(message, int{step})); }

// --- The rows' effects ---------------------------------------------------------------------

void toggleMode(const KeyEvent&) { toggle(Switch::freeplotMode); }

void toggleSnap(const KeyEvent&) { toggle(Switch::objectSnap); }

// Surface snap is the game's own value: 1.5 means off (anything else, NaN included, is on).
void toggleGround(const KeyEvent&) { toggle(Switch::surfaceSnap); }

void toggleGridSnap(const KeyEvent&) {
    const bool on = readGame<std::uint8_t>(Loc::gridSnapSetting) != 0;
    writeGame<std::uint8_t>(Loc::gridSnapSetting, on ? 0 : 1);
    showNow(on ? Msg::workshopOff : Msg::workshopOn);
}

void toggleTimeout(const KeyEvent&) { toggle(Switch::timeoutFrozen); }

void fixObjectAngles(const KeyEvent& key) {
    fixAngles({key.is(Action::removeTremor), key.is(Action::resetAngles)});
}

void cycleRotateStep(const KeyEvent& key) {
    showStep(Msg::rotateStepChange, rotateSteps.step(key.direction(Action::rotateStepPlus)));
}

void cycleMoveStep(const KeyEvent& key) {
    showStep(Msg::moveStepChange, moveSteps.step(key.direction(Action::moveStepPlus)));
}

void cycleScaleStep(const KeyEvent& key) {
    showStep(Msg::scaleStepChange, scaleSteps.step(key.direction(Action::scaleStepMinus)));
}

void cycleAxis(const KeyEvent&) {
    const char axis =
        transforms.rotateAxis == 'Z' ? 'X' : static_cast<char>(transforms.rotateAxis + 1);
    transforms.rotateAxis = axis;
    showNow(formatMessage(Msg::axisChange, int{axis}));
}

void toggleOutline(const KeyEvent&) { toggle(Switch::outline); }

void moveObject(const KeyEvent& key) { moveSelected(moveRequest(key)); }

void scaleObject(const KeyEvent& key) { scaleSelected(scaleChange(key)); }

void undoChange(const KeyEvent&) { undoLast(); }

void redoChange(const KeyEvent&) { redoLast(); }

void storeParameters(const KeyEvent&) { copyState(); }

void applyParameters(const KeyEvent& key) { applyStored(applyRequest(key)); }

void toggleClampedStoring(const KeyEvent&) { toggle(Switch::clampedStoring); }

void toggleLock(const KeyEvent&) {
    if (selectedForTransform().reference) toggle(Switch::objectLock);
}

void toggleExtraSelection(const KeyEvent&) { toggle(Switch::extraSelection); }

void duplicateObject(const KeyEvent&) { duplicateSelected(); }

void deleteObject(const KeyEvent&) { deleteSelected(); }

void rotateObject(const KeyEvent& key) {
    if (const Selection selected = selectedForTransform(); selected.reference)
        rotateSelected(selected, static_cast<std::int16_t>(key.direction(Action::rotateLeft)));
}

void alignObject(const KeyEvent&) { alignSelected(); }

void physics(const KeyEvent& key) { setPhysics(key.direction(Action::physicsOn) > 0); }

void toggleClock(const KeyEvent&) { toggleSlowClock(); }

// --- The dispatch chain --------------------------------------------------------------------

// The rows run in the order of config/dispatch_order.h, which the settings checker reads too.
using Gate = DispatchGate;

struct ChainRow {
    std::uint64_t actions;
    Gate gate;
    void (*run)(const KeyEvent&);
};

constexpr ChainRow kChain[] = {
    {actionBit(Action::main), Gate::togglable, toggleMode},
    {actionBit(Action::snap), Gate::none, toggleSnap},
    {actionBit(Action::ground), Gate::none, toggleGround},
    {actionBit(Action::workshopSnap), Gate::none, toggleGridSnap},
    {actionBit(Action::timeoutFreeze), Gate::none, toggleTimeout},
    {actionBits({Action::resetAngles, Action::removeTremor}), Gate::none, fixObjectAngles},
    {actionBits({Action::rotateStepMinus, Action::rotateStepPlus}), Gate::none, cycleRotateStep},
    {actionBits({Action::moveStepMinus, Action::moveStepPlus}), Gate::none, cycleMoveStep},
    {actionBits({Action::scaleStepMinus, Action::scaleStepPlus}), Gate::none, cycleScaleStep},
    {actionBit(Action::changeRotateAxis), Gate::none, cycleAxis},
    {actionBit(Action::outlineToggle), Gate::none, toggleOutline},
    {actionBits({Action::moveDown, Action::moveUp, Action::moveLeft, Action::moveRight, Action::moveBack,
           Action::moveForth}),
     Gate::workshopIdle, moveObject},
    {actionBits({Action::scaleDown, Action::scaleUp, Action::scaleReset}), Gate::workshopIdle,
     scaleObject},
    {actionBit(Action::undo), Gate::workshopIdle, undoChange},
    {actionBit(Action::redo), Gate::workshopIdle, redoChange},
    {actionBit(Action::copyState), Gate::none, storeParameters},
    {actionBits({Action::copyPosX, Action::copyPosY, Action::copyPosZ, Action::copyAngleX,
           Action::copyAngleY, Action::copyAngleZ, Action::copyScale, Action::copyAll}),
     Gate::workshopIdle, applyParameters},
    {actionBit(Action::clampedStoreToggle), Gate::none, toggleClampedStoring},
    {actionBit(Action::lockObject), Gate::none, toggleLock},
    {actionBit(Action::extraOutlineToggle), Gate::none, toggleExtraSelection},
    {actionBit(Action::duplicateKey), Gate::duplicateEnabled, duplicateObject},
    {actionBit(Action::deleteKey), Gate::deleteEnabled, deleteObject},
    {actionBits({Action::rotateLeft, Action::rotateRight}), Gate::none, rotateObject},
    {actionBits({Action::physicsOn, Action::physicsOff}), Gate::none, physics},
    {actionBit(Action::timescaleToggle), Gate::none, toggleClock},
    {actionBit(Action::alignToGrid), Gate::workshopIdle, alignObject},
};
static_assert(std::size(kChain) == kDispatchRows.size());

constexpr bool chainFollowsDispatchOrder() {
    for (std::size_t i = 0; i < kDispatchRows.size(); ++i)
        if (kChain[i].actions != kDispatchRows[i].actions ||
            kChain[i].gate != kDispatchRows[i].gate)
            return false;
    return true;
}
static_assert(chainFollowsDispatchOrder());

bool gateOpen(Gate gate, const KeyEvent& key) {
    switch (gate) {
        case Gate::none:
            return true;
        case Gate::togglable:
            return settings.togglable != 0;
        case Gate::workshopIdle:
            return !key.workshopBusy;
        case Gate::duplicateEnabled:
            return settings.duplicateEnabled;
        case Gate::deleteEnabled:
            return settings.deleteEnabled;
    }
    return false;
}

void dispatch(const KeyEvent& key) {
    const ReferenceUse use;
    for (const ChainRow& row : kChain) {
        if ((row.actions & key.actions) != 0 && gateOpen(row.gate, key)) {
            row.run(key);
            return;
        }
    }
}

std::int32_t handleKey(const RawKeyboard& record) {
    // The first event of a stay reads the settings file first: all it does, the clock included,
    // follows the file as it is now.
    const Where where = whereIs<kKeyChores>();
    runChores(kKeyChores.at(where), where);
    if (where != Where::inside) {
        letKeyThrough(record);
        return 0;
    }
    settleForgottenPresses();

    const std::uint16_t code = normalisedKey(record.vkey, record.makeCode, record.flags);
    const std::uint64_t actions = actionsOf(code);
    std::uint8_t& games = heldEntry(record);
    if (actions == 0) {
        // Let go, a key the game held is free again, also one bound to nothing now: a later
        // reading may bind it, and its next press is then the plugin's.
        if ((record.flags & kKeyBreak) != 0) games = 0;
        return 0;
    }
    // The press (and every auto-repeat) of a bound key is kept from the game; the action runs
    // once, on the first release after it, which goes on to the game as every release does. A
    // release without a kept press (the press went to the game, or a repeat's release came
    // twice) runs nothing.
    std::uint8_t& taken = takenEntry(code);
    if (games != 0) {
        // Held since the game had it: its repeats go on to the game, and its release ends that.
        if ((record.flags & kKeyBreak) != 0) games = 0;
        return 0;
    }
    if ((record.flags & kKeyBreak) == 0) {
        keepPress(taken);
        return 1;
    }
    if (taken == 0) return 0;
    endPress(taken);
    dispatch({actions, readGame<std::uint8_t>(Loc::workshopStateByte) == 1});
    return 0;
}

}  // namespace

void prepareKeyLookup() {
    for (std::size_t code = 0; code < actionsByCode.size(); ++code)
        actionsByCode[code] = scanBindings(static_cast<std::uint16_t>(code));
    for (const KeyBinding& b : keyBindings)
        for (const auto code : {b.primary, b.alternate})
            if (code >= actionsByCode.size()) actionsByCode[code & 0xFF] |= kSharedLowByte;
}

std::uint64_t actionsOf(std::uint16_t code) {
    return code < actionsByCode.size() ? actionsByCode[code] & ~kSharedLowByte
                                       : scanBindings(code);
}

std::uint16_t normalisedKey(std::uint16_t vkey, std::uint16_t scanCode, std::uint16_t flags) {
    return vkey == kShift ? static_cast<std::uint16_t>(os::scanCodeToVirtualKey(scanCode))
                          : withoutShift(vkey, flags);
}

namespace {

// Most key events change nothing: the housekeeping has nothing to do, and the key is no bound
// key (or workshop mode is off, or input is ignored). They are told here by a few loads, without
// a call, and leave at once; every other event goes to the full handler.
bool quietKeyEvent(const RawKeyboard& record) {
    if (halted()) return true;
    const Where where = whereIs<kKeyChores>();
    if (!choresIdle<kKeyChores>(where)) return false;
    if (where != Where::inside) {
        letKeyThrough(record);
        return true;
    }
    // Telling left from right Shift takes a system call: the full handler does that.
    if (record.vkey == kShift) return false;
    const std::uint16_t code = withoutShift(record.vkey, record.flags);
    // By the low byte alone: a code of 256 or more whose byte no bound code shares is bound to
    // nothing.
    if (actionsByCode[code & 0xFF] != 0) return false;
    // An unbound key's release still ends the game's hold of the key (see handleKey).
    if ((record.flags & kKeyBreak) != 0) heldByGame[code & 0xFF] = 0;
    return true;
}

FREEPLOT_NOINLINE std::int32_t FREEPLOT_MSABI fullKeyboardHandler(void* record) {
    return guarded("keyboard handler", std::int32_t{0},
                   [record] { return handleKey(*static_cast<const RawKeyboard*>(record)); });
}

}  // namespace

std::int32_t FREEPLOT_MSABI onKeyboardInput(void* record) {
    if (quietKeyEvent(*static_cast<const RawKeyboard*>(record))) return 0;
    return fullKeyboardHandler(record);
}

}  // namespace freeplot
