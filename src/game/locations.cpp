#include "game/locations.h"

#include <array>

#include "common/log.h"
#include "os/os.h"

namespace freeplot {
namespace {

// Taken once when the library is loaded.
const std::uintptr_t gameBaseAddress = os::mainModule();

std::array<std::uintptr_t, static_cast<std::size_t>(Loc::count)> makeStaticLocations() {
    std::array<std::uintptr_t, static_cast<std::size_t>(Loc::count)> table{};
    // The console object pointer and the command table are static objects of the game and are
    // known from library load on.
    table[static_cast<std::size_t>(Loc::consoleManagerPtr)] =
        gameBaseAddress + offsetOf(Loc::consoleManagerPtr);
    table[static_cast<std::size_t>(Loc::commandTable)] =
        gameBaseAddress + offsetOf(Loc::commandTable);
    return table;
}

}  // namespace

namespace detail {
std::array<std::uintptr_t, static_cast<std::size_t>(Loc::count)> resolvedLocations =
    makeStaticLocations();
}  // namespace detail

std::uintptr_t gameBase() { return gameBaseAddress; }

std::uintptr_t resolve(std::uint32_t offset) { return gameBaseAddress + offset; }

bool locationsFitModule(std::size_t moduleSize) {
    for (const LocationInfo& location : kLocations) {
        if (std::uint64_t{location.offset} + location.width <= moduleSize) continue;
        logLine("%s at game+0x%X lies outside the main module (0x%" PRIX64
                " bytes): this is not the game this plugin was made for",
                location.name, location.offset, static_cast<std::uint64_t>(moduleSize));
        return false;
    }
    return true;
}

void resolveLocations() {
    auto& resolved = detail::resolvedLocations;
    for (std::size_t i = 0; i < resolved.size(); ++i) {
        const Loc loc = static_cast<Loc>(i);
        // The console print function is looked up afresh each time it is used, and the snap
        // override value is only ever reached rip-relative from code the plugin writes.
        if (loc == Loc::consolePrintFunction || loc == Loc::snapOverrideValue) continue;
        resolved[i] = resolve(kLocations[i].offset);
    }
}

}  // namespace freeplot
