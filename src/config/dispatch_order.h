#pragma once
// The order in which a key's actions are tried when it is let go, and what each row of that order
// needs besides its key. The keyboard dispatcher (input/keyboard.cpp) runs its rows in this order
// and checks at compile time that its own list agrees; the settings checker reads it to tell a
// player which of two actions on one key acts.

#include <array>
#include <cstdint>
#include <initializer_list>

#include "config/actions.h"

namespace freeplot {

// A condition a row needs besides a matching key. When it does not hold, the search goes on with
// the rows below: a key bound twice then does its other action.
enum class DispatchGate : std::uint8_t {
    none,
    togglable,         // togglable is 1 or more
    workshopIdle,      // the workshop is not busy (its state byte is not 1)
    duplicateEnabled,  // [cheats] duplicateEnabled
    deleteEnabled,     // [dangerous] deleteEnabled
};

struct DispatchRow {
    std::uint64_t actions;  // one bit per action (bit n: Action n)
    DispatchGate gate;
};

constexpr std::uint64_t actionBit(Action action) {
    return std::uint64_t{1} << static_cast<unsigned>(action);
}
constexpr std::uint64_t actionBits(std::initializer_list<Action> actions) {
    std::uint64_t set = 0;
    for (Action a : actions) set |= actionBit(a);
    return set;
}

// The first row whose actions include one of the key's, and whose gate holds, runs; the others
// do not.
inline constexpr std::array<DispatchRow, 27> kDispatchRows = {{
    {actionBit(Action::main), DispatchGate::togglable},
    {actionBit(Action::snap), DispatchGate::none},
    {actionBit(Action::ground), DispatchGate::none},
    {actionBit(Action::workshopSnap), DispatchGate::none},
    {actionBit(Action::timeoutFreeze), DispatchGate::none},
    {actionBits({Action::resetAngles, Action::removeTremor}), DispatchGate::none},
    {actionBits({Action::rotateStepMinus, Action::rotateStepPlus}), DispatchGate::none},
    {actionBits({Action::moveStepMinus, Action::moveStepPlus}), DispatchGate::none},
    {actionBits({Action::scaleStepMinus, Action::scaleStepPlus}), DispatchGate::none},
    {actionBit(Action::changeRotateAxis), DispatchGate::none},
    {actionBit(Action::outlineToggle), DispatchGate::none},
    {actionBits({Action::moveDown, Action::moveUp, Action::moveLeft, Action::moveRight,
                 Action::moveBack, Action::moveForth}),
     DispatchGate::workshopIdle},
    {actionBits({Action::scaleDown, Action::scaleUp, Action::scaleReset}),
     DispatchGate::workshopIdle},
    {actionBit(Action::undo), DispatchGate::workshopIdle},
    {actionBit(Action::redo), DispatchGate::workshopIdle},
    {actionBit(Action::copyState), DispatchGate::none},
    {actionBits({Action::copyPosX, Action::copyPosY, Action::copyPosZ, Action::copyAngleX,
                 Action::copyAngleY, Action::copyAngleZ, Action::copyScale, Action::copyAll}),
     DispatchGate::workshopIdle},
    {actionBit(Action::clampedStoreToggle), DispatchGate::none},
    {actionBit(Action::lockObject), DispatchGate::none},
    {actionBit(Action::extraOutlineToggle), DispatchGate::none},
    {actionBit(Action::duplicateKey), DispatchGate::duplicateEnabled},
    {actionBit(Action::deleteKey), DispatchGate::deleteEnabled},
    {actionBits({Action::rotateLeft, Action::rotateRight}), DispatchGate::none},
    {actionBits({Action::physicsOn, Action::physicsOff}), DispatchGate::none},
    {actionBit(Action::timescaleToggle), DispatchGate::none},
    {actionBit(Action::alignToGrid), DispatchGate::workshopIdle},
    {actionBit(Action::objectInfo), DispatchGate::none},
}};

namespace dispatch_order_checks {
// Every action is in exactly one row.
constexpr bool eachActionOnce() {
    std::uint64_t seen = 0;
    for (const DispatchRow& row : kDispatchRows) {
        if ((seen & row.actions) != 0) return false;
        seen |= row.actions;
    }
    return seen == (std::uint64_t{1} << kActionCount) - 1;
}
static_assert(eachActionOnce());
}  // namespace dispatch_order_checks

}  // namespace freeplot
