#pragma once
// A game laid out in this process for measuring the input handlers: the game image mapped where
// the plugin looks for it, its locations resolved, workshop mode on with an object selected, the
// key lookup prepared from the default bindings, and for the keyboard and the mouse two copies
// of a game routine that makes the raw-input call with the record in rdx: one as the game has
// it, and one whose call is replaced by the 5-byte jump into the plugin's generated stub, which
// calls the real handler (onKeyboardInput, onMouseInput) and then the game's callee.

#include <cstdint>
#include <string>

#include "game/records.h"

namespace bench {

// A game routine: called with the raw-input record, makes the game's input call.
using Routine = void (*)(void* record);

struct InputGame {
    Routine keyboardUnhooked = nullptr;
    Routine keyboardHooked = nullptr;
    Routine mouseUnhooked = nullptr;
    Routine mouseHooked = nullptr;
    // How often the game's own keyboard and mouse callees ran.
    const std::uint64_t* keyboardCalleeRuns = nullptr;
    const std::uint64_t* mouseCalleeRuns = nullptr;
    // Empty when the game is laid; otherwise what went wrong.
    std::string error;
};

// Lays the game on first use; later calls return the same game.
const InputGame& inputGame();

// A key that no action is bound to by default ("W"), pressed.
inline constexpr std::uint16_t kUnboundKey = 0x57;
freeplot::RawKeyboard unboundKeyPress();

// A mouse movement: no button transition, no wheel.
freeplot::RawMouse mouseMove();

// The game's handle lookup, laid with the game: every handle names one reference (at its start
// values), which is also the player's, whose Z angle is the heading.
inline constexpr std::uint32_t kSelectedHandle = 0x00F00001;

}  // namespace bench
