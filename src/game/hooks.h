#pragma once
// setHooks, which makes the five generated stubs (game/stubs.h) in the trampoline at start-up
// and links the keyboard and mouse stubs at once, and the entries of the stubs it keeps.

#include <cstddef>
#include <cstdint>

#include "common/msabi.h"
#include "game/handlertypes.h"

namespace freeplot {

// How the scale stub is called: the reference in rcx, the scale factor in xmm1.
using ScaleCallStubFn = void(FREEPLOT_MSABI*)(void* reference, double scale);

// The entries of the stubs that are not linked at start-up; null until setHooks made them.
struct StubEntries {
    const void* freeplotEnable = nullptr;
    ScaleCallStubFn scaleCall = nullptr;
    const void* outline = nullptr;
};
extern StubEntries stubs;

// The plugin's handlers that the stubs call; the entry point hands them over, so this layer
// never depends on the layers that implement them.
struct HookHandlers {
    InputHandlerFn keyboard = nullptr;
    InputHandlerFn mouse = nullptr;
    ScaleHandlerFn scale = nullptr;
};

// Allocates the trampoline, assembles the five stubs into it and patches the two input sites to
// jump to theirs. False, after a log line, when no trampoline could be allocated. Halt passes
// through.
bool setHooks(const HookHandlers& handlers);

}  // namespace freeplot
