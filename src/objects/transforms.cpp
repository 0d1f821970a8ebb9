#include "objects/transforms.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "config/settings.h"
#include "config/steps.h"
#include "feedback/notify.h"
#include "feedback/workers.h"
#include "game/gamefunctions.h"
#include "objects/scale.h"
#include "objects/undo.h"

namespace freeplot {

Shared<char> rotateAxis{'Z'};
Shared<std::uint8_t> mouseRotateState{0};
StoredParams storedParams;

namespace {

constexpr auto kTurnInterval = std::chrono::milliseconds(25);

// Links followed from a base form to its name before giving up (the game's chains are short;
// a longer one is damaged data, not a name).
constexpr int kMaxNameLinks = 64;
constexpr std::size_t kMaxNameLength = 1024;
constexpr std::uint32_t kLinkFlag = 0x4000;

// The object the held-button worker turns, and whether it has been handed over for deletion.
Shared<const GameReference*> g_turning{nullptr};
Shared<bool> g_turningDeleted{false};

template <class T>
T readAt(const void* base, std::size_t offset) {
    T value;
    std::memcpy(&value, static_cast<const std::uint8_t*>(base) + offset, sizeof value);
    return value;
}

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

// One turn of `direction` rotate steps about the current axis.
void turn(GameReference* reference, int direction) {
    const char axis = rotateAxis;
    const double delta = direction * rotateSteps.current();
    pushUndo(reference, UndoKind::angle, axis);
    // The axis may have changed meanwhile (the worker runs beside the input thread).
    const char now = rotateAxis;
    setAngle(reference, now, degrees(reference->rot(now - 'X')) + delta);
}

}  // namespace

bool isTurret(const GameReference* reference) {
    if (!reference || !reference->isActor() || !reference->baseForm) return false;
    const auto* names = readAt<const void*>(reference->baseForm, 0x1B8);
    if (!names) return false;
    const auto* node = readAt<const void*>(names, 0x28);
    for (int links = 0; node && (readAt<std::uint32_t>(node, 8) & kLinkFlag); ++links) {
        if (links == kMaxNameLinks) return false;
        node = readAt<const void*>(node, 0x10);
    }
    if (!node) return false;
    const char* text = static_cast<const char*>(node) + 0x18;
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

GameReference* selectedForTransform() {
    GameReference* reference = selectedReference();
    return reference && mayTransform(reference) ? reference : nullptr;
}

Offset forthOffset(double heading, double distance) {
    return {std::sin(heading) * distance, std::cos(heading) * distance};
}

Offset rightOffset(double heading, double distance) {
    return {std::cos(heading) * distance, -std::sin(heading) * distance};
}

void moveSelected(std::uint16_t key) {
    const bool backwards = matches(Action::moveDown, key) || matches(Action::moveLeft, key) ||
                           matches(Action::moveBack, key);
    const double distance = (backwards ? -1.0 : 1.0) * moveSteps.current();
    GameReference* reference = selectedForTransform();
    if (!reference) return;

    if (matches(Action::moveDown, key) || matches(Action::moveUp, key)) {
        pushUndo(reference, UndoKind::position, 'Z');
        setPosition(reference, 'Z', reference->pos(2) + distance);
        return;
    }
    // Horizontal moves are relative to the way the player faces; before the player exists there
    // is no heading and nothing moves.
    const auto* heading = readGame<const GameReference*>(Loc::rotationBasePtr);
    if (!heading) return;
    const double h = heading->rot(2);
    // The second coordinate is read after the first command has run.
    if (matches(Action::moveLeft, key) || matches(Action::moveRight, key)) {
        const Offset o = rightOffset(h, distance);
        pushUndo(reference, UndoKind::position, 'X');
        setPosition(reference, 'X', o.x + reference->pos(0));
        setPosition(reference, 'Y', reference->pos(1) + o.y);
    } else {
        const Offset o = forthOffset(h, distance);
        pushUndo(reference, UndoKind::position, 'Y');
        setPosition(reference, 'Y', o.y + reference->pos(1));
        setPosition(reference, 'X', o.x + reference->pos(0));
    }
}

void fixAngles(std::uint16_t key) {
    GameReference* reference = selectedForTransform();
    if (!reference) return;
    pushUndo(reference, UndoKind::angle, 'R');
    // removeTremor writes the object's own X angle back; resetAngles levels it.
    const double x = matches(Action::removeTremor, key) ? degrees(reference->rot(0)) : 0.0;
    setAngle(reference, 'X', x);
    if (matches(Action::resetAngles, key)) setAngle(reference, 'Y', x);
}

void rotateSelected(GameReference* reference, std::int16_t steps, bool explicitCall) {
    if (explicitCall || settings.wheelRotation) {
        if (steps == 0) return;
        if (!stillBuilding()) {
            mouseRotateState = 0;
            return;
        }
        turn(reference, steps);
        return;
    }

    // The held-button worker. It keeps a steady cadence (a turn every 25 ms from the first, so 40
    // a second) rather than sleeping 25 ms after each turn, which would lose the time each turn
    // takes; after a stall it goes on from now instead of catching up with a burst of turns.
    g_turningDeleted = false;
    g_turning = reference;
    auto next = std::chrono::steady_clock::now();
    for (std::uint8_t state = mouseRotateState; state != 0; state = mouseRotateState) {
        if (!stillBuilding() || g_turningDeleted) {
            mouseRotateState = 0;
            break;
        }
        turn(reference, state == 1 ? +1 : -1);
        next = std::max(next + kTurnInterval, std::chrono::steady_clock::now());
        std::this_thread::sleep_until(next);
    }
    g_turning = nullptr;
    workers.rotateBusy = 0;
}

void forgetDeletedReference(const GameReference* reference) {
    forgetUndoRecords(reference);
    if (g_turning == reference) g_turningDeleted = true;
}

void copyState() {
    if (const GameReference* reference = selectedReference()) {
        storedParams.posX = reference->pos(0);
        storedParams.posY = reference->pos(1);
        storedParams.posZ = reference->pos(2);
        storedParams.angleX = static_cast<float>(degrees(reference->rot(0)));
        storedParams.angleY = static_cast<float>(degrees(reference->rot(1)));
        storedParams.angleZ = static_cast<float>(degrees(reference->rot(2)));
        storedParams.scale = static_cast<float>(reference->scale()) * 0.01f;
    }
    showNow(Msg::stateStored);
}

void applyStored(std::uint16_t key) {
    GameReference* reference = selectedReference();
    if (!reference || storedParams.scale == 0.0f || reference->isActor()) return;

    const bool all = matches(Action::copyAll, key);
    auto wanted = [&](Action action) { return all || matches(action, key); };
    if (matches(Action::copyScale, key)) {
        pushUndo(reference, UndoKind::scale, 'S');
    } else if (all) {
        pushUndo(reference, UndoKind::all, 'D');
    } else {
        const bool angle = matches(Action::copyAngleX, key) || matches(Action::copyAngleY, key) ||
                           matches(Action::copyAngleZ, key);
        const char axis = matches(Action::copyPosY, key) || matches(Action::copyAngleY, key) ? 'Y'
                          : matches(Action::copyPosZ, key) || matches(Action::copyAngleZ, key)
                              ? 'Z'
                              : 'X';
        pushUndo(reference, angle ? UndoKind::angle : UndoKind::position, axis);
    }

    const StoredParams p = storedParams;
    if (wanted(Action::copyPosX)) setPosition(reference, 'X', p.posX);
    if (wanted(Action::copyPosY)) setPosition(reference, 'Y', p.posY);
    if (wanted(Action::copyPosZ)) setPosition(reference, 'Z', p.posZ);
    if (wanted(Action::copyAngleX)) setAngle(reference, 'X', p.angleX);
    if (wanted(Action::copyAngleY)) setAngle(reference, 'Y', p.angleY);
    if (wanted(Action::copyAngleZ)) setAngle(reference, 'Z', p.angleZ);
    if (wanted(Action::copyScale))
        startWorker(workers.scaleBusy, "apply scale", applyScale, reference, double{p.scale}, true);
}

void setPhysics(std::uint16_t key) {
    const GameReference* reference = selectedReference();
    if (!reference || reference->isActor()) return;
    const bool on = matches(Action::physicsOn, key);
    PhysicsRequest request;
    request.handle = readGame<std::uint32_t>(Loc::selectedRefHandle);
    request.motion = on ? 1 : 2;
    std::uint64_t slot = 0;
    gameFunction<PhysicsToggleFn>(Loc::physicsToggleFunction)(&request, &slot);
    showNow(on ? Msg::physicsOn : Msg::physicsOff);
}

void duplicateSelected() {
    GameReference* reference = selectedReference();
    if (!reference) return;
    double slot = 0.0;
    gameFunction<RefCommandFn>(Loc::refCommandExecute)(0, 0, reference, 0, 0, 0, &slot, 0);
}

}  // namespace freeplot
