#include "input/handlers.h"

namespace freeplot {

std::int32_t FREEPLOT_MSABI onKeyboardInput(void*) { return 0; }

std::int32_t FREEPLOT_MSABI onMouseInput(void*) { return 0; }

}  // namespace freeplot
