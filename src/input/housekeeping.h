#pragma once
// What a raw-input event needs before the handler looks at its key or buttons: the housekeeping,
// run in one order by both handlers, and for each handler which of it runs where the event finds
// the game. A handler's quick exit and its full path both read the same description, so what
// one skips the other has nothing to do for.

#include <cstdint>

#include "game/gamefunctions.h"
#include "input/handlers.h"
#include "rules/clock.h"
#include "rules/switches.h"

namespace freeplot {

// Run by the handlers on their events: the object lock goes off once nothing is selected; the
// outline and extra selection switches are parked while outside workshop mode and brought back
// inside it.
void autoObjectUnlock();
void autoOutline();
void autoExtraSelection();

// Whether autoObjectUnlock has nothing to do (the handlers' quick exit asks the same).
inline bool autoObjectUnlockIdle() {
    return !switches.objectLocked || readGame<std::uint32_t>(Loc::selectedRefHandle) != 0;
}

// An event outside workshop mode: the next stay starts with the first event inside. Inline and
// without a call, as the handlers' quick exits run it.
inline void markStayStart() {
    switches.dueInside = static_cast<std::uint8_t>(switches.dueInside | kStayStarts);
}

// Run first on every event inside workshop mode, on the input thread. At the first event of a
// stay the settings file is read again when it changed since it was last taken. While a worker
// runs, the stay's start waits for a later event, so that no worker sees the settings half
// replaced; until then it returns false, and the handlers leave the clock as it is (the
// automatic slowing waits for the settings of the stay). True once the stay's settings are in
// force.
bool beginStay();

// Where an event finds the game.
enum class Where : std::uint8_t {
    outside,  // workshop mode is off
    ignored,  // workshop mode, the game ignoring input (a menu)
    inside,   // workshop mode, the game taking input
};

// The housekeeping, one bit per chore, always run in this order.
namespace chore {
// Inside: beginStay (at a stay's first event the settings file is read again when it changed);
// outside: the next event inside starts a stay.
inline constexpr std::uint8_t stay = 0x01;
inline constexpr std::uint8_t extraSelection = 0x02;  // autoExtraSelection
inline constexpr std::uint8_t objectUnlock = 0x04;    // autoObjectUnlock
inline constexpr std::uint8_t outline = 0x08;         // autoOutline
inline constexpr std::uint8_t clock = 0x10;  // autoTimescale, once the stay's settings hold
inline constexpr std::uint8_t all = 0x1F;
// For an event the keyboard does not see: outside workshop mode or while the game ignores input,
// the key presses the keyboard kept end (as a key event there ends them).
inline constexpr std::uint8_t keptKeys = 0x20;
}  // namespace chore

// The chores a handler runs on an event, by where it finds the game. A handler whose `ignored`
// and `inside` are alike and that does not tell them apart itself never reads the game's ignore
// flag.
struct Chores {
    std::uint8_t outside, ignored, inside;
    bool tellsIgnored;  // the handler's own work differs while the game ignores input

    constexpr std::uint8_t at(Where where) const {
        return where == Where::outside ? outside : where == Where::ignored ? ignored : inside;
    }
    constexpr bool readsIgnoreFlag() const { return tellsIgnored || ignored != inside; }
};

template <const Chores& kChores>
inline Where whereIs() {
    if (readGame<std::int32_t>(Loc::workshopModeFlag) == 0) return Where::outside;
    if constexpr (kChores.readsIgnoreFlag())
        if (readGame<std::uint8_t>(Loc::inputIgnoreFlag) != 0) return Where::ignored;
    return Where::inside;
}

// The quick exit's share: whether the chores `kChores` have nothing to do inside workshop mode
// (any flag) or outside it, told by a few loads without a call. Outside, all the stay chore does
// is a store, made here.
template <std::uint8_t kChores>
inline bool choresIdleInside() {
    constexpr auto has = [](std::uint8_t c) { return (kChores & c) != 0; };
    // A stay that starts, or a parked switch to bring back, is one bit of one byte.
    constexpr std::uint8_t due = (has(chore::stay) ? kStayStarts : 0) |
                                 (has(chore::outline) ? kParkedOutline : 0) |
                                 (has(chore::extraSelection) ? kParkedExtraSelection : 0) |
                                 (has(chore::keptKeys) ? kKeysKept : 0);
    if constexpr (due != 0)
        if ((switches.dueInside & due) != 0) return false;
    if constexpr (has(chore::objectUnlock))
        if (!autoObjectUnlockIdle()) return false;
    if constexpr (has(chore::clock)) return autoTimescaleIdle(true);
    return true;
}

template <std::uint8_t kChores>
inline bool choresIdleOutside() {
    constexpr auto has = [](std::uint8_t c) { return (kChores & c) != 0; };
    if constexpr (has(chore::keptKeys))
        if ((switches.dueInside & kKeysKept) != 0) return false;
    if constexpr (has(chore::extraSelection))
        if (!extraSelectionParkIdleOutside()) return false;
    if constexpr (has(chore::objectUnlock))
        if (!autoObjectUnlockIdle()) return false;
    if constexpr (has(chore::outline))
        if (!outlineParkIdleOutside()) return false;
    if constexpr (has(chore::clock))
        if (!autoTimescaleIdle(false)) return false;
    if constexpr (has(chore::stay)) {
        // The first event after a stay that kept events hands them over: the full path's work.
        if ((switches.dueInside & kStayKept) != 0) return false;
        markStayStart();
    }
    return true;
}

template <const Chores& kChores>
inline bool choresIdle(Where where) {
    switch (where) {
        case Where::outside:
            return choresIdleOutside<kChores.outside>();
        case Where::ignored:
            return choresIdleInside<kChores.ignored>();
        case Where::inside:
            break;
    }
    return choresIdleInside<kChores.inside>();
}

// The full path's share: runs `chores` in the order above; returns whether the stay's settings
// are in force (until then, the clock is left as it is).
bool runChores(std::uint8_t chores, Where where);

}  // namespace freeplot
