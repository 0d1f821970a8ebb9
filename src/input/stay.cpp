// The recorder of a stay in workshop mode (input/stay.h), on the input thread: what each event
// kept adds, and what it tells of the replay's certainty.

#include "input/stay.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "config/dispatch_order.h"
#include "config/reading.h"
#include "feedback/workers.h"
#include "input/handlers.h"
#include "input/key_rows.h"
#include "input/stay_recorder.h"
#include "objects/transforms.h"
#include "objects/undo.h"
#include "rules/switches.h"

namespace freeplot::stay::rec {
namespace {

// --- Before each event --------------------------------------------------------------------------

// The object selected now, known to the recorder (and defined for the replay when new); -1 when
// nothing is, or the game has let go of it.
std::int32_t syncSelection() {
    const auto handle = readGame<std::uint32_t>(Loc::selectedRefHandle);
    // Most events find the object selected at the event before.
    const std::int32_t last = recorder.selected;
    std::int32_t object =
        handle == 0 ? -1
        : last >= 0 && recorder.objects[static_cast<std::size_t>(last)].held.handle == handle
            ? last
            : objectOf(handle);
    if (object >= 0 && !there(recorder.objects[static_cast<std::size_t>(object)])) {
        gone(object);
        object = -1;
    } else if (object < 0 && handle != 0) {
        const HeldRef held = holdHandle(handle);
        if (held.named) {
            if (recorder.objects.size() >= stay::kMostObjects) compactObjects();
            if (recorder.objects.size() >= stay::kMostObjects) {
                recorder.tooMany = true;
                return -1;
            }
            stay::Seen seen;
            seen.held = held;
            seen.actor = held.named->isActor();
            seen.turret = isTurret(held.named);
            object = static_cast<std::int32_t>(recorder.objects.size());
            recorder.objects.push_back(seen);
            append({.kind = Entry::define, .object = object, .place = placeOf(held.named)});
        }
    }
    if (object != recorder.selected) {
        append({.kind = Entry::select, .object = object});
        recorder.selected = object;
    }
    return object;
}

void before(bool allObjects) {
    // A new stay starts afresh even when the one before saw too many objects to keep.
    if (!recorder.active) startStay();
    if (recorder.tooMany) return;
    const StayClock::time_point now = StayClock::now();
    if (recorder.settingsChanged) {
        // The stay read the settings file again only now (a worker ran at its start): what it
        // did before acted under other settings, and is left out.
        recorder.settingsChanged = false;
        recorder.eventsLeftOut += static_cast<std::uint32_t>(std::count_if(
            recorder.entries.begin(), recorder.entries.end(),
            [](const Entry& e) { return isEvent(e.kind); }));
        recorder.entries.clear();
        recorder.partCount = 0;
        recorder.settingsRead = true;
        beginPart(workersIdle());
    }
    const std::size_t inPart = recorder.entries.size() - recorder.parts[recorder.partCount - 1].firstEntry;
    if (recorder.entries.size() + kEventRoom > stay::kMostEntries) {
        if (recorder.partCount == 2)
            dropOldestPart();
        else
            beginPart(workersIdle());
    } else if (inPart >= kHalfEntries && workersIdle()) {
        beginPart(true);
    }
    recorder.millis = recorder.last == StayClock::time_point{}
                          ? 0
                          : static_cast<std::uint32_t>(std::min<std::int64_t>(
                                std::chrono::duration_cast<std::chrono::milliseconds>(
                                    now - recorder.last)
                                    .count(),
                                INT32_MAX));
    recorder.last = now;
    if (switches.freeplotMode != recorder.freeplot) {
        append({.kind = Entry::console});
        recorder.freeplot = switches.freeplotMode;
    }
    const bool ignore = readGame<std::uint8_t>(Loc::inputIgnoreFlag) != 0;
    if (ignore != recorder.ignore) append({.kind = Entry::ignore, .flag = ignore});
    recorder.ignore = ignore;
    const bool busy = readGame<std::uint8_t>(Loc::workshopStateByte) == 1;
    if (busy != recorder.busy) append({.kind = Entry::busy, .flag = busy});
    recorder.busy = busy;
    if (const auto* heading = readGame<const GameReference*>(Loc::rotationBasePtr)) {
        const float h = heading->rot(2);
        if (!recorder.headingKnown || h != recorder.heading) {
            stay::Place place;
            place.rotation[2] = h;
            append({.kind = Entry::heading, .place = place});
        }
        recorder.headingKnown = true;
        recorder.heading = h;
    }
    if (allObjects)
        for (std::size_t i = 0; i < recorder.objects.size(); ++i)
            if (!there(recorder.objects[i])) gone(static_cast<std::int32_t>(i));
    syncSelection();
    recorder.scaleBusy = workers.scaleBusy != 0;
    recorder.deleteBusy = workers.deleteBusy != 0;
    // The stay found the scale and delete workers free: so must the replay, where the event
    // needs them (or a deletion may still be waiting), which waits long enough after the last key
    // that gave them work.
    recorder.atLeast = 0;
    if (!recorder.scaleBusy && !recorder.deleteBusy &&
        recorder.lastWorkerJob != StayClock::time_point{}) {
        const auto since =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - recorder.lastWorkerJob)
                .count();
        const std::int64_t before = since - recorder.millis;  // until the event before this one
        if (before < kWorkerSpellMillis)
            recorder.atLeast = static_cast<std::uint32_t>(kWorkerSpellMillis - before);
    }
    recorder.turning = workers.rotateBusy != 0 || transforms.mouseRotateState != 0;
    // While a deletion waits, the object may be gone or not when the event acts; while a held
    // button turns, its turns fall among the event's changes at the machine's pace.
    if (recorder.deleteBusy || recorder.turning) diverge(stay::why::worker);
}

// --- After each event ---------------------------------------------------------------------------

struct Rows {
    int main, scale, undo, redo, store, apply, remove, move, fix, rotate, align;
};
const Rows& rows() {
    static const Rows r{rowOfAction(Action::main),     rowOfAction(Action::scaleUp),
                        rowOfAction(Action::undo),     rowOfAction(Action::redo),
                        rowOfAction(Action::copyState), rowOfAction(Action::copyAll),
                        rowOfAction(Action::deleteKey), rowOfAction(Action::moveUp),
                        rowOfAction(Action::resetAngles), rowOfAction(Action::rotateLeft),
                        rowOfAction(Action::alignToGrid)};
    return r;
}

// The event needs the workers free as the stay found them, or acts on what a deletion takes: the
// replay waits out the last work given before it, once.
std::uint32_t spell(bool needsWorkers) {
    if (recorder.atLeast == 0 || !(needsWorkers || recorder.lastJobDeletes)) return 0;
    recorder.lastWorkerJob = {};
    return recorder.atLeast;
}

void afterUndo(bool workerBusy) {
    const TakenBack taken = lastTakenBack();
    for (int p = 0; p < recorder.partCount; ++p) {
        const bool older = taken.made != 0 && taken.made <= recorder.parts[p].undoMark;
        if (older || workerBusy || recorder.parts[p].diverged) {
            taintChanged(p, static_cast<std::uint8_t>(
                                (older ? stay::why::history : 0) |
                                (workerBusy ? stay::why::worker : 0) |
                                (recorder.parts[p].diverged ? recorder.parts[p].divergedWhy : 0)));
            taintIn(p, objectOf(taken.handle), stay::part::all, stay::why::history);
        }
    }
}

void afterKey(std::uint64_t actions, int row) {
    const Rows& r = rows();
    const std::int32_t selected = recorder.selected;
    const Settings& file = fileSettings();
    // A key bound to the freeplot key and to more: which of them acts follows togglable, which
    // the replay reads from the file.
    if ((actions & actionBit(Action::main)) != 0 && actions != actionBit(Action::main) &&
        (file.togglable != 0) != (settings.togglable != 0)) {
        taint(selected, stay::part::all, stay::why::togglable);
        diverge(stay::why::togglable);
    }
    bool work = false;  // the key may have given a worker work
    if (row == r.scale) {
        work = !recorder.scaleBusy;
        if (recorder.scaleBusy) {
            taint(selected, stay::part::scale, stay::why::worker);
            diverge(stay::why::worker);
        }
    } else if (row == r.undo || row == r.redo) {
        work = true;
        afterUndo(recorder.scaleBusy);
    } else if (row == r.store) {
        if (selected >= 0)
            for (int p = 0; p < recorder.partCount; ++p) {
                const stay::Seen& o = recorder.objects[static_cast<std::size_t>(selected)];
                recorder.parts[p].storedInexact = o.inexact[p] & ~stay::part::there;
                recorder.parts[p].storedWhy = o.why[p];
            }
    } else if (row == r.apply) {
        const bool scales = (actions & (actionBit(Action::copyAll) | actionBit(Action::copyScale))) != 0;
        if (scales && recorder.scaleBusy) {
            taint(selected, stay::part::all, stay::why::worker);
            diverge(stay::why::worker);
        } else {
            work = scales;
            for (int p = 0; p < recorder.partCount; ++p)
                taintIn(p, selected, recorder.parts[p].storedInexact, recorder.parts[p].storedWhy);
        }
    } else if (row == r.remove) {
        if (recorder.deleteBusy) {
            taint(selected, stay::part::all, stay::why::worker);
            diverge(stay::why::worker);
        } else if (selected >= 0) {
            work = true;
            recorder.objects[static_cast<std::size_t>(selected)].deleting = true;
        }
    }
    if (work) {
        recorder.lastWorkerJob = recorder.last;
        recorder.lastJobDeletes = row == r.remove;
    }
    if (row == r.scale || row == r.apply || row == r.remove || row == r.move || row == r.fix ||
        row == r.rotate || row == r.align)
        markChanged(selected);
}

// --- What the handlers call ---------------------------------------------------------------------


void settingsRead(std::shared_ptr<const Reading> reading) {
    if (recorder.active && reading != recorder.reading) recorder.settingsChanged = true;
    recorder.reading = std::move(reading);
}

void beforeKey(int row) {
    before(row >= 0 && (row == rows().undo || row == rows().redo));
}

void keyPressed(std::uint16_t code) {
    if (recorder.tooMany) return;
    append({.kind = Entry::press, .code = code, .millis = recorder.millis});
}

void keyReleased(std::uint16_t code, std::uint64_t actions, int row) {
    if (recorder.tooMany) return;
    const Rows& r = rows();
    const bool needs = row == r.scale || row == r.undo || row == r.redo || row == r.apply ||
                       row == r.remove;
    Entry entry{.kind = Entry::release, .code = code, .millis = recorder.millis,
                .atLeast = spell(needs)};
    afterKey(actions, row);
    append(entry);
    recorder.freeplot = switches.freeplotMode;
}

void beforeMouse() {
    before(false); }

void mouseEvent(std::uint16_t buttons, std::int16_t data) {
    if (recorder.tooMany) return;
    const std::int32_t selected = recorder.selected;
    if (!recorder.ignore && !recorder.busy && selected >= 0) {
        if (settings.wheelRotation) {
            if ((buttons & kMouseWheel) != 0) markChanged(selected);
        } else if ((buttons & (kLeftButtonDown | kRightButtonDown)) != 0) {
            // A held button turns the object at the worker's pace, among the other changes.
            markChanged(selected);
            taint(selected, stay::part::angles, stay::why::hold);
            diverge(stay::why::hold);
        }
    }
    append({.kind = Entry::mouse,
            .code = buttons,
            .data = data,
            .millis = recorder.millis,
            .atLeast = spell(false)});
}

void ends() {
    switches.dueInside = static_cast<std::uint8_t>(switches.dueInside & ~kStayKept);
    if (!recorder.active) return;
    recorder.active = false;
    stay::Kept kept;
    kept.number = ++recorder.stays;
    kept.reading = recorder.reading;
    kept.fileTogglable = fileSettings().togglable;
    kept.gameTogglable = settings.togglable;
    kept.tooManyObjects = recorder.tooMany;
    if (!recorder.tooMany && recorder.partCount > 0) {
        // A scale still on its way: the scales of the objects changed are the worker's timing.
        if (workers.scaleBusy != 0)
            for (stay::Seen& o : recorder.objects)
                if (o.changed[0]) {
                    o.inexact[0] |= stay::part::scale;
                    o.why[0] |= stay::why::worker;
                }
        kept.start = std::move(recorder.parts[0].start);
        kept.start.eventsLeftOut = recorder.eventsLeftOut;
        kept.start.settingsRead = recorder.settingsRead;
        kept.entries = std::move(recorder.entries);
        kept.objects = std::move(recorder.objects);
        for (const stay::Seen& o : kept.objects) {
            const GameReference* reference = o.goneSaid ? nullptr : lookUp(o.held);
            kept.there.push_back(reference != nullptr && !o.deleting);
            kept.places.push_back(reference ? placeOf(reference) : stay::Place{});
        }
    }
    recorder.entries = {};
    recorder.objects = {};
    recorder.partCount = 0;
    stay::hand(std::make_shared<const stay::Kept>(std::move(kept)));
}



}  // namespace
}  // namespace freeplot::stay::rec

namespace freeplot {

void staySettingsRead(std::shared_ptr<const Reading> reading) {
    stay::rec::settingsRead(std::move(reading));
}
void stayBeforeKey(int row) { stay::rec::beforeKey(row); }
void stayKeyPressed(std::uint16_t code) { stay::rec::keyPressed(code); }
void stayKeyReleased(std::uint16_t code, std::uint64_t actions, int row) {
    stay::rec::keyReleased(code, actions, row);
}
void stayBeforeMouse() { stay::rec::beforeMouse(); }
void stayMouse(std::uint16_t buttons, std::int16_t data) {
    stay::rec::mouseEvent(buttons, data);
}
void stayEnds() { stay::rec::ends(); }
std::size_t stayEntriesKept() { return stay::rec::recorder.entries.size(); }

}  // namespace freeplot
