#pragma once
// A short history of object states. Each change snapshots the object first (position, angles,
// scale); undo pops the latest snapshot and restores it. The history keeps ten; a change that
// repeats the latest one (same object, same kind, same axis) adds nothing, so a burst of wheel
// notches or key repeats is undone in one go. Undo and redo are steps of their own: the change
// after one never merges into a record made before it.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "game/gamefunctions.h"
#include "game/records.h"

namespace freeplot {

// What a change did, and so what its record writes back.
enum class UndoKind : std::uint8_t {
    position,  // a move along `axis` (a move along X or Y changes both)
    angle,     // a turn about `axis`
    angleFix,  // levelling or tremor removal: the X and Y angles
    scale,
    stored,     // stored parameters applied by one key: the fields it wrote
    placement,  // aligned to the grid: the position and the angles, not the scale
};

struct UndoRecord {
    HeldRef held;  // looked up again when the record is applied
    UndoKind kind = UndoKind::position;
    char axis = 0;  // 'X', 'Y' or 'Z' for position and angle records, else 0
    std::uint8_t fields = 0;  // for stored parameters: the field:: bits the key wrote
    float posX = 0, posY = 0, posZ = 0;
    float rotX = 0, rotY = 0, rotZ = 0;  // radians
    float scale = 0;                     // factor (1.0 is natural size)
    // The number of the change that made the record (counted from 1 as records are appended); a
    // record an undo or redo moves to the other list keeps it.
    std::uint64_t made = 0;
};

// Records kept each way.
inline constexpr std::size_t kUndoLimit = 10;

// Snapshots `reference` (found through `held` in this event) before a change. When the latest
// record has the same handle, kind, axis and fields and was made by a change (not put there by a
// redo, nor left newest by an undo), nothing is added: that record already holds the state before
// the whole run of changes.
void pushUndo(const GameReference* reference, const HeldRef& held, UndoKind kind, char axis = 0,
              std::uint8_t fields = 0);

// Takes the newest record off, keeps what it is about to replace on the redo list, and writes it
// back; nothing when the history is empty. A record whose object the game has let go of is
// dropped without a call. A record with a scale claims the scale worker before anything is
// written: while that worker is busy nothing changes and the record stays for the next press.
void undoLast();

// The other way: takes the newest record off the redo list, keeps what it is about to replace on
// the history, and writes it, whole or (the scale worker busy) not at all; nothing when the list
// is empty. Every new change (pushUndo) empties the list, so redo only ever brings back what undo
// took away.
void redoLast();

// The number of records appended so far: a record made after a mark has a higher `made`.
std::uint64_t undoRecordsMade();

// The record the last undo or redo on the input thread took: its `made` and its object's handle
// (0 and 0 when it took none, or left it for a busy scale worker).
struct TakenBack {
    std::uint64_t made = 0;
    std::uint32_t handle = 0;
};
TakenBack lastTakenBack();

// Drops the records (both ways) of a handle whose reference the plugin hands to the game for
// deletion, so that the next undo goes to the change before.
void forgetUndoRecords(std::uint32_t handle);

// The history and the redo list, oldest first (tests and the demo read them).
std::vector<UndoRecord> undoHistorySnapshot();
std::vector<UndoRecord> redoListSnapshot();
void clearUndoHistory();

}  // namespace freeplot
