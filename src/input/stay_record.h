#pragma once
// A stay in workshop mode as the plugin keeps it for a replay: what the input thread records
// (stay.cpp) and what the file's worker writes out as a scenario file (stay_file.cpp). Nothing of
// the game's memory is kept but the events, the heading, the workshop's busy and ignore states
// and, for each object, its position, angles, scale and kind.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "game/gamefunctions.h"
#include "objects/transforms.h"

namespace freeplot {

struct Reading;

namespace stay {

// The most entries a stay keeps (its later part when it has more), and the most objects: a
// replay defines each, and one more for stored parameters, in a simulated game that holds 256.
inline constexpr std::size_t kMostEntries = 4096;
inline constexpr std::size_t kMostObjects = 255;

// An object's place as the game holds it.
struct Place {
    float position[3] = {0, 0, 0};
    float rotation[3] = {0, 0, 0};  // radians
    std::uint16_t scale = 100;
};

// What of an object a replay cannot be sure to give as the stay did, a bit each.
namespace part {
inline constexpr std::uint8_t position = 1, angles = 2, scale = 4, there = 8, all = 15;
}  // namespace part

// Why, a bit each (the file says so in a comment).
namespace why {
inline constexpr std::uint8_t hold = 1,  // a held button turned it: the count of turns is timing
    worker = 2,      // a key found a worker busy, whose end is the machine's timing
    history = 4,     // an undo or redo that reached changes from before the part kept
    range = 8,       // a value a scenario file cannot write (not a number, or infinite)
    stored = 16,     // parameters stored before the part kept, without a key to store them again
    togglable = 32,  // the freeplot key acts otherwise under the file's togglable
    cut = 64,        // the part kept starts while a worker was busy
    unreached = 128; // the part began in a state no key of the file brings back
}  // namespace why

struct Entry {
    enum Kind : std::uint8_t {
        press,    // code: a key's press kept from the game
        release,  // code: a key's release that ran the dispatch chain
        mouse,    // buttons, data: a mouse record with buttons or the wheel
        define,   // object, place: an object first seen
        select,   // object, or -1 for none
        unload,   // object: the game let go of it
        heading,  // place.rotation[2]
        busy,     // flag: the workshop busy or not
        ignore,   // flag: the game ignoring input or not
        console,  // freeplot mode switched by the console command
    } kind;
    std::uint8_t flag = 0;
    std::uint16_t code = 0;
    std::int16_t data = 0;
    std::int32_t object = -1;
    std::uint32_t millis = 0;   // events: since the event before
    std::uint32_t atLeast = 0;  // events: the replay waits this long before it at least
    Place place{};
};

// A key the replay presses `presses` times before the stay's events, to reach a state of the
// stay's start that the settings file does not give.
struct PrologueKey {
    std::uint16_t code = 0;
    std::uint16_t presses = 0;
    std::uint8_t what = 0;  // one of `state`
};
namespace state {
inline constexpr std::uint8_t freeplot = 0, objectSnap = 1, surfaceSnap = 2, timeout = 3,
                              outline = 4, clamped = 5, extraSelection = 6, gridSnap = 7,
                              rotateStep = 8, moveStep = 9, scaleStep = 10, axis = 11, count = 12;
}  // namespace state

// The game and the plugin where a kept part begins.
struct Start {
    bool headingKnown = false;
    float heading = 0;
    bool console = false;  // freeplot mode reached with the console command
    std::vector<PrologueKey> keys;
    std::uint16_t unreachable = 0;  // states (bits by `state`) no key reaches
    bool locked = false;            // the object lock on
    bool slowClock = false;         // the clock slowed by the timescale key
    bool stored = false;            // parameters stored, stored again with `storeKey`
    StoredParams params;
    std::uint16_t storeKey = 0;
    std::vector<std::uint16_t> kept;  // key presses kept
    struct At {
        std::int32_t object;
        Place place;
    };
    std::vector<At> objects;       // the objects the game holds
    std::uint32_t eventsLeftOut = 0;  // the stay's events before this start
    bool settingsRead = false;        // the events left out acted under other settings
};

// An object the stay saw, by the order in which it was first seen.
struct Seen {
    HeldRef held;
    bool actor = false, turret = false;
    bool deleting = false;  // the delete key took it
    bool goneSaid = false;  // an unload entry says the game let go of it
    bool changed[2] = {false, false};
    std::uint8_t inexact[2] = {0, 0};
    std::uint8_t why[2] = {0, 0};
};

// A stay as it ended, for the file's worker.
struct Kept {
    std::uint32_t number = 0;  // stays kept since the game started
    std::shared_ptr<const Reading> reading;
    std::uint8_t fileTogglable = 0, gameTogglable = 0;
    Start start;
    std::vector<Entry> entries;
    std::vector<Seen> objects;       // with inexact[0] and why[0] for this part
    std::vector<bool> there;         // each object at the end
    std::vector<Place> places;       // and where
    bool tooManyObjects = false;     // the stay saw more than kMostObjects: nothing kept
};

// Renders the stay as a scenario file (lines end in "\n").
std::string render(const Kept& kept);

// Writes it beside the log as freeplot_session.txt, the file there before kept as
// freeplot_session_previous.txt.
void write(const Kept& kept);

// Hands a stay to the file's worker (from the input thread). A stay handed over while the worker
// still writes the one before waits for it, and takes the place of any other stay waiting: the
// work stays one file at a time, however fast stays end.
void hand(std::shared_ptr<const Kept> kept);

}  // namespace stay
}  // namespace freeplot
