// The chaos sequences: random scenarios with the game's own unkindness mixed in.

#include "sim/chaos.h"

#include <random>
#include <sstream>
#include <vector>

#include "config/keynames.h"

namespace sim {
namespace {

// Keys no action is bound to by default.
constexpr const char* kUnboundKeys[] = {"W", "A", "Space", "Tab", "Q", "9"};

class Generator {
public:
    explicit Generator(std::uint64_t seed) : random_(seed) {}

    std::string scenario(std::uint64_t seed, int events) {
        line("# Chaos sequence, seed " + std::to_string(seed) + ": replay with freeplot-sim play");
        line("setting main togglable 1");
        line(std::string("setting main wheelRotation ") + (chance(50) ? "true" : "false"));
        line(std::string("setting main autoTimescaleEnabled ") + (chance(30) ? "true" : "false"));
        line("setting dangerous deleteEnabled true");
        line("setting cheats duplicateEnabled true");
        newObject("o1");
        newObject("o2");
        newObject("o3");
        line("object settler at 10 10 0 actor");
        line("object turret at 20 20 0 turret");
        names_.push_back("settler");
        names_.push_back("turret");
        line("heading " + std::to_string(pick(360)));
        line("select o1");
        for (int i = 0; i < events; ++i) step();
        // A hold that the game makes hard to end: the button goes down on an object, then the
        // crosshair leaves it, input is ignored, the workshop is busy or the object unloads
        // before the button comes up.
        line("# The end: a held button whose release comes when the game is not kind.");
        newObject("last");
        line("select last");
        line("workshop on");
        line("workshop busy off");
        line("ignore input off");
        line(std::string("button ") + (chance(50) ? "left" : "right") + " down");
        line("wait " + std::to_string(10 + pick(60)));
        const char* unkind[] = {"select none", "ignore input on", "workshop busy on",
                                "unload last", "select settler",  "select o1"};
        line(unkind[pick(static_cast<int>(std::size(unkind)))]);
        line("# Both buttons up, the main loop taking, then the checks.");
        line("button left up");
        line("button right up");
        line("main loop resume");
        line("expect settled");
        return text_.str();
    }

private:
    void line(const std::string& text) { text_ << text << "\n"; }
    int pick(int n) { return static_cast<int>(random_() % static_cast<std::uint64_t>(n)); }
    bool chance(int percent) { return pick(100) < percent; }

    void newObject(const std::string& name) {
        line("object " + name + " at " + std::to_string(pick(500)) + " " +
             std::to_string(pick(500)) + " " + std::to_string(pick(100)) + " angles 0 0 " +
             std::to_string(pick(360)));
        names_.push_back(name);
    }

    std::string key() {
        if (chance(15)) return kUnboundKeys[pick(static_cast<int>(std::size(kUnboundKeys)))];
        const auto& binding =
            freeplot::kDefaultKeyBindings[static_cast<std::size_t>(pick(freeplot::kActionCount))];
        const std::uint16_t code =
            binding.alternate && chance(50) ? binding.alternate : binding.primary;
        return freeplot::keyName(code);
    }

    void step() {
        const int roll = pick(100);
        if (roll < 28) {
            line("key " + key());
        } else if (roll < 32) {
            line("press " + key());
        } else if (roll < 36) {
            line("release " + key());
        } else if (roll < 50) {
            line(std::string("button ") + (chance(60) ? "left" : "right") +
                 (chance(55) ? " down" : " up"));
        } else if (roll < 54) {
            line("wheel " + std::to_string(pick(7) - 3));
        } else if (roll < 58) {
            line("mouse");
        } else if (roll < 67) {
            // Another object, an actor, nothing, or one the game has let go of.
            line(chance(12)
                     ? std::string("select none")
                     : "select " +
                           names_[static_cast<std::size_t>(pick(static_cast<int>(names_.size())))]);
        } else if (roll < 71) {
            line("unload " +
                 names_[static_cast<std::size_t>(pick(static_cast<int>(names_.size())))]);
        } else if (roll < 73) {
            newObject("o" + std::to_string(++created_ + 3));
        } else if (roll < 76) {
            line(std::string("workshop ") + (chance(60) ? "on" : "off"));
        } else if (roll < 79) {
            line(std::string("workshop busy ") + (chance(35) ? "on" : "off"));
        } else if (roll < 82) {
            line(std::string("ignore input ") + (chance(35) ? "on" : "off"));
        } else if (roll < 87) {
            line(chance(80) ? "console nowait tfp" : "console tfp");
        } else if (roll < 91) {
            line(std::string("main loop ") + (chance(50) ? "stall" : "resume"));
        } else if (roll < 94) {
            // The player saves the settings file, or is caught half-way through: the plugin reads
            // it at the next start of workshop mode, whatever its workers are doing. (Bindings
            // and the wheel stay as they began: the checks at the end press the default keys.)
            const int what = pick(3);
            if (what == 0)
                line("setting steps rotateSteps " + std::to_string(1 + pick(30)) + " 45 90");
            else if (what == 1)
                line("setting steps moveSteps " + std::to_string(1 + pick(50)) + " 0.5");
            else
                line("settings file cut " + std::to_string(pick(160)));
        } else {
            line("wait " + std::to_string(pick(40)));
        }
    }

    std::mt19937_64 random_;
    std::ostringstream text_;
    std::vector<std::string> names_;
    int created_ = 0;
};

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

std::string chaosScenario(std::uint64_t seed, int events) {
    return Generator(seed).scenario(seed, events);
}

ChaosFigures countChaos(const std::string& scenarioText) {
    ChaosFigures figures;
    figures.sequences = 1;
    std::istringstream in(scenarioText);
    for (std::string line; std::getline(in, line);) {
        for (const char* event : {"key ", "press ", "release ", "button ", "wheel ", "mouse",
                                  "select ", "workshop ", "ignore ", "console ", "main loop "})
            if (startsWith(line, event)) ++figures.events;
        if (startsWith(line, "unload ")) ++figures.unloads;
    }
    return figures;
}

}  // namespace sim
