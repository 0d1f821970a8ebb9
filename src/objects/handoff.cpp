#include "objects/handoff.h"

#include <chrono>
#include <thread>

#include "common/guard.h"
#include "common/log.h"
#include "feedback/workers.h"
#include "game/hooks.h"

namespace freeplot {
namespace {

constexpr auto kHandOffPoll = std::chrono::milliseconds(1);
// How long a hand-off waits before it says so in the log (once per hand-off).
constexpr auto kHandOffPatience = std::chrono::seconds(5);
// While a reference waits in the slot, its handle is looked up again every this many polls.
constexpr int kHandleChecks = 10;

// The hand-over slots are the game's: read and written whole (the game reads them on its own
// thread, under its lock, and the plugin polls them without).
GameReference* inSlot(Loc loc) { return readGame<GameReference*>(loc); }
void putInSlot(Loc loc, GameReference* reference) { writeGame<GameReference*>(loc, reference); }

}  // namespace

std::uintptr_t FREEPLOT_MSABI scaleCallHandler(void* reference, std::uint64_t code,
                                               std::uint64_t scaleBits) {
    return guarded("scale handler", std::uintptr_t{0}, [&] {
        // The game's command reads the value after the reference as a variadic function does,
        // from the integer register: so the double's bits go fourth, and the unused fifth is 0.0.
        return gameFunction<RunAxisCommandFn>(Loc::runAxisCommand)(
            *ptr<void*>(Loc::scriptContextPtr), static_cast<std::uint32_t>(code), reference,
            scaleBits, 0.0);
    });
}

bool handOffToGame(const HeldRef& held) {
    const auto since = std::chrono::steady_clock::now();
    bool told = false;
    auto waited = [&] {
        if (!told && std::chrono::steady_clock::now() - since >= kHandOffPatience) {
            told = true;
            logLine("The game has not taken a reference handed to it for 5 s; still waiting");
        }
        std::this_thread::sleep_for(kHandOffPoll);
    };
    // Stored once the slot is free (another hand-off may hold it), looked up right before.
    GameReference* handed = nullptr;
    for (int polls = 0; !handed; ++polls) {
        // Gone already (a deletion can land between a worker's calls and its hand-off).
        GameReference* reference = lookUp(held);
        if (!reference) {
            logLine("The game let go of a reference before it was handed over");
            return false;
        }
        {
            const RefQueueLock lock;
            if (!inSlot(Loc::refQueueSlot)) {
                putInSlot(Loc::refQueueSlot, reference);
                handed = reference;
                break;
            }
        }
        waited();
    }
    // Then until the game has taken it. Should the game let go of the reference while it waits
    // in the slot, it is taken back out: the game would otherwise take what it has freed.
    for (int polls = 1;; ++polls) {
        {
            const RefQueueLock lock;
            if (inSlot(Loc::refQueueSlot) != handed) return true;
        }
        if (polls % kHandleChecks == 0 && lookUp(held) != handed) {
            {
                const RefQueueLock lock;
                if (inSlot(Loc::refQueueSlot) != handed) return true;
                putInSlot(Loc::refQueueSlot, nullptr);
            }
            logLine("The game let go of a reference waiting in the hand-over slot; taken back out");
            return false;
        }
        waited();
    }
}

bool applyScale(const HeldRef& held, double scaleFactor, bool clearBusy) {
    // Without the hooks nothing can be scaled, nor told gone.
    bool scaled = false, actor = false, gone = false;
    if (stubs.scaleCall) {
        const ReferenceUse use;
        if (GameReference* reference = lookUp(held)) {
            actor = reference->isActor();
            stubs.scaleCall(reference, scaleFactor);
            scaled = true;
        } else {
            gone = true;
        }
    }
    if (scaled && !actor && handOffToGame(held)) {
        const ReferenceUse use;
        if (GameReference* taken = lookUp(held)) {
            const RefQueueLock lock;
            taken->setFlagBits(kRefFlagRescaled);
            putInSlot(Loc::refQueueSlot2, taken);
        }
    }
    if (clearBusy) workers.scaleBusy = 0;
    return !gone;
}

}  // namespace freeplot
