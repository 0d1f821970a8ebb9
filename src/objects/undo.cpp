#include "objects/undo.h"

#include <algorithm>
#include <deque>
#include <mutex>

#include "config/actions.h"
#include "feedback/notify.h"
#include "feedback/workers.h"
#include "game/gamefunctions.h"
#include "objects/handoff.h"

namespace freeplot {
namespace {

// The input thread, the held-button rotation worker and the scale worker all record changes.
struct UndoHistory {
    std::mutex mutex;
    std::deque<UndoRecord> records;  // what undo takes back, oldest at the front
    std::deque<UndoRecord> redo;     // what redo brings back, oldest at the front
    // Whether a change may merge into the newest record of `records`: only while that record was
    // made by a change. An undo or a redo is a step of its own, so after one the next change
    // makes a record of its own, however alike.
    bool newestTakesMerges = false;
    // Changes recorded (merged or not), and records they appended: an undo or redo that writes
    // while the held button's worker records a turn tells by these that a change came between
    // its taking a record and its keeping what that record replaced.
    std::uint64_t changes = 0, appended = 0;
    TakenBack taken;  // by the last undo or redo
};
UndoHistory undoHistory;

UndoRecord snapshot(const GameReference* reference, const HeldRef& held, UndoKind kind, char axis,
                    std::uint8_t fields) {
    UndoRecord r;
    r.held = held;
    r.kind = kind;
    r.axis = axis;
    r.fields = fields;
    r.posX = reference->pos(0);
    r.posY = reference->pos(1);
    r.posZ = reference->pos(2);
    r.rotX = reference->rot(0);
    r.rotY = reference->rot(1);
    r.rotZ = reference->rot(2);
    r.scale = static_cast<float>(reference->scale() * 0.01);
    return r;
}

void makeRoom(std::deque<UndoRecord>& list) {
    while (list.size() >= kUndoLimit) list.pop_front();
}

// The field:: bits a record writes back.
std::uint8_t fieldsOf(const UndoRecord& r) {
    switch (r.kind) {
        case UndoKind::position:
            // A horizontal move changes both X and Y.
            return r.axis == 'Z' ? field::posZ : field::posX | field::posY;
        case UndoKind::angle:
            return r.axis >= 'X' && r.axis <= 'Z'
                       ? static_cast<std::uint8_t>(field::angleX << (r.axis - 'X'))
                       : 0;
        case UndoKind::angleFix:
            // The angle fix changed the X angle and, levelling, the Y angle: both go back.
            return field::angleX | field::angleY;
        case UndoKind::scale:
            return field::scale;
        case UndoKind::stored:
            return r.fields;
        case UndoKind::placement:
            return field::positions | field::angles;
    }
    return 0;
}

bool writesScale(const UndoRecord& r) { return (fieldsOf(r) & field::scale) != 0; }

// Writes a record onto its object: positions, then angles, then (on a worker thread) the scale,
// whose worker the caller has claimed for it.
void write(const UndoRecord& r, GameReference* reference) {
    const std::uint8_t fields = fieldsOf(r);
    const float positions[] = {r.posX, r.posY, r.posZ}, angles[] = {r.rotX, r.rotY, r.rotZ};
    for (int i = 0; i < 3; ++i)
        if (fields & (field::posX << i))
            runAxisCommand(kSetPositionCommand, reference, static_cast<char>('X' + i),
                           positions[i]);
    for (int i = 0; i < 3; ++i)
        if (fields & (field::angleX << i))
            runAxisCommand(kSetAngleCommand, reference, static_cast<char>('X' + i),
                           degrees(angles[i]));
    if (writesScale(r)) {
        withdrawQuiet();
        startClaimedWorker(workers.scaleBusy, "undo scale", applyScale, r.held, double{r.scale},
                           true);
    }
}

// Takes the newest record of `from` and writes it, keeping on `to` what it replaces. It happens
// whole or not at all: a record with a scale needs the scale worker, which is claimed before
// anything is written; while that worker is busy the record stays where it is and nothing
// changes, for the next press to try again. A record whose object the game has let go of is
// dropped without a call.
void takeBack(std::deque<UndoRecord> UndoHistory::*from, std::deque<UndoRecord> UndoHistory::*to) {
    UndoRecord record;
    bool claimed = false;
    std::uint64_t changesBefore = 0, appendedBefore = 0;
    {
        const std::lock_guard lock(undoHistory.mutex);
        auto& list = undoHistory.*from;
        undoHistory.taken = {};
        if (list.empty()) return;
        if (writesScale(list.back())) {
            if (!claimWorker(workers.scaleBusy)) return;
            claimed = true;
        }
        record = list.back();
        list.pop_back();
        undoHistory.taken = {record.made, record.held.handle};
        undoHistory.newestTakesMerges = false;
        changesBefore = undoHistory.changes;
        appendedBefore = undoHistory.appended;
    }
    GameReference* reference = lookUp(record.held);
    if (!reference) {
        if (claimed) workers.scaleBusy = 0;
        return;
    }
    // Taken while no scale worker runs on it, so the scale read here is the object's last.
    UndoRecord replaced = snapshot(reference, record.held, record.kind, record.axis, record.fields);
    replaced.made = record.made;
    write(record, reference);
    const std::lock_guard lock(undoHistory.mutex);
    auto& list = undoHistory.*to;
    if (undoHistory.changes != changesBefore) {
        // A change came meanwhile. It emptied what could be redone, so an undo keeps nothing
        // there; a redo's record goes below the records the change made, which are newer.
        if (to == &UndoHistory::redo) return;
        makeRoom(list);
        const auto newer =
            std::min<std::size_t>(list.size(), undoHistory.appended - appendedBefore);
        list.insert(list.end() - static_cast<std::ptrdiff_t>(newer), replaced);
        return;
    }
    makeRoom(list);
    list.push_back(replaced);
}

}  // namespace

void pushUndo(const GameReference* reference, const HeldRef& held, UndoKind kind, char axis,
              std::uint8_t fields) {
    const UndoRecord record = snapshot(reference, held, kind, axis, fields);
    const std::lock_guard lock(undoHistory.mutex);
    // A new change: what was undone before it can no longer come back.
    undoHistory.redo.clear();
    ++undoHistory.changes;
    auto& records = undoHistory.records;
    if (!records.empty() && undoHistory.newestTakesMerges) {
        const UndoRecord& newest = records.back();
        if (newest.held.handle == held.handle && newest.kind == kind && newest.axis == axis &&
            newest.fields == fields)
            return;
    }
    makeRoom(records);
    records.push_back(record);
    records.back().made = ++undoHistory.appended;
    undoHistory.newestTakesMerges = true;
}

void undoLast() { takeBack(&UndoHistory::records, &UndoHistory::redo); }

void redoLast() { takeBack(&UndoHistory::redo, &UndoHistory::records); }

void forgetUndoRecords(std::uint32_t handle) {
    const std::lock_guard lock(undoHistory.mutex);
    const std::size_t before = undoHistory.records.size();
    for (auto* list : {&undoHistory.records, &undoHistory.redo})
        list->erase(std::remove_if(list->begin(), list->end(),
                                   [&](const UndoRecord& r) { return r.held.handle == handle; }),
                    list->end());
    // The newest record left may be older than the change before the deletion: none merges in.
    if (undoHistory.records.size() != before) undoHistory.newestTakesMerges = false;
}

std::uint64_t undoRecordsMade() {
    const std::lock_guard lock(undoHistory.mutex);
    return undoHistory.appended;
}

TakenBack lastTakenBack() {
    const std::lock_guard lock(undoHistory.mutex);
    return undoHistory.taken;
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
    undoHistory.newestTakesMerges = false;
}

}  // namespace freeplot
