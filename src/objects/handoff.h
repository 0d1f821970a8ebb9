#pragma once
// Writing a scale into the game and handing a reference to the game's main loop, which has to
// take it before a scale or a deletion shows. The scale and delete keys, undo and applied
// parameters all end here, on worker threads.

#include <cstdint>

#include "common/msabi.h"
#include "game/gamefunctions.h"

namespace freeplot {

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
// the reference to the game and marks it rescaled; nothing when the game has let go of it, and
// then false. Clears scaleBusy when `clearBusy`.
bool applyScale(const HeldRef& held, double scaleFactor, bool clearBusy);

}  // namespace freeplot
