#pragma once
// The building-rule switches. While on, each holds its own bytes at some code sites (or a value
// in a game variable); when it goes off, what the game had there comes back. Every switch is one
// row of a table (switches.cpp): its state, its writes, its two messages, whether it is parked
// outside workshop mode and the setting that starts it. A state and its bytes change together,
// under the code writer's lock (common/write_code.h); the message goes on screen after the lock
// is let go, since showing it calls into the game.
//
// A site whose code did not match what the plugin knows is never written and counts as done
// (the log names it once). A write the system refuses leaves the bytes as they were: the switch
// then keeps its state, shows nothing and reports false.

#include <cstddef>
#include <cstdint>

#include "common/shared.h"
#include "config/settings.h"

namespace freeplot {

enum class Switch : std::uint8_t {
    freeplotMode,
    objectSnap,      // on: object snap off
    surfaceSnap,     // on: surface snap off (its state is the game's own value)
    timeoutFrozen,   // on: the workshop timeout suppressed
    objectLock,      // on: the selected object locked
    outline,         // on: the game's object outline off
    clampedStoring,  // on: clamped objects are not stored
    extraSelection,  // on: objects the game calls unselectable can be selected and outlined
    count
};
inline constexpr std::size_t kSwitchCount = static_cast<std::size_t>(Switch::count);

constexpr std::size_t index(Switch which) { return static_cast<std::size_t>(which); }

// The live states: started from the settings at Load, then flipped by the keys, the console
// command and the workers, from more than one thread.
struct SwitchStates {
    Shared<bool> freeplotMode;
    Shared<bool> snapDisabled;
    Shared<bool> timeoutFrozen;
    Shared<bool> objectLocked;
    Shared<bool> outlineDisabled;
    Shared<bool> clampedStoringDisabled;
    Shared<bool> extraOutlineEnabled;
    // What the first event inside workshop mode has to see to, a bit each (input thread): a
    // switch that is on inside workshop mode and held off outside it (kParkedOutline,
    // kParkedExtraSelection), and kStayStarts, set by the events outside workshop mode. One
    // byte, so that the handlers' quick exit inside workshop mode asks all of it with one look.
    // Beside them kKeysKept, set while the keyboard handler keeps a key's press from the game: a
    // mouse event the game gets while it ignores input must then end it.
    std::uint8_t dueInside = 0;
};
inline constexpr std::uint8_t kParkedOutline = 0x01, kParkedExtraSelection = 0x02, kKeysKept = 0x04;
inline constexpr std::uint8_t kStayStarts = 0x80;
// Set while the stay under way keeps events for its replay: the first event outside workshop mode
// then hands it over (input/stay.h).
inline constexpr std::uint8_t kStayKept = 0x40;
extern SwitchStates switches;

// Takes the start states from the settings (Load, before the hooks are set).
void startSwitchStates(const Settings& from);

// Writes the bytes of every switch the settings start on, without a message.
void applyStartupPatches();

// Whether a switch is on now.
bool switchOn(Switch which);

// Turns a switch on or off; does nothing and returns false when it already is. Otherwise
// returns whether its writes went in, and shows its message when `show` and they did.
bool setSwitch(Switch which, bool on, bool show = true);

// Flips a switch; returns whether its writes went in (the state stays when they did not).
bool toggle(Switch which, bool show = true);

// Holds a parked switch off while outside workshop mode and brings it back inside, without a
// message. Run by the input handlers on their events.
void parkOutsideWorkshop(Switch which, bool inWorkshop);

// Whether parkOutsideWorkshop has nothing to do outside workshop mode (inside, dueInside says):
// the common case, told by a look at a byte without a call (the handlers' quick exits ask it).
inline bool outlineParkIdleOutside() { return !switches.outlineDisabled; }
inline bool extraSelectionParkIdleOutside() { return !switches.extraOutlineEnabled; }

// Drops the bytes and values kept from the game, as at start-up (tests).
void forgetKeptGameBytes();

}  // namespace freeplot
