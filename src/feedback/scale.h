#pragma once
// The handler behind the scale stub: runs the game's scale command on a reference.

#include <cstdint>

#include "common/msabi.h"

namespace freeplot {

// Code of the game's scale command.
inline constexpr std::uint32_t kScaleCommandCode = 0x113C;

// Reached only through the scale stub: rcx = the reference, rdx = 0x113C, r8 = the bit pattern
// of the scale factor (a double). Returns what the game's command returned (the stub drops it).
std::uintptr_t FREEPLOT_MSABI scaleCallHandler(void* reference, std::uint64_t code,
                                               std::uint64_t scaleBits);

}  // namespace freeplot
