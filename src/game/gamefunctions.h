#pragma once
// The game functions the plugin calls, typed, and the few calls every layer above makes through
// one place each. Every game function uses the Microsoft x64 calling convention, in the game and
// in the simulated game alike. Nothing here knows what the plugin says or switches: a caller
// brings its own text.

#include <cstdarg>
#include <cstdint>

#include "common/msabi.h"
#include "game/locations.h"
#include "game/records.h"

namespace freeplot {

// The argument list type of a Microsoft-convention variadic function.
#if defined(_WIN32)
using MsVaList = va_list;
#else
using MsVaList = __builtin_ms_va_list;
#endif

// (text, 0, 1): shows the text as an on-screen message.
using HudMessageFn = void(FREEPLOT_MSABI*)(const char* text, std::uintptr_t, std::uintptr_t);

// (handle*, reference** out): leaves the reference of the handle in *out, or leaves it alone.
using LookupRefFn = std::uintptr_t(FREEPLOT_MSABI*)(const std::uint32_t* handle, void** out);

// (context, command code, reference, fourth value, fifth value). What follows the reference is
// read like variadic arguments: position and angle commands take the axis letter, then the
// double; the scale command takes the double's bits through the integer register.
using RunAxisCommandFn = std::uintptr_t(FREEPLOT_MSABI*)(void* context, std::uint32_t code,
                                                         void* reference, std::uint64_t fourth,
                                                         double fifth);

// (request, out slot): motion type 1 or 2 for the reference named by the request's handle.
using PhysicsToggleFn = std::uintptr_t(FREEPLOT_MSABI*)(const PhysicsRequest* request,
                                                        std::uint64_t* out);

// (0, 0, reference, 0, 0, 0, result slot, 0): how the game runs one of its script commands
// with a reference as the subject.
using RefCommandFn = std::uintptr_t(FREEPLOT_MSABI*)(std::uint64_t, std::uint64_t, void* reference,
                                                     std::uint64_t, std::uint64_t, std::uint64_t,
                                                     double* result, std::uint64_t);

// (console object, format, argument list): vprintf onto the game console.
using ConsolePrintFn = void(FREEPLOT_MSABI*)(void* console, const char* format, MsVaList args);

template <class Fn>
Fn gameFunction(Loc loc) {
    return reinterpret_cast<Fn>(addr(loc));
}

// Codes of the game's positioning command.
inline constexpr std::uint32_t kSetPositionCommand = 0x1007;
inline constexpr std::uint32_t kSetAngleCommand = 0x1009;
inline constexpr std::uint32_t kSetScaleCommand = 0x113C;

// The angle command takes degrees; a reference holds its angles in radians. The double nearest
// 180/pi.
inline constexpr double kDegreesPerRadian = 57.29577951308232;
inline double degrees(float radians) { return double{radians} * kDegreesPerRadian; }

// Shows a text on screen at once, through the game's HUD message call, on the thread that asks:
// every message of the plugin ends here; the layers above choose the text and the moment.
inline void showHudMessage(const char* text) {
    gameFunction<HudMessageFn>(Loc::hudMessageFunction)(text, 0, 1);
}

// printf-style line on the game console; does nothing while the console does not exist.
void FREEPLOT_MSABI consolePrint(const char* format, ...);

// The float that scales the game clock, reached afresh through the time manager; null while the
// game has not built the chain.
float* timeMultiplier();

// A reference kept past the event that looked it up. The game frees references when it likes
// (a cell unloads, the player scraps, another mod deletes), so what outlives an event keeps the
// handle that found the reference, and the reference the handle named then, which is compared
// and never followed.
struct HeldRef {
    std::uint32_t handle = 0;
    const GameReference* named = nullptr;
};

// The reference a held handle names now, when it is still the one it named; null when the game
// has let go of it (or the handle names another reference now).
GameReference* lookUp(const HeldRef& held);

// A handle the game gave out, looked up now to be kept: its reference null when it names none.
HeldRef holdHandle(std::uint32_t handle);

// The reference selected in workshop mode, asked afresh, and its handle for keeping it.
struct Selection {
    GameReference* reference = nullptr;  // null when nothing is selected
    HeldRef held;
};
Selection selection();

// The plugin deletes references itself, on a worker thread; the input thread and the other
// workers look references up and call the game on them meanwhile. A deletion must not land
// between such a lookup and the last call that follows it: each use holds a ReferenceUse, and the
// deletion a ReferenceDeletion, which waits until no use is open and holds new ones off until the
// game has the delete command. Neither is held while the plugin waits on the game (a hand-off),
// and a thread holds at most one of them at a time.
class ReferenceUse {
public:
    ReferenceUse();
    ~ReferenceUse();
    ReferenceUse(const ReferenceUse&) = delete;
    ReferenceUse& operator=(const ReferenceUse&) = delete;
};
class ReferenceDeletion {
public:
    ReferenceDeletion();
    ~ReferenceDeletion();
    ReferenceDeletion(const ReferenceDeletion&) = delete;
    ReferenceDeletion& operator=(const ReferenceDeletion&) = delete;
};

// Sets one coordinate (kSetPositionCommand) or one angle in degrees (kSetAngleCommand) of a
// reference; `axis` is 'X', 'Y' or 'Z'.
inline void runAxisCommand(std::uint32_t code, GameReference* reference, char axis, double value) {
    gameFunction<RunAxisCommandFn>(Loc::runAxisCommand)(*ptr<void*>(Loc::scriptContextPtr), code,
                                                        reference, static_cast<std::uint64_t>(axis),
                                                        value);
}

// Game bytes that the game's own threads also write: read and written whole.
template <class T>
T readGame(Loc loc) {
    return detail::loadRelaxed(*ptr<T>(loc));
}
template <class T>
void writeGame(Loc loc, T value) {
    detail::storeRelaxed(*ptr<T>(loc), value);
}

// The game's critical section around its hand-over slots, held for the life of the object.
class RefQueueLock {
public:
    RefQueueLock();
    ~RefQueueLock();
    RefQueueLock(const RefQueueLock&) = delete;
    RefQueueLock& operator=(const RefQueueLock&) = delete;
};

}  // namespace freeplot
