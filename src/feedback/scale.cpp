#include "feedback/scale.h"

#include "game/gamefunctions.h"
#include "game/locations.h"

namespace freeplot {

std::uintptr_t FREEPLOT_MSABI scaleCallHandler(void* reference, std::uint64_t code,
                                               std::uint64_t scaleBits) {
    // The game's command reads the value after the reference as a variadic function does, from
    // the integer register: so the double's bits go fourth, and the unused fifth value is 0.0.
    void* context = *ptr<void*>(Loc::scriptContextPtr);
    return gameFunction<RunAxisCommandFn>(Loc::runAxisCommand)(
        context, static_cast<std::uint32_t>(code), reference, scaleBits, 0.0);
}

}  // namespace freeplot
