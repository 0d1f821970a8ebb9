#pragma once
// Sessions written as text, one step a line, so that what a player did can be handed over in a
// file and replayed by anyone (`freeplot-sim play FILE`). "#" starts a comment; the comment lines
// right above a step describe it in the transcript.
//
//   setting SECTION NAME VALUE    a line of the settings file: read at Load when it comes before
//                                 every other step, else written into the file as it changes
//   settings file cut BYTES       the settings file cut to its first BYTES bytes (a file the
//                                 player's editor is half-way through writing)
//   settings file line "TEXT"     TEXT and a line break added to the file as it stands
//   settings file unterminated    the file's final line break taken off
//   settings file bytes HH [HH ...]   bytes added to the file as they are (a NUL, text saved in
//                                 another code page)
//   settings file utf16 le|be     the file as it stands saved as UTF-16 without a byte-order mark
//   settings file size BYTES      comment lines added until the file holds BYTES bytes
//   settings file held            after the setting lines and before every other step: another
//                                 program holds the file while Load reads it (so the game starts
//                                 with every default) and lets go of it right after, leaving its
//                                 time and size as they were
//   settings file gone            the file deleted
//   settings file unreadable      the file's time and size change and every read of it fails
//                                 (its path turned into a folder); a later "setting" or
//                                 "settings file" step writes a file there again
//   settings start line "TEXT" [crlf]   before every other step: TEXT and a line feed (with
//                                 crlf: a CR and a line feed) added to the file the session
//                                 starts with, after what the setting lines make
//   settings start bytes HH [HH ...]    the same with bytes as they are (a NUL, a line that
//                                 does not end): a file read raw, as a kept stay gives it
//   object NAME at X Y Z [angles X Y Z] [scale PERCENT] [actor] [turret]
//   select NAME | select none     unload NAME   (the game lets go of the object)
//   workshop on | workshop off    heading DEGREES
//   key KEY | press KEY | release KEY    (KEY: a name as the settings checker prints it, such as
//                                 "Numpad 8" or "1", else a virtual-key code, decimal or 0x
//                                 hexadecimal: "0x08" is Backspace, "8" the 8 key)
//   button left|right down|up     wheel NOTCHES (positive: away from the player)    mouse
//   mouse BUTTON down|up ... [wheel NOTCHES]   one record with several changes (BUTTON: left,
//                                 right, middle, x1, x2)
//   console COMMAND               run on the game's console thread; the scenario goes on once it
//                                 has run (console nowait COMMAND goes on at once)
//   wait MILLISECONDS
//   ignore input on|off           workshop busy on|off    main loop stall|resume
//   expect position NAME X Y Z    expect angles NAME X Y Z (degrees)    expect scale NAME PERCENT
//   expect message "TEXT"         (the next message not yet expected)    expect no message
//   expect log "TEXT"             (logged since the last step that is no expectation began)
//   expect report "TEXT"          (the settings report beside the log holds TEXT; besides, after
//                                 every reading of the file the settings the report says are in
//                                 force are compared with the model's)
//   expect settled                (see below)    expect gone NAME (the game let go of it)
//   expect clock MULTIPLIER       the game's time multiplier, to within 0.001
//   expect bytes SITE OFFSET HH [HH ...]   the game's code bytes at a site (named as the sim's
//                                 image names it, e.g. collisionSnap 13 01), from OFFSET on
//                                 (in a quoted text, \ takes the next character as it is: \" and
//                                 \\)
//
// The session starts in workshop mode with nothing selected. Every expectation waits up to two
// seconds for its condition (positions and angles to within 0.01), so no fixed waits are needed
// for the plugin's workers. One that names the value the object had when the last event step
// began must keep holding until 700 ms after that step, and "expect no message" fails on a message
// at any time in its 700 ms. "expect settled" is the check that the game was left in order: the
// mouse buttons released and the main loop taking, no turn later than a second after the last
// release, every worker free again, and the game's code as the switches say with its pages
// read-execute.

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/sim.h"

namespace sim {

// A scenario that cannot be played as written: a file that cannot be read, an unknown step, key or
// object, or a step without what it needs. `line` is 0 for the file as a whole.
class ScenarioError : public std::runtime_error {
public:
    ScenarioError(std::string name, int line, const std::string& what);
    int line() const { return line_; }

private:
    int line_;
};

struct ScenarioStep {
    int line = 0;                    // in the file, from 1
    std::string text;                // as written, without surrounding white space
    std::string comment;             // the comment lines right above it, joined
    std::vector<std::string> words;  // a quoted text is one word, without its quotes
};

struct Scenario {
    std::string name;    // the file, as the messages name it
    std::string source;  // its text
    // The "setting" lines before the first other step (section, name, value): the settings file
    // the session starts with. Without any, the session has no settings file.
    std::vector<std::vector<std::string>> settings;
    bool heldAtLoad = false;  // "settings file held"
    std::vector<ScenarioStep> steps;
    // The bytes the "settings start" lines add to it.
    std::string startFile;
    // A stay the plugin kept beside its log (sim/replay.cpp): played as it is, without a replay
    // of the stay it makes in turn.
    bool keptStay = false;
    // The settings file those lines make.
    std::string settingsText() const;
    bool hasSettings() const { return !settings.empty() || !startFile.empty(); }
};

Scenario parseScenario(const std::string& text, const std::string& name);
Scenario readScenario(const std::string& path);

// The most a file the simulated game plays or reads for a session may hold (a scenario, a
// settings file of the player's): more is no file anyone wrote by hand (`/dev/zero` never ends).
inline constexpr std::size_t kMostFileBytes = std::size_t{16} << 20;

// Reads a whole file of at most kMostFileBytes into `text`; else false, with why in `why`.
bool readPlayable(const std::string& path, std::string& text, std::string& why);

// What playing a scenario gave: the session's transcript and the first expectation that did not
// hold ("FILE:LINE: STEP: what was found"), empty when every one held.
struct PlayOutcome {
    Transcript transcript;
    std::string failure;
    bool passed() const { return failure.empty() && transcript.completed; }
    // The steps after which the game was compared with the model of what the player must see.
    std::uint64_t modelSteps() const {
        return std::strtoull(transcript.note("model compared").value_or("0").c_str(), nullptr, 10);
    }
    // The stays the plugin kept beside its log during the session (the last and the one before),
    // each replayed in a session of its own unless the options say not (then only read);
    // `replays` counts those replayed. On a failed replay, the text of the file played.
    int keptStays = 0;
    int replays = 0;
    std::string replayedFile;
    // The key and mouse events whose outcome for the game was compared with the model's.
    std::uint64_t inputsCompared() const {
        return std::strtoull(transcript.note("inputs compared").value_or("0").c_str(), nullptr, 10);
    }
    // The readings of the settings file whose report was compared with the model's settings.
    std::uint64_t reportsCompared() const {
        return std::strtoull(transcript.note("reports compared").value_or("0").c_str(), nullptr,
                             10);
    }
};

// Plays the scenario in a session of the simulated game; `options` gives everything but the
// script, and the settings file when the scenario has no setting lines.
PlayOutcome playScenario(const Scenario& scenario, Options options = {});

// Plays the scenario's steps in this session (the child's side of playScenario); `settings` is
// the settings file the session started with.
void playInSession(Game& game, const Scenario& scenario, const std::string& settings);

// --- The stays kept beside the log (sim/replay.cpp) ---

// A "settings start" step: whether its words are right (else `why` says what is wrong), and its
// bytes added to `file`. False for any other step, with `why` empty.
bool startFileStep(const std::vector<std::string>& words, std::string& file, std::string& why);

// Whether a scenario's text is a stay the plugin kept.
bool isKeptStay(const std::string& source);

// In the session, at the end of the scenario (or before "expect settled" plays with objects of
// its own): ends the stay under way with an event outside workshop mode, waits for the plugin to
// write it beside the log, and notes the files there for playScenario.
void keepStay(Game& game);

// In the parent: plays each stay file the session noted, in a session of its own, and takes the
// notes out of the transcript, leaving one that says how each replay ended. A replay that does
// not end as its stay did fails the outcome. Without replays (Options::replayKeptStays) each file
// is only read, and one that does not read as a scenario fails it.
void replayKeptStays(PlayOutcome& outcome, const Options& options);

// A key as the game's raw input sends it: Shift as the generic code with the scan code of its side,
// right Ctrl and Alt with the E0 flag.
struct RawKey {
    std::uint16_t vkey = 0, scanCode = 0, flags = 0;
};
std::optional<RawKey> keyByName(const std::string& word);

}  // namespace sim
