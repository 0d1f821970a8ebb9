#include "objects/scale.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "common/Guard.h"
#include "config/messages.h"
#include "config/settings.h"
#include "config/steps.h"
#include "feedback/notify.h"
#include "feedback/workers.h"
#include "game/gamefunctions.h"
#include "game/hooks.h"
#include "game/patches.h"
#include "objects/transforms.h"
#include "objects/undo.h"

namespace freeplot {
namespace {

constexpr auto kHandOffPoll = std::chrono::milliseconds(1);

GameReference*& slot(Loc loc) { return *ptr<GameReference*>(loc); }

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

void handOffToGame(GameReference* reference) {
    for (;;) {
        {
            const RefQueueLock lock;
            if (!slot(Loc::refQueueSlot)) {
                slot(Loc::refQueueSlot) = reference;
                break;
            }
        }
        std::this_thread::sleep_for(kHandOffPoll);
    }
    for (;;) {
        {
            const RefQueueLock lock;
            if (slot(Loc::refQueueSlot) != reference) return;
        }
        std::this_thread::sleep_for(kHandOffPoll);
    }
}

void applyScale(GameReference* reference, double scaleFactor, bool clearBusy) {
    if (scaleCallStub) {
        scaleCallStub(reference, scaleFactor);
        if (!reference->isActor()) {
            handOffToGame(reference);
            const RefQueueLock lock;
            reference->setFlagBits(kRefFlagRescaled);
            slot(Loc::refQueueSlot2) = reference;
        }
    }
    if (clearBusy) workers.scaleBusy = 0;
}

std::uint16_t scaledPercent(std::uint16_t current, std::int32_t step, std::uint16_t key) {
    if (matches(Action::scaleReset, key)) return 100;
    const std::int64_t delta = matches(Action::scaleDown, key) ? -std::int64_t{step} : step;
    const std::int64_t sum = std::int64_t{current} + delta;
    return static_cast<std::uint16_t>(
        std::clamp<std::int64_t>(sum, kMinScalePercent, kMaxScalePercent));
}

void scaleByKeyWorker(std::uint16_t key) {
    if (GameReference* reference = selectedReference()) {
        releaseObjectLock();
        pushUndo(reference, UndoKind::scale, 'S');
        const std::uint16_t percent = scaledPercent(reference->scale(), scaleSteps.current(), key);
        applyScale(reference, percent / 100.0, false);
        showMessage(formatMessage(Msg::scaleChange, int{percent}));
    }
    workers.scaleBusy = 0;
}

void deleteWorker(GameReference* reference) {
    // Once the game has it, the object is gone: nothing may write through it any more.
    forgetDeletedReference(reference);
    handOffToGame(reference);
    double result = 0.0;
    gameFunction<RefCommandFn>(Loc::refCommandExecute2)(0, 0, reference, 0, 0, 0, &result, 0);
    workers.deleteBusy = 0;
}

}  // namespace freeplot
