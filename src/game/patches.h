#pragma once
// Every building rule the plugin switches, by rewriting a few bytes of the game's code or one
// game variable, and the write-back that undoes it. A switch's state and its bytes change
// together, under the code writer's lock (common/WriteCode.h).
//
// A site whose code did not match its signature at query time is never written: its writes are
// skipped, its bytes are not saved, and one log line names it the first time. A write that the
// system refuses (the protection cannot be changed) leaves the bytes as they were; the switch
// then reports false, shows no message, and the toggles below keep their flag as it was.

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/Shared.h"
#include "config/settings.h"
#include "game/locations.h"

namespace freeplot {

// The live switch states: started from the settings at Load, then flipped by the keys, the
// console command and the workers. Each is a byte that more than one thread may touch.
struct SwitchStates {
    Shared<bool> freeplotMode;
    Shared<bool> snapDisabled;            // object snap off
    Shared<bool> timeoutFrozen;           // workshop timeout suppressed
    Shared<bool> objectLocked;            // the selected object is locked
    Shared<bool> outlineDisabled;         // the game's object outline off
    Shared<bool> clampedStoringDisabled;  // clamped objects are not stored
    Shared<bool> extraOutlineEnabled;     // extra object selection on
    // The player has used the timescale key during the current stay in workshop mode.
    Shared<bool> timescaleKeyFlag;
    // States parked while outside workshop mode (input thread only).
    std::uint8_t outlineStash = 0;
    std::uint8_t extraOutlineStash = 0;
};
extern SwitchStates switches;

// Takes the start states from the settings file (Load, before the hooks are set).
void startSwitchStates(const Settings& from);

// The game's values saved while a switch is on (input thread only).
extern float savedSnapDistance;  // 48.0 until the first disable of object snap
extern float savedSurfaceSnap;   // 0.8 until the first disable of surface snap
extern float savedTimescale;     // 0.0: the clock is not slowed

// The value surface snap takes while it is off.
inline constexpr float kSurfaceSnapOff = 1.5f;

// The game's own bytes at a site, kept the first time its switch turns on, never refreshed.
template <std::size_t N>
struct SavedBytes {
    std::array<std::uint8_t, N> bytes{};
    bool filled = false;
};

struct SavedCopies {
    SavedBytes<6> freeplotEnable;
    SavedBytes<3> selectEnable;
    SavedBytes<7> buildEnable;
    SavedBytes<6> buildWaterEnable;
    SavedBytes<21> collisionSnap;
    SavedBytes<2> snapJump;
    SavedBytes<6> timeoutFreese;
    SavedBytes<6> lockObject;
    SavedBytes<6> clampedStore;
    SavedBytes<5> outlineUselectable;
    SavedBytes<1> selectButtonUnselectable;
    SavedBytes<10> selectActionUnselectable;
};
extern SavedCopies savedCopies;

// The 5-byte jump (and a NOP) that replaces a 6-byte jump-if-equal, one per site. It starts as
// E9 00 00 00 00 90 and is completed from the game's bytes on the first switch-on.
using JumpTemplate = std::array<std::uint8_t, 6>;
struct JumpTemplates {
    JumpTemplate timeoutFreese{0xE9, 0, 0, 0, 0, 0x90};
    JumpTemplate lockObject{0xE9, 0, 0, 0, 0, 0x90};
    JumpTemplate clampedStore{0xE9, 0, 0, 0, 0, 0x90};
};
extern JumpTemplates jumpTemplates;

// The unconditional form of `0F 84 rel32`: E9, rel32 + 1, 90. The 5-byte jump ends one byte
// before the 6-byte one, so the target stays the same.
JumpTemplate completeJumpTemplate(const std::uint8_t (&conditionalJump)[6]);

// Writes E9 rel32 at `site` when `target` is within signed 32-bit reach of site + 5 and the site
// can be made writable; returns false and writes nothing otherwise.
bool writeJump5(std::uintptr_t site, std::uintptr_t target);

// Whether the code at a site may be written. For a site whose signature did not match, logs
// "Site %s does not match the game's code, left unpatched" the first time and returns false.
bool siteWritable(Loc site);

// The switches, writing the bytes for their state as it is. `show` decides whether the switch's
// message goes on screen. Each returns whether its writes went in.
bool setFreeplotMode(bool on);
bool setObjectSnap(bool show);
void setSurfaceSnap(bool disable, bool show);
bool setTimeoutFrozen(bool show);
bool setObjectLock();
bool setOutline(bool show);
bool setClampedStoring();
bool setExtraSelection(bool show);
void toggleTimescale(bool show);

// The switches that keys and the console command flip.
enum class Switch : std::uint8_t {
    freeplotMode,
    objectSnap,  // snapDisabled
    timeoutFrozen,
    objectLock,      // objectLocked
    outline,         // outlineDisabled
    clampedStoring,  // clampedStoringDisabled
    extraSelection,  // extraOutlineEnabled
};

// Flips the switch's state and writes its bytes together, under the code writer's lock (keys,
// the console command and the scale worker switch from different threads), then shows its
// message when `show` (freeplot mode's is "Freeplot mode on" or "off"). When the bytes cannot be
// written the state stays as it was, nothing is shown and the result is false.
bool toggle(Switch which, bool show = true);

// toggle(Switch::freeplotMode) without a message.
bool toggleFreeplotMode();
// toggle(Switch::objectLock).
void toggleObjectLock();
// When the object lock is on: switches it off (showing "Object unlocked") and returns true.
// Called from the input thread and from the scale worker.
bool releaseObjectLock();

// Run on every input event: restore or slow the game clock, park or restore the outline state,
// depending on whether the player is in workshop mode.
void autoTimescale();
void autoOutline();

// Whether autoTimescale and autoOutline have nothing to do on an event: the common case, told by
// a look at a few flags without a call (the input handlers' quick exit asks the same).
inline bool autoTimescaleIdle(bool inWorkshop) {
    if (!inWorkshop) return savedTimescale == 0.0f && !switches.timescaleKeyFlag;
    return savedTimescale != 0.0f || !settings.autoTimescaleEnabled || switches.timescaleKeyFlag;
}
inline bool autoOutlineIdle(bool inWorkshop) {
    return inWorkshop ? switches.outlineStash == 0 : !switches.outlineDisabled;
}

// The start-up patches that the settings ask for, each without a message.
void applyStartupPatches();

// The float that scales the game clock, reached afresh through the time manager; null while the
// game has not built the chain.
float* timeMultiplier();

}  // namespace freeplot
