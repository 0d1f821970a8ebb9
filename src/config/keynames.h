#pragma once
// Names of Windows virtual-key codes, as a player reads them on a US keyboard.

#include <cstdint>
#include <string>

#include "config/settings.h"

namespace freeplot {

// The key a code stands for ("F8", "Numpad 8", "Left Ctrl"), or null for a code no
// standard key sends.
const char* keyName(std::uint32_t code);

// "F8", or "Left Ctrl / Right Ctrl" for a binding with an alternate; a code without a name
// is shown as "code N".
std::string bindingName(const KeyBinding& binding);

}  // namespace freeplot
