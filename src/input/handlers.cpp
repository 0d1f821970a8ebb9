#include "input/handlers.h"

namespace freeplot {

// Every event goes on to the game for now; the hotkey dispatcher and the wheel rotation land
// with the input work and take over these two entries.
std::int32_t FREEPLOT_MSABI onKeyboardInput(void*) { return 0; }

std::int32_t FREEPLOT_MSABI onMouseInput(void*) { return 0; }

}  // namespace freeplot
