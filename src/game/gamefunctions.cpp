#include "game/gamefunctions.h"

#include <shared_mutex>

#include "os/os.h"

namespace freeplot {
namespace {

std::shared_mutex& referenceLock() {
    static std::shared_mutex lock;
    return lock;
}

}  // namespace

GameReference* lookUp(const HeldRef& held) {
    if (!held.named) return nullptr;
    void* reference = nullptr;
    gameFunction<LookupRefFn>(Loc::lookupRefByHandle)(&held.handle, &reference);
    return reference == held.named ? static_cast<GameReference*>(reference) : nullptr;
}

HeldRef holdHandle(std::uint32_t handle) {
    // Asked with a copy of the handle, as for any handle kept.
    HeldRef held{handle, nullptr};
    void* reference = nullptr;
    gameFunction<LookupRefFn>(Loc::lookupRefByHandle)(&held.handle, &reference);
    held.named = static_cast<const GameReference*>(reference);
    return held;
}

Selection selection() {
    // The handle is read before the game is asked through its own variable: should the selection
    // change in between, the pair names two references and every later lookUp fails, which only
    // drops what was kept.
    const auto handle = readGame<std::uint32_t>(Loc::selectedRefHandle);
    void* reference = nullptr;
    gameFunction<LookupRefFn>(Loc::lookupRefByHandle)(ptr<std::uint32_t>(Loc::selectedRefHandle),
                                                      &reference);
    auto* selected = static_cast<GameReference*>(reference);
    return {selected, {handle, selected}};
}

ReferenceUse::ReferenceUse() { referenceLock().lock_shared(); }

ReferenceUse::~ReferenceUse() { referenceLock().unlock_shared(); }

ReferenceDeletion::ReferenceDeletion() { referenceLock().lock(); }

ReferenceDeletion::~ReferenceDeletion() { referenceLock().unlock(); }

void FREEPLOT_MSABI consolePrint(const char* format, ...) {
    void* console = *ptr<void*>(Loc::consoleManagerPtr);
    if (!console) return;
    // Resolved afresh on every call, like the game's own callers do.
    const auto gamePrint =
        reinterpret_cast<ConsolePrintFn>(resolve(offsetOf(Loc::consolePrintFunction)));
#if defined(_WIN32)
    va_list args;
    va_start(args, format);
    gamePrint(console, format, args);
    va_end(args);
#else
    __builtin_ms_va_list args;
    __builtin_ms_va_start(args, format);
    gamePrint(console, format, args);
    __builtin_ms_va_end(args);
#endif
}

float* timeMultiplier() {
    const TimeManager* manager = *ptr<const TimeManager*>(Loc::timeManagerPtr);
    if (!manager || !manager->clock) return nullptr;
    return &manager->clock->multiplier;
}

RefQueueLock::RefQueueLock() { os::enterCriticalSection(ptr<void>(Loc::refQueueLock)); }

RefQueueLock::~RefQueueLock() { os::leaveCriticalSection(ptr<void>(Loc::refQueueLock)); }

}  // namespace freeplot
