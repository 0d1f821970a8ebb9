#pragma once
// Every building rule the plugin switches, by rewriting a few bytes of the game's code or one
// game variable, and the write-back that undoes it. Callers flip the matching state flag and
// call the switch; the switches read the flags.
//
// A site whose code did not match its signature at query time is never written: its writes are
// skipped, its bytes are not saved, and one log line names it the first time.

#include <array>
#include <cstddef>
#include <cstdint>

#include "game/locations.h"

namespace freeplot {

// State flags that are not settings (the live states that double as settings, snapDisabled,
// timeoutFrozen, outlineDisabled and extraOutlineEnabled, are fields of `settings`).
extern bool freeplotMode;
extern bool objectLocked;
extern bool clampedStoringDisabled;
// The player has used the timescale key during the current stay in workshop mode.
extern bool timescaleKeyFlag;
// The outline state parked by autoOutline while outside workshop mode.
extern std::uint8_t outlineStash;

// The game's values saved while a switch is on.
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

// The only way game code is changed: makes the range writable and executable, copies the bytes,
// and sets the protection back to what it was.
void writeCode(std::uintptr_t address, const void* bytes, std::size_t length);

// Writes E9 rel32 at `site` when `target` is within signed 32-bit reach of site + 5; returns
// false and writes nothing otherwise.
bool writeJump5(std::uintptr_t site, std::uintptr_t target);

// Whether the code at a site may be written. For a site whose signature did not match, logs
// "Site %s does not match the game's code, left unpatched" the first time and returns false.
bool siteWritable(Loc site);

// The switches. `show` decides whether the switch's message goes on screen.
void setFreeplotMode(bool on);
void setObjectSnap(bool show);
void setSurfaceSnap(bool disable, bool show);
void setTimeoutFrozen(bool show);
void setObjectLock();
void setOutline(bool show);
void setClampedStoring();
void setExtraSelection(bool show);
void toggleTimescale(bool show);

// Run on every input event: restore or slow the game clock, park or restore the outline state,
// depending on whether the player is in workshop mode.
void autoTimescale();
void autoOutline();

// The start-up patches that the settings ask for, each without a message.
void applyStartupPatches();

// The float that scales the game clock, reached afresh through the time manager; null while the
// game has not built the chain.
float* timeMultiplier();

}  // namespace freeplot
