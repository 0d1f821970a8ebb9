#pragma once
// The handlers the keyboard and mouse stubs call for every raw input event. A non-zero result
// consumes the event: the game's own processing of it is skipped.

#include <cstdint>

#include "common/msabi.h"

namespace freeplot {

std::int32_t FREEPLOT_MSABI onKeyboardInput(void* record);
std::int32_t FREEPLOT_MSABI onMouseInput(void* record);

}  // namespace freeplot
