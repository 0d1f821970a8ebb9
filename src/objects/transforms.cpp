#include "objects/transforms.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <thread>

#include "config/actions.h"
#include "config/settings.h"
#include "config/steps.h"
#include "feedback/notify.h"
#include "feedback/workers.h"
#include "game/gamefunctions.h"
#include "objects/handoff.h"
#include "objects/undo.h"

namespace freeplot {

TransformState transforms;

namespace {

constexpr auto kTurnInterval = std::chrono::milliseconds(25);

// Links followed from a base form to its name before giving up (the game's chains are short;
// a longer one is damaged data, not a name).
constexpr int kMaxNameLinks = 64;
constexpr std::size_t kMaxNameLength = 1024;

// What a held button turns: the object under the crosshair when the button went down. Each new
// hold counts up `hold`, so that a worker still running from the last one turns to the new
// object. The direction lives in transforms.mouseRotateState; a press changes both under the mutex,
// so the worker never clears the state of a hold that it has not seen.
struct TurnTarget {
    std::mutex mutex;
    HeldRef held;
    std::uint64_t hold = 0;
};
TurnTarget turnTarget;

bool stillBuilding() {
    return readGame<std::int32_t>(Loc::workshopModeFlag) != 0 &&
           readGame<std::uint8_t>(Loc::workshopStateByte) != 1;
}

void setPosition(GameReference* reference, char axis, double value) {
    runAxisCommand(kSetPositionCommand, reference, axis, value);
}
void setAngle(GameReference* reference, char axis, double degreesValue) {
    runAxisCommand(kSetAngleCommand, reference, axis, degreesValue);
}

// Whether a value stays within a float's range, as the game keeps positions and angles: not
// infinity (a value the game already holds at NaN stays there, whatever is added).
bool holdsAsFloat(double value) {
    return !(std::fabs(value) > static_cast<double>(std::numeric_limits<float>::max()));
}

// Whether the game can hold an angle of `degreesValue`: it keeps radians as floats.
bool holdsAsAngle(double degreesValue) { return holdsAsFloat(degreesValue / kDegreesPerRadian); }

// One turn of `direction` rotate steps about the current axis. A turn whose angle a float cannot
// hold (a huge step, or many wheel notches of one) would give the game an angle of infinity: the
// object stays as it is.
void turn(GameReference* reference, const HeldRef& held, int direction) {
    const char axis = transforms.rotateAxis;
    const double delta = direction * rotateSteps.current();
    if (!holdsAsAngle(degrees(reference->rot(axis - 'X')) + delta)) return;
    pushUndo(reference, held, UndoKind::angle, axis);
    // The axis may have changed meanwhile (the worker runs beside the input thread).
    const char now = transforms.rotateAxis;
    const double target = degrees(reference->rot(now - 'X')) + delta;
    if (holdsAsAngle(target)) setAngle(reference, now, target);
}

}  // namespace

bool isTurret(const GameReference* reference) {
    if (!reference || !reference->isActor() || !reference->baseForm) return false;
    const FormName* name = reference->baseForm->name;
    if (!name) return false;
    const NameNode* node = name->first;
    for (int links = 0; node && (node->flags & kNameLinkFlag); ++links) {
        if (links == kMaxNameLinks) return false;
        node = node->next;
    }
    if (!node) return false;
    const char* text = node->text();
    char lower[kMaxNameLength + 1];
    std::size_t n = 0;
    for (; n < kMaxNameLength && text[n]; ++n)
        lower[n] =
            text[n] >= 'A' && text[n] <= 'Z' ? static_cast<char>(text[n] - 'A' + 'a') : text[n];
    lower[n] = '\0';
    return std::strstr(lower, "turret") != nullptr;
}

bool mayTransform(const GameReference* reference) {
    return !reference->isActor() || isTurret(reference);
}

Selection selectedForTransform() {
    Selection selected = selection();
    if (selected.reference && !mayTransform(selected.reference)) selected.reference = nullptr;
    return selected;
}

Offset forthOffset(double heading, double distance) {
    return {std::sin(heading) * distance, std::cos(heading) * distance};
}

Offset rightOffset(double heading, double distance) {
    return {std::cos(heading) * distance, -std::sin(heading) * distance};
}

void moveSelected(MoveRequest move) {
    const double distance = move.direction * moveSteps.current();
    const Selection selected = selectedForTransform();
    GameReference* reference = selected.reference;
    if (!reference) return;

    // A step that a float holds can still take a coordinate beyond a float's range (a huge step
    // pressed twice): the game would get a position of infinity, so the object stays where it
    // is, without an undo record.
    if (move.axis == 'Z') {
        if (!holdsAsFloat(reference->pos(2) + distance)) return;
        pushUndo(reference, selected.held, UndoKind::position, 'Z');
        setPosition(reference, 'Z', reference->pos(2) + distance);
        return;
    }
    // Horizontal moves are relative to the way the player faces; before the player exists there
    // is no heading and nothing moves.
    const auto* heading = readGame<const GameReference*>(Loc::rotationBasePtr);
    if (!heading) return;
    const double h = heading->rot(2);
    // Two commands: the second reads the object's coordinate only after the first moved it.
    const Offset o = move.axis == 'X' ? rightOffset(h, distance) : forthOffset(h, distance);
    if (!holdsAsFloat(o.x + reference->pos(0)) || !holdsAsFloat(reference->pos(1) + o.y)) return;
    if (move.axis == 'X') {
        pushUndo(reference, selected.held, UndoKind::position, 'X');
        setPosition(reference, 'X', o.x + reference->pos(0));
        setPosition(reference, 'Y', reference->pos(1) + o.y);
    } else {
        pushUndo(reference, selected.held, UndoKind::position, 'Y');
        setPosition(reference, 'Y', o.y + reference->pos(1));
        setPosition(reference, 'X', o.x + reference->pos(0));
    }
}

void fixAngles(AngleFix fix) {
    const Selection selected = selectedForTransform();
    GameReference* reference = selected.reference;
    if (!reference) return;
    pushUndo(reference, selected.held, UndoKind::angleFix);
    const double x = fix.keepX ? degrees(reference->rot(0)) : 0.0;
    setAngle(reference, 'X', x);
    if (fix.levelY) setAngle(reference, 'Y', x);
}

namespace {
// The multiple of `step` nearest `value`; `value` itself for a step of 0 or one too large to
// divide by.
double onGrid(double value, double step) {
    const double size = std::fabs(step);
    if (!(size > 0.0) || !std::isfinite(size)) return value;
    const double snapped = std::round(value / size) * size;
    return std::isfinite(snapped) ? snapped : value;
}

// The multiple of `step` nearest `degrees` on the circle: the angle taken into [0, 360) first, and
// a full turn counted as 0 (which is a multiple of every step), so 359 goes to 0 at a step of 7.
double onCircle(double degrees, double step) {
    const double size = std::fabs(step);
    if (!(size > 0.0) || !std::isfinite(size) || !std::isfinite(degrees)) return degrees;
    double angle = std::fmod(degrees, 360.0);
    if (angle < 0.0) angle += 360.0;
    const double snapped = onGrid(angle, size);
    const double target = 360.0 - angle < std::fabs(angle - snapped) ? 0.0 : snapped;
    // An angle that is on the grid already, a whole turn or more away (-90 for 270, 360 for 0),
    // stays as it is: the object would not turn, and an align of it changes nothing.
    const double same = degrees + std::remainder(target - degrees, 360.0);
    return static_cast<float>(same / kDegreesPerRadian) ==
                   static_cast<float>(degrees / kDegreesPerRadian)
               ? degrees
               : target;
}
}  // namespace

void alignSelected() {
    const Selection selected = selectedForTransform();
    GameReference* reference = selected.reference;
    if (!reference) return;
    const double move = moveSteps.current(), rotate = rotateSteps.current();
    double position[3], angle[3];
    bool changes = false;
    for (int i = 0; i < 3; ++i) {
        position[i] = onGrid(reference->pos(i), move);
        angle[i] = onCircle(degrees(reference->rot(i)), rotate);
        // A place the game cannot hold (a huge step rounds a coordinate past a float's range)
        // leaves the object as it is.
        if (!holdsAsFloat(position[i]) || !holdsAsAngle(angle[i])) return;
        // Where the object is already, as the game keeps it (floats, angles in radians), the
        // align changes nothing.
        changes = changes || static_cast<float>(position[i]) != reference->pos(i) ||
                  static_cast<float>(angle[i] / kDegreesPerRadian) != reference->rot(i);
    }
    // Nothing to change: no record, which would cost an undo press and empty the redo list.
    if (!changes) return;
    pushUndo(reference, selected.held, UndoKind::placement);
    for (char axis : {'X', 'Y', 'Z'}) {
        const int i = axis - 'X';
        setPosition(reference, axis, position[i]);
        setAngle(reference, axis, angle[i]);
    }
}

void rotateSelected(const Selection& selected, std::int16_t steps) {
    if (steps == 0) return;
    if (!stillBuilding()) {
        transforms.mouseRotateState = 0;
        return;
    }
    turn(selected.reference, selected.held, steps);
}

void beginTurning(std::uint8_t state, const Selection& selected, bool newHold) {
    {
        const std::lock_guard lock(turnTarget.mutex);
        transforms.mouseRotateState = state;
        if (newHold) {
            turnTarget.held = selected.held;
            ++turnTarget.hold;
        }
    }
    startWorker(workers.rotateBusy, "rotate", turnWhileButtonHeld);
}

void turnWhileButtonHeld() {
    // The worker keeps a steady cadence (a turn every 25 ms from the first, so 40 a second)
    // rather than sleeping 25 ms after each turn, which would lose the time each turn takes;
    // after a stall it goes on from now instead of catching up with a burst of turns.
    for (;;) {
        HeldRef held;
        std::uint64_t hold = 0;
        {
            const std::lock_guard lock(turnTarget.mutex);
            held = turnTarget.held;
            hold = turnTarget.hold;
        }
        auto next = std::chrono::steady_clock::now();
        for (std::uint8_t state = transforms.mouseRotateState; state != 0;
             state = transforms.mouseRotateState) {
            bool turned = false;
            {
                const ReferenceUse use;
                if (GameReference* reference = stillBuilding() ? lookUp(held) : nullptr) {
                    turn(reference, held, state == 1 ? +1 : -1);
                    turned = true;
                }
            }
            if (!turned) {
                // Out of workshop mode, or the object is gone: the turning ends, unless a new
                // hold has begun meanwhile, which the next round takes up.
                const std::lock_guard lock(turnTarget.mutex);
                if (turnTarget.hold == hold) transforms.mouseRotateState = 0;
                break;
            }
            next = std::max(next + kTurnInterval, std::chrono::steady_clock::now());
            std::this_thread::sleep_until(next);
            const std::lock_guard lock(turnTarget.mutex);
            if (turnTarget.hold != hold) {
                held = turnTarget.held;  // a new hold began before this one was seen to end
                hold = turnTarget.hold;
            }
        }
        workers.rotateBusy = 0;
        // A press that came after the last look at the state found the worker busy and started
        // nothing: this worker goes on for it, unless a new worker has claimed the byte.
        if (transforms.mouseRotateState == 0 || workers.rotateBusy.exchange(1) != 0) return;
    }
}

void copyState() {
    if (const GameReference* reference = selection().reference) {
        transforms.stored.posX = reference->pos(0);
        transforms.stored.posY = reference->pos(1);
        transforms.stored.posZ = reference->pos(2);
        transforms.stored.angleX = static_cast<float>(degrees(reference->rot(0)));
        transforms.stored.angleY = static_cast<float>(degrees(reference->rot(1)));
        transforms.stored.angleZ = static_cast<float>(degrees(reference->rot(2)));
        transforms.stored.scale = static_cast<float>(reference->scale()) * 0.01f;
        showNow(Msg::stateStored);
    }
    // Nothing selected: the parameters stored before stay, and no message claims otherwise.
}

void applyStored(ApplyRequest request) {
    const Selection selected = selection();
    GameReference* reference = selected.reference;
    if (!reference || transforms.stored.scale == 0.0f || reference->isActor()) return;
    auto wanted = [&](std::uint8_t f) { return request.all || (request.fields & f) != 0; };
    // A scale needs the scale worker, claimed before anything is written: while it is busy the
    // key changes nothing, rather than the position without the scale.
    const bool scales = wanted(field::scale);
    if (scales && !claimWorker(workers.scaleBusy)) return;

    // The undo record holds all the key writes, whichever of the actions share the key: one undo
    // takes it all back.
    pushUndo(reference, selected.held, UndoKind::stored, 0,
             request.all ? field::all : request.fields);

    const StoredParams p = transforms.stored;
    if (wanted(field::posX)) setPosition(reference, 'X', p.posX);
    if (wanted(field::posY)) setPosition(reference, 'Y', p.posY);
    if (wanted(field::posZ)) setPosition(reference, 'Z', p.posZ);
    if (wanted(field::angleX)) setAngle(reference, 'X', p.angleX);
    if (wanted(field::angleY)) setAngle(reference, 'Y', p.angleY);
    if (wanted(field::angleZ)) setAngle(reference, 'Z', p.angleZ);
    if (scales) {
        withdrawQuiet();
        startClaimedWorker(workers.scaleBusy, "apply scale", applyScale, selected.held,
                           double{p.scale}, true);
    }
}

void showPlacement() {
    const GameReference* reference = selection().reference;
    if (!reference) return;
    double position[3], angles[3];
    for (int i = 0; i < 3; ++i) {
        position[i] = reference->pos(i);
        angles[i] = degrees(reference->rot(i));
    }
    showNow(formatPlacement(position, angles, reference->scale()));
}

void setPhysics(bool on) {
    const GameReference* reference = selection().reference;
    if (!reference || reference->isActor()) return;
    PhysicsRequest request;
    request.handle = readGame<std::uint32_t>(Loc::selectedRefHandle);
    request.motion = on ? 1 : 2;
    std::uint64_t slot = 0;
    gameFunction<PhysicsToggleFn>(Loc::physicsToggleFunction)(&request, &slot);
    showNow(on ? Msg::physicsOn : Msg::physicsOff);
}

void duplicateSelected() {
    GameReference* reference = selection().reference;
    if (!reference) return;
    double slot = 0.0;
    gameFunction<RefCommandFn>(Loc::refCommandExecute)(0, 0, reference, 0, 0, 0, &slot, 0);
}

}  // namespace freeplot
