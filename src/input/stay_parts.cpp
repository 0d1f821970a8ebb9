// Where a part of a kept stay begins, and the recorder's bookkeeping (input/stay_recorder.h).

#include <algorithm>
#include <utility>

#include "config/reading.h"
#include "config/steps.h"
#include "feedback/workers.h"
#include "input/handlers.h"
#include "input/key_rows.h"
#include "input/presses.h"
#include "input/stay_recorder.h"
#include "objects/undo.h"
#include "rules/clock.h"
#include "rules/switches.h"

namespace freeplot::stay::rec {

Recorder recorder;

namespace {

// --- Where a part begins ---------------------------------------------------------------------

void addKey(Start& s, std::uint8_t what, Action action, int presses) {
    if (presses <= 0) return;
    const std::uint16_t code = keyRunning(action);
    if (code == 0) {
        s.unreachable = static_cast<std::uint16_t>(s.unreachable | (1u << what));
        return;
    }
    s.keys.push_back({code, static_cast<std::uint16_t>(presses), what});
}

template <class Table>
void addStepKeys(Start& s, const Table& live, std::int32_t fileIndex, Action next,
                 Action previous, std::uint8_t what) {
    const std::int32_t n = live.count;
    if (n <= 0) return;
    const std::int32_t ahead = ((live.index - fileIndex) % n + n) % n;
    if (ahead == 0) return;
    if (keyRunning(next) != 0)
        addKey(s, what, next, ahead);
    else
        addKey(s, what, previous, n - ahead);
}

// The keys that bring a game started with the settings file in force to the states of now that
// the file does not give: freeplot mode, the switches, the steps and the rotation axis.
void addPrologue(Start& s) {
    const Settings& file = fileSettings();
    if (switches.freeplotMode != (file.togglable <= 1)) {
        if (file.togglable == 1 || file.togglable == 2)
            s.console = true;
        else if (file.togglable != 0 && settings.togglable != 0)
            addKey(s, state::freeplot, Action::main, 1);
        else
            s.unreachable |= 1u << state::freeplot;
    }
    struct Row {
        Switch which;
        Action key;
        bool startsOn;
        std::uint8_t what;
    };
    const Row rows[] = {
        {Switch::objectSnap, Action::snap, file.snapDisabled, state::objectSnap},
        {Switch::surfaceSnap, Action::ground, file.groundDisabled, state::surfaceSnap},
        {Switch::timeoutFrozen, Action::timeoutFreeze, file.timeoutFrozen, state::timeout},
        {Switch::outline, Action::outlineToggle, file.outlineDisabled, state::outline},
        {Switch::clampedStoring, Action::clampedStoreToggle, false, state::clamped},
        {Switch::extraSelection, Action::extraOutlineToggle, file.extraOutlineEnabled,
         state::extraSelection},
    };
    for (const Row& r : rows)
        if (switchOn(r.which) != r.startsOn) addKey(s, r.what, r.key, 1);
    // A game starts with its grid snap on.
    if (readGame<std::uint8_t>(Loc::gridSnapSetting) == 0)
        addKey(s, state::gridSnap, Action::workshopSnap, 1);
    const SettingsInForce defaults;
    const SettingsInForce& inForce = recorder.reading ? recorder.reading->inForce : defaults;
    addStepKeys(s, rotateSteps, inForce.rotate.index, Action::rotateStepPlus,
                Action::rotateStepMinus, state::rotateStep);
    addStepKeys(s, moveSteps, inForce.move.index, Action::moveStepPlus, Action::moveStepMinus,
                state::moveStep);
    // The scale steps' "minus" key takes the next entry.
    addStepKeys(s, scaleSteps, inForce.scale.index, Action::scaleStepMinus,
                Action::scaleStepPlus, state::scaleStep);
    const char axis = transforms.rotateAxis;
    addKey(s, state::axis, Action::changeRotateAxis, axis == 'X' ? 1 : axis == 'Y' ? 2 : 0);
    s.locked = switches.objectLocked;
    s.slowClock = buildClock.keyUsed && buildClock.keptMultiplier != 0.0f;
}

}  // namespace

bool isEvent(Entry::Kind kind) {
    return kind == Entry::press || kind == Entry::release || kind == Entry::mouse;
}

Place placeOf(const GameReference* reference) {
    Place p;
    for (int i = 0; i < 3; ++i) {
        p.position[i] = reference->pos(i);
        p.rotation[i] = reference->rot(i);
    }
    p.scale = reference->scale();
    return p;
}

const Settings& fileSettings() {
    static const Settings defaults;
    return recorder.reading ? recorder.reading->inForce.settings : defaults;
}

// What a replay from part `p`'s start cannot be sure of.
void taintIn(int p, std::int32_t object, std::uint8_t parts, std::uint8_t why) {
    if (object < 0) return;
    Seen& o = recorder.objects[static_cast<std::size_t>(object)];
    o.inexact[p] |= parts;
    o.why[p] |= why;
}

void taint(std::int32_t object, std::uint8_t parts, std::uint8_t why) {
    for (int p = 0; p < recorder.partCount; ++p) taintIn(p, object, parts, why);
}

void markChanged(std::int32_t object) {
    if (object < 0) return;
    for (int p = 0; p < recorder.partCount; ++p)
        recorder.objects[static_cast<std::size_t>(object)].changed[p] = true;
}

// Every object a replay's undo or redo may reach in part `p`: those changed since it began.
void taintChanged(int p, std::uint8_t why) {
    for (Seen& o : recorder.objects)
        if (o.changed[p]) {
            // What the delete key took is gone in the replay too.
            o.inexact[p] |= o.deleting ? part::all & ~part::there : part::all;
            o.why[p] |= why;
        }
    recorder.parts[p].diverged = true;
}

void diverge(std::uint8_t why) {
    for (int p = 0; p < recorder.partCount; ++p) {
        recorder.parts[p].diverged = true;
        recorder.parts[p].divergedWhy |= why;
    }
}

std::int32_t objectOf(std::uint32_t handle) {
    for (std::size_t i = 0; i < recorder.objects.size(); ++i)
        if (recorder.objects[i].held.handle == handle) return static_cast<std::int32_t>(i);
    return -1;
}

void append(Entry entry) { recorder.entries.push_back(entry); }

void gone(std::int32_t object) {
    Seen& o = recorder.objects[static_cast<std::size_t>(object)];
    if (o.goneSaid) return;
    o.goneSaid = true;
    if (!o.deleting) append({.kind = Entry::unload, .object = object});
}

bool there(const Seen& o) { return !o.goneSaid && lookUp(o.held) != nullptr; }

void compactObjects() {
    std::vector<bool> named(recorder.objects.size(), false);
    for (int p = 0; p < recorder.partCount; ++p)
        for (const auto& at : recorder.parts[p].start.objects)
            named[static_cast<std::size_t>(at.object)] = true;
    for (const Entry& e : recorder.entries)
        if (e.object >= 0) named[static_cast<std::size_t>(e.object)] = true;
    if (recorder.selected >= 0) named[static_cast<std::size_t>(recorder.selected)] = true;
    std::vector<std::int32_t> to(recorder.objects.size(), -1);
    std::vector<Seen> kept;
    for (std::size_t i = 0; i < recorder.objects.size(); ++i) {
        if (!named[i]) continue;
        to[i] = static_cast<std::int32_t>(kept.size());
        kept.push_back(recorder.objects[i]);
    }
    auto renumber = [&](std::int32_t& object) {
        if (object >= 0) object = to[static_cast<std::size_t>(object)];
    };
    for (Entry& e : recorder.entries) renumber(e.object);
    for (int p = 0; p < recorder.partCount; ++p)
        for (auto& at : recorder.parts[p].start.objects) renumber(at.object);
    renumber(recorder.selected);
    recorder.objects = std::move(kept);
}

void dropOldestPart() {
    const auto end = recorder.entries.begin() +
                     static_cast<std::ptrdiff_t>(recorder.parts[1].firstEntry);
    recorder.eventsLeftOut += static_cast<std::uint32_t>(std::count_if(
        recorder.entries.begin(), end, [](const Entry& e) { return isEvent(e.kind); }));
    recorder.entries.erase(recorder.entries.begin(), end);
    recorder.parts[0] = std::move(recorder.parts[1]);
    recorder.parts[0].firstEntry = 0;
    recorder.parts[1] = {};
    recorder.partCount = 1;
    for (Seen& o : recorder.objects) {
        o.changed[0] = o.changed[1];
        o.inexact[0] = o.inexact[1];
        o.why[0] = o.why[1];
        o.changed[1] = false;
        o.inexact[1] = o.why[1] = 0;
    }
}

void beginPart(bool clean) {
    if (recorder.partCount == 2) dropOldestPart();
    // The older part learns of the objects the game let go of meanwhile.
    std::vector<Start::At> held;
    for (std::size_t i = 0; i < recorder.objects.size(); ++i) {
        const Seen& o = recorder.objects[i];
        if (o.goneSaid) continue;
        if (const GameReference* reference = lookUp(o.held))
            held.push_back({static_cast<std::int32_t>(i), placeOf(reference)});
        else
            gone(static_cast<std::int32_t>(i));
    }
    const int p = recorder.partCount++;
    Part& part = recorder.parts[p];
    part = {};
    part.firstEntry = recorder.entries.size();
    part.undoMark = undoRecordsMade();
    Start& s = part.start;
    s.objects = std::move(held);
    for (Seen& o : recorder.objects) {
        o.changed[p] = false;
        o.inexact[p] = clean ? 0 : part::all;
        o.why[p] = clean ? 0 : why::cut;
    }
    part.diverged = !clean;
    part.divergedWhy = clean ? 0 : why::cut;
    if (const auto* heading = readGame<const GameReference*>(Loc::rotationBasePtr)) {
        s.headingKnown = true;
        s.heading = heading->rot(2);
    }
    addPrologue(s);
    if (transforms.stored.scale != 0.0f) {
        s.params = transforms.stored;
        s.storeKey = keyRunning(Action::copyState);
        s.stored = s.storeKey != 0;
        if (!s.stored) {
            part.storedInexact = part::all;
            part.storedWhy = why::stored;
        }
    }
    s.kept = keptPresses();
    // The replay of this part starts from the game's defaults and the prologue.
    recorder.selected = -1;
    recorder.busy = recorder.ignore = false;
    recorder.headingKnown = s.headingKnown;
    recorder.heading = s.heading;
    recorder.freeplot = switches.freeplotMode;
}

bool workersIdle() { return !anyWorkerBusy() && transforms.mouseRotateState == 0; }

void startStay() {
    recorder.active = true;
    recorder.tooMany = false;
    recorder.settingsChanged = recorder.settingsRead = false;
    recorder.entries.clear();
    recorder.objects.clear();
    recorder.partCount = 0;
    recorder.eventsLeftOut = 0;
    recorder.last = recorder.lastWorkerJob = {};
    beginPart(workersIdle());
    switches.dueInside = static_cast<std::uint8_t>(switches.dueInside | kStayKept);
}


}  // namespace freeplot::stay::rec
