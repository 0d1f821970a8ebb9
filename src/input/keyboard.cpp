// The keyboard dispatcher: what a bound key does in workshop mode. Its press never reaches the
// game; on the release of a press it kept, the dispatch chain (input/key_rows.h) runs the first
// row that applies. A release whose press reached the game only goes on to the game.

#include <array>

#include "common/guard.h"
#include "config/actions.h"
#include "game/gamefunctions.h"
#include "input/handlers.h"
#include "input/housekeeping.h"
#include "input/key_rows.h"
#include "input/presses.h"
#include "input/stay.h"
#include "os/os.h"

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
        // Kept for the stay's replay once, not with every repeat (codes of 256 or more share
        // one entry, so each of their presses is kept).
        if (taken == 0 || code >= 256) {
            stayBeforeKey(-1);
            stayKeyPressed(code);
        }
        keepPress(taken);
        return 1;
    }
    if (taken == 0) return 0;
    const bool busy = readGame<std::uint8_t>(Loc::workshopStateByte) == 1;
    stayBeforeKey(keyRow(actions, busy));  // while its press is still kept
    endPress(taken);
    stayKeyReleased(code, actions, runKeyRows(actions, busy));
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
