#pragma once
// The undo history: before every change to the selected object (move, rotate, angle fix, scale,
// applied stored parameters) its position, rotation and scale are recorded; the undo key takes
// the newest record back off and writes it onto its object again. Ten records at most, and
// repeated changes of the same kind on the same axis of the same object share one record, so
// holding a key or scrolling the wheel costs one undo step.

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
    all,  // stored parameters applied at once: everything
};

struct UndoRecord {
    HeldRef held;  // looked up again when the record is applied
    UndoKind kind = UndoKind::position;
    char axis = 0;  // 'X', 'Y' or 'Z' for position and angle records, else 0
    float posX = 0, posY = 0, posZ = 0;
    float rotX = 0, rotY = 0, rotZ = 0;  // radians
    float scale = 0;                     // factor (1.0 is natural size)
};

inline constexpr std::size_t kUndoLimit = 10;

// Records the state of `reference` (found through `held` in this event) before a change, unless
// the newest record already is one of the same handle, kind and axis (it then keeps the state
// from before the first of them).
void pushUndo(const GameReference* reference, const HeldRef& held, UndoKind kind, char axis = 0);

// Takes the newest record off and writes it back; nothing when the history is empty.
void undoLast();

// Writes a record onto its object: positions, then angles, then (on a worker thread) the scale.
// When the game has let go of the object the record is dropped without a call. A scale record
// that finds a scale worker busy goes back onto the history for the next undo.
void applyUndoRecord(const UndoRecord& record);

// Drops the records of a handle whose reference the plugin hands to the game for deletion, so that
// the next undo goes to the change before.
void forgetUndoRecords(std::uint32_t handle);

// The history, oldest first (tests and the demo read it).
std::vector<UndoRecord> undoHistorySnapshot();
void clearUndoHistory();

}  // namespace freeplot
