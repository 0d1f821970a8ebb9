// The chaos sequences: random scenarios with the game's own unkindness mixed in.

#include "sim/chaos.h"

#include <cstdio>
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
        // Now and then another program holds the file while the game starts: every default
        // holds until the first stay after a workshop mode ends reads it.
        if (chance(10)) line("settings file held");
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
        line(any(unkind));
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
        if (chance(15)) return any(kUnboundKeys);
        const auto& binding =
            freeplot::kDefaultKeyBindings[static_cast<std::size_t>(pick(freeplot::kActionCount))];
        const std::uint16_t code =
            binding.alternate && chance(50) ? binding.alternate : binding.primary;
        return freeplot::keyName(code);
    }

    std::string name() {
        return names_[static_cast<std::size_t>(pick(static_cast<int>(names_.size())))];
    }
    template <std::size_t N>
    const char* any(const char* const (&items)[N]) {
        return items[pick(static_cast<int>(N))];
    }

    void step() {
        const int roll = pick(100);
        if (roll < 24) {
            line("key " + key());
        } else if (roll < 27) {
            line("press " + key());
        } else if (roll < 30) {
            line("release " + key());
        } else if (roll < 33) {
            // Undo and redo among everything else.
            line(chance(50) ? "key Backspace" : "key \\ key");
        } else if (roll < 41) {
            line(std::string("button ") + (chance(60) ? "left" : "right") +
                 (chance(55) ? " down" : " up"));
        } else if (roll < 44) {
            severalChanges();
        } else if (roll < 47) {
            line("wheel " + std::to_string(pick(7) - 3));
        } else if (roll < 50) {
            line("mouse");
        } else if (roll < 58) {
            // Another object, an actor, nothing, or one the game has let go of.
            line(chance(12) ? std::string("select none") : "select " + name());
        } else if (roll < 61) {
            line("unload " + name());
        } else if (roll < 63) {
            newObject("o" + std::to_string(++created_ + 3));
        } else if (roll < 66) {
            line(std::string("workshop ") + (chance(60) ? "on" : "off"));
        } else if (roll < 68) {
            line(std::string("workshop busy ") + (chance(35) ? "on" : "off"));
        } else if (roll < 70) {
            line(std::string("ignore input ") + (chance(35) ? "on" : "off"));
        } else if (roll < 74) {
            line(chance(80) ? "console nowait tfp" : "console tfp");
        } else if (roll < 77) {
            line(std::string("main loop ") + (chance(50) ? "stall" : "resume"));
        } else if (roll < 79) {
            line("heading " + std::to_string(pick(360)));
        } else if (roll < 82) {
            // A key pressed where the game has it (outside workshop mode, or while it ignores
            // input) and released in workshop mode.
            const std::string k = key();
            const bool outside = chance(50);
            line(outside ? "workshop off" : "ignore input on");
            line("press " + k);
            line(outside ? "workshop on" : "ignore input off");
            line("release " + k);
        } else if (roll < 85) {
            // A scale or a delete on one object, and the selection moved before its worker ran.
            if (chance(50)) line("main loop stall");
            line("select " + name());
            line(chance(60) ? "key Numpad 3" : chance(50) ? "key Delete" : "key 0");
            line("select " + name());
            line(chance(50) ? "key Numpad 1" : "key Backspace");
            if (chance(60)) line("main loop resume");
        } else if (roll < 88) {
            historyBurst();
        } else if (roll < 94) {
            settingsChange();
        } else if (roll < 97) {
            menuOrStay();
        } else {
            line("wait " + std::to_string(pick(40)));
        }
    }

    // A mouse record with several changes: a button with another button, or with the wheel.
    void severalChanges() {
        static constexpr const char* kChanges[] = {"left down", "left up",     "right down",
                                                   "right up",  "middle down", "middle up",
                                                   "x1 down",   "x2 up"};
        std::string record = std::string("mouse ") + any(kChanges) + " " + any(kChanges);
        if (chance(50)) record += " wheel " + std::to_string(pick(5) - 2);
        line(record);
    }

    // What the game does between the player's events: a menu opened while a key is held, a click
    // in it; workshop mode left and entered with an event between or none (a new stay, and the
    // settings file read again, is noticed only through one), the file changed meanwhile.
    void menuOrStay() {
        const std::string k = key();
        const bool held = chance(70);
        if (held) line("press " + k);
        if (chance(40)) {
            line("ignore input on");
            line(std::string("button ") + (chance(50) ? "left" : "right") + " down");
            line(chance(30) ? "mouse" : chance(50) ? "button left up" : "button right up");
            line("ignore input off");
        } else {
            if (chance(50)) settingsChange();
            line("workshop off");
            if (chance(60)) line(chance(50) ? "mouse" : "key " + std::string(any(kUnboundKeys)));
            line("workshop on");
        }
        if (held) line("release " + k);
    }

    // One change, then undo and redo among more of the same change, now and then while the
    // scale worker waits for a stalled main loop: what each undo and redo brings back must be
    // one step.
    void historyBurst() {
        static constexpr const char* kChanges[] = {"Numpad 8", "Numpad 4", ". key",   "Numpad 3",
                                                   "0",        "7",        "Numpad 5"};
        const char* change = any(kChanges);
        const bool stall = chance(30);
        if (stall) line("main loop stall");
        line(std::string("key ") + change);
        for (int n = 2 + pick(5); n > 0; --n)
            line(std::string("key ") + (chance(40) ? "Backspace" : chance(50) ? "\\ key" : change));
        if (stall) line("main loop resume");
    }

    // Text as the bytes of a "settings file bytes" step.
    static std::string bytesOf(const std::string& text) {
        std::string out = "settings file bytes";
        for (const char c : text) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02X", static_cast<unsigned char>(c));
            out += hex;
        }
        return out;
    }

    // The player saves the settings file (or is caught half-way through): the plugin reads it at
    // the next start of workshop mode, whatever its workers are doing.
    void settingsChange() {
        static constexpr const char* kRebound[] = {"moveUp",      "scaleUp",     "undo",
                                                   "redo",        "rotateRight", "copyAll",
                                                   "deleteKey",   "snap",        "changeRotateAxis",
                                                   "moveStepPlus"};
        static constexpr const char* kCodes[] = {"104", "99", "8",   "220", "0x70", "87",
                                                 "0",   "F1", "190", "17",  "46"};
        static constexpr const char* kOddSteps[] = {
            "-5 1 1000000", "0.001 0.002", "1e6 -1e6", "0 0 0", "abc", "5,10,15", "2.5"};
        switch (pick(13)) {
            case 0:
                line("setting steps rotateSteps " + std::to_string(1 + pick(30)) + " 45 90");
                break;
            case 1:
                line("setting steps moveSteps " + std::to_string(1 + pick(50)) + " 0.5");
                break;
            case 2:
                line(std::string("setting steps ") + (chance(50) ? "moveSteps " : "rotateSteps ") +
                     any(kOddSteps));
                break;
            case 3:
                line(std::string("setting keys ") + any(kRebound) + " " + any(kCodes));
                break;
            case 4:
                line(std::string("setting main ") +
                     (chance(50) ? "wheelRotation " : "autoTimescaleEnabled ") +
                     (chance(50) ? "true" : "false"));
                break;
            case 5:
                line(std::string("setting dangerous deleteEnabled ") +
                     (chance(70) ? "true" : "false"));
                break;
            case 6: {
                // A message of the player's own, now and then one as long as a line can be.
                static constexpr const char* kTexts[] = {
                    "setting messages snapOff Snap gone",
                    "setting messages moveStepChange Move %.2f",
                    "setting messages scaleChange Now %d%% big",
                    "setting messages axisChange Axis %c!",
                    "setting messages rotateStepChange Turn %g deg",
                    "setting messages groundOff %s",
                    "setting messages objectInfo At %.0f %.0f %.0f turned %.0f %.0f %.0f, %d%%",
                    "setting messages objectInfo Where %d"};
                if (chance(25))
                    line("setting messages freeplotOn " + std::string(150 + pick(60), 'x'));
                else
                    line(any(kTexts));
                break;
            }
            case 7:
                line("setting steps scaleSteps " + std::to_string(1 + pick(40)) + " 25");
                break;
            case 8: {
                // A setting written again at the end (an override appended to a file that has
                // it), or a line indented for readability, which continues the one above it.
                static constexpr const char* kAgain[] = {
                    "[main]\nwheelRotation = ",      "[keys]\nmoveUp = ",
                    "[dangerous]\ndeleteEnabled = ", "[steps]\nmoveSteps = ",
                    "    wheelRotation = ",          "    moveUp = "};
                std::string text = any(kAgain);
                const bool key = text.find("moveUp") != std::string::npos;
                text += key                                       ? any(kCodes)
                        : text.find("Steps") != std::string::npos ? "5 10"
                        : chance(50)                              ? "true"
                                                                  : "false";
                for (std::size_t at; (at = text.find('\n')) != std::string::npos;) {
                    line("settings file line \"" + text.substr(0, at) + "\"");
                    text.erase(0, at + 1);
                }
                line("settings file line \"" + text + "\"");
                break;
            }
            case 9:
                // Bytes the player's editor may leave: a NUL in a line, a message saved in the
                // Western code page (not UTF-8).
                if (chance(50))
                    line(bytesOf(std::string("[keys]\nmoveUp = F10") + '\0' + "junk\n"));
                else
                    line(
                        bytesOf("[messages]\nsnapOff = Accroche d\xE9"
                                "sactiv\xE9"
                                "e\n"));
                break;
            case 10:
                // Saved as UTF-16 without a byte-order mark, or grown beyond what the plugin reads.
                line(std::string("setting keys moveUp ") + any(kCodes));
                if (chance(75))
                    line(std::string("settings file utf16 ") + (chance(50) ? "le" : "be"));
                else
                    line("settings file size " + std::to_string(4194305 + pick(1000)));
                break;
            default: {
                // The file as an editor or the system may leave it: cut, without its last line
                // break, with a line that does not parse, deleted or unreadable.
                static constexpr const char* kStates[] = {
                    "settings file unterminated", "settings file line \"wheelRotaion true\"",
                    "settings file line \"[cheat\"", "settings file gone",
                    "settings file unreadable"};
                if (chance(40))
                    line("settings file cut " + std::to_string(pick(200)));
                else
                    line(any(kStates));
                break;
            }
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
