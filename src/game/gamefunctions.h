#pragma once
// Typed pointers for the game functions the plugin calls. Every one uses the Microsoft x64
// calling convention, in the game and in the simulated game alike.

#include <cstdarg>
#include <cstdint>

#include "common/msabi.h"
#include "game/locations.h"

namespace freeplot {

// The argument list type of a Microsoft-convention variadic function.
#if defined(_WIN32)
using MsVaList = va_list;
#else
using MsVaList = __builtin_ms_va_list;
#endif

// (text, 0, 1): shows the text as an on-screen message.
using HudMessageFn = void(FREEPLOT_MSABI*)(const char* text, std::uintptr_t, std::uintptr_t);

// (context, command code, reference, fourth value, fifth value). The game reads the values after
// the reference the way a variadic function does: for a position or angle command the fourth is
// the axis letter and the fifth the double; for the scale command the fourth carries the double's
// bit pattern in the integer register.
using RunAxisCommandFn = std::uintptr_t(FREEPLOT_MSABI*)(void* context, std::uint32_t code,
                                                         void* reference, std::uint64_t fourth,
                                                         double fifth);

// (console object, format, argument list): prints a formatted line on the console.
using ConsolePrintFn = void(FREEPLOT_MSABI*)(void* console, const char* format, MsVaList args);

template <class Fn>
Fn gameFunction(Loc loc) {
    return reinterpret_cast<Fn>(addr(loc));
}

}  // namespace freeplot
