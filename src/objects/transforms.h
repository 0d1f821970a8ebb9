#pragma once
// Changes to the workshop selection made by keys and the mouse: moves (horizontal ones follow
// the camera's heading), turns about the current axis, angle fixes, copying parameters from one
// object to another, physics and duplicates. Positions and angles are always set through the
// game's axis command, after an undo record has been taken.

#include <cstdint>

#include "common/shared.h"
#include "game/gamefunctions.h"
#include "game/records.h"

namespace freeplot {

// An object's parameters as copyState stored them; scale 0.0 means nothing is stored yet.
struct StoredParams {
    float posX = 0, posY = 0, posZ = 0;
    float angleX = 0, angleY = 0, angleZ = 0;  // degrees
    float scale = 0;                           // factor
};

// What the transforms keep from one event to the next.
struct TransformState {
    // The axis that key, wheel and held-button rotations turn about: 'X', 'Y' or 'Z'.
    Shared<char> rotateAxis{'Z'};
    // The held-mouse-button rotation: 0 no button held, 1 the left one (turn +), 2 the right
    // one (turn -). Written by the mouse handler; the worker reads it before every turn.
    Shared<std::uint8_t> mouseRotateState{0};
    StoredParams stored;
};
extern TransformState transforms;

// Whether an actor is a turret: its base form's name holds "turret" in any case. False for
// anything that is no actor, and wherever the game's data has a null pointer on the way.
bool isTurret(const GameReference* reference);

// The actor gate of moving, turning, levelling and locking: anything but an actor that is no
// turret may be acted on.
bool mayTransform(const GameReference* reference);

// The selection when it passes that gate; a null reference when nothing is selected or it fails.
Selection selectedForTransform();

// The horizontal offset of a move by `distance` for a player facing `heading` (radians about
// Z): forth is (sin h, cos h), right is (cos h, -sin h).
struct Offset {
    double x, y;
};
Offset forthOffset(double heading, double distance);
Offset rightOffset(double heading, double distance);

// A move by the move step along 'Z' (up and down), 'X' (sideways) or 'Y' (back and forth), the
// last two relative to the way the player faces; `direction` -1 goes down, left or back.
struct MoveRequest {
    char axis;
    std::int8_t direction;
};
void moveSelected(MoveRequest move);

// Levelling: the X angle becomes 0, or stays the object's own (`keepX`, which rewrites it and so
// takes a tremor out); `levelY` gives the Y angle that same value.
struct AngleFix {
    bool keepX;
    bool levelY;
};
void fixAngles(AngleFix fix);

// Stores the selected object's position, angles and scale and says so; with nothing selected it
// does nothing (what was stored before stays).
void copyState();

// Writes stored parameters onto the selected object: the `fields` (field:: bits) asked for one by
// one, or everything when `all`.
struct ApplyRequest {
    std::uint8_t fields;
    bool all;
};
void applyStored(ApplyRequest request);

// Puts the selected object on the grid: each coordinate to the nearest multiple of the move step,
// each angle to the nearest multiple of the rotate step (a step of 0 leaves that part as it is).
// One undo record takes the whole alignment back.
void alignSelected();

// Shows where the selected object is (objectInfo): its position, angles in degrees and scale;
// nothing with nothing selected. Changes nothing, so it keeps no undo record.
void showPlacement();

void setPhysics(bool on);
void duplicateSelected();

// Turns the selected object about rotateAxis by `steps` rotate steps in one command (a key or the
// wheel; nothing for 0). Outside workshop mode, or while the workshop is busy, it turns nothing
// and the held-button turning ends too.
void rotateSelected(const Selection& selected, std::int16_t steps);

// A mouse button went down on `selected` (the gate passed): the held-button turning goes the
// way `state` says (1: +, 2: -). `newHold` when no button was held before: the turning then
// takes this object. Starts the worker unless it runs; a running worker picks up the change.
void beginTurning(std::uint8_t state, const Selection& selected, bool newHold);

// The held-button worker: turns its object one rotate step every 25 ms in the direction
// mouseRotateState gives, until that is 0, workshop mode ends or the game lets go of the object,
// and clears rotateBusy at its end. A press that came while it was ending is not lost: it goes on
// for it.
void turnWhileButtonHeld();

}  // namespace freeplot
