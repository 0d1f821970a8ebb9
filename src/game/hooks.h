#pragma once
// SetHooks, which makes the five generated stubs (game/stubs.h) in the trampoline at start-up
// and links the keyboard and mouse stubs at once, and the entries of the stubs it keeps.

#include <cstddef>
#include <cstdint>

#include "common/msabi.h"

namespace freeplot {

// Handlers the stubs call.
using InputHandlerFn = std::int32_t(FREEPLOT_MSABI*)(void* record);
using ScaleHandlerFn = std::uintptr_t(FREEPLOT_MSABI*)(void* reference, std::uint64_t code,
                                                       std::uint64_t scaleBits);

// How the scale stub is called: the reference in rcx, the scale factor in xmm1.
using ScaleCallStubFn = void(FREEPLOT_MSABI*)(void* reference, double scale);

// The entries of the stubs that are not linked at start-up; null until SetHooks made them.
extern const void* freeplotEnableStub;
extern ScaleCallStubFn scaleCallStub;
extern const void* outlineStub;

// The console command record named "GetDebugText"; null when none was found.
extern void* debugTextCommand;

// The plugin's handlers that the stubs call; the entry point hands them over, so this layer
// never depends on the layers that implement them.
struct HookHandlers {
    InputHandlerFn keyboard = nullptr;
    InputHandlerFn mouse = nullptr;
    ScaleHandlerFn scale = nullptr;
};

// Makes the trampoline and the five stubs, links the keyboard and mouse stubs, takes over the
// console command and switches freeplot mode on as `togglable` says. Lets Halt through.
void SetHooks(const HookHandlers& handlers);

// Finds the first record named "GetDebugText" among the records numbered below 0x2F9 of the
// command table at `table`, looking no further than `end` (the end of the game's module); 0 when
// there is none.
std::uintptr_t findDebugTextCommand(std::uintptr_t table, std::uintptr_t end);

}  // namespace freeplot
