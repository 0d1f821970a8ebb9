#pragma once
// Names of Windows virtual-key codes, as a player reads them on a US keyboard.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "config/actions.h"

namespace freeplot {

// The key a code stands for ("F8", "Numpad 8", "Left Ctrl"), or null for a code no
// standard key sends.
const char* keyName(std::uint32_t code);

// Whether some keyboard or mouse sends the code. Codes that Windows reserves or leaves unassigned,
// and codes above 255, are sent by none; an unnamed code may still be sent by some keyboards (the
// OEM codes: 193 on a Brazilian keyboard, 0x92, 0xFF).
bool sentByAnyKey(std::uint32_t code);

// Whether the code is one of the named codes that no PC keyboard sends (Select, Print, Execute,
// Help, and the codes of old terminals' keys: Attn, CrSel, ExSel, Erase EOF, Play, Zoom, PA1,
// OEM Clear).
bool namedButNoPcKey(std::uint32_t code);

// "F8", or "Left Ctrl / Right Ctrl" for a binding with an alternate; a code without a name
// is shown as "code N".
std::string bindingName(const KeyBinding& binding);

// The code of a key written by the name keyName gives it, in any case and with or without its
// spaces ("Numpad 8", "numpad8", "PAGE UP"); a name that ends in " key" may leave that off
// (`\` for `\ key`), and one with a note in brackets may leave the note off. nullopt for a
// text that names no key.
std::optional<std::uint16_t> keyCodeOfName(std::string_view text);

}  // namespace freeplot
