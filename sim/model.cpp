// The model of what the player must see (model.h). Everything here is taken from the README: the
// key table and its defaults, the messages and the mended behaviours; the settings file is read in
// model_settings.cpp.

#include "sim/model.h"
#include "sim/model_settings.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <set>
#include <sstream>
#include <type_traits>


namespace sim {
namespace {

constexpr const char* kStored = "Object parameters stored";
constexpr double kNone = std::numeric_limits<double>::quiet_NaN();  // a value not known
bool known(double v) { return !std::isnan(v); }
constexpr int kAnyScale = -1;                // a scale not known
constexpr const char* kLost = "?";           // the object of an undo record the model lost
constexpr const char* kAnyMessage = "\x01";  // a message whose text is not known
}  // namespace

// --- One state the game may be in ----------------------------------------------------------------

// What reaches the game from one raw-input event: a key event whole or not at all; of a mouse
// record, the button changes and wheel data that remain.
struct Passed {
    enum Of : char { nothing, key, mouse } of = nothing;
    bool reached = false;
    std::uint16_t buttons = 0, data = 0;
    bool operator==(const Passed&) const = default;
    std::string text() const {
        if (of == key)
            return reached ? "the key event reached the game"
                           : "the key event was kept from the game";
        if (of == nothing) return "-";
        char out[80];
        std::snprintf(out, sizeof out, "buttons 0x%04X, wheel data %d", buttons,
                      static_cast<std::int16_t>(data));
        return out;
    }
};

struct Object {
    bool loaded = true;
    // kNone, kAnyScale: changed meanwhile in a way the model cannot tell (a held button's turns,
    // an undo of a record it lost track of); the next look at the game tells.
    double pos[3] = {0, 0, 0}, ang[3] = {0, 0, 0};
    int scale = 100;
    bool actor = false, turret = false;
    bool transformable() const { return !actor || turret; }
};

// The parts of an object a change sets, one bit each: what undo and redo put back.
constexpr std::uint8_t posX = 1, posY = 2, posZ = 4, angX = 8, angY = 16, angZ = 32, size = 64;
constexpr std::uint8_t kPositions = posX | posY | posZ, kAngles = angX | angY | angZ,
                       kEverything = kPositions | kAngles | size;

// What one undo takes back: the parts a change set and what they were before it. `change` names
// the change as the key table does (a run of the same one on one object is one record).
struct Record {
    std::string object;
    std::string change;
    std::uint8_t parts;
    double pos[3], ang[3];
    int scale;
};

// Work on the thread that scaling and deleting share, one job after the other.
struct Job {
    enum Type : char { scaleKey, applyScale, remove } type;
    std::string object;
    // 0 waiting for the thread, 1 the command given and the object in the hand-over slot, 2 taken
    // by the game's main loop.
    int phase = 0;
    int percent = 0;
};

struct World {
    Settings s;
    // The settings file as last taken and as it is now (shared between the states: it may be
    // 4 MiB); null when there is none.
    std::shared_ptr<const std::string> file, fileNow;
    bool fileReadable = true, fileLooked = true;
    bool sawGone = false;  // the plugin's last look at the file found none
    // The readings of the file that the report beside the log tells of, the game's start first,
    // and the settings the last one taken put in force (keys change the step entries since).
    int readings = 1;
    Model::SettingsReading::Kind lastReading = Model::SettingsReading::start;
    Settings reported;
    // Building rules.
    bool freeplot = true, snapOff = false, timeout = false, locked = false, lockedEver = false,
         outlineOff = false, outlineParked = false, clamped = false, extra = false,
         extraParked = false;
    float surface = 0.8f, surfaceKept = 0.8f;
    int grid = 1;
    float clock = 1.0f, clockKept = 0.0f;
    bool keyUsedClock = false;
    // The game.
    bool workshop = true, ignore = false, busyState = false, mainLoop = true, stayDue = false;
    double heading = 0;  // radians, as the game keeps it (a float)
    std::string selected;
    std::map<std::string, Object> objects;
    // The plugin.
    char axis = 'Z';
    struct Stored {
        double pos[3], ang[3];
        int scale;
    };
    std::optional<Stored> stored;
    std::vector<Record> undo, redo;
    // Whether the lists may hold older records than the model knows (the model lost track of
    // their order while a held button turned an object beside other changes).
    bool undoBelow = false, redoBelow = false;
    // Whether a change may merge into the newest record: only into one a change made (not one an
    // undo or a redo left newest, nor one left newest by a deletion's records going).
    bool mergeable = false;
    std::vector<std::string> shown;
    std::deque<Job> jobs;
    std::optional<std::string> notifier;  // a scale message waiting for its quiet spell
    std::int64_t notifierSeen = -1;       // when the model first saw it waiting
    int consoles = 0;                     // console commands not yet run
    std::set<std::uint16_t> keptPresses;  // bound keys pressed, kept from the game, not released
    std::set<std::uint16_t>
        gamesKeys;                   // keys (by their low byte) held down while the game had them
    // The release flags of the left and right button presses Freeplot took and whose release has
    // not come since.
    std::uint16_t takenButtons = 0;
    Passed passed;                   // what must reach the game from the last key or mouse event
    int hold = 0;                    // 1 the left button turns +, 2 the right one turns -
    bool rotating = false;           // the held-button worker has not yet seen the hold end
    std::int64_t rotatingSeen = -1;  // when the model first saw it so after the hold ended
    std::string holdObject;
    bool holdTurned = false;
    double turnFrom = kNone;       // the held object's angle before turns since the last look
    std::int64_t turnsUntil = -1;  // a turn may still land until then (a release just came)
    // The axis before the axis key changed it while a held button turned: the worker may have
    // read it just before, and its turn lands about it, until oldAxisUntil (set at the next look).
    char oldAxis = 0;
    std::int64_t oldAxisUntil = -1;

    // A vector of states that grows moves them rather than copying them (a move of the job queue
    // may allocate, and runs out of memory only where the copy would have).
    World() = default;
    World(const World&) = default;
    World(World&&) noexcept = default;
    World& operator=(const World&) = default;
    World& operator=(World&&) noexcept = default;
    ~World() = default;

    // The state as text, for telling states apart; without the undo and redo lists when
    // `lists` is false.
    std::string key(bool lists = true) const;
    Object* selectedObject() {
        const auto it = objects.find(selected);
        return it != objects.end() && it->second.loaded ? &it->second : nullptr;
    }
    bool scaleBusy() const {
        return std::any_of(jobs.begin(), jobs.end(),
                           [](const Job& j) { return j.type != Job::remove; });
    }
    bool deleteBusy() const {
        return std::any_of(jobs.begin(), jobs.end(),
                           [](const Job& j) { return j.type == Job::remove; });
    }
    bool busy() const { return !jobs.empty() || rotating; }
};

std::string World::key(bool lists) const {
    std::ostringstream k;
    // Values alike to the game's float precision are one state.
    k.precision(6);
    k << freeplot << snapOff << timeout << locked << lockedEver << outlineOff << outlineParked
      << clamped << extra << extraParked << surface << ',' << surfaceKept << grid << clock << ','
      << clockKept << keyUsedClock << workshop << ignore << busyState << mainLoop << stayDue
      << fileLooked << sawGone << axis << oldAxis << selected << '|' << s.rotate.index << s.move.index
      << s.scale.index << '|' << static_cast<const void*>(file.get()) << readings << '|';
    // What the game has let go of never comes back: its values, and those of its records, tell
    // no two states apart.
    auto gone = [&](const std::string& name) {
        const auto it = objects.find(name);
        return it != objects.end() && !it->second.loaded;
    };
    for (const auto& [name, o] : objects) {
        k << name << o.loaded;
        if (!o.loaded) continue;
        k << o.scale;
        for (double v : o.pos) k << ',' << v;
        for (double v : o.ang) k << ',' << v;
    }
    for (const auto* list : {&undo, &redo}) {
        if (!lists) break;
        k << '#';
        for (const Record& r : *list) {
            k << r.object << '/' << r.change << static_cast<int>(r.parts);
            if (gone(r.object)) continue;
            k << r.scale;
            for (double v : r.pos) k << ',' << v;
            for (double v : r.ang) k << ',' << v;
        }
    }
    k << mergeable;
    if (stored) k << "stored" << stored->scale << stored->pos[0] << stored->ang[0];
    // Worlds part only where the game has not shown yet which they are: messages shown before
    // the last look are alike in all of them.
    k << shown.size();
    for (std::size_t i = shown.size() > 4 ? shown.size() - 4 : 0; i < shown.size(); ++i)
        k << shown[i] << '\n';
    for (const Job& j : jobs) k << 'j' << j.type << j.object << j.phase << j.percent;
    for (std::uint16_t code : keptPresses) k << 'k' << code;
    for (std::uint16_t code : gamesKeys) k << 'g' << code;
    k << 't' << takenButtons << 'i' << passed.text();
    k << (notifier ? *notifier : "~") << consoles << hold << rotating << holdObject << holdTurned
      << turnFrom;
    if (lists) k << undoBelow << redoBelow;
    return k.str();
}

namespace {

// Where a step that can go two ways leaves the other way: the states the step makes besides the
// one it changes in place.
std::vector<World>* forks = nullptr;

void show(World& w, M m) { w.shown.push_back(w.s.text(m)); }
void show(World& w, M m, double value) {
    w.shown.push_back(format(w.s.text(m), kTexts[m].kind, value));
}

// --- Undo and redo -------------------------------------------------------------------------------

Record snapshot(const World& w, const std::string& name, const std::string& change,
                std::uint8_t parts) {
    const Object& o = w.objects.at(name);
    Record r{name, change, parts, {}, {}, o.scale};
    std::copy(std::begin(o.pos), std::end(o.pos), r.pos);
    std::copy(std::begin(o.ang), std::end(o.ang), r.ang);
    return r;
}

void push(std::vector<Record>& list, bool& below, const Record& r) {
    if (list.size() >= 10)
        list.erase(list.begin(), list.begin() + static_cast<long>(list.size() - 9));
    list.push_back(r);
    if (list.size() == 10) below = false;  // whatever was below has gone
}

// Every object as the game will show it, after a change the model cannot tell.
void loseTrack(World& w) {
    for (auto& [name, o] : w.objects) {
        std::fill(std::begin(o.pos), std::end(o.pos), kNone);
        std::fill(std::begin(o.ang), std::end(o.ang), kNone);
        o.scale = kAnyScale;
    }
}

// Before a change to an object: what the parts it sets are now. A change that goes on a run of the
// same change to the same object adds its parts to the run's record, which holds them as they
// were before the run.
void pushUndo(World& w, const std::string& name, const std::string& change, std::uint8_t parts) {
    w.redo.clear();
    w.redoBelow = false;
    if (!w.undo.empty() && w.mergeable) {
        Record& newest = w.undo.back();
        if (newest.object == name && newest.change == change) {
            newest.parts |= parts;
            return;
        }
    }
    Record r = snapshot(w, name, change, parts);
    // The newest record is one the model lost track of (states merged that disagreed on it): the
    // change may have merged into it, and then an undo brings back older values than this one's.
    if (w.mergeable && (w.undo.empty() ? w.undoBelow : w.undo.back().object == kLost)) {
        std::fill(std::begin(r.pos), std::end(r.pos), kNone);
        std::fill(std::begin(r.ang), std::end(r.ang), kNone);
        r.scale = kAnyScale;
    }
    push(w.undo, w.undoBelow, r);
    w.mergeable = true;
}

// The records of an object the player deletes go, at the key and again once it is gone.
void forget(World& w, const std::string& name) {
    const std::size_t before = w.undo.size();
    for (auto* list : {&w.undo, &w.redo})
        list->erase(std::remove_if(list->begin(), list->end(),
                                   [&](const Record& r) { return r.object == name; }),
                    list->end());
    if (w.undo.size() != before) w.mergeable = false;
}

// A scale given by other means than a scale key. A scale message not yet shown goes: it would name
// a scale that is no longer the last given.
void giveScale(World& w, const std::string& name, int percent) {
    w.jobs.push_back({Job::applyScale, name, 0, percent});
    w.notifier.reset();
    w.notifierSeen = -1;
}

// A scale, when the shared thread is free of scale work; the scale busy byte is claimed first.
bool startApplyScale(World& w, const std::string& name, int percent) {
    if (w.scaleBusy()) return false;
    giveScale(w, name, percent);
    return true;
}

// Undo (from undo to redo) or redo (the other way). A record that cannot be written whole (its
// scale finds the scale worker busy) writes nothing and stays.
void takeBack(World& w, bool undoing) {
    auto& from = undoing ? w.undo : w.redo;
    auto& to = undoing ? w.redo : w.undo;
    bool& fromBelow = undoing ? w.undoBelow : w.redoBelow;
    bool& toBelow = undoing ? w.redoBelow : w.undoBelow;
    // A record the model lost track of: nothing may happen (there is none, it waits for a busy
    // scale worker, or its object is gone and it is dropped with more unknown ones below it), or
    // something comes back and what it replaced goes the other way, as a record the model does
    // not know either. The world the game follows is kept.
    const bool lost = from.empty() ? fromBelow : from.back().object == kLost;
    if (lost) {
        if (forks) forks->push_back(w);
        if (!from.empty()) from.pop_back();
        w.mergeable = false;
        loseTrack(w);
        // It may have handed a scale to the worker, which lands on some object at a moment of its
        // own: until it has, no scale is known. Or the record held no scale, and the worker stays
        // free for the next scale key even while a deletion waits before it.
        Record unknown{kLost, kLost, kEverything, {}, {}, kAnyScale};
        std::fill_n(unknown.pos, 3, kNone);
        std::fill_n(unknown.ang, 3, kNone);
        push(to, toBelow, unknown);
        if (!w.scaleBusy()) {
            if (forks) forks->push_back(w);
            giveScale(w, kLost, kAnyScale);
        }
        return;
    }
    if (from.empty()) return;
    Record r = from.back();
    // Putting a scale back needs the scale worker.
    const bool scales = (r.parts & size) != 0;
    if (scales && w.scaleBusy()) return;
    from.pop_back();
    w.mergeable = false;
    auto it = w.objects.find(r.object);
    if (it == w.objects.end() || !it->second.loaded) return;
    Object& o = it->second;
    // The parts the change set go back to what they were; what they are now goes the other way.
    const Record replaced = snapshot(w, r.object, r.change, r.parts);
    for (int i = 0; i < 3; ++i) {
        if (r.parts & (posX << i)) o.pos[i] = r.pos[i];
        if (r.parts & (angX << i)) o.ang[i] = r.ang[i];
    }
    if (scales) startApplyScale(w, r.object, r.scale);
    Record kept = replaced;
    // While a held button turns this object, its angle at this moment is the worker's timing:
    // what the record brings back and keeps of it is the game's to tell.
    if (r.object == w.holdObject && (w.hold != 0 || w.rotating || w.turnsUntil >= 0)) {
        std::fill(std::begin(o.ang), std::end(o.ang), kNone);
        std::fill(std::begin(kept.ang), std::end(kept.ang), kNone);
        w.turnFrom = kNone;
    }
    push(to, toBelow, kept);
}

// --- The building rules --------------------------------------------------------------------------

void setLock(World& w, bool on, bool show_ = true) {
    if (w.locked == on) return;
    if (!on && !w.lockedEver) return;
    w.locked = on;
    w.lockedEver = w.lockedEver || on;
    if (show_) show(w, on ? mLockOn : mLockOff);
}

void slowClock(World& w) {
    w.clockKept = w.clock;
    w.clock = w.s.buildTimescale;
}
void restoreClock(World& w) {
    w.clock = w.clockKept;
    w.clockKept = 0.0f;
}

void autoTimescale(World& w) {
    if (!w.workshop) {
        if (w.clockKept != 0.0f) restoreClock(w);
        w.keyUsedClock = false;
    } else if (w.clockKept == 0.0f && w.s.autoTimescale && !w.keyUsedClock) {
        slowClock(w);
    }
}

// A switch held off outside workshop mode and brought back inside it, without a message.
void park(const World& w, bool& on, bool& parked) {
    if (!w.workshop && on) {
        on = false;
        parked = true;
    } else if (w.workshop && parked) {
        parked = false;
        on = true;
    }
}
void autoOutline(World& w) { park(w, w.outlineOff, w.outlineParked); }
void autoExtraSelection(World& w) { park(w, w.extra, w.extraParked); }

void autoObjectUnlock(World& w) {
    if (w.locked && w.selected.empty()) setLock(w, false);
}

// The first event of a stay in workshop mode reads a changed settings file again, before it does
// anything else, once no worker runs (until then the stay's start, and the clock's automatic
// slowing, wait for a later event). A file that cannot be read waits for the next stay;
// togglable and the start states wait for the next start of the game. A reading whose report has
// findings says so after the message that the file was read. False while it waits.
bool beginStay(World& w) {
    if (!w.stayDue) return true;
    if (w.busy()) return false;
    w.stayDue = false;
    if (w.fileLooked) return true;
    ++w.readings;
    // A file that cannot be read (held by another program, beyond 4 MiB or saved as UTF-16) is
    // looked at again at every stay; one gone is told once.
    if (!w.fileNow || !w.fileReadable || shapeOf(*w.fileNow) != FileShape::text) {
        const bool gone = !w.fileNow && w.fileReadable;
        w.fileLooked = gone;
        w.sawGone = gone;  // a file there, even one not taken, makes its deletion news
        w.lastReading = Model::SettingsReading::notTaken;
        show(w, mRefused);
        return true;
    }
    w.fileLooked = true;
    const Reading reading = readSettings(*w.fileNow, &w.s);
    w.s = w.reported = reading.s;
    w.file = w.fileNow;
    w.sawGone = false;
    w.lastReading = Model::SettingsReading::again;
    // The keys' presses kept under the settings before are forgotten: their releases act no more.
    // So are the buttons' taken presses: their releases go to the game.
    w.keptPresses.clear();
    w.takenButtons = 0;
    show(w, mReloaded);
    if (reading.findings) show(w, mWarnings);
    return true;
}

// What every event does first: the stay's start (or, outside workshop mode, the note that the
// next event inside starts one), the switches parked outside workshop mode, the lock of nothing,
// the clock. The mouse does all of it on every event; the keyboard only the first part outside
// workshop mode or while input is ignored. An event the game gets there, key or mouse, ends every
// kept key press. False when the event goes no further.
bool housekeeping(World& w, bool mouse, std::uint16_t buttons = 0) {
    const bool ready = w.workshop ? beginStay(w) : (w.stayDue = true);
    if (mouse) {
        // Without wheelRotation, the release of the turning button ends the turning, first.
        if (!w.s.wheelRotation &&
            (((buttons & 0x0002) && w.hold == 1) || ((buttons & 0x0008) && w.hold == 2)))
            w.hold = 0;
        autoExtraSelection(w);
        autoObjectUnlock(w);
    }
    autoOutline(w);
    if (ready) autoTimescale(w);
    const bool inside = w.workshop && !w.ignore;
    if (!inside) w.keptPresses.clear();
    if (mouse) return true;
    if (!inside) return false;
    autoObjectUnlock(w);
    autoExtraSelection(w);
    return true;
}

// --- Object actions ------------------------------------------------------------------------------

Object* forTransform(World& w) {
    Object* o = w.selectedObject();
    return o && o->transformable() ? o : nullptr;
}

// A turn never takes an angle beyond what a float holds in radians: the object stays, without a
// record (an angle the model does not know turns).
bool beyondFloat(double v) { return std::fabs(v) > std::numeric_limits<float>::max(); }

// Turns about one axis are one change, by key, wheel or held button.
std::string turning(char axis) { return std::string("turn about ") + axis; }
std::uint8_t angleOf(char axis) { return static_cast<std::uint8_t>(angX << (axis - 'X')); }

void turn(World& w, const std::string& name, int steps) {
    Object& o = w.objects.at(name);
    double& a = o.ang[w.axis - 'X'];
    if (known(a) && beyondFloat((a + steps * w.s.rotate.now()) / kDegreesPerRadian)) return;
    pushUndo(w, name, turning(w.axis), angleOf(w.axis));
    if (known(a)) a += steps * w.s.rotate.now();
}

// A move never takes a coordinate beyond a float's range: the object stays, without a record.

void move(World& w, int axis, int direction) {
    Object* o = forTransform(w);
    if (!o) return;
    const double d = direction * w.s.move.now();
    if (axis == 'Z') {
        if (beyondFloat(o->pos[2] + d)) return;
        pushUndo(w, w.selected, "up and down", posZ);
        o->pos[2] += d;
        return;
    }
    const double h = w.heading;
    const double dx = axis == 'X' ? std::cos(h) * d : std::sin(h) * d;
    const double dy = axis == 'X' ? -std::sin(h) * d : std::cos(h) * d;
    if (beyondFloat(o->pos[0] + dx) || beyondFloat(o->pos[1] + dy)) return;
    // Across the way the player faces or along it: both coordinates.
    pushUndo(w, w.selected, axis == 'X' ? "left and right" : "back and forth", posX | posY);
    if (axis == 'X') {
        o->pos[0] += std::cos(h) * d;
        o->pos[1] += -std::sin(h) * d;
    } else {
        o->pos[0] += std::sin(h) * d;
        o->pos[1] += std::cos(h) * d;
    }
}

// The grid's place for the object: one beyond a float's range leaves it as it is, and one where it
// is already (as the game keeps its values: floats, the angles in radians) changes nothing. Neither
// keeps an undo record. Where the model does not know a value, the game tells which it was.
void align(World& w, Object& o, const double (&pos)[3], const double (&ang)[3]) {
    bool changes = false, unsure = false;
    for (int i = 0; i < 3; ++i) {
        if (beyondFloat(pos[i]) || beyondFloat(ang[i] / kDegreesPerRadian)) return;
        const auto asFloat = [](double v) { return static_cast<float>(v); };
        if (!known(o.pos[i]) || !known(o.ang[i]))
            unsure = true;
        else if (asFloat(pos[i]) != asFloat(o.pos[i]) ||
                 asFloat(ang[i] / kDegreesPerRadian) != asFloat(o.ang[i] / kDegreesPerRadian))
            changes = true;
    }
    if (!changes && !unsure) return;
    if (!changes && forks) forks->push_back(w);
    pushUndo(w, w.selected, "align", kPositions | kAngles);
    std::copy(std::begin(pos), std::end(pos), o.pos);
    std::copy(std::begin(ang), std::end(ang), o.ang);
}

void applyStored(World& w, int fields, bool all) {
    Object* o = w.selectedObject();
    if (!o || !w.stored || o->actor) return;
    // A scale waits for no busy scale worker: the key changes nothing then.
    const std::uint8_t parts = all ? kEverything : static_cast<std::uint8_t>(fields);
    if ((parts & size) && w.scaleBusy()) return;
    // What one key gives is one change, whichever of the stored parameters share it.
    pushUndo(w, w.selected, "stored " + std::to_string(parts), parts);
    for (int i = 0; i < 3; ++i) {
        if (parts & (posX << i)) o->pos[i] = w.stored->pos[i];
        if (parts & (angX << i)) o->ang[i] = w.stored->ang[i];
    }
    if (parts & size) startApplyScale(w, w.selected, w.stored->scale);
}

// --- The key dispatcher --------------------------------------------------------------------------

void act(World& w, std::uint16_t code) {
    const Settings& s = w.s;
    auto is = [&](int a) { return s.bound(a, code); };
    const bool idle = !w.busyState;
    if (s.togglable && is(kMain)) {
        w.freeplot = !w.freeplot;
        show(w, w.freeplot ? mFreeplotOn : mFreeplotOff);
    } else if (is(kSnap)) {
        w.snapOff = !w.snapOff;
        show(w, w.snapOff ? mSnapOff : mSnapOn);
    } else if (is(kGround)) {
        if (w.surface == 1.5f) {
            w.surface = w.surfaceKept;
            show(w, mGroundOn);
        } else {
            w.surfaceKept = w.surface;
            w.surface = 1.5f;
            show(w, mGroundOff);
        }
    } else if (is(kWorkshopSnap)) {
        w.grid = w.grid ? 0 : 1;
        show(w, w.grid ? mWorkshopOn : mWorkshopOff);
    } else if (is(kTimeoutFreeze)) {
        w.timeout = !w.timeout;
        show(w, w.timeout ? mFreezeOn : mFreezeOff);
    } else if (is(kResetAngles) || is(kRemoveTremor)) {
        if (Object* o = forTransform(w)) {
            pushUndo(w, w.selected, "angle fix", is(kResetAngles) ? angX | angY : angX);
            const double x = is(kRemoveTremor) ? o->ang[0] : 0.0;
            o->ang[0] = x;
            if (is(kResetAngles)) o->ang[1] = x;
        }
    } else if (is(kRotateStepMinus) || is(kRotateStepPlus)) {
        show(w, mRotateStep, w.s.rotate.step(is(kRotateStepPlus) ? 1 : -1));
    } else if (is(kMoveStepMinus) || is(kMoveStepPlus)) {
        show(w, mMoveStep, w.s.move.step(is(kMoveStepPlus) ? 1 : -1));
    } else if (is(kScaleStepMinus) || is(kScaleStepPlus)) {
        show(w, mScaleStep, w.s.scale.step(is(kScaleStepMinus) ? 1 : -1));
    } else if (is(kChangeRotateAxis)) {
        if (w.hold != 0 || w.rotating) w.oldAxis = w.axis;
        w.axis = w.axis == 'Z' ? 'X' : static_cast<char>(w.axis + 1);
        show(w, mAxis, w.axis);
    } else if (is(kOutlineToggle)) {
        w.outlineOff = !w.outlineOff;
        show(w, w.outlineOff ? mOutlineOff : mOutlineOn);
    } else if (idle && (is(kMoveDown) || is(kMoveUp) || is(kMoveLeft) || is(kMoveRight) ||
                        is(kMoveBack) || is(kMoveForth))) {
        const int axis = is(kMoveDown) || is(kMoveUp)      ? 'Z'
                         : is(kMoveLeft) || is(kMoveRight) ? 'X'
                                                           : 'Y';
        const bool back = is(kMoveDown) || is(kMoveLeft) || is(kMoveBack);
        move(w, axis, back ? -1 : 1);
    } else if (idle && (is(kScaleDown) || is(kScaleUp) || is(kScaleReset))) {
        // The object selected now is the one scaled, to a percent reckoned now; a key while a
        // scale is on its way is ignored.
        if (Object* o = w.selectedObject(); o && !w.scaleBusy()) {
            setLock(w, false);
            pushUndo(w, w.selected, "scale", size);
            const long step = w.s.scale.now();
            const long sum = is(kScaleReset) ? 100 : o->scale + (is(kScaleDown) ? -step : step);
            // Kept within 10 and 65535 %, but a decrease never raises the scale and an increase
            // never lowers it.
            const long kept = std::clamp<long>(sum, 10, 65535);
            const long turned = step == 0        ? o->scale
                                : is(kScaleDown) ? std::min<long>(kept, o->scale)
                                                 : std::max<long>(kept, o->scale);
            const int percent = o->scale == kAnyScale && !is(kScaleReset)
                                    ? kAnyScale
                                    : static_cast<int>(is(kScaleReset) ? 100 : turned);
            w.jobs.push_back({Job::scaleKey, w.selected, 0, percent});
        }
    } else if (idle && is(kUndo)) {
        takeBack(w, true);
    } else if (idle && is(kRedo)) {
        takeBack(w, false);
    } else if (is(kCopyState)) {
        // Nothing selected: nothing stored, and nothing said.
        if (const Object* o = w.selectedObject()) {
            World::Stored st{};
            std::copy(std::begin(o->pos), std::end(o->pos), st.pos);
            std::copy(std::begin(o->ang), std::end(o->ang), st.ang);
            st.scale = o->scale;
            w.stored = st;
            w.shown.push_back(kStored);
        }
    } else if (idle && (is(kCopyPosX) || is(kCopyPosY) || is(kCopyPosZ) || is(kCopyAngleX) ||
                        is(kCopyAngleY) || is(kCopyAngleZ) || is(kCopyScale) || is(kCopyAll))) {
        int fields = 0;
        for (int a = kCopyPosX; a <= kCopyScale; ++a)
            if (is(a)) fields |= 1 << (a - kCopyPosX);
        applyStored(w, fields, is(kCopyAll));
    } else if (is(kClampedStoreToggle)) {
        w.clamped = !w.clamped;
        show(w, w.clamped ? mClampedOff : mClampedOn);
    } else if (is(kLockObject)) {
        if (forTransform(w)) setLock(w, !w.locked);
    } else if (is(kExtraOutlineToggle)) {
        w.extra = !w.extra;
        show(w, w.extra ? mExtraOn : mExtraOff);
    } else if (s.duplicateEnabled && is(kDuplicateKey)) {
        // The copy is the game's: nothing the player sees here changes.
    } else if (s.deleteEnabled && is(kDeleteKey)) {
        if (w.selectedObject() && !w.deleteBusy()) {
            forget(w, w.selected);
            w.jobs.push_back({Job::remove, w.selected, 0, 0});
        }
    } else if (is(kRotateLeft) || is(kRotateRight)) {
        if (forTransform(w)) {
            if (w.busyState)
                w.hold = 0;
            else
                turn(w, w.selected, is(kRotateLeft) ? -1 : 1);
        }
    } else if (is(kPhysicsOn) || is(kPhysicsOff)) {
        if (const Object* o = w.selectedObject(); o && !o->actor)
            show(w, is(kPhysicsOn) ? mPhysicsOn : mPhysicsOff);
    } else if (is(kTimescaleToggle)) {
        w.keyUsedClock = !w.keyUsedClock;
        if (w.clockKept == 0.0f)
            slowClock(w);
        else
            restoreClock(w);
        show(w, w.clockKept != 0.0f ? mTimescaleOn : mTimescaleOff);
    } else if (idle && is(kAlignToGrid)) {
        // Each coordinate to the nearest multiple of the move step, each angle to the nearest
        // multiple of the rotate step; a step of 0 leaves them.
        if (Object* o = forTransform(w)) {
            double pos[3], ang[3];
            std::copy(std::begin(o->pos), std::end(o->pos), pos);
            std::copy(std::begin(o->ang), std::end(o->ang), ang);
            auto grid = [](double& v, double step) {
                const double snapped = std::round(v / std::fabs(step)) * std::fabs(step);
                if (step != 0.0 && std::isfinite(snapped)) v = snapped;
            };
            // Angles on the circle: into [0, 360) first, a full turn being 0.
            auto circle = [&](double& a, double step) {
                if (step == 0.0 || !std::isfinite(step) || !std::isfinite(a)) return;
                double r = std::fmod(a, 360.0);
                if (r < 0.0) r += 360.0;
                double snapped = r;
                grid(snapped, step);
                const double onGrid = 360.0 - r < std::fabs(r - snapped) ? 0.0 : snapped;
                // An angle already on the grid a whole turn away (-90 for 270, 360 for 0) is on
                // the grid: it stays as it is.
                const double same = a + std::remainder(onGrid - a, 360.0);
                if (static_cast<float>(same / kDegreesPerRadian) !=
                    static_cast<float>(a / kDegreesPerRadian))
                    a = onGrid;
            };
            for (int i = 0; i < 3; ++i) {
                grid(pos[i], w.s.move.now());
                circle(ang[i], w.s.rotate.now());
            }
            align(w, *o, pos, ang);
        }
    } else if (is(kObjectInfo)) {
        // Where the selected object is, as the game holds it (floats; angles in radians).
        if (const Object* o = w.selectedObject()) {
            double pos[3], ang[3];
            bool knownAll = o->scale != kAnyScale;
            for (int i = 0; i < 3; ++i) {
                pos[i] = static_cast<float>(o->pos[i]);
                ang[i] = static_cast<float>(o->ang[i] / kDegreesPerRadian) * kDegreesPerRadian;
                knownAll = knownAll && known(o->pos[i]) && known(o->ang[i]);
            }
            w.shown.push_back(knownAll ? formatPlace(w.s.text(mObjectInfo), pos, ang, o->scale)
                                       : kAnyMessage);
        }
    }
}

std::uint16_t normalised(std::uint16_t vkey, std::uint16_t scan, std::uint16_t flags) {
    // A Shift event tells its side by its scan code only; one that names neither is no key.
    if (vkey == 16) return scan == 0x36 ? 161 : scan == 0x2A ? 160 : 0;
    if (vkey == 17) return (flags & 2) ? 163 : 162;
    if (vkey == 18) return (flags & 2) ? 165 : 164;
    return vkey;
}

bool boundAtAll(const Settings& s, std::uint16_t code) {
    for (int a = 0; a < kActions; ++a)
        if (s.bound(a, code)) return true;
    return false;
}

// --- What the plugin's threads may do between two looks ------------------------------------------

// The ways one world may move on by itself: the next job step, the waiting message shown, a
// console command run, a turn of the held button. Each returns false when it cannot happen now.
bool runJob(World& w) {
    if (w.jobs.empty()) return false;
    Job& j = w.jobs.front();
    if (j.object == kLost) {
        // The scale lands on some object at once; then the worker waits for the game's main loop
        // to take that object, unless it is an actor or the game let go of it, which the model
        // cannot tell.
        if (j.phase == 0) {
            for (auto& entry : w.objects) entry.second.scale = kAnyScale;
            j.phase = 1;
            return true;
        }
        const bool mayEnd = w.mainLoop || std::any_of(w.objects.begin(), w.objects.end(),
                                                      [](const auto& entry) {
                                                          return entry.second.actor ||
                                                                 !entry.second.loaded;
                                                      });
        if (!mayEnd) return false;
        w.jobs.pop_front();
        return true;
    }
    auto it = w.objects.find(j.object);
    const bool there = it != w.objects.end() && it->second.loaded;
    if (j.phase == 0) {
        // The worker looks the object up: gone, and the job ends without a word (a deletion's
        // still drops the object's records).
        if (!there) {
            if (j.type == Job::remove) forget(w, j.object);
            w.jobs.pop_front();
            return true;
        }
        if (j.type != Job::remove) it->second.scale = j.percent;
        j.phase = 1;
        return true;
    }
    // Phase 1: the game's main loop takes the object (an actor is not handed over for a scale,
    // though it is for a deletion; one the game let go of meanwhile is taken back out of the
    // slot). The worker goes on after the take, so what it does then may come after the main loop
    // has stopped taking.
    const bool handed = there && (j.type == Job::remove || !it->second.actor);
    if (j.phase == 1 && handed) {
        if (!w.mainLoop) return false;
        j.phase = 2;
        return true;
    }
    const Job done = j;
    w.jobs.pop_front();
    if (done.type == Job::remove) {
        if (there) it->second.loaded = false;
        forget(w, done.object);
    }
    if (done.type == Job::scaleKey) {
        // A new text starts the quiet spell again.
        w.notifier =
            done.percent == kAnyScale ? kAnyMessage : format(w.s.text(mScale), 'd', done.percent);
        w.notifierSeen = -1;
    }
    return true;
}

bool showNotifier(World& w) {
    if (!w.notifier) return false;
    w.shown.push_back(*w.notifier);
    w.notifier.reset();
    w.notifierSeen = -1;
    return true;
}

bool runConsole(World& w) {
    if (w.consoles == 0) return false;
    --w.consoles;
    w.freeplot = !w.freeplot;
    return true;
}

// The held button turns its object; the angles it leaves are the game's to tell.
bool turnHeld(World& w) {
    if (w.hold == 0) return false;
    auto it = w.objects.find(w.holdObject);
    if (!w.workshop || w.busyState || it == w.objects.end() || !it->second.loaded) {
        w.hold = 0;
        return true;
    }
    Object& o = it->second;
    double& angle = o.ang[w.axis - 'X'];
    if (!known(angle) && known(w.turnFrom)) return false;  // turned already since the last look
    w.turnFrom = angle;
    // The hold's first turn records the angle it started from. A record made by a later turn
    // holds an angle the worker read between two turns, at a moment the model cannot place
    // against the keys around it: its angle is left open, for the game to tell when it is undone.
    if (w.holdTurned) angle = kNone;
    pushUndo(w, w.holdObject, turning(w.axis), angleOf(w.axis));
    angle = kNone;
    w.holdTurned = true;
    return true;
}

// The held-button worker sees that the hold has ended and stops.
bool rotationEnds(World& w) {
    if (w.hold != 0 || !w.rotating) return false;
    w.rotating = false;
    w.rotatingSeen = -1;
    return true;
}

// The turn may land any time up to turnsUntil, and be seen only at a look long after: a world
// still holding turnsUntil was last seen before it ran out (a look past it clears it).
bool lateTurn(World& w) {
    if (w.turnsUntil < 0 || w.holdObject.empty()) return false;
    auto it = w.objects.find(w.holdObject);
    if (it == w.objects.end() || !it->second.loaded) return false;
    double& a = it->second.ang[w.axis - 'X'];
    if (!known(a)) return false;
    w.turnFrom = a;
    a = kNone;  // as for any turn after a hold's first
    pushUndo(w, w.holdObject, turning(w.axis), angleOf(w.axis));
    return true;
}

// The held button's turn that read the axis before the key changed it lands about that axis.
bool oldAxisTurn(World& w) {
    if (w.oldAxis == 0) return false;
    const char axis = w.oldAxis;
    w.oldAxis = 0;
    w.oldAxisUntil = -1;
    auto it = w.objects.find(w.holdObject);
    if (it == w.objects.end() || !it->second.loaded) return true;
    double& a = it->second.ang[axis - 'X'];
    if (known(a)) {
        pushUndo(w, w.holdObject, turning(axis), angleOf(axis));
        a = kNone;
    }
    return true;
}

// --- Comparing -----------------------------------------------------------------------------------

bool near(double want, double got, double tolerance) {
    // An infinity agrees only with itself: a tolerance made from it would take any value.
    if (std::isinf(want) || std::isinf(got)) return want == got;
    return std::fabs(want - got) <= tolerance;
}
// Angles are equal as the game turns: a whole turn apart is the same angle, and the game keeps
// radians as floats, whose steps grow with the angle.
bool nearAngle(double want, double got) {
    const double tolerance = std::max(0.02, std::fabs(got) * 1e-6);
    const double d = std::fmod(std::fabs(want - got), 360.0);
    return d <= tolerance || 360.0 - d <= tolerance;
}

// Whether a turn by `step` degrees shows in the game's angle: not a step within the comparison's
// tolerance of a whole number of turns, nor one so large that a float cannot tell the result.
bool turnShows(double step) {
    const double d = std::fmod(std::fabs(step), 360.0);
    return std::fabs(step) < 1e5 && d > 0.05 && 360.0 - d > 0.05;
}

// What a world says against what is seen: "" when they agree. Values the world leaves open
// (angles a held button turned) are taken from what is seen.
std::string agree(World& w, const Seen& seen) {
    std::ostringstream why;
    for (auto& [name, o] : w.objects) {
        const auto it = seen.objects.find(name);
        if (it == seen.objects.end()) continue;
        if (!it->second) {
            if (o.loaded) why << name << " is gone, but the model has it; ";
            continue;
        }
        if (!o.loaded) {
            why << name << " is still there, but the model has it deleted; ";
            continue;
        }
        const SeenObject& g = *it->second;
        char text[200];
        for (int i = 0; i < 3; ++i) {
            // The game keeps a position as a float: far out, its steps are coarse.
            if (known(o.pos[i]) &&
                !near(o.pos[i], g.position[i], std::max(0.02, std::fabs(g.position[i]) * 1e-6))) {
                std::snprintf(text, sizeof text, "%s position %c: model %.3f, game %.3f; ",
                              name.c_str(), 'X' + i, o.pos[i], g.position[i]);
                why << text;
            }
            if (known(o.ang[i]) && !nearAngle(o.ang[i], g.angles[i])) {
                std::snprintf(text, sizeof text, "%s angle %c: model %.3f, game %.3f; ",
                              name.c_str(), 'X' + i, o.ang[i], g.angles[i]);
                why << text;
            }
        }
        if (o.scale != kAnyScale && o.scale != g.scale)
            why << name << " scale: model " << o.scale << "%, game " << g.scale << "%; ";
        // A turn the model let happen must show: a held button's turn changes the angle.
        // (Unless something has set the angle since.)
        if (name == w.holdObject && known(w.turnFrom) && !known(o.ang[w.axis - 'X']) &&
            turnShows(w.s.rotate.now()) && nearAngle(w.turnFrom, g.angles[w.axis - 'X']))
            why << name << " was turned by the held button in the model, not in the game; ";
    }
    auto same = [](const std::string& model, const std::string& game) {
        return model == game || model == kAnyMessage;
    };
    if (seen.messages.size() != w.shown.size() ||
        !std::equal(w.shown.begin(), w.shown.end(), seen.messages.begin(), same)) {
        std::size_t i = 0;
        while (i < seen.messages.size() && i < w.shown.size() && same(w.shown[i], seen.messages[i]))
            ++i;
        why << "message " << i + 1 << ": model "
            << (i < w.shown.size() ? "\"" + w.shown[i] + "\"" : std::string("none")) << ", game "
            << (i < seen.messages.size() ? "\"" + seen.messages[i] + "\"" : std::string("none"))
            << "; ";
    }
    auto group = [&](const char* name, bool on) {
        const auto it = seen.groups.find(name);
        if (it != seen.groups.end() && it->second != on)
            why << "the code of " << name << " is " << (it->second ? "switched" : "the game's")
                << ", the model has it " << (on ? "on" : "off") << "; ";
    };
    if (!seen.codeTorn.empty()) why << seen.codeTorn << "; ";
    group("freeplot mode", w.freeplot);
    group("object snap", w.snapOff);
    group("timeout", w.timeout);
    group("object lock", w.locked);
    group("clamped storing", w.clamped);
    group("outline", w.outlineOff);
    group("extra selection", w.extra);
    if (w.freeplot && seen.snapOverride >= 0 && seen.snapOverride != (w.snapOff ? 1 : 0))
        why << "the snap override byte is " << seen.snapOverride << ", object snap is "
            << (w.snapOff ? "off" : "on") << " in the model; ";
    if (seen.snapDistance != (w.snapOff ? 0.0f : 48.0f))
        why << "snapDistance is " << seen.snapDistance << "; ";
    if (!near(seen.surfaceSnap, w.surface, 1e-6))
        why << "surfaceSnapValue: model " << w.surface << ", game " << seen.surfaceSnap << "; ";
    if (seen.gridSnap != w.grid)
        why << "gridSnapSetting: model " << w.grid << ", game " << seen.gridSnap << "; ";
    if (!near(seen.clock, w.clock, 1e-6))
        why << "the clock: model " << w.clock << ", game " << seen.clock << "; ";
    std::string out = why.str();
    if (!out.empty()) return out.substr(0, out.size() - 2);
    // Agreed: open angles take the game's values, and every value is the game's exact one.
    for (auto& [name, o] : w.objects) {
        const auto it = seen.objects.find(name);
        if (it == seen.objects.end() || !it->second || !o.loaded) continue;
        for (int i = 0; i < 3; ++i) {
            o.pos[i] = it->second->position[i];
            o.ang[i] = it->second->angles[i];
        }
        o.scale = it->second->scale;
    }
    for (std::size_t i = 0; i < w.shown.size(); ++i) w.shown[i] = seen.messages[i];
    w.turnFrom = kNone;
    return {};
}

// States that differ only in the order of older undo or redo records (a held button's turns
// beside other changes) become one, which keeps the newest records they agree on and knows that
// there may be more below them. Without this the states would double with every such change.
// Two states alike but for when their timers started are kept as one, which waits as long as
// either could: a hold that ended later must not be cut short by one that ended earlier.
void absorbTimers(World& kept, const World& other) {
    auto later = [](std::int64_t& a, std::int64_t b) { a = a < 0 || b < 0 ? -1 : std::max(a, b); };
    later(kept.rotatingSeen, other.rotatingSeen);
    later(kept.notifierSeen, other.notifierSeen);
    kept.turnsUntil = std::max(kept.turnsUntil, other.turnsUntil);
    kept.oldAxisUntil = std::max(kept.oldAxisUntil, other.oldAxisUntil);
}

std::vector<World> collapse(std::vector<World> worlds) {
    std::map<std::string, std::size_t> byKey;
    std::vector<World> out;
    auto commonTail = [](std::vector<Record>& mine, bool& below, const std::vector<Record>& other,
                         bool otherBelow) {
        std::size_t n = 0;
        auto same = [](const Record& a, const Record& b) {
            return a.object == b.object && a.change == b.change && a.parts == b.parts;
        };
        // Alike records whose values differ keep those values open.
        auto merge = [](Record& a, const Record& b) {
            for (int i = 0; i < 3; ++i) {
                if (!(std::fabs(a.pos[i] - b.pos[i]) < 1e-3)) a.pos[i] = kNone;
                if (!(std::fabs(a.ang[i] - b.ang[i]) < 1e-3)) a.ang[i] = kNone;
            }
            if (a.scale != b.scale) a.scale = kAnyScale;
        };
        while (n < mine.size() && n < other.size() &&
               same(mine[mine.size() - 1 - n], other[other.size() - 1 - n])) {
            merge(mine[mine.size() - 1 - n], other[other.size() - 1 - n]);
            ++n;
        }
        if (n < mine.size() || n < other.size() || otherBelow) below = true;
        mine.erase(mine.begin(), mine.end() - static_cast<long>(n));
    };
    for (World& w : worlds) {
        const auto [it, fresh] = byKey.emplace(w.key(false), out.size());
        if (fresh) {
            out.push_back(std::move(w));
            continue;
        }
        World& into = out[it->second];
        absorbTimers(into, w);
        commonTail(into.undo, into.undoBelow, w.undo, w.undoBelow);
        commonTail(into.redo, into.redoBelow, w.redo, w.redoBelow);
    }
    return out;
}

}  // namespace

// --- The model -----------------------------------------------------------------------------------

Model::Model(const std::optional<std::string>& settingsText, bool readableAtStart) {
    World w;
    if (settingsText) w.fileNow = std::make_shared<const std::string>(*settingsText);
    // A file Load could not read is looked at again at the next stay.
    if (w.fileNow && readableAtStart) {
        w.s = w.reported = readSettings(*w.fileNow).s;
        w.file = w.fileNow;
    }
    w.fileLooked = !w.fileNow || readableAtStart;
    w.sawGone = !settingsText;
    w.freeplot = w.s.togglable <= 1;
    w.snapOff = w.s.snapDisabled;
    w.timeout = w.s.timeoutFrozen;
    w.outlineOff = w.s.outlineDisabled;
    w.extra = w.s.extraOutlineEnabled;
    if (w.s.groundDisabled) {
        w.surfaceKept = w.surface;
        w.surface = 1.5f;
    }
    worlds_.push_back(w);
}

Model::~Model() = default;

Model::Probes Model::probes() const {
    Probes p;
    bool first = true;
    for (const World& seen : worlds_) {
        // The checks' first event begins a stay that waits for its start: the settings file
        // read then is the one the checks run under.
        World w = seen;
        if (w.workshop) beginStay(w);
        const Settings& s = w.s;
        if (first) p.wheelRotation = s.wheelRotation;
        if (p.wheelRotation != s.wheelRotation) p.wheelRotation = std::nullopt;
        first = false;
        // The rows of the key dispatch in their order (the first row a key is bound to acts), for
        // the actions that can take a key before the scale and delete rows do.
        // clang-format off
        static constexpr int kBefore[] = {
            kMain, kSnap, kGround, kWorkshopSnap, kTimeoutFreeze, kResetAngles, kRemoveTremor,
            kRotateStepMinus, kRotateStepPlus, kMoveStepMinus, kMoveStepPlus, kScaleStepMinus,
            kScaleStepPlus, kChangeRotateAxis, kOutlineToggle, kMoveDown, kMoveUp, kMoveLeft,
            kMoveRight, kMoveBack, kMoveForth, kScaleDown, kScaleUp, kScaleReset, kUndo, kRedo,
            kCopyState, kCopyPosX, kCopyPosY, kCopyPosZ, kCopyAngleX, kCopyAngleY, kCopyAngleZ,
            kCopyScale, kCopyAll, kClampedStoreToggle, kLockObject, kExtraOutlineToggle,
            kDuplicateKey, kDeleteKey};
        // clang-format on
        auto runs = [&](int action) -> std::uint16_t {
            for (std::uint16_t code = 1; code < 256; ++code) {
                for (int a : kBefore) {
                    const bool open = (a != kMain || s.togglable) &&
                                      (a != kDuplicateKey || s.duplicateEnabled) &&
                                      (a != kDeleteKey || s.deleteEnabled);
                    if (!s.bound(a, code) || !open) continue;
                    // Scale down, up and reset are one row.
                    const bool row =
                        a == action || (action == kScaleUp && a >= kScaleDown && a <= kScaleReset);
                    if (row && !s.bound(kScaleReset, code) &&
                        (action != kScaleUp || !s.bound(kScaleDown, code)))
                        return code;
                    break;
                }
            }
            return 0;
        };
        auto add = [](std::vector<std::uint16_t>& keys, std::uint16_t key) {
            if (key && std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
        };
        const std::uint16_t scale = runs(kScaleUp);
        const std::uint16_t remove = s.deleteEnabled ? runs(kDeleteKey) : 0;
        add(p.scaleKeys, scale);
        add(p.deleteKeys, remove);
        p.scaleOptional |= scale == 0;
        p.deleteOptional |= remove == 0;
    }
    return p;
}

template <class Step>
void Model::apply(Step step) {
    expand();
    std::vector<World> next, more;
    std::set<std::string> keys;
    forks = &more;
    for (World& w : worlds_) {
        w.passed = {};
        step(w);
        if (keys.insert(w.key()).second) next.push_back(std::move(w));
    }
    forks = nullptr;
    for (World& w : more)
        if (keys.insert(w.key()).second) next.push_back(std::move(w));
    worlds_ = std::move(next);
}

template <class Step>
std::string Model::event(Step step, const Passed& seen) {
    apply(step);
    ++inputs_;
    std::vector<World> kept;
    for (World& w : worlds_)
        if (w.passed == seen) kept.push_back(std::move(w));
    if (!kept.empty()) {
        worlds_ = std::move(kept);
        return {};
    }
    return "what reached the game: model " + worlds_.front().passed.text() + ", game " +
           seen.text();
}

// Every world the plugin's own threads may lead each world to, the world itself included.
void Model::expand() {
    std::vector<World> all;
    std::map<std::string, std::size_t> keys;
    std::deque<World> open(worlds_.begin(), worlds_.end());
    const std::function<bool(World&)> moves[] = {
        runJob,   showNotifier, runConsole,
        turnHeld, rotationEnds, lateTurn, oldAxisTurn};
    // The bound only keeps a runaway expansion finite. States come breadth first, so the ones it
    // leaves out are those where most has happened since the last look: a busy machine's. A
    // mismatch after a cut says so.
    constexpr std::size_t kMostStates = 20000;
    while (!open.empty() && all.size() < kMostStates) {
        World w = std::move(open.front());
        open.pop_front();
        if (const auto [it, fresh] = keys.emplace(w.key(), all.size()); !fresh) {
            absorbTimers(all[it->second], w);
            continue;
        }
        for (const auto& move : moves) {
            World n = w;
            if (move(n)) open.push_back(std::move(n));
        }
        all.push_back(std::move(w));
    }
    cut_ = cut_ || !open.empty();
    worlds_ = std::move(all);
}

void Model::addObject(const std::string& name, const SeenObject& object, bool actor, bool turret) {
    apply([&](World& w) {
        Object o;
        std::copy(std::begin(object.position), std::end(object.position), o.pos);
        std::copy(std::begin(object.angles), std::end(object.angles), o.ang);
        o.scale = object.scale;
        o.actor = actor;
        o.turret = turret;
        w.objects[name] = o;
    });
}

std::string Model::keyEvent(std::uint16_t vkey, std::uint16_t scanCode, std::uint16_t flags,
                            bool reachedGame) {
    const bool release = (flags & 1) != 0;
    return event(
        [&](World& w) {
            // The key the game may hold: Shift, Ctrl and Alt by side (a Shift naming none by its
            // code).
            const std::uint16_t side = normalised(vkey, scanCode, flags);
            const std::uint16_t raw = (side != 0 ? side : vkey) & 0xFF;
            // The game gets every key event but the press (and its repeats) of a key bound to an
            // action, in workshop mode while it takes input.
            w.passed = {Passed::key, true};
            if (!housekeeping(w, false)) {
                if (release)
                    w.gamesKeys.erase(raw);
                else
                    w.gamesKeys.insert(raw);
                return;
            }
            // A key held down since the game had it stays the game's until it is released, bound
            // or not: once let go, it is free for whatever a later reading binds to it.
            if (w.gamesKeys.count(raw)) {
                if (release) w.gamesKeys.erase(raw);
                return;
            }
            const std::uint16_t code = normalised(vkey, scanCode, flags);
            if (!boundAtAll(w.s, code)) return;
            // A bound key's press is kept from the game; only its first release acts.
            if (!release) {
                w.passed.reached = false;
                w.keptPresses.insert(code);
                return;
            }
            if (w.keptPresses.erase(code) != 0) act(w, code);
        },
        {Passed::key, reachedGame});
}

std::string Model::mouse(std::uint16_t buttons, std::int16_t data, std::uint16_t seenButtons,
                         std::int16_t seenData) {
    constexpr std::uint16_t kLeftRight = 0x000F, kWheel = 0x0400;
    const auto presses = static_cast<std::uint16_t>((buttons & 0x0005) << 1);
    const std::uint16_t releases = buttons & 0x000A;
    return event(
        [&](World& w) {
            housekeeping(w, true, buttons);
            const bool wheel = w.s.wheelRotation;
            // Taken over: what turns the object (the wheel, or the left and right buttons) in
            // workshop mode, while the game takes input and the workshop is not busy, with an
            // object selected that may be turned. Anything else reaches the game as it came.
            const bool takes = (buttons & (wheel ? kWheel : kLeftRight)) != 0 && w.workshop &&
                               !w.ignore && !w.busyState && forTransform(w);
            const std::uint16_t taken = w.takenButtons;
            w.takenButtons = static_cast<std::uint16_t>(taken & ~releases & ~presses);
            w.passed = {Passed::mouse, true, buttons, static_cast<std::uint16_t>(data)};
            if (!takes) return;
            if (wheel) {
                // The game gets the buttons, not the wheel; each whole notch is a step.
                w.passed.buttons = buttons & ~kWheel;
                w.passed.data = 0;
                if (const int notches = data / 120; notches != 0) turn(w, w.selected, notches);
                return;
            }
            // Of the left and right buttons the game gets only the releases of presses it saw;
            // every other change of the record stays. A button pressed and released in this one
            // record is a click: the game sees neither, and it holds nothing that turns.
            w.passed.buttons = static_cast<std::uint16_t>((buttons & ~kLeftRight) |
                                                          (releases & ~taken & ~presses));
            const auto held = static_cast<std::uint16_t>(presses & ~releases);
            w.takenButtons |= held;
            if (held != 0) {
                if (w.hold == 0) {
                    w.holdObject = w.selected;
                    w.holdTurned = false;
                }
                w.hold = (held & 0x0002) ? 1 : 2;
                // The worker's end is reckoned from this hold's release, not an earlier one's.
                w.rotating = true;
                w.rotatingSeen = -1;
            }
        },
        {Passed::mouse, true, seenButtons, static_cast<std::uint16_t>(seenData)});
}

void Model::select(const std::string& name) {
    apply([&](World& w) { w.selected = name; });
}
void Model::unload(const std::string& name) {
    apply([&](World& w) { w.objects[name].loaded = false; });
}
void Model::workshop(bool on) {
    apply([&](World& w) { w.workshop = on; });
}
void Model::workshopBusy(bool on) {
    apply([&](World& w) { w.busyState = on; });
}
void Model::ignoreInput(bool on) {
    apply([&](World& w) { w.ignore = on; });
}
void Model::heading(double degrees) {
    apply([&](World& w) {
        w.heading = static_cast<double>(static_cast<float>(degrees / kDegreesPerRadian));
    });
}
void Model::console() {
    apply([&](World& w) {
        if (w.s.togglable == 1 || w.s.togglable == 2) ++w.consoles;
    });
}
void Model::mainLoop(bool takes) {
    apply([&](World& w) { w.mainLoop = takes; });
}
std::vector<Model::SettingsReading> Model::readings() const {
    std::vector<SettingsReading> out;
    for (const World& w : worlds_) out.push_back({w.readings, w.lastReading, &w.reported});
    return out;
}

void Model::settingsFile(const std::optional<std::string>& text, bool readable) {
    const auto now = text ? std::make_shared<const std::string>(*text) : nullptr;
    apply([&](World& w) {
        w.fileNow = now;
        w.fileReadable = readable;
        // Gone again since the plugin last found it gone: nothing it can tell, whatever came and
        // went between.
        w.fileLooked = !text && readable && w.sawGone;
    });
}

std::string Model::compare(const Seen& seen, bool settled) {
    // A turn may still land right after the release that ended a hold: the worker may have been
    // in the middle of one (also its first).
    for (World& w : worlds_)
        if (w.hold == 0 && (w.holdTurned || w.rotating))
            w.turnsUntil = w.turnsUntil < 0 ? seen.micros + 100'000 : w.turnsUntil;
    for (World& w : worlds_)
        if (w.oldAxis != 0 && w.oldAxisUntil < 0) w.oldAxisUntil = seen.micros + 100'000;
    now_ = seen.micros;
    expand();
    std::vector<World> kept;
    std::map<std::string, std::size_t> keys;
    std::string nearest;
    std::pair<std::ptrdiff_t, std::size_t> nearestRank{};
    for (World& w : worlds_) {
        // The worker sees a hold's end at its next turn, 25 ms on: a state in which it still runs
        // long after is none the game can be in.
        if (w.hold == 0 && w.rotating) {
            if (w.rotatingSeen < 0) w.rotatingSeen = seen.micros;
            if (seen.micros - w.rotatingSeen > 150'000) continue;
        }
        // Nor one in which a message has waited for its quiet spell (half a second) far longer.
        if (w.notifier) {
            if (w.notifierSeen < 0) w.notifierSeen = seen.micros;
            if (seen.micros - w.notifierSeen > 1'500'000) continue;
        }
        // Every console command handed over has run once the console thread is idle.
        if (seen.consoleIdle && w.consoles != 0) continue;
        for (World* candidate : {&w}) {
            if (settled &&
                (candidate->hold != 0 || candidate->rotating || candidate->notifier ||
                 candidate->consoles ||
                 std::any_of(candidate->jobs.begin(), candidate->jobs.end(),
                             [&](const Job& j) { return j.phase != 1 || candidate->mainLoop; })))
                continue;
            const std::string why = agree(*candidate, seen);
            if (!why.empty()) {
                // The world to report: the fewest differences, then the most work done.
                const std::pair<std::ptrdiff_t, std::size_t> rank{
                    std::count(why.begin(), why.end(), ';'),
                    candidate->jobs.size() + static_cast<std::size_t>(candidate->consoles) +
                        (candidate->notifier ? 1u : 0u)};
                if (nearest.empty() || rank < nearestRank) {
                    nearest = why;
                    nearestRank = rank;
                }
                continue;
            }
            if (candidate->oldAxis != 0 && candidate->oldAxisUntil >= 0 &&
                seen.micros > candidate->oldAxisUntil) {
                candidate->oldAxis = 0;
                candidate->oldAxisUntil = -1;
            }
            if (candidate->hold == 0 && seen.micros > candidate->turnsUntil) {
                candidate->holdTurned = false;
                candidate->turnsUntil = -1;
            }
            if (const auto [it, fresh] = keys.emplace(candidate->key(), kept.size()); fresh)
                kept.push_back(*candidate);
            else
                absorbTimers(kept[it->second], *candidate);
        }
    }
    // While a held button turns an object, its records and the keys' interleave at moments the
    // model cannot place: the states' histories are merged into what they agree on.
    const bool turning = std::any_of(kept.begin(), kept.end(), [](const World& w) {
        return w.hold != 0 || w.rotating || w.turnsUntil >= 0;
    });
    if (kept.size() > 24 || turning) kept = collapse(std::move(kept));
    if (kept.empty())
        return (nearest.empty() ? std::string("no world of the model is settled") : nearest) +
               " (" + std::to_string(worlds_.size()) + " states the game could be in" +
               (cut_ ? ", where the model stopped counting" : "") + ")";
    worlds_ = std::move(kept);
    cut_ = false;
    if (const char* path = std::getenv("FREEPLOT_MODEL_TRACE"))
        if (std::FILE* f = std::fopen(path, "a")) {
            trace(f);
            std::fclose(f);
        }
    return {};
}

// The states kept, one line each: the undo and redo lists (object, change and the parts it set;
// "..." where older records may lie below) and whether the next change may merge. For finding why
// a run failed.
void Model::trace(std::FILE* out) const {
    std::fprintf(out, "model: %zu states at %.3f s\n", worlds_.size(), static_cast<double>(now_) / 1e6);
    for (const World& w : worlds_) {
        std::string line = "  undo " + std::string(w.undoBelow ? "... " : "");
        auto list = [&](const std::vector<Record>& records) {
            for (const Record& r : records)
                line += r.object + ":" + r.change + "=" + std::to_string(r.parts) +
                        (r.parts == size ? std::to_string(r.scale) : "") + " ";
        };
        list(w.undo);
        line += std::string(w.mergeable ? "(merges)" : "") + " | redo " + (w.redoBelow ? "... " : "");
        list(w.redo);
        line += " | jobs";
        for (const Job& j : w.jobs)
            line += " " + std::string(1, "kar"[j.type]) + j.object + "@" + std::to_string(j.phase) +
                    "=" + std::to_string(j.percent);
        line += w.hold ? " | holding" : w.rotating ? " | rotating" : "";
        if (w.rotatingSeen >= 0)
            line += " since " + std::to_string(static_cast<double>(w.rotatingSeen) / 1e6);
        line += w.mainLoop ? "" : " | main loop stalled";
        line += std::string(" | file ") + (w.fileNow ? "there" : w.fileReadable ? "gone" : "unreadable") +
                (w.fileLooked ? " looked" : "") + (w.stayDue ? " | stay due" : "") +
                " | messages " + std::to_string(w.shown.size());
        std::fprintf(out, "%s\n", line.c_str());
    }
}

}  // namespace sim
