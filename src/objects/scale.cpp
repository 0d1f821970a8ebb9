#include "objects/scale.h"

#include <algorithm>

#include "config/messages.h"
#include "config/steps.h"
#include "feedback/notify.h"
#include "feedback/workers.h"
#include "game/gamefunctions.h"
#include "objects/handoff.h"
#include "objects/undo.h"
#include "rules/switches.h"

namespace freeplot {

std::uint16_t scaledPercent(std::uint16_t current, std::int32_t step, ScaleChange change) {
    if (change == ScaleChange::reset) return 100;
    const std::int64_t delta = change == ScaleChange::down ? -std::int64_t{step} : step;
    if (delta == 0) return current;
    const std::int64_t sum = std::int64_t{current} + delta;
    const std::int64_t kept = std::clamp<std::int64_t>(sum, kMinScalePercent, kMaxScalePercent);
    // The floor, the top and the sign of the step keep a change within range but never turn it
    // around: the down key never makes an object larger (one the game holds below the floor
    // stays as it is, rather than growing to it), and the up key never makes it smaller.
    const std::int64_t percent = change == ScaleChange::down
                                     ? std::min<std::int64_t>(kept, current)
                                     : std::max<std::int64_t>(kept, current);
    return static_cast<std::uint16_t>(percent);
}

void scaleSelected(ScaleChange change) {
    const Selection selected = selection();
    if (!selected.reference || !claimWorker(workers.scaleBusy)) return;
    setSwitch(Switch::objectLock, false);
    pushUndo(selected.reference, selected.held, UndoKind::scale);
    // Every scale goes through the scale worker, which is ours now: the percent read here is the
    // object's last.
    const std::uint16_t percent =
        scaledPercent(selected.reference->scale(), scaleSteps.current(), change);
    startClaimedWorker(workers.scaleBusy, "scale", scaleByKeyWorker, selected.held, percent);
}

void scaleByKeyWorker(const HeldRef& held, std::uint16_t percent) {
    if (applyScale(held, percent / 100.0, false))
        showAfterQuiet(formatMessage(Msg::scaleChange, int{percent}));
    workers.scaleBusy = 0;
}

void deleteSelected() {
    const Selection selected = selection();
    if (!selected.reference || !claimWorker(workers.deleteBusy)) return;
    forgetUndoRecords(selected.held.handle);
    startClaimedWorker(workers.deleteBusy, "delete", deleteWorker, selected.held);
}

void deleteWorker(const HeldRef& held) {
    if (handOffToGame(held)) {
        const ReferenceDeletion deletion;
        if (GameReference* reference = lookUp(held)) {
            double result = 0.0;
            gameFunction<RefCommandFn>(Loc::refCommandExecute2)(0, 0, reference, 0, 0, 0, &result,
                                                                0);
        }
    }
    forgetUndoRecords(held.handle);
    workers.deleteBusy = 0;
}

}  // namespace freeplot
