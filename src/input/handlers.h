#pragma once
// The handlers the keyboard and mouse stubs call for every raw input event the game processes.
// In workshop mode they turn the bound keys, the wheel and a held mouse button into the
// plugin's actions; every other event goes on to the game untouched.

#include <cstdint>

#include "common/msabi.h"
#include "game/gamefunctions.h"
#include "rules/switches.h"

namespace freeplot {

// The keyboard handler: 1 consumes the event (the game's own processing of it is skipped), 0
// lets it through. A bound key's press is consumed and its action runs on the release of that
// press; a release always goes on to the game.
std::int32_t FREEPLOT_MSABI onKeyboardInput(void* record);

// The mouse handler: always 0, so the game's processing always runs; an event the handler took
// over reaches it with its button and wheel fields cleared, but for the release of a button
// whose press the game saw.
std::int32_t FREEPLOT_MSABI onMouseInput(void* record);

// Builds the lookup from key codes to actions from the bindings in force. Called once the
// settings are read, before the hooks are linked (and again by anything that changes bindings).
void prepareKeyLookup();

// The key code an event stands for: Shift as left or right Shift by its scan code, Ctrl and Alt
// as left or right by the record's E0 flag, any other key as it is.
std::uint16_t normalisedKey(std::uint16_t vkey, std::uint16_t scanCode, std::uint16_t flags);

// The set of actions a key code is bound to, one bit per action number; 0 for none.
std::uint64_t actionsOf(std::uint16_t code);

// What the first event of each stay in workshop mode runs before anything else (the settings
// file read again when it changed); set once while the plugin loads.
void setStayStart(void (*atStayStart)());

// Forgets the button presses the mouse handler took over: their releases then go to the game.
// Called when the settings are read again, which may switch what the buttons do.
void forgetTakenButtons();

// Forgets the key presses the keyboard handler kept, at the next key event it looks at: a release
// then acts only after a press made under the settings now in force. Called when the settings are
// read again, which may bind those keys to other actions, or to none (whose releases it never
// looks at, so that a press kept before would stay kept), and by the mouse handler for an event
// the game gets outside workshop mode or while it ignores input, as the keyboard does for its own.
void forgetTakenKeys();

}  // namespace freeplot
