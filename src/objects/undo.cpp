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
    std::deque<UndoRecord> records;  // what undo takes back, oldest at the front
    std::deque<UndoRecord> redo;     // what redo brings back, oldest at the front
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

// Makes room for one more record. A record put back because the scale worker was busy may have
// made a list eleven long; it never grows beyond that.
void makeRoom(std::deque<UndoRecord>& list) {
    while (list.size() >= kUndoLimit) list.pop_front();
}

// Writes a record onto its object: positions, then angles, then (on a worker thread) the scale.
// False when the scale could not be started because a scale worker is busy.
bool write(const UndoRecord& r, GameReference* reference) {
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
    if (r.kind == UndoKind::scale || all)
        return startWorker(workers.scaleBusy, "undo scale", applyScale, r.held, double{r.scale},
                           true);
    return true;
}

// Takes the newest record of `from` and writes it, keeping on `to` what it replaces. A record
// whose object the game has let go of is dropped without a call; one that found the scale worker
// busy goes back onto `from`, for the next press to try again.
void takeBack(std::deque<UndoRecord> UndoHistory::*from, std::deque<UndoRecord> UndoHistory::*to) {
    UndoRecord record;
    {
        const std::lock_guard lock(undoHistory.mutex);
        auto& list = undoHistory.*from;
        if (list.empty()) return;
        record = list.back();
        list.pop_back();
    }
    GameReference* reference = lookUp(record.held);
    if (!reference) return;
    const UndoRecord replaced = snapshot(reference, record.held, record.kind, record.axis);
    const bool written = write(record, reference);
    const std::lock_guard lock(undoHistory.mutex);
    if (written) {
        makeRoom(undoHistory.*to);
        (undoHistory.*to).push_back(replaced);
    } else {
        (undoHistory.*from).push_back(record);
    }
}

}  // namespace

void pushUndo(const GameReference* reference, const HeldRef& held, UndoKind kind, char axis) {
    const UndoRecord record = snapshot(reference, held, kind, axis);
    const std::lock_guard lock(undoHistory.mutex);
    // A new change: what was undone before it can no longer come back.
    undoHistory.redo.clear();
    auto& records = undoHistory.records;
    if (!records.empty()) {
        const UndoRecord& newest = records.back();
        if (newest.held.handle == held.handle && newest.kind == kind && newest.axis == axis) return;
    }
    makeRoom(records);
    records.push_back(record);
}

void undoLast() { takeBack(&UndoHistory::records, &UndoHistory::redo); }

void redoLast() { takeBack(&UndoHistory::redo, &UndoHistory::records); }

void forgetUndoRecords(std::uint32_t handle) {
    const std::lock_guard lock(undoHistory.mutex);
    for (auto* list : {&undoHistory.records, &undoHistory.redo})
        list->erase(std::remove_if(list->begin(), list->end(),
                                   [&](const UndoRecord& r) { return r.held.handle == handle; }),
                    list->end());
}

std::vector<UndoRecord> undoHistorySnapshot() {
    const std::lock_guard lock(undoHistory.mutex);
    return {undoHistory.records.begin(), undoHistory.records.end()};
}

std::vector<UndoRecord> redoListSnapshot() {
    const std::lock_guard lock(undoHistory.mutex);
    return {undoHistory.redo.begin(), undoHistory.redo.end()};
}

void clearUndoHistory() {
    const std::lock_guard lock(undoHistory.mutex);
    undoHistory.records.clear();
    undoHistory.redo.clear();
}

}  // namespace freeplot
