#pragma once
// The shapes of the plugin's handlers that the generated stubs call: the stub generators
// (game/stubs.h) build calls to them, and the hook set-up (game/hooks.h) is handed them.

#include <cstdint>

#include "common/msabi.h"

namespace freeplot {

using InputHandlerFn = std::int32_t(FREEPLOT_MSABI*)(void* record);
using ScaleHandlerFn = std::uintptr_t(FREEPLOT_MSABI*)(void* reference, std::uint64_t code,
                                                       std::uint64_t scaleBits);

}  // namespace freeplot
