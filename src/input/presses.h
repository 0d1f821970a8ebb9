#pragma once
// The key presses the keyboard handler keeps from the game: only the release of such a press runs
// an action, once. An event the game gets outside workshop mode or while it ignores input, key or
// mouse, ends them all (forgetTakenKeys, input/handlers.h).

#include <cstdint>
#include <vector>

namespace freeplot {

// The entry of a key code: 1 while its press is kept. Codes of 256 or more share one entry.
std::uint8_t& takenEntry(std::uint16_t code);

// A press kept, and the release that ends it.
void keepPress(std::uint8_t& taken);
void endPress(std::uint8_t& taken);

// The codes (below 256) whose press is kept now, in ascending order; none once an event let
// through asked for every kept press to end.
std::vector<std::uint16_t> keptPresses();

// At a key event inside workshop mode, before its key is looked at: every kept press ends when an
// event the handlers let through since asked for it.
void settleForgottenPresses();

}  // namespace freeplot
