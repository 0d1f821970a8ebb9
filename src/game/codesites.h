#pragma once
// Writing at the game's code sites: only where the site holds the code the plugin knows, always
// through the code writer (common/write_code.h).

#include <array>
#include <cstdint>

#include "game/locations.h"

namespace freeplot {

// Whether the code at a site may be written. For a site whose code did not match what the plugin
// knows at query time, logs "Site %s does not match the game's code, left unpatched" the first
// time (whichever thread asks) and returns false.
bool siteWritable(Loc site);

// Writes E9 rel32 at `site` when `target` is within signed 32-bit reach of site + 5 and the site
// can be made writable; returns false and writes nothing otherwise.
bool writeJump5(std::uintptr_t site, std::uintptr_t target);

// The 5-byte jump (and a NOP) that replaces a 6-byte jump-if-equal (0F 84 rel32): E9, rel32 + 1,
// 90. The shorter jump ends one byte earlier, so it reaches the same target.
using JumpTemplate = std::array<std::uint8_t, 6>;
JumpTemplate completeJumpTemplate(const std::uint8_t (&conditionalJump)[6]);

}  // namespace freeplot
