#pragma once
// The recorder's state (input/stay.h), shared by the files that keep a stay on the input thread:
// stay.cpp (each event) and stay_parts.cpp (where a part of the stay begins). The stay is kept in
// parts: a part starts with a snapshot of the game and the plugin (the objects, the heading, the
// switches, the steps, the stored parameters and the kept presses), taken while no worker runs,
// and goes on with the events. Of two parts the older one is dropped when a third begins, so the
// buffer keeps the stay's last part whatever its length. For each part the recorder also keeps
// what a replay from that part's start cannot be sure to give as the stay did.

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "config/actions.h"
#include "config/settings.h"
#include "input/stay_record.h"

namespace freeplot::stay::rec {

using StayClock = std::chrono::steady_clock;

// A part begins at the first moment without a worker once the part under way holds half the
// buffer; at the buffer's end it begins whatever runs.
constexpr std::size_t kHalfEntries = stay::kMostEntries / 2;
// The entries one event adds at most besides itself: its state, a new object, an unload.
constexpr std::size_t kEventRoom = 8;
// What a replay waits before a key that needs a worker the stay found free, after a key that
// gave that worker work (a worker ends well within it, once the game's main loop takes).
constexpr std::uint32_t kWorkerSpellMillis = 300;


struct Part {
    std::size_t firstEntry = 0;
    std::uint64_t undoMark = 0;  // the undo records made before the part
    bool diverged = false;       // its replay's undo history may differ from the stay's
    std::uint8_t divergedWhy = 0;
    std::uint8_t storedInexact = 0, storedWhy = 0;
    Start start;
};

struct Recorder {
    std::shared_ptr<const Reading> reading;
    bool settingsChanged = false;
    bool active = false, tooMany = false;
    std::uint32_t stays = 0;
    std::vector<Entry> entries;
    std::vector<Seen> objects;
    Part parts[2];
    int partCount = 0;
    std::uint32_t eventsLeftOut = 0;
    bool settingsRead = false;
    StayClock::time_point last{}, lastWorkerJob{};
    bool lastJobDeletes = false;  // the last work given was a deletion
    // What the replay has reached with the entries so far.
    std::int32_t selected = -1;
    bool busy = false, ignore = false, freeplot = true, headingKnown = false;
    float heading = 0;
    // The event under way.
    std::uint32_t millis = 0, atLeast = 0;
    bool scaleBusy = false, deleteBusy = false, turning = false;
};
extern Recorder recorder;

bool isEvent(Entry::Kind kind);
Place placeOf(const GameReference* reference);
// The settings the file in force gives a game that starts with it.
const Settings& fileSettings();

// What a replay from part `p`'s start cannot be sure of; `taint` for every part.
void taintIn(int p, std::int32_t object, std::uint8_t parts, std::uint8_t why);
void taint(std::int32_t object, std::uint8_t parts, std::uint8_t why);
void markChanged(std::int32_t object);
// Every object a replay's undo or redo may reach in part `p` (those changed since it began).
void taintChanged(int p, std::uint8_t why);
// The replay's undo history may differ from the stay's from now on, for `why`: the next undo or
// redo taints what it may reach.
void diverge(std::uint8_t why);

std::int32_t objectOf(std::uint32_t handle);
void append(Entry entry);
// The game let go of an object: said once, unless the delete key took it (the replay's key does
// the same).
void gone(std::int32_t object);
bool there(const Seen& o);
// Makes room for an object: drops those nothing kept names any more.
void compactObjects();
void dropOldestPart();
// A part begins now. `clean`: no worker runs, so the objects are where the part's replay begins.
void beginPart(bool clean);
bool workersIdle();
void startStay();

}  // namespace freeplot::stay::rec
