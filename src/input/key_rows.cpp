// The rows of the dispatch chain and what each does with the key that runs it.

#include "input/key_rows.h"

#include <initializer_list>

#include "config/dispatch_order.h"
#include "config/messages.h"
#include "config/settings.h"
#include "config/steps.h"
#include "feedback/notify.h"
#include "game/gamefunctions.h"
#include "input/handlers.h"
#include "objects/scale.h"
#include "objects/transforms.h"
#include "objects/undo.h"
#include "rules/clock.h"
#include "rules/switches.h"

namespace freeplot {
namespace {

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

void objectInfo(const KeyEvent&) { showPlacement(); }

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
    {actionBit(Action::objectInfo), Gate::none, objectInfo},
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

// The first row for the key whose gate holds.
int firstRow(const KeyEvent& key) {
    for (std::size_t i = 0; i < std::size(kChain); ++i)
        if ((kChain[i].actions & key.actions) != 0 && gateOpen(kChain[i].gate, key))
            return static_cast<int>(i);
    return -1;
}

}  // namespace

int runKeyRows(std::uint64_t actions, bool workshopBusy) {
    const KeyEvent key{actions, workshopBusy};
    const ReferenceUse use;
    const int row = firstRow(key);
    if (row >= 0) kChain[row].run(key);
    return row;
}

int keyRow(std::uint64_t actions, bool workshopBusy) { return firstRow({actions, workshopBusy}); }

int rowOfAction(Action action) {
    for (std::size_t i = 0; i < std::size(kChain); ++i)
        if ((kChain[i].actions & actionBit(action)) != 0) return static_cast<int>(i);
    return -1;
}

std::uint16_t keyRunning(Action action) {
    const KeyBinding& b = binding(action);
    // The action a row of two runs for a key bound to both: the one its tie rule names.
    const Action winners[] = {Action::rotateStepPlus, Action::moveStepPlus,
                              Action::scaleStepMinus, Action::rotateLeft, Action::physicsOn};
    for (const std::uint16_t code : {b.primary, b.alternate}) {
        if (code == 0) continue;
        const KeyEvent key{actionsOf(code), false};
        if (firstRow(key) != rowOfAction(action)) continue;
        bool sameWay = true;
        for (const Action winner : winners)
            if ((kChain[rowOfAction(winner)].actions & actionBit(action)) != 0)
                sameWay = key.direction(winner) == paramsOf(action).direction;
        if (sameWay) return code;
    }
    return 0;
}

}  // namespace freeplot
