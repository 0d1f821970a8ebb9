// freeplot-sim: runs the plugin in the simulated game and prints the session's transcript.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/sim.h"

namespace {

void usage() {
    std::puts(
        "usage: freeplot-sim demo [--settings FILE] [--plugin PATH] [--keep-root]\n"
        "\n"
        "  demo         one session with the plugin: workshop mode on, an object selected,\n"
        "               keys that move, rotate and scale it, a step change, undo, the mouse\n"
        "               wheel and the console command if the game has it; prints the\n"
        "               transcript, log lines first, and ends with one note per step\n"
        "  --settings   use FILE as Data\\F4SE\\Plugins\\freeplot.ini (default: a file that\n"
        "               only sets [main] wheelRotation=true)\n"
        "  --plugin     load PATH instead of this build's freeplot.so ($FREEPLOT_PLUGIN)\n"
        "  --keep-root  keep the session's folder (its path is printed)\n"
        "\n"
        "Exit status 0 when the session ran to its end.");
}

// Settings of the demo when no file is given: the built-in defaults, and the wheel turns the
// selected object (with wheelRotation off, a held mouse button would turn it instead).
constexpr const char* kDemoSettings = "[main]\nwheelRotation=true\n";

constexpr double kDegreesPerRadian = 57.29577951308232;

// The selected object as the player sees it: position, angles in degrees, scale in percent.
struct ObjectState {
    double position[3];
    double angles[3];
    unsigned scale;

    explicit ObjectState(const sim::Ref& ref) : scale(ref.scale()) {
        for (int axis = 0; axis < 3; ++axis) {
            position[axis] = static_cast<double>(ref.pos(axis));
            angles[axis] = ref.rot(axis) * kDegreesPerRadian;
        }
    }

    std::string text() const {
        char out[160];
        std::snprintf(out, sizeof out, "position %.1f %.1f %.1f, angles %.1f %.1f %.1f, scale %u%%",
                      position[0], position[1], position[2], angles[0], angles[1], angles[2],
                      scale);
        return out;
    }

    // What changed since `before`, as "Z +1.0, angle X -5.0"; "" when nothing did.
    std::string changesSince(const ObjectState& before) const {
        std::string out;
        auto add = [&](const char* what, double from, double to) {
            if (std::fabs(to - from) < 0.05) return;  // shows as 0.0
            char item[64];
            std::snprintf(item, sizeof item, "%s%s %+.1f", out.empty() ? "" : ", ", what,
                          to - from);
            out += item;
        };
        const char* axes[] = {"X", "Y", "Z"};
        const char* angleAxes[] = {"angle X", "angle Y", "angle Z"};
        for (int axis = 0; axis < 3; ++axis) add(axes[axis], before.position[axis], position[axis]);
        for (int axis = 0; axis < 3; ++axis)
            add(angleAxes[axis], before.angles[axis], angles[axis]);
        if (scale != before.scale)
            out += (out.empty() ? "" : ", ") + std::string("scale ") +
                   std::to_string(before.scale) + "% to " + std::to_string(scale) + "%";
        return out;
    }
};

// Plays the demo's keys and wheel events on one selected object and notes, for each, what it
// did: the messages it showed, what changed on the object and the object's state afterwards.
class DemoSteps {
public:
    DemoSteps(sim::Game& game, const sim::Ref& ref) : game_(game), ref_(ref) {}

    // Presses and releases a key; the action runs on the release.
    void key(std::uint16_t vkey, const char* label, const char* what) {
        const Before before = now();
        const sim::InputResult down = game_.keyPress(vkey);
        game_.keyRelease(vkey);
        record(label, what, before, down.calleeRan ? " (its press reached the game)" : "");
    }

    // A key whose work is done on a worker thread: waits (up to a deadline) until `done` holds.
    void keyAndWait(std::uint16_t vkey, const char* label, const char* what,
                    const std::function<bool(std::size_t shownBefore)>& done) {
        const Before before = now();
        const sim::InputResult down = game_.keyPress(vkey);
        game_.keyRelease(vkey);
        const bool finished = game_.waitUntil([&] { return done(before.shown); }, kWorkerDeadline);
        std::string extra = down.calleeRan ? " (its press reached the game)" : "";
        if (!finished) extra += " (the worker had not finished after 5 s)";
        record(label, what, before, extra);
    }

    // One wheel event of `notches` notches (120 each, positive away from the player); false
    // when the plugin left the event to the game.
    bool wheel(int notches, const char* label, const char* what) {
        const Before before = now();
        const sim::InputResult r =
            game_.mouseEvent(0x0400, static_cast<std::int16_t>(notches * 120));
        if (r.seenButtonFlags != 0) {
            record(label,
                   "reached the game unchanged: wheelRotation is off in these settings (a held "
                   "left or right mouse button turns the object instead)",
                   before, "");
            return false;
        }
        record(label, what, before, "");
        return true;
    }

    std::size_t messageCount() const { return game_.messages().size(); }
    std::uint16_t scale() const { return ref_.scale(); }

private:
    static constexpr std::chrono::milliseconds kWorkerDeadline{5000};

    struct Before {
        std::size_t shown;
        ObjectState object;
    };
    Before now() const { return {game_.messages().size(), ObjectState(ref_)}; }

    void record(const char* label, const char* what, const Before& before,
                const std::string& extra) {
        std::string text = std::string(what) + extra + ": ";
        const std::vector<std::string> messages = game_.messages();
        for (std::size_t i = before.shown; i < messages.size(); ++i)
            text += "shows \"" + messages[i] + "\"; ";
        const ObjectState after(ref_);
        const std::string changes = after.changesSince(before.object);
        text += changes.empty() ? "the object is unchanged: " : changes + "; now ";
        game_.note(label, text + after.text());
    }

    sim::Game& game_;
    const sim::Ref& ref_;
};

// The demo: the game in workshop mode, one object selected, the player facing along +Y
// (heading 0, so "forth" is +Y and "right" is +X).
void demoScript(sim::Game& game) {
    sim::RefLayout layout;
    layout.position[0] = 100.0f;
    layout.position[1] = 200.0f;
    layout.position[2] = 50.0f;
    const sim::Ref ref = game.createRef(layout);
    game.selectRef(ref.handle);
    game.setHeading(0.0f);
    game.setWorkshopMode(true);
    game.note("start",
              "workshop mode, one object selected, the player facing +Y; a bound key's press is "
              "kept from the game and its release runs the action: " +
                  ObjectState(ref).text());

    DemoSteps step(game, ref);
    step.key(0x70, "F1 (snap)", "switches object snap");
    step.key(0x68, "numpad 8 (moveUp)", "moves the object up by the move step");
    step.key(0x66, "numpad 6 (moveRight)", "moves it right (+X when facing +Y) by the move step");
    step.key(0x6A, "numpad * (moveStepPlus)", "takes the next move step");
    step.key(0x69, "numpad 9 (moveForth)",
             "moves it forth (+Y when facing +Y) by the new move step");
    step.key(0xBE, ". key (rotateRight)",
             "turns it about the rotation axis (Z at first) by the rotate step");
    step.key(0xA2, "Left Ctrl (changeRotateAxis)", "takes the next rotation axis (X after Z)");
    step.key(0x6B, "numpad + (rotateStepPlus)", "takes the next rotate step");
    step.key(0xBC, ", key (rotateLeft)", "turns it back about the new axis by the new rotate step");

    // A scale change runs on a worker, and its message follows a quiet period of 500 ms.
    step.keyAndWait(0x63, "numpad 3 (scaleUp)",
                    "scales it up by the scale step on a worker; the message comes once no "
                    "scale key has followed for 500 ms",
                    [&](std::size_t shown) { return step.messageCount() > shown; });
    const std::uint16_t scaled = step.scale();
    step.keyAndWait(0x08, "Backspace (undo)",
                    "takes back the newest change, the scale (on a worker, without a message)",
                    [&](std::size_t) { return step.scale() != scaled; });
    step.key(0x08, "Backspace (undo)",
             "takes back the next newest change, the turn about the new axis");

    const bool wheelTurns = step.wheel(1, "wheel one notch away",
                                       "turns it about the rotation axis by one rotate step");
    step.wheel(-3, "wheel three notches back",
               "turns it back by three rotate steps, in one command");
    step.key(0x08, "Backspace (undo)",
             wheelTurns ? "takes back both wheel turns: changes of one kind on one axis in a row "
                          "make one undo record"
                        : "takes back the newest change left, the first turn");
    for (const char* name : {"ToggleFreeplot", "ToggleFreeplot"}) {
        if (!game.findCommand(name)) {
            game.note("console", std::string(name) +
                                     " is not in the command table (the plugin adds it when "
                                     "togglable is 1 or 2)");
            break;
        }
        sim::ConsoleResult r = game.runConsoleCommand(name);
        game.note("console", std::string(name) + " returned " + (r.returned ? "true" : "false"));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "demo") != 0) {
        usage();
        return argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)
                   ? 0
                   : 2;
    }
    sim::Options options;
    options.settings = kDemoSettings;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--settings" && i + 1 < argc) {
            std::ifstream in(argv[++i], std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "freeplot-sim: cannot read %s\n", argv[i]);
                return 2;
            }
            std::stringstream ss;
            ss << in.rdbuf();
            options.settings = ss.str();
        } else if (arg == "--plugin" && i + 1 < argc) {
            options.plugin = argv[++i];
        } else if (arg == "--keep-root") {
            options.keepRoot = true;
        } else {
            usage();
            return 2;
        }
    }
    options.script = demoScript;
    sim::Transcript t = sim::run(options);
    std::cout << t.text();
    if (options.keepRoot) std::cout << "== root: " << t.root << "\n";
    return t.completed ? 0 : 1;
}
