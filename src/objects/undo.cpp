#include "objects/undo.h"

#include <algorithm>
#include <deque>
#include <mutex>

#include "feedback/workers.h"
#include "game/gamefunctions.h"
#include "objects/scale.h"
#include "objects/transforms.h"

namespace freeplot {
namespace {

// The input thread, the held-button rotation worker and the scale worker all record changes.
struct UndoHistory {
    std::mutex mutex;
    std::deque<UndoRecord> records;  // oldest at the front
};
UndoHistory undoHistory;

UndoRecord snapshot(const GameReference* reference, const HeldRef& held, UndoKind kind, char axis) {
    UndoRecord r;
    r.held = held;
    r.kind = kind;
    r.axis = axis;
    r.posX = reference->pos(0);
    r.posY = reference->pos(1);
    r.posZ = reference->pos(2);
    r.rotX = reference->rot(0);
    r.rotY = reference->rot(1);
    r.rotZ = reference->rot(2);
    r.scale = static_cast<float>(reference->scale() * 0.01);
    return r;
}

void requeue(const UndoRecord& record) {
    const std::lock_guard lock(undoHistory.mutex);
    undoHistory.records.push_back(record);
}

}  // namespace

void pushUndo(const GameReference* reference, const HeldRef& held, UndoKind kind, char axis) {
    const UndoRecord record = snapshot(reference, held, kind, axis);
    const std::lock_guard lock(undoHistory.mutex);
    auto& records = undoHistory.records;
    if (!records.empty()) {
        const UndoRecord& newest = records.back();
        if (newest.held.handle == held.handle && newest.kind == kind && newest.axis == axis) return;
    }
    // A scale record put back by an undo may have made it eleven; it never grows beyond that.
    while (records.size() >= kUndoLimit) records.pop_front();
    records.push_back(record);
}

void undoLast() {
    UndoRecord record;
    {
        const std::lock_guard lock(undoHistory.mutex);
        if (undoHistory.records.empty()) return;
        record = undoHistory.records.back();
        undoHistory.records.pop_back();
    }
    applyUndoRecord(record);
}

void applyUndoRecord(const UndoRecord& r) {
    GameReference* reference = lookUp(r.held);
    if (!reference) return;  // the game has let go of the object: the record goes
    const bool all = r.kind == UndoKind::all;
    if (r.kind == UndoKind::position || all) {
        // A horizontal move changes both X and Y.
        if (r.axis == 'X' || r.axis == 'Y' || all) {
            runAxisCommand(kSetPositionCommand, reference, 'X', r.posX);
            runAxisCommand(kSetPositionCommand, reference, 'Y', r.posY);
        }
        if (r.axis == 'Z' || all) runAxisCommand(kSetPositionCommand, reference, 'Z', r.posZ);
    }
    if (r.kind == UndoKind::angle || r.kind == UndoKind::angleFix || all) {
        // The angle fix changed the X angle and, levelling, the Y angle: both go back.
        const bool fix = r.kind == UndoKind::angleFix;
        if (r.axis == 'X' || fix || all)
            runAxisCommand(kSetAngleCommand, reference, 'X', degrees(r.rotX));
        if (r.axis == 'Y' || fix || all)
            runAxisCommand(kSetAngleCommand, reference, 'Y', degrees(r.rotY));
        if (r.axis == 'Z' || all) runAxisCommand(kSetAngleCommand, reference, 'Z', degrees(r.rotZ));
    }
    if (r.kind == UndoKind::scale || all) {
        // With a scale worker busy, the next undo tries again.
        if (!startWorker(workers.scaleBusy, "undo scale", applyScale, r.held, double{r.scale},
                         true))
            requeue(r);
    }
}

void forgetUndoRecords(std::uint32_t handle) {
    const std::lock_guard lock(undoHistory.mutex);
    auto& records = undoHistory.records;
    records.erase(std::remove_if(records.begin(), records.end(),
                                 [&](const UndoRecord& r) { return r.held.handle == handle; }),
                  records.end());
}

std::vector<UndoRecord> undoHistorySnapshot() {
    const std::lock_guard lock(undoHistory.mutex);
    return {undoHistory.records.begin(), undoHistory.records.end()};
}

void clearUndoHistory() {
    const std::lock_guard lock(undoHistory.mutex);
    undoHistory.records.clear();
}

}  // namespace freeplot
