#pragma once
// Scaling and deleting the selected object. Both go through the game's own script machinery
// and then hand the reference to the game's main loop, which has to take it before the change
// shows; so they run on worker threads, never on the game's input thread.

#include <cstdint>

#include "common/msabi.h"
#include "game/gamefunctions.h"
#include "game/records.h"

namespace freeplot {

inline constexpr std::uint16_t kMinScalePercent = 10;
inline constexpr std::uint16_t kMaxScalePercent = 0xFFFF;

// Reached only through the scale stub: rcx = the reference, rdx = 0x113C, r8 = the bit pattern
// of the scale factor (a double). Returns what the game's command returned (the stub drops it).
std::uintptr_t FREEPLOT_MSABI scaleCallHandler(void* reference, std::uint64_t code,
                                               std::uint64_t scaleBits);

// Gives the held reference to the game: looks it up, stores it in the hand-over slot under the
// game's lock once the slot is free (so a waiting hand-off of another worker is never
// overwritten), then waits, polling every millisecond, until the game has taken it. Without a
// time limit: only the game ends the wait; after 5 s one log line says that it goes on waiting.
// False when the game has let go of the reference: then nothing is handed over (a reference
// already in the slot is taken back out), and one log line says which of the two it was.
bool handOffToGame(const HeldRef& held);

// Runs the game's scale command through the scale stub, then (for anything but an actor) hands
// the reference to the game and marks it rescaled; nothing when the game has let go of it.
// Clears scaleBusy when `clearBusy`.
void applyScale(const HeldRef& held, double scaleFactor, bool clearBusy);

enum class ScaleChange : std::uint8_t { up, down, reset };

// The percent a scale key leaves on an object at `current` percent: 100 for a reset, else the
// current percent plus or less the step; never below 10 and never above 65535.
std::uint16_t scaledPercent(std::uint16_t current, std::int32_t step, ScaleChange change);

// Thread body of the scale keys: one scale step on the selected object, its undo record, and the
// "Scale set to" message through the notifier. Clears scaleBusy at its end.
void scaleByKeyWorker(ScaleChange change);

// Thread body of the delete key: hands the reference to the game and deletes it (nothing when
// the game has let go of it). Clears deleteBusy at its end.
void deleteWorker(const HeldRef& held);

}  // namespace freeplot
