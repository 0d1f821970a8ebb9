#pragma once
// Every place in the game the plugin touches: the module base plus a fixed offset, for the one
// game build the plugin supports (runtime 1.9.4). The table names each location once, by its
// role; all other code asks for locations by that name.

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>

namespace freeplot {

enum class LocKind : std::uint8_t { Site, Function, Data };

// name, offset, kind, and how many bytes there the plugin reads, writes or calls (for a site its
// pattern or what it patches). The comment says what the game keeps there.
// clang-format off
#define FREEPLOT_LOCATIONS(X)                                                                     \
    X(freeplotEnable, 0x1F0DAB, Site, 23)           /* store of the build-allowed result */       \
    X(colorBase, 0x27E5AC8, Site, 26)               /* byte store, immediate at +6 */             \
    X(selectEnable, 0x1F2BD3, Site, 32)             /* 3-byte load */                             \
    X(buildEnable, 0x1F0962, Site, 32)              /* byte load; short jcc 30 bytes on */        \
    X(buildAirEnable, 0x1F0A63, Site, 18)           /* byte store, immediate at +6 */             \
    X(buildWaterEnable, 0x20735D, Site, 23)         /* 6-byte jcc */                              \
    X(collisionSnap, 0x1EF89E, Site, 33)            /* store of a comparison result */            \
    X(keyboardInput, 0xD2678D, Site, 24)            /* call of keyboardInputCallee */             \
    X(timeoutFreese, 0x21556A, Site, 25)            /* 6-byte je */                               \
    X(outline, 0x1E64A0, Site, 18)                  /* byte store, immediate at +6 */             \
    X(outlineUselectable, 0x22ABA3, Site, 36)       /* call of outlineCallee */                   \
    X(selectButtonUnselectable, 0xBD8952, Site, 9)  /* short jne */                               \
    X(selectActionUnselectable, 0x1F2964, Site, 31) /* selectable test */                         \
    X(lockObject, 0x20595C, Site, 29)               /* 6-byte je */                               \
    X(mouseInput, 0xD2676B, Site, 5)                /* call of mouseInputCallee */                \
    X(snapJump, 0x249C61, Site, 2)                  /* 2-byte instruction */                      \
    X(clampedStore, 0x20DDE2, Site, 6)              /* 6-byte je */                               \
    X(keyboardInputCallee, 0x1B11580, Function, 1)  /* game's raw keyboard processing */          \
    X(mouseInputCallee, 0x1B11900, Function, 1)     /* game's raw mouse processing */             \
    X(outlineCallee, 0x242E30, Function, 1)         /* "is this object selectable" */             \
    X(hudMessageFunction, 0xADFBC0, Function, 1)    /* (text, 0, 1): on-screen message */         \
    X(lookupRefByHandle, 0xAB60, Function, 1)       /* (handle*, ref** out) */                    \
    X(runAxisCommand, 0xD3E600, Function, 1)        /* (ctx, code, ref, axis|bits, double) */     \
    X(physicsToggleFunction, 0x140F550, Function, 1)/* (request*, out slot) */                    \
    X(refCommandExecute, 0x52A190, Function, 1)     /* duplicate command handler */               \
    X(refCommandExecute2, 0x504C00, Function, 1)    /* delete command handler */                  \
    X(consolePrintFunction, 0x1249110, Function, 1) /* (console, format, va_list) */              \
    X(buildAllowedFlag, 0x586B02A, Data, 1)         /* byte */                                    \
    X(snapOverrideValue, 0x586B024, Data, 4)        /* u32, reached rip-relative only */          \
    X(selectedRefHandle, 0x586B37C, Data, 4)        /* u32 handle */                              \
    X(workshopModeFlag, 0x586B7CC, Data, 4)         /* i32 */                                     \
    X(workshopStateByte, 0x586B92A, Data, 1)        /* byte */                                    \
    X(inputIgnoreFlag, 0x5A305C0, Data, 1)          /* byte */                                    \
    X(scriptContextPtr, 0x5A51A00, Data, 8)         /* pointer */                                 \
    X(refQueueLock, 0x5965948, Data, 40)            /* critical section */                        \
    X(refQueueSlot, 0x5965970, Data, 8)             /* pointer */                                 \
    X(refQueueSlot2, 0x5965980, Data, 8)            /* pointer */                                 \
    X(snapDistance, 0x366CDA0, Data, 4)             /* float */                                   \
    X(surfaceSnapValue, 0x366D1F0, Data, 4)         /* float */                                   \
    X(gridSnapSetting, 0x366D2E0, Data, 1)          /* byte */                                    \
    X(timeManagerPtr, 0x585BD40, Data, 8)           /* pointer chain to the time multiplier */    \
    X(rotationBasePtr, 0x5A2F8B8, Data, 8)          /* pointer to the heading reference */        \
    X(consoleManagerPtr, 0x586C4C0, Data, 8)        /* pointer to the console object */           \
    X(commandTable, 0x3695DA0, Data, 80)            /* console command records, 80 bytes each */
// clang-format on

enum class Loc : std::uint8_t {
#define FREEPLOT_LOC_ENUM(name, offset, kind, width) name,
    FREEPLOT_LOCATIONS(FREEPLOT_LOC_ENUM)
#undef FREEPLOT_LOC_ENUM
        count
};

struct LocationInfo {
    const char* name;
    std::uint32_t offset;
    LocKind kind;
    std::uint32_t width;
};

inline constexpr LocationInfo kLocations[] = {
#define FREEPLOT_LOC_INFO(name, offset, kind, width) {#name, offset, LocKind::kind, width},
    FREEPLOT_LOCATIONS(FREEPLOT_LOC_INFO)
#undef FREEPLOT_LOC_INFO
};
static_assert(std::size(kLocations) == static_cast<std::size_t>(Loc::count));

constexpr const LocationInfo& info(Loc loc) { return kLocations[static_cast<std::size_t>(loc)]; }
constexpr std::uint32_t offsetOf(Loc loc) { return info(loc).offset; }

// The load address of the game's main module, taken once at library load.
std::uintptr_t gameBase();

// gameBase() + offset.
std::uintptr_t resolve(std::uint32_t offset);

// Resolves every location (the query phase does this once, after the version check).
// consoleManagerPtr and commandTable are already resolved at library load.
void resolveLocations();

// Whether every location, with the bytes the plugin uses there, lies inside the game's module of
// `moduleSize` bytes. A process whose main module is smaller is not the game: for the first
// location outside it one line is logged, and the result is false.
bool locationsFitModule(std::size_t moduleSize);

namespace detail {
// Resolved addresses by location, 0 while not resolved (locations.cpp fills it).
extern std::array<std::uintptr_t, static_cast<std::size_t>(Loc::count)> resolvedLocations;
}  // namespace detail

// The resolved address of a location; 0 while it is not resolved. Inline: the input handlers
// look up several locations on every event.
inline std::uintptr_t addr(Loc loc) {
    return detail::resolvedLocations[static_cast<std::size_t>(loc)];
}

template <class T>
T* ptr(Loc loc) {
    return reinterpret_cast<T*>(addr(loc));
}

}  // namespace freeplot
