#pragma once
// The simulated game: one game session is one child process with the game image mapped at
// 0x140000000, stand-ins for the game functions, a main loop thread, and the plugin loaded the
// way the script extender loads it. `sim::run` forks the session, plays a script inside it and
// returns what the session produced as a Transcript.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/locations.h"

namespace sim {

class Game;

// How the console command table is laid out.
enum class CommandTable {
    Standard,       // "GetDebugText" among the records numbered below 0x2F9
    NoDebugText,    // no "GetDebugText" record at all
    DebugTextLate,  // "GetDebugText" only after the record numbered 0x2F9
};

struct Options {
    std::uint32_t runtimeVersion = 0x01090040;
    std::uint32_t editor = 0;
    // Contents of Data\F4SE\Plugins\freeplot.ini; no file when empty.
    std::optional<std::string> settings;
    // HOME with a Documents folder; false leaves HOME unset.
    bool documents = true;
    CommandTable commandTable = CommandTable::Standard;
    // The memory at the game's base: the game laid out (the default), or, with `blankImage`, an
    // executable that says it is the game but holds none of its code or data: `imageBytes` of
    // zeros. The plugin then must refuse or write nothing.
    bool blankImage = false;
    std::size_t imageBytes = loc::imageSize;
    // Count the bytes anywhere in the image that Query and Load changed (a copy of the whole
    // image is kept for that): Transcript::imageBytesChanged.
    bool countImageChanges = false;
    // Whether the main loop takes and clears what is stored in refQueueSlot (at the start; a
    // script can change it with Game::setMainLoopTakes).
    bool gameTakesRefQueue = true;
    // Whether the game's keyboard and mouse callees record a call line each time they run (their
    // runs are counted either way; a script feeding millions of events turns this off).
    bool recordInputCallees = true;
    // How long each of the game's axis commands (position, angle, scale) takes: a busy game,
    // whose commands leave other threads time to act between two of them.
    std::chrono::microseconds axisCommandTime{0};
    // Whether Load is called after a true Query.
    bool callLoad = true;
    // Plugin to load; empty: $FREEPLOT_PLUGIN, else the freeplot.so of this build.
    std::string plugin;
    // Value of FREEPLOT_GAME_EXE; default <root>/Fallout4/Fallout4.exe.
    std::optional<std::string> gameExe;
    // Wall-clock limit of the session; the child is killed after it.
    std::chrono::milliseconds timeout{60000};
    // Keep the session root on disk (its path is in the transcript).
    bool keepRoot = false;
    // Runs in the child after the image is built and before the plugin is loaded.
    std::function<void(Game&)> beforeQuery;
    // Runs in the child after Load (or after a false Query).
    std::function<void(Game&)> script;
    // Without a script: a scenario file's text (sim/scenario.h), played in the child. Unlike a
    // script it can be handed to a child that is another process than a fork (Windows).
    std::string scenarioText;
    std::string scenarioName;
    // Whether a scenario's stays that the plugin kept beside its log are each played again in a
    // session of their own once the scenario has played through.
    bool replayKeptStays = true;
};

struct SiteChange {
    std::string name;
    std::uint32_t offset = 0;
    std::vector<std::uint8_t> before;
    std::vector<std::uint8_t> after;
};

struct Note {
    std::string key;
    std::string value;
};

// A recorded call or message with the time it happened: microseconds since the session began,
// on the session's steady clock.
struct Timed {
    std::string text;
    std::int64_t micros = 0;
    std::size_t thread = 0;  // which thread made a call (calls only): equal for one thread
};

struct Transcript {
    std::string root;  // the session's temp root
    bool queryCalled = false;
    bool queryResult = false;
    bool loadCalled = false;
    bool loadResult = false;
    // The plugin information record after Query (infoVersion, name, version).
    std::uint32_t infoVersion = 0;
    std::optional<std::string> infoName;
    std::uint32_t infoPluginVersion = 0;

    std::vector<std::string> log;       // the child's standard output, line by line
    std::vector<std::string> messages;  // texts shown through hudMessageFunction
    std::vector<std::string> console;   // lines printed through consolePrintFunction
    std::vector<std::string> calls;     // one line per game-function call
    // When each message was shown and each call made, in the order of `messages` and `calls`
    // (microseconds since the session began; not part of text(), which stays comparable).
    std::vector<std::int64_t> messageTimes;
    std::vector<std::int64_t> callTimes;
    std::vector<SiteChange> sites;    // sites whose bytes changed since just before Query
    std::vector<Note> notes;          // game.note(key, value) of the scripts
    std::vector<std::string> errors;  // the sim's own failures (mapping, dlopen, script)
    std::vector<std::string> stderrLines;

    std::optional<std::size_t> imageBytesChanged;  // with Options::countImageChanges
    bool completed = false;                        // the session ran to its end
    int lastStep = 0;  // the line of the last scenario step that began (scenarios only)
    bool timedOut = false;
    int exitCode = -1;   // when the child exited
    int signal = 0;      // when the child was killed by a signal
    std::string ending;  // readable: "completed", "killed by signal 11 (...)", ...

    // All values noted under `key`, in order; the first one, or nullopt.
    std::vector<std::string> notesFor(const std::string& key) const;
    std::optional<std::string> note(const std::string& key) const;
    const SiteChange* site(const std::string& name) const;
    bool logHas(const std::string& line) const;
    std::size_t countCalls(const std::string& prefix) const;
    // Everything, readable, log lines first; the session root is written "<root>". The calls
    // leave out the lookups of handles the plugin kept (their number and place are timing).
    std::string text() const;
};

// Compares the transcript's text() with an expected file: "" when they are equal, else the
// differing lines. With FREEPLOT_UPDATE_GOLDEN set in the environment the file is written
// (folders created) and "" returned.
std::string compareWithGolden(const Transcript& transcript, const std::string& path);

// Runs one session in a child process and returns its transcript.
Transcript run(const Options& options);

// The path of the sim's own test plugin (exports Query and Load, prints what it is given).
std::string fixturePluginPath();
// The plugin run() loads when Options::plugin is empty.
std::string defaultPluginPath();

// Hex text of bytes: "88 05 0A 00".
std::string hex(const std::uint8_t* bytes, std::size_t count);
std::string hex(const std::vector<std::uint8_t>& bytes);

// A simulated reference as laid in the image.
struct RefLayout {
    float position[3] = {0, 0, 0};
    float rotation[3] = {0, 0, 0};  // radians
    std::uint16_t scale = 100;      // percent
    std::uint8_t formType = 0x20;   // 0x41: actor
    std::uint32_t flags = 0;
    // Whether the reference has a base form at all (its pointer at 0xE0).
    bool baseForm = true;
    // Text behind the base form (read by the turret test); none: the base form's pointer at
    // 0x1B8 is null.
    std::optional<std::string> baseText;
    // Number of 0x4000-flagged links before the node holding the text.
    int baseLinks = 0;
};

struct Ref {
    std::uint32_t handle = 0;
    std::uintptr_t address = 0;
    int index = 0;

    float pos(int axis) const { return field<float>(0xD0 + 4 * axis); }
    float rot(int axis) const { return field<float>(0xC0 + 4 * axis); }
    std::uint16_t scale() const { return field<std::uint16_t>(0x108); }
    std::uint32_t flags() const { return field<std::uint32_t>(0x10); }
    std::uint8_t formType() const { return field<std::uint8_t>(0x1A); }
    // Read whole, as the game's own threads may be writing the field.
    template <typename T>
    T field(std::size_t offset) const {
        return std::atomic_ref<T>(*reinterpret_cast<T*>(address + offset))
            .load(std::memory_order_relaxed);
    }
};

// What the game saw when a raw-input event went through its input routine.
struct InputResult {
    bool calleeRan = false;                   // the game's own callee ran for this event
    std::uint64_t rcx = 0, rdx = 0, rax = 0;  // registers the callee got
    int path = 0;               // 1: the code after the site ran on, 2: its jbe was taken
    std::uintptr_t record = 0;  // the record's address (what rdx should hold)
    // Mouse only: the record's button fields as the callee saw them, and afterwards.
    std::uint16_t seenButtonFlags = 0, seenButtonData = 0;
    std::uint16_t buttonFlags = 0, buttonData = 0;
};

struct FreeplotEnableResult {
    std::uint8_t al = 0;            // al as the code after the site works with it
    std::uint8_t buildAllowed = 0;  // the byte at buildAllowedFlag afterwards
};

struct OutlineResult {
    std::uint8_t al = 0;      // the byte result the code after the site tests
    bool selectable = false;  // the code after the site took its non-zero path
    bool calleeRan = false;
};

struct ConsoleResult {
    bool found = false;
    bool returned = false;
    double result = 0.0;
};

// The game as the scripts see it; lives in the child for the whole session.
class Game {
public:
    // Image access.
    static std::uintptr_t base() { return loc::imageBase; }
    static std::uint8_t* at(std::uint32_t offset) {
        return reinterpret_cast<std::uint8_t*>(loc::imageBase + offset);
    }
    template <typename T>
    static T value(std::uint32_t offset) {
        if (whole<T>(offset))
            return std::atomic_ref<T>(*reinterpret_cast<T*>(at(offset)))
                .load(std::memory_order_relaxed);
        T v;
        std::memcpy(&v, at(offset), sizeof v);
        return v;
    }
    // The game's variables are read by the plugin on its own threads: an aligned variable of a
    // machine size is written whole, as the game's own stores are.
    template <typename T>
    static void set(std::uint32_t offset, T v) {
        if (whole<T>(offset)) {
            std::atomic_ref<T>(*reinterpret_cast<T*>(at(offset)))
                .store(v, std::memory_order_relaxed);
            return;
        }
        std::memcpy(at(offset), &v, sizeof v);
    }
    template <typename T>
    static bool whole(std::uint32_t offset) {
        return sizeof(T) <= 8 && (sizeof(T) & (sizeof(T) - 1)) == 0 &&
               reinterpret_cast<std::uintptr_t>(at(offset)) % alignof(T) == 0;
    }
    static std::vector<std::uint8_t> bytes(std::uint32_t offset, std::size_t count);
    // Writes into the game's code as a patching program would: the pages made writable for the
    // copy and read-execute again afterwards (the code is read-execute once the plugin loads).
    static void patchCode(std::uint32_t offset, const std::vector<std::uint8_t>& bytes);
    // Whether every page of the game's code at the watched sites is read-execute, as the session
    // laid it before the plugin loaded; `why` names the first that is not.
    static bool codePagesAsLaid(std::string& why);

    // Paths of the session.
    const std::string& root() const { return root_; }
    std::string homeDir() const { return root_ + "/home"; }
    std::string documentsDir() const;
    std::string gameDir() const { return root_ + "/Fallout4"; }
    std::string gameExe() const { return root_ + "/Fallout4/Fallout4.exe"; }
    std::string settingsPath() const { return root_ + "/Fallout4/Data/F4SE/Plugins/freeplot.ini"; }
    std::string logPath() const {
        return root_ + "/home/Documents/My Games/Fallout4/F4SE/freeplot_plugin.log";
    }
    // Files of the session, by absolute path or relative to the root.
    std::optional<std::string> readFile(const std::string& path) const;
    void writeFile(const std::string& path, const std::string& content) const;
    // Opens the file (creating it and its folders) and holds an exclusive flock on it for the
    // rest of the session, as another program holding it open would.
    bool holdFileLock(const std::string& path);

    // Values handed back to the parent.
    void note(const std::string& key, const std::string& value);
    // Notes the file's content under `key`; a file that does not exist gives no note.
    void noteFile(const std::string& key, const std::string& path);

    // References.
    Ref createRef(const RefLayout& layout = {});
    std::optional<Ref> refByHandle(std::uint32_t handle) const;
    // The position, rotation and scale of a reference the game still has, read while the game
    // cannot let go of it (a worker of the plugin may be deleting it); nullopt once it is gone.
    std::optional<RefLayout> readRef(std::uint32_t handle) const;
    void forgetRef(std::uint32_t handle);  // lookups of its handle fail from now on
    // The game lets go of the reference: lookups of its handle fail from now on, and at the end
    // of the main loop's frame (a couple of milliseconds later) its memory becomes unreadable, so a
    // plugin that still reads it or hands it to the game crashes the session (the transcript's
    // errors say which call).
    void unloadRef(std::uint32_t handle);
    void selectRef(std::uint32_t handle) { set<std::uint32_t>(loc::selectedRefHandle, handle); }
    std::uint32_t selectedRefHandle() const { return value<std::uint32_t>(loc::selectedRefHandle); }

    // Game state.
    void setWorkshopMode(bool on) { set<std::int32_t>(loc::workshopModeFlag, on ? 1 : 0); }
    void setInputIgnore(bool on) { set<std::uint8_t>(loc::inputIgnoreFlag, on ? 1 : 0); }
    void setWorkshopState(std::uint8_t v) { set<std::uint8_t>(loc::workshopStateByte, v); }
    void setHeading(float radians);  // Z rotation of the heading reference
    void setConsole(bool exists);    // consoleManagerPtr null or the console
    void setOutlineCalleeResult(std::uint8_t result);
    float timeMultiplier() const;
    void setTimeMultiplier(float v);
    std::uintptr_t consoleObject() const;
    std::uintptr_t scriptContext() const;
    std::uintptr_t headingReference() const;

    // Driving the game's own code.
    InputResult keyboardEvent(std::uint16_t vkey, std::uint16_t scanCode, std::uint16_t flags);
    InputResult keyPress(std::uint16_t vkey, std::uint16_t scanCode = 0) {
        return keyboardEvent(vkey, scanCode, 0);
    }
    InputResult keyRelease(std::uint16_t vkey, std::uint16_t scanCode = 0) {
        return keyboardEvent(vkey, scanCode, 1);
    }
    InputResult mouseEvent(std::uint16_t buttonFlags, std::int16_t buttonData = 0);
    FreeplotEnableResult runFreeplotEnableSite(std::uint8_t gameResult);
    OutlineResult runOutlineSite(std::uintptr_t reference);
    ConsoleResult runConsoleCommand(const std::string& name);
    // Runs the command on the game's console thread, as the game does while it goes on handling
    // input: returns at once; waitForConsole() waits until every command handed over has run.
    void runConsoleCommandOnConsoleThread(const std::string& name);
    bool waitForConsole(std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));
    // Whether every console command handed over has run (what it wrote is then safe to read).
    bool consoleIdle() const;
    // The record of the console command table with this long or short name, or 0.
    std::uintptr_t findCommand(const std::string& name) const;

    // What the session recorded so far, from the record numbered `from` on (a step that looks
    // only at what came after it copies no more than that), and how many there are.
    std::vector<std::string> calls(std::size_t from = 0) const;
    std::vector<std::string> messages(std::size_t from = 0) const;
    std::size_t callCount() const;
    std::size_t messageCount() const;
    std::vector<Timed> timedCalls() const;
    std::vector<Timed> timedMessages() const;
    // Microseconds since the session began, on the clock of timedCalls and timedMessages.
    static std::int64_t now();
    std::vector<std::string> consoleLines() const;
    std::vector<std::string> logLines() const;  // the plugin's standard output so far
    std::size_t refQueueTakes() const;          // references the main loop took
    void setMainLoopTakes(bool takes);          // pause or resume the main loop's taking
    // Runs of the game's own keyboard and mouse callees so far.
    std::size_t keyboardCalleeRuns() const;
    std::size_t mouseCalleeRuns() const;

    // Waiting for the plugin's worker threads (polls every millisecond).
    bool waitUntil(const std::function<bool()>& condition,
                   std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));
    static void sleep(std::chrono::milliseconds duration);

    // Internal: the session builds the one Game of the child.
    explicit Game(std::string root) : root_(std::move(root)) {}
    Game(const Game&) = delete;
    Game& operator=(const Game&) = delete;

private:
    std::string root_;
};

}  // namespace sim
