#pragma once
// A model of what the player must see: objects, messages, building rules, the clock, the step
// sizes and the undo history, written from the README's account of the plugin and not from its
// code. The scenario player feeds it every step it plays and compares it with the game after each
// one, so a fault shows at the step that causes it, not at the end of a sequence.
//
// The plugin works on threads of its own (scaling and deleting wait for the game's main loop, a
// held button turns the object on and on, a scale message waits for a quiet spell, the console
// runs on its own thread), so after a step the game may be in one of several states that the
// README allows. The model keeps every such state (a "world") and lets each one move on as the
// plugin's threads may; a comparison keeps the worlds that agree with what the game shows, and a
// mismatch is a game that none of them explains.

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// The game keeps angles in radians; scenario files and the model speak degrees.
constexpr double kDegreesPerRadian = 57.29577951308232;

// An object as the player sees it: position, angles in degrees, scale in percent.
struct SeenObject {
    double position[3] = {0, 0, 0};
    double angles[3] = {0, 0, 0};
    int scale = 100;
};

// What the game shows after a step.
struct Seen {
    std::map<std::string, std::optional<SeenObject>> objects;  // nullopt: the game let go of it
    std::vector<std::string> messages;                         // every message so far, in order
    // The building rules as the game's code and data hold them: each switch group on or off
    // (as sim/image.cpp names them), the snap override byte that object snap writes in freeplot
    // mode, and the game's values.
    std::map<std::string, bool> groups;  // empty while the console thread may be writing them
    int snapOverride = -1;
    std::string codeTorn;     // a site that holds neither the game's bytes nor its switch's
    bool consoleIdle = true;  // every console command handed over has run
    float snapDistance = 0, surfaceSnap = 0, clock = 0;
    int gridSnap = 0;
    std::int64_t micros = 0;  // when it was seen, on the session's clock
};

struct World;
struct Passed;
struct Settings;

class Model {
public:
    // The settings file the session starts with (none: every default); `readableAtStart` false:
    // another program held it while Load read it.
    explicit Model(const std::optional<std::string>& settingsText, bool readableAtStart = true);
    ~Model();
    Model(const Model&) = delete;
    Model& operator=(const Model&) = delete;

    void addObject(const std::string& name, const SeenObject& object, bool actor, bool turret);

    // The steps of a scenario. A key event carries the code the game sends (vkey, scan code and
    // flags, bit 0 set for a release), a mouse record its button flags and wheel data. Each is
    // given with what reached the game's own processing of it: whether the key event did, and the
    // mouse record's fields as the game saw them. "" when that is what the player's rules let
    // through in some state the game may be in (those that disagree are dropped), else what the
    // model expected.
    std::string keyEvent(std::uint16_t vkey, std::uint16_t scanCode, std::uint16_t flags,
                         bool reachedGame);
    std::string mouse(std::uint16_t buttons, std::int16_t data, std::uint16_t seenButtons,
                      std::int16_t seenData);
    void select(const std::string& name);  // "" selects nothing
    void unload(const std::string& name);
    void workshop(bool on);
    void workshopBusy(bool on);
    void ignoreInput(bool on);
    void heading(double degrees);
    void console();  // the console command handed to the console thread
    void mainLoop(bool takes);
    // The settings file as the player left it: its text, or nullopt when it is gone or cannot
    // be read (`readable` false).
    void settingsFile(const std::optional<std::string>& text, bool readable = true);

    // Compares the game with the worlds the model allows now; "" when one of them agrees (the
    // worlds that do not are dropped), else what the nearest world expected. With `settled`,
    // only worlds in which the plugin has finished everything it can finish count.
    std::string compare(const Seen& seen, bool settled = false);
    // Prints the states kept (after every compare into the file FREEPLOT_MODEL_TRACE names).
    void trace(std::FILE* out) const;
    // The key and mouse events whose outcome was compared.
    std::uint64_t inputsCompared() const { return inputs_; }

    // What the settings in force give the checks at the end of a scenario: the keys that run the
    // scale-up action and the delete action (none when deleting is off) in some state the game
    // may be in, and whether the wheel turns objects (nullopt when the states disagree).
    struct Probes {
        std::vector<std::uint16_t> scaleKeys, deleteKeys;
        // Whether some state has no such key (its action then need not be seen working).
        bool scaleOptional = false, deleteOptional = false;
        std::optional<bool> wheelRotation;
    };
    Probes probes() const;

    // A reading of the settings file as the report beside the log tells of it: how many there
    // were so far (the game's start the first), what the last one was, and the settings the last
    // one taken put in force (togglable and the start states as the game started; the step
    // entries before any key changed them).
    struct SettingsReading {
        int count = 0;
        enum Kind : char { start, again, notTaken } kind = start;
        const Settings* settings = nullptr;  // valid until the model's next step
    };
    // One for each state the model keeps.
    std::vector<SettingsReading> readings() const;

private:
    template <class Step>
    void apply(Step step);
    template <class Step>
    std::string event(Step step, const Passed& seen);
    void expand();
    std::vector<World> worlds_;
    bool cut_ = false;  // an expansion since the last comparison stopped at its bound
    std::int64_t now_ = 0;  // when the game was last looked at (microseconds of the session)
    std::uint64_t inputs_ = 0;
};

}  // namespace sim
