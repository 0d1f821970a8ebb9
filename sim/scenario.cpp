// Reading scenario files and playing them in a session of the simulated game.

#include "sim/scenario.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <string_view>

#include "config/keynames.h"
#include "sim/host.h"
#include "sim/internal.h"
#include "sim/model.h"
#include "sim/model_settings.h"

namespace sim {

ScenarioError::ScenarioError(std::string name, int line, const std::string& what)
    : std::runtime_error(line > 0 ? name + ":" + std::to_string(line) + ": " + what
                                  : name + ": " + what),
      line_(line) {}

namespace {

constexpr auto kExpectDeadline = std::chrono::milliseconds(2000);
// How long the settled check waits for a worker before it presses the key again.
constexpr auto kProbeAgain = std::chrono::milliseconds(100);
// Longer than the notifier's quiet period, so a message on its way has come by then.
constexpr auto kNoMessageWait = std::chrono::milliseconds(700);
// How long an expectation that the object kept its value goes on looking: a worker's change
// (a hand-off taken at the main loop's next frame) or the message after it would have come.
constexpr auto kUnchangedHold = kNoMessageWait;
// The largest scale the game's 16-bit field holds, in percent.
constexpr double kMaxScalePercent = 65535;
// The numbers a float holds: everything below 2^128 - 2^103 rounds to at most the largest float,
// so a file can name every place the game keeps (the plugin writes its kept stays with the fewest
// digits that give back the float, which may lie a little above the largest float itself).
constexpr double kBeyondFloat = 0x1.ffffffp+127;
// Angles are written in degrees, and the game keeps them as radians.
constexpr double kBeyondDegrees = kBeyondFloat * kDegreesPerRadian;
// The largest settings file a step makes: twice what the plugin reads.
constexpr long long kMaxSettingsFile = 8 << 20;
// How long the settings report of a reading may take to be written (on the plugin's worker).
constexpr auto kReportDeadline = std::chrono::milliseconds(5000);

// Whether two names are the same but for the case of their letters (compared in place: key
// names are looked up among 255 at every key step).
bool sameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The words of a line; a text in double quotes is one word (\" and \\ inside it stand for " and \).
std::vector<std::string> splitWords(const std::string& line, const std::string& name, int number) {
    std::vector<std::string> words;
    for (std::size_t i = 0; i < line.size();) {
        if (line[i] == ' ' || line[i] == '\t') {
            ++i;
            continue;
        }
        std::string word;
        if (line[i] == '"') {
            bool closed = false;
            for (++i; i < line.size(); ++i) {
                if (line[i] == '\\' && i + 1 < line.size()) {
                    word += line[++i];
                } else if (line[i] == '"') {
                    closed = true;
                    ++i;
                    break;
                } else {
                    word += line[i];
                }
            }
            if (!closed) throw ScenarioError(name, number, "a quoted text is not closed");
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t') word += line[i++];
        }
        words.push_back(word);
    }
    return words;
}

bool number(const std::string& word, double& out) {
    char* end = nullptr;
    out = std::strtod(word.c_str(), &end);
    return !word.empty() && *end == '\0' && std::isfinite(out);
}

bool integer(const std::string& word, long long& out) {
    char* end = nullptr;
    out = std::strtoll(word.c_str(), &end, 0);
    return !word.empty() && *end == '\0';
}

// Everything after the first `count` words of a step, as written.
std::string restAfter(const std::string& text, std::size_t count) {
    std::size_t at = 0;
    for (std::size_t n = 0; n < count; ++n) {
        at = text.find_first_not_of(" \t", at);
        at = text.find_first_of(" \t", at);
        if (at == std::string::npos) return {};
    }
    return trim(text.substr(at));
}

// A raw mouse record: its button flags and wheel data.
struct MouseRecord {
    std::uint16_t buttons = 0;
    std::int16_t data = 0;
};

// The flag of a button's change: left, right, middle, x1, x2, each down or up.
std::uint16_t buttonFlag(const std::string& button, const std::string& way) {
    static const char* const kButtons[] = {"left", "right", "middle", "x1", "x2"};
    for (int i = 0; i < 5; ++i)
        if (button == kButtons[i])
            return static_cast<std::uint16_t>((way == "down" ? 1 : 2) << (2 * i));
    return 0;
}

// The record of a button, wheel or mouse step: "button B down|up", "wheel N", or "mouse" with
// nothing (a move) or with several changes in one record ("mouse left down middle up wheel 1").
MouseRecord mouseRecord(const std::vector<std::string>& w) {
    MouseRecord r;
    const std::size_t from = w[0] == "mouse" ? 1 : 0;
    for (std::size_t i = from; i + 1 < w.size(); i += 2) {
        if (w[i] == "wheel") {
            r.buttons |= 0x0400;
            r.data = static_cast<std::int16_t>(std::stoll(w[i + 1], nullptr, 0) * 120);
        } else {
            r.buttons |= buttonFlag(w[i == 0 ? 1 : i], w[i == 0 ? 2 : i + 1]);
            if (i == 0) break;  // "button B WAY"
        }
    }
    return r;
}

// The settings file as sections of name/value lines, in the order they were first given.
struct SettingsModel {
    std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> sections;

    void set(const std::string& section, const std::string& name, const std::string& value) {
        auto s = std::find_if(sections.begin(), sections.end(),
                              [&](const auto& e) { return sameIgnoringCase(e.first, section); });
        if (s == sections.end()) {
            sections.push_back({section, {}});
            s = sections.end() - 1;
        }
        auto& entries = s->second;
        auto e = std::find_if(entries.begin(), entries.end(),
                              [&](const auto& kv) { return sameIgnoringCase(kv.first, name); });
        if (e == entries.end())
            entries.push_back({name, value});
        else
            e->second = value;
    }
    std::string text() const {
        std::string out;
        for (const auto& [section, entries] : sections) {
            out += "[" + section + "]\n";
            for (const auto& [name, value] : entries) out += name + " = " + value + "\n";
        }
        return out;
    }
};

// Checks a step's shape; `known` holds the objects defined by the lines above it.
void checkStep(const ScenarioStep& step, std::vector<std::string>& known, const std::string& name) {
    const auto& w = step.words;
    auto fail = [&](const std::string& why) { throw ScenarioError(name, step.line, why); };
    auto need = [&](std::size_t count, const char* form) {
        if (w.size() != count) fail(std::string("expected: ") + form);
    };
    auto object = [&](const std::string& word) {
        if (std::find(known.begin(), known.end(), word) == known.end())
            fail("no object named \"" + word + "\" (an \"object\" line names it first)");
    };
    auto numbers = [&](std::size_t from, std::size_t count, double beyond = kBeyondFloat) {
        double v = 0;
        for (std::size_t i = from; i < from + count; ++i) {
            if (i >= w.size() || !number(w[i], v))
                fail("\"" + step.text + "\" needs a number here");
            if (!(std::fabs(v) < beyond)) fail("\"" + w[i] + "\" is beyond a float's range");
        }
    };
    // A scale in whole percent, 0 to 65535 as the game stores it (more would wrap).
    auto percent = [&](std::size_t at) {
        long long v = 0;
        if (at >= w.size() || !integer(w[at], v) || v < 0 ||
            static_cast<double>(v) > kMaxScalePercent)
            fail("a scale is a whole percent from 0 to 65535");
    };
    auto oneOf = [&](std::size_t at, std::initializer_list<const char*> choices) {
        for (const char* c : choices)
            if (at < w.size() && w[at] == c) return;
        fail("\"" + step.text + "\": unknown word");
    };
    const std::string& verb = w[0];
    if (verb == "setting") {
        if (w.size() < 4) fail("expected: setting SECTION NAME VALUE");
    } else if (verb == "settings") {
        long long bytes = 0;
        const bool file = w.size() >= 3 && w[1] == "file";
        const bool plain =
            w.size() == 3 && file &&
            (w[2] == "gone" || w[2] == "unreadable" || w[2] == "unterminated" || w[2] == "held");
        const bool line = w.size() == 4 && file && w[2] == "line";
        const bool cut = w.size() == 4 && file && (w[2] == "cut" || w[2] == "size") &&
                         integer(w[3], bytes) && bytes >= 0 && bytes <= kMaxSettingsFile;
        const bool utf16 =
            w.size() == 4 && file && w[2] == "utf16" && (w[3] == "le" || w[3] == "be");
        bool raw = w.size() >= 4 && file && w[2] == "bytes";
        for (std::size_t i = 3; raw && i < w.size(); ++i)
            raw = w[i].size() == 2 && std::isxdigit(static_cast<unsigned char>(w[i][0])) &&
                  std::isxdigit(static_cast<unsigned char>(w[i][1]));
        if (!plain && !line && !cut && !utf16 && !raw)
            fail(
                "expected: settings file cut|size BYTES | settings file line \"TEXT\" | "
                "settings file bytes HH... | settings file utf16 le|be | "
                "settings file gone|unreadable|unterminated|held");
    } else if (verb == "object") {
        if (w.size() < 6 || w[2] != "at")
            fail(
                "expected: object NAME at X Y Z [angles X Y Z] "
                "[scale PERCENT] [actor] [turret]");
        if (w[1] == "none") fail("\"none\" cannot name an object");
        numbers(3, 3);
        for (std::size_t i = 6; i < w.size();) {
            if (w[i] == "angles") {
                numbers(i + 1, 3, kBeyondDegrees);
                i += 4;
            } else if (w[i] == "scale") {
                percent(i + 1);
                i += 2;
            } else if (w[i] == "actor" || w[i] == "turret") {
                ++i;
            } else {
                fail("unknown word \"" + w[i] + "\" in an object line");
            }
        }
        if (std::find(known.begin(), known.end(), w[1]) == known.end()) known.push_back(w[1]);
    } else if (verb == "select") {
        need(2, "select NAME | select none");
        if (w[1] != "none") object(w[1]);
    } else if (verb == "unload") {
        need(2, "unload NAME");
        object(w[1]);
    } else if (verb == "workshop") {
        if (w.size() == 2) {
            oneOf(1, {"on", "off"});
        } else {
            need(3, "workshop on|off | workshop busy on|off");
            oneOf(1, {"busy"});
            oneOf(2, {"on", "off"});
        }
    } else if (verb == "heading") {
        need(2, "heading DEGREES");
        numbers(1, 1, kBeyondDegrees);
    } else if (verb == "key" || verb == "press" || verb == "release") {
        if (w.size() < 2) fail("expected: " + verb + " KEY");
        const std::string key = restAfter(step.text, 1);
        if (!keyByName(key)) fail("unknown key \"" + key + "\"");
    } else if (verb == "button") {
        need(3, "button left|right down|up");
        oneOf(1, {"left", "right"});
        oneOf(2, {"down", "up"});
    } else if (verb == "wheel") {
        need(2, "wheel NOTCHES");
        long long n = 0;
        if (!integer(w[1], n) || n < -273 || n > 273)
            fail("wheel needs a whole number of notches from -273 to 273");
    } else if (verb == "mouse") {
        // Changes in one record: BUTTON down|up (left, right, middle, x1, x2) and wheel NOTCHES.
        const char* form = "mouse [BUTTON down|up ...] [wheel NOTCHES]";
        if (w.size() % 2 == 0) fail(std::string("expected: ") + form);
        for (std::size_t i = 1; i < w.size(); i += 2) {
            long long n = 0;
            if (w[i] == "wheel"
                    ? !integer(w[i + 1], n) || n < -273 || n > 273
                    : buttonFlag(w[i], w[i + 1]) == 0 || (w[i + 1] != "down" && w[i + 1] != "up"))
                fail(std::string("expected: ") + form);
        }
    } else if (verb == "console") {
        if (w.size() < 2 || (w[1] == "nowait" && w.size() < 3))
            fail("expected: console [nowait] COMMAND");
    } else if (verb == "wait") {
        need(2, "wait MILLISECONDS");
        long long ms = 0;
        if (!integer(w[1], ms) || ms < 0 || ms > 600000) fail("wait needs 0 to 600000 ms");
    } else if (verb == "ignore") {
        need(3, "ignore input on|off");
        oneOf(1, {"input"});
        oneOf(2, {"on", "off"});
    } else if (verb == "main") {
        need(3, "main loop stall|resume");
        oneOf(1, {"loop"});
        oneOf(2, {"stall", "resume"});
    } else if (verb == "expect") {
        if (w.size() < 2) fail("expected: expect WHAT ...");
        const std::string& what = w[1];
        if (what == "position" || what == "angles") {
            need(6, "expect position|angles NAME X Y Z");
            object(w[2]);
            numbers(3, 3, what == "angles" ? kBeyondDegrees : kBeyondFloat);
        } else if (what == "scale") {
            need(4, "expect scale NAME PERCENT");
            object(w[2]);
            percent(3);
        } else if (what == "message" || what == "log" || what == "report") {
            need(3, "expect message|log|report \"TEXT\"");
        } else if (what == "no") {
            need(3, "expect no message");
            oneOf(2, {"message"});
        } else if (what == "gone") {
            need(3, "expect gone NAME");
            object(w[2]);
        } else if (what == "settled") {
            need(2, "expect settled");
        } else if (what == "clock") {
            need(3, "expect clock MULTIPLIER");
            numbers(2, 1);
        } else if (what == "bytes") {
            const char* form = "expect bytes SITE OFFSET HH [HH ...]";
            long long offset = 0;
            if (w.size() < 5 || !integer(w[3], offset) || offset < 0)
                fail(std::string("expected: ") + form);
            for (std::size_t i = 4; i < w.size(); ++i)
                if (w[i].size() != 2 || !std::isxdigit(static_cast<unsigned char>(w[i][0])) ||
                    !std::isxdigit(static_cast<unsigned char>(w[i][1])))
                    fail(std::string("expected: ") + form + " (each byte two hexadecimal digits)");
        } else {
            fail("unknown expectation \"" + what + "\"");
        }
    } else {
        fail("unknown step \"" + verb + "\"");
    }
}

}  // namespace

std::optional<RawKey> keyByName(const std::string& word) {
    const std::string text = trim(word);
    // A name first (so "1" is the 1 key), else a code.
    std::uint32_t vkey = 0;
    for (std::uint32_t c = 1; c < 256 && !vkey; ++c) {
        const char* name = freeplot::keyName(c);
        if (name && sameIgnoringCase(name, text)) vkey = c;
    }
    long long code = 0;
    if (!vkey && integer(text, code) && code > 0 && code <= 0xFFFF)
        vkey = static_cast<std::uint32_t>(code);
    if (!vkey) return std::nullopt;
    // As the game's raw input has them: the generic Shift with the scan code of its side, the
    // generic Ctrl and Alt with the E0 flag on the right.
    switch (vkey) {
        case 160:
            return RawKey{16, 0x2A, 0};
        case 161:
            return RawKey{16, 0x36, 0};
        case 162:
            return RawKey{17, 0x1D, 0};
        case 163:
            return RawKey{17, 0x1D, 2};
        case 164:
            return RawKey{18, 0x38, 0};
        case 165:
            return RawKey{18, 0x38, 2};
        default:
            return RawKey{static_cast<std::uint16_t>(vkey), 0, 0};
    }
}

Scenario parseScenario(const std::string& file, const std::string& name) {
    // A UTF-8 byte-order mark (an editor's "UTF-8 with BOM") is no part of the first step, as it
    // is no part of the settings file's first line.
    const std::string text = file.rfind("\xEF\xBB\xBF", 0) == 0 ? file.substr(3) : file;
    Scenario scenario;
    scenario.name = name;
    scenario.source = text;
    scenario.keptStay = isKeptStay(text);
    if (text.find('\0') != std::string::npos)
        throw ScenarioError(name, 0, "this is no text file (it holds NUL bytes)");
    std::vector<std::string> known;
    std::string comment;
    std::istringstream in(text);
    int number = 0;
    for (std::string raw; std::getline(in, raw);) {
        ++number;
        if (raw.size() > 4096) throw ScenarioError(name, number, "the line is too long");
        const std::string line = trim(raw);
        if (line.empty()) {
            comment.clear();
            continue;
        }
        if (line[0] == '#') {
            const std::string said = trim(line.substr(1));
            if (!said.empty()) comment += (comment.empty() ? "" : " ") + said;
            continue;
        }
        ScenarioStep step{number, line, comment, splitWords(line, name, number)};
        comment.clear();
        std::string why;
        if (startFileStep(step.words, scenario.startFile, why)) {
            if (!scenario.steps.empty())
                throw ScenarioError(name, number, "a settings start line comes before every other step");
            continue;
        }
        if (!why.empty()) throw ScenarioError(name, number, why);
        checkStep(step, known, name);
        if (step.words[0] == "setting" && scenario.steps.empty()) {
            if (scenario.heldAtLoad)
                throw ScenarioError(name, number,
                                    "the setting lines come before \"settings file held\"");
            scenario.settings.push_back({step.words[1], step.words[2], restAfter(step.text, 3)});
            continue;
        }
        if (step.words.size() == 3 && step.words[0] == "settings" && step.words[2] == "held") {
            if (!scenario.steps.empty() || scenario.settings.empty())
                throw ScenarioError(name, number,
                                    "\"settings file held\" comes right after the setting lines");
            scenario.heldAtLoad = true;
            continue;
        }
        scenario.steps.push_back(std::move(step));
    }
    return scenario;
}

std::string Scenario::settingsText() const {
    SettingsModel model;
    for (const auto& s : settings) model.set(s[0], s[1], s[2]);
    return (settings.empty() ? std::string() : model.text()) + startFile;
}

bool readPlayable(const std::string& path, std::string& text, std::string& why) {
    std::error_code error;
    why = "cannot read the file";
    // A folder opens as a file but reads as nothing.
    if (std::filesystem::is_directory(path, error)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    // Read in pieces up to one byte past the limit: a device that never ends is not read whole.
    text.clear();
    char piece[1 << 16];
    while (in && text.size() <= kMostFileBytes) {
        in.read(piece, sizeof piece);
        text.append(piece, static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) return false;
    if (text.size() > kMostFileBytes) {
        why = "the file holds more than " + std::to_string(kMostFileBytes >> 20) +
              " MiB, more than any to play";
        text.clear();
        return false;
    }
    return true;
}

Scenario readScenario(const std::string& path) {
    std::string text, why;
    if (!readPlayable(path, text, why)) throw ScenarioError(path, 0, why);
    return parseScenario(text, path);
}

namespace {

// An object as the player sees it: position, angles in degrees, scale in percent.
struct ObjectState {
    double position[3];
    double angles[3];
    unsigned scale;

    explicit ObjectState(const RefLayout& ref) : scale(ref.scale) {
        for (int axis = 0; axis < 3; ++axis) {
            position[axis] = static_cast<double>(ref.position[axis]);
            angles[axis] = ref.rotation[axis] * kDegreesPerRadian;
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

// --- The settings report beside the log, as far as the model reads it ---------------------------

// A text as the report shows it on a line: line feeds as \n, control bytes and bytes that start
// no UTF-8 character as \xNN, a backslash doubled.
std::string shownInReport(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t more = c >= 0xF0 && c <= 0xF4   ? 3
                           : c >= 0xE0 && c <= 0xEF ? 2
                           : c >= 0xC2 && c <= 0xDF ? 1
                                                    : 0;
        for (std::size_t k = 1; k <= more; ++k)
            if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                more = 0;
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        out += more                    ? text.substr(i, more + 1)
               : c == '\n'             ? "\\n"
               : c == '\\'             ? "\\\\"
               : c < 0x20 || c >= 0x7F ? hex
                                       : std::string(1, text[i]);
        i += more;
    }
    return out;
}

// The lines of the report's settings sections, from [main] to [steps], by "[section] name":
// what follows the name. A report of a file not taken holds the report of the settings in force
// below its first lines; the keyboard drawing or the findings end the sections.
std::map<std::string, std::string> reportLines(const std::string& report) {
    std::map<std::string, std::string> lines;
    std::istringstream in(report);
    std::string section;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("Keys in force", 0) == 0 || line.rfind("Findings:", 0) == 0) break;
        if (line.rfind("[", 0) == 0) section = line.substr(0, line.find(']') + 1);
        if (section.empty() || line.rfind("  ", 0) != 0) continue;
        const std::string rest = trim(line);
        const std::size_t space = std::min(rest.find(' '), rest.size());
        lines[section + " " + rest.substr(0, space)] = trim(rest.substr(space));
    }
    return lines;
}

bool closeTo(double a, double b) {
    return a == b || std::fabs(a - b) <= 1e-5 * std::max(std::fabs(a), std::fabs(b));
}

// Where the report's settings differ from `s`, the first difference; "" when they agree.
std::string reportDiffers(const std::map<std::string, std::string>& lines, const Settings& s) {
    std::string why;
    auto line = [&](const std::string& key) -> std::string {
        const auto it = lines.find(key);
        if (it == lines.end() && why.empty()) why = "the report has no line for " + key;
        return it == lines.end() ? std::string() : it->second;
    };
    auto differ = [&](const std::string& key, const std::string& report, const std::string& model) {
        if (why.empty()) why = key + ": the report says " + report + ", the model " + model;
    };
    auto word = [](const std::string& text) { return text.substr(0, text.find(' ')); };
    const std::string togglable = word(line("[main] togglable"));
    if (togglable != std::to_string(s.togglable))
        differ("[main] togglable", togglable, std::to_string(s.togglable));
    const std::string timescale = word(line("[main] buildTimescale"));
    if (!closeTo(std::strtod(timescale.c_str(), nullptr), s.buildTimescale))
        differ("[main] buildTimescale", timescale, std::to_string(s.buildTimescale));
    static constexpr std::pair<const char*, bool Settings::*> kFlags[] = {
        {"[main] wheelRotation", &Settings::wheelRotation},
        {"[main] timeoutFrozen", &Settings::timeoutFrozen},
        {"[main] snapDisabled", &Settings::snapDisabled},
        {"[main] groundDisabled", &Settings::groundDisabled},
        {"[main] outlineDisabled", &Settings::outlineDisabled},
        {"[main] extraOutlineEnabled", &Settings::extraOutlineEnabled},
        {"[main] autoTimescaleEnabled", &Settings::autoTimescale},
        {"[dangerous] deleteEnabled", &Settings::deleteEnabled},
        {"[cheats] duplicateEnabled", &Settings::duplicateEnabled}};
    for (const auto& [key, field] : kFlags)
        if (word(line(key)) != (s.*field ? "true" : "false"))
            differ(key, word(line(key)), s.*field ? "true" : "false");
    for (int a = 0; a < kActions; ++a) {
        const std::string key = std::string("[keys] ") + kKeys[a].name;
        std::istringstream codes(line(key));
        std::string got, second;
        codes >> got;
        if (!got.empty() && got.back() == ',' && codes >> second) got += " " + second;
        const std::string want = std::to_string(s.primary[a]) +
                                 (s.alternate[a] ? ", " + std::to_string(s.alternate[a]) : "");
        if (got != want) differ(key, got, want);
    }
    for (int m = 0; m < kMessages; ++m) {
        const std::string key = std::string("[messages] ") + kTexts[m].key;
        const std::string text = line(key);
        const std::size_t open = text.find('"'), close = text.rfind('"');
        const std::string got = open < close ? text.substr(open + 1, close - open - 1) : text;
        if (got != shownInReport(s.text(m))) differ(key, got, shownInReport(s.text(m)));
    }
    auto steps = [&](const char* name, const auto& list) {
        const std::string key = std::string("[steps] ") + name;
        std::istringstream in(line(key));
        std::vector<double> values;
        int index = -1;
        for (std::string item; in >> item && item[0] != '(';) {
            if (item[0] == '[') index = static_cast<int>(values.size());
            values.push_back(std::strtod(item.c_str() + (item[0] == '['), nullptr));
        }
        bool same = values.size() == list.values.size() && index == list.index;
        for (std::size_t i = 0; same && i < values.size(); ++i)
            same = closeTo(values[i], static_cast<double>(list.values[i]));
        std::string want;
        for (std::size_t i = 0; i < list.values.size(); ++i) {
            char item[40];
            std::snprintf(item, sizeof item, static_cast<int>(i) == list.index ? "[%g] " : "%g ",
                          static_cast<double>(list.values[i]));
            want += item;
        }
        if (!same) differ(key, line(key), want);
    };
    steps("rotateSteps", s.rotate);
    steps("moveSteps", s.move);
    steps("scaleSteps", s.scale);
    return why;
}

// Whether the report is the one of the reading the model made last (its heading) and its
// settings are the model's in one of the states the model keeps; "" when so, else what differs.
std::string reportDiffers(const std::string& report,
                          const std::vector<Model::SettingsReading>& readings) {
    const bool notTaken = report.rfind("The settings file was changed but not taken", 0) == 0;
    switch (readings.front().kind) {
        case Model::SettingsReading::notTaken:
            if (!notTaken) return "the report is not of a file not taken";
            break;
        case Model::SettingsReading::start:
            if (notTaken || report.find("\nRead when the game started.") == std::string::npos)
                return "the report is not of the game's start";
            break;
        case Model::SettingsReading::again:
            if (notTaken || report.find("\nRead again while the game runs") == std::string::npos)
                return "the report is not of a file read again while the game runs";
            break;
    }
    const std::map<std::string, std::string> lines = reportLines(report);
    std::string why;
    for (const Model::SettingsReading& r : readings) {
        why = reportDiffers(lines, *r.settings);
        if (why.empty()) break;
    }
    return why;
}

bool isEvent(const std::string& verb) {
    return verb == "key" || verb == "press" || verb == "release" || verb == "button" ||
           verb == "wheel" || verb == "mouse" || verb == "console";
}

// Plays the steps inside the session. The first expectation that does not hold ends the play and
// is noted under "scenario failed".
class Player {
public:
    Player(Game& game, const Scenario& scenario, std::string settings)
        : game_(game), scenario_(scenario), settings_(std::move(settings)) {}

    void run() {
        game_.setWorkshopMode(true);
        for (const auto& s : scenario_.settings) model_.set(s[0], s[1], s[2]);
        for (const ScenarioStep& step : scenario_.steps) {
            detail::emit(detail::kind::step, {std::to_string(step.line)});
            const bool event = isEvent(step.words[0]);
            if (event) {
                finishNote();
                beginNote(step);
                eventCalls_ = game_.callCount();
                before_.clear();
                for (const auto& [name, ref] : objects_)
                    if (auto state = loaded(name)) before_.emplace(name, ObjectState(*state));
            }
            // "expect log" looks only at lines logged from the start of the last step that is
            // not an expectation: the step it checks.
            if (step.words[0] != "expect") loggedBefore_ = game_.logLines().size();
            std::string why;
            try {
                // The settled checks play with objects and keys of their own: the model looks
                // before them, and at nothing after.
                const bool settled = step.words[0] == "expect" && step.words[1] == "settled";
                if (settled) why = checkModel(true);
                if (why.empty()) why = play(step);
                if (event) eventEnded_ = Game::now();
                if (why.empty() && !settled) why = checkModel(false);
                if (why.empty() && !settled) why = checkReport();
            } catch (const std::exception& e) {
                why = e.what();
            }
            if (!why.empty()) {
                finishNote();
                game_.note("model compared", std::to_string(compared_));
                game_.note("inputs compared", std::to_string(world_.inputsCompared()));
                game_.note("reports compared", std::to_string(reportsCompared_));
                game_.note("scenario failed", scenario_.name + ":" + std::to_string(step.line) +
                                                  ": " + step.text + ": " + why);
                return;
            }
        }
        finishNote();
        game_.waitForConsole();
        if (!stayKept_ && keepsStay()) keepStay(game_);
        game_.note("model compared", std::to_string(compared_));
        game_.note("inputs compared", std::to_string(world_.inputsCompared()));
        game_.note("reports compared", std::to_string(reportsCompared_));
    }

private:
    std::string play(const ScenarioStep& step) {
        const auto& w = step.words;
        const std::string& verb = w[0];
        if (verb == "setting") return changeSetting(w[1], w[2], restAfter(step.text, 3));
        if (verb == "settings") return changeSettingsFile(w);
        if (verb == "object") return createObject(w);
        if (verb == "select") {
            selected_ = w[1] == "none" ? std::string() : w[1];
            game_.selectRef(selected_.empty() ? 0 : objects_.at(selected_).handle);
            world_.select(selected_);
            return {};
        }
        if (verb == "unload") {
            game_.unloadRef(objects_.at(w[1]).handle);
            world_.unload(w[1]);
            return {};
        }
        if (verb == "workshop") {
            if (w[1] == "busy") {
                game_.setWorkshopState(w[2] == "on" ? 1 : 0);
                world_.workshopBusy(w[2] == "on");
            } else {
                game_.setWorkshopMode(w[1] == "on");
                world_.workshop(w[1] == "on");
            }
            return {};
        }
        if (verb == "heading") {
            game_.setHeading(static_cast<float>(std::stod(w[1]) / kDegreesPerRadian));
            world_.heading(std::stod(w[1]));
            return {};
        }
        if (verb == "key" || verb == "press" || verb == "release") {
            const RawKey k = *keyByName(restAfter(step.text, 1));
            // What the game saw goes into the step's note where it is worth saying: a press that
            // reached the game, a release kept from it. The model says what it must see.
            std::string why;
            if (verb != "release") {
                const bool ran = game_.keyboardEvent(k.vkey, k.scanCode, k.flags).calleeRan;
                if (ran)
                    noteSeen_ =
                        verb == "key" ? "its press reached the game" : "it reached the game";
                if (modelOn_) why = world_.keyEvent(k.vkey, k.scanCode, k.flags, ran);
            }
            if (verb != "press" && why.empty()) {
                const auto flags = static_cast<std::uint16_t>(k.flags | 1);
                const bool ran = game_.keyboardEvent(k.vkey, k.scanCode, flags).calleeRan;
                if (!ran) noteSeen_ = "the release was kept from the game";
                if (modelOn_) why = world_.keyEvent(k.vkey, k.scanCode, flags, ran);
            }
            lastEvent_ = Game::now();
            return why.empty() ? why : "the game is not what the player should see: " + why;
        }
        if (verb == "button" || verb == "wheel" || verb == "mouse") {
            const MouseRecord record = mouseRecord(w);
            const InputResult r = game_.mouseEvent(record.buttons, record.data);
            if (record.buttons != 0)
                noteSeen_ = r.seenButtonFlags == record.buttons ? "the game saw it"
                            : r.seenButtonFlags == 0            ? "taken over"
                                                                : "the game saw part of it";
            // After the settled checks, which select objects of their own, the model judges
            // nothing: not what reaches the game either.
            std::string why =
                modelOn_ ? world_.mouse(record.buttons, record.data, r.seenButtonFlags,
                                        static_cast<std::int16_t>(r.seenButtonData))
                         : std::string();
            if (!r.calleeRan) why = "the game's own processing of the mouse record did not run";
            lastEvent_ = Game::now();
            if (record.buttons & 0x000A) lastRelease_ = lastEvent_;
            return why.empty() ? why : "the game is not what the player should see: " + why;
        }
        if (verb == "console") {
            const bool wait = w[1] != "nowait";
            const std::string command = restAfter(step.text, wait ? 1 : 2);
            game_.runConsoleCommandOnConsoleThread(command);
            if (command == "tfp" || command == "ToggleFreeplot") world_.console();
            if (wait && !game_.waitForConsole()) return "the console command did not finish";
            return {};
        }
        if (verb == "wait") {
            Game::sleep(std::chrono::milliseconds(std::stoll(w[1], nullptr, 0)));
            return {};
        }
        if (verb == "ignore") {
            game_.setInputIgnore(w[2] == "on");
            world_.ignoreInput(w[2] == "on");
            return {};
        }
        if (verb == "main") {
            game_.setMainLoopTakes(w[2] == "resume");
            world_.mainLoop(w[2] == "resume");
            if (w[2] == "resume") resumed_ = Game::now();
            return {};
        }
        return expect(step);
    }

    std::string changeSetting(const std::string& section, const std::string& name,
                              const std::string& value) {
        model_.set(section, name, value);
        settings_ = model_.text();
        writeSettingsFile(settings_);
        return {};
    }

    // The settings file as the player's editor or system leaves it: cut short, with a raw line
    // or raw bytes added, without its last line break, saved as UTF-16, grown beyond what the
    // plugin reads, deleted, or unreadable. Unreadable is the path turned into a folder: its time
    // and size change, and every read of it fails, also for root (who runs the tests and reads
    // files whatever their modes say).
    std::string changeSettingsFile(const std::vector<std::string>& w) {
        const std::filesystem::path path = host::filePath(game_.settingsPath());
        const std::string& how = w[2];
        if (how == "gone" || how == "unreadable") {
            std::filesystem::remove_all(path);
            if (how == "unreadable") std::filesystem::create_directory(path);
            world_.settingsFile(std::nullopt, how == "gone");
            return {};
        }
        std::string text = game_.readFile(game_.settingsPath()).value_or("");
        if (std::filesystem::is_directory(path)) text.clear();
        if (how == "cut") {
            text = settings_.substr(0, static_cast<std::size_t>(std::stoll(w[3])));
        } else if (how == "line") {
            text += w[3] + "\n";
        } else if (how == "bytes") {
            for (std::size_t i = 3; i < w.size(); ++i)
                text += static_cast<char>(std::stoul(w[i], nullptr, 16));
        } else if (how == "utf16") {
            std::string wide;
            for (const char c : text)
                wide += w[3] == "le" ? std::string{c, '\0'} : std::string{'\0', c};
            text = wide;
        } else if (how == "size") {
            // A file already that large stays as it is.
            const auto size = static_cast<std::size_t>(std::stoll(w[3]));
            const std::size_t before = text.size();
            while (text.size() < size) text += "; " + std::string(97, '-') + "\n";
            if (before < size) text.resize(size);
        } else if (!text.empty() && text.back() == '\n') {
            text.pop_back();
            if (!text.empty() && text.back() == '\r') text.pop_back();
        }
        writeSettingsFile(text);
        return {};
    }

    void writeSettingsFile(const std::string& text) {
        const std::filesystem::path path = host::filePath(game_.settingsPath());
        if (std::filesystem::is_directory(path)) std::filesystem::remove_all(path);
        game_.writeFile(game_.settingsPath(), text);
        world_.settingsFile(text);
    }

    std::string createObject(const std::vector<std::string>& w) {
        RefLayout layout;
        for (int i = 0; i < 3; ++i)
            layout.position[i] = static_cast<float>(
                std::strtod(w[3 + static_cast<std::size_t>(i)].c_str(), nullptr));
        for (std::size_t i = 6; i < w.size(); ++i) {
            if (w[i] == "angles") {
                for (std::size_t a = 0; a < 3; ++a)
                    layout.rotation[a] = static_cast<float>(
                        std::strtod(w[i + 1 + a].c_str(), nullptr) / kDegreesPerRadian);
                i += 3;
            } else if (w[i] == "scale") {
                layout.scale = static_cast<std::uint16_t>(std::stoll(w[++i], nullptr, 0));
            } else if (w[i] == "actor") {
                layout.formType = 0x41;
                if (!layout.baseText) layout.baseText = "Settler";
            } else if (w[i] == "turret") {
                layout.formType = 0x41;
                layout.baseText = "Heavy Machinegun Turret";
            }
        }
        objects_[w[1]] = game_.createRef(layout);
        SeenObject seen;
        for (int i = 0; i < 3; ++i) {
            seen.position[i] = layout.position[i];
            seen.angles[i] = layout.rotation[i] * kDegreesPerRadian;
        }
        seen.scale = layout.scale;
        world_.addObject(w[1], seen, layout.formType == 0x41,
                         layout.baseText && layout.baseText->find("Turret") != std::string::npos);
        return {};
    }

    // The object by name, read while the game cannot let go of it; nullopt once it is gone.
    std::optional<RefLayout> loaded(const std::string& name) const {
        return game_.readRef(objects_.at(name).handle);
    }

    std::string expect(const ScenarioStep& step) {
        const auto& w = step.words;
        const std::string& what = w[1];
        if (what == "position" || what == "angles" || what == "scale") {
            if (!loaded(w[2])) return "the game has let go of " + w[2];
            const bool angles = what == "angles", scale = what == "scale";
            double want[3] = {};
            for (std::size_t i = 0; i < (scale ? 1u : 3u); ++i) want[i] = std::stod(w[3 + i]);
            std::string found;
            auto holds = [&] {
                const std::optional<RefLayout> ref = loaded(w[2]);
                if (!ref) {
                    found = "nothing: the game has let go of it";
                    return false;
                }
                const ObjectState now(*ref);
                char text[96];
                if (scale) {
                    std::snprintf(text, sizeof text, "%u", now.scale);
                    found = text;
                    return std::fabs(now.scale - want[0]) < 0.5;
                }
                const double* got = angles ? now.angles : now.position;
                std::snprintf(text, sizeof text, "%.3f %.3f %.3f", got[0], got[1], got[2]);
                found = text;
                for (int i = 0; i < 3; ++i)
                    if (std::fabs(got[i] - want[i]) > 0.01 &&
                        !(angles && std::fabs(std::fabs(got[i] - want[i]) - 360.0) <= 0.01))
                        return false;
                return true;
            };
            if (!game_.waitUntil(holds, kExpectDeadline)) return "found " + found;
            // The object's value from before the last event: a worker may still be about to
            // change it, so it must keep holding for as long as a worker takes to act.
            // Nothing was handed to the main loop then, so there is no taking to wait for.
            if (unchangedSinceEvent(w[2], what, want)) {
                const auto left = std::chrono::microseconds(
                    std::max<std::int64_t>(0, eventEnded_ + kUnchangedHold.count() * 1000 -
                                                  Game::now()));
                if (game_.waitUntil([&] { return !holds(); },
                                    std::chrono::duration_cast<std::chrono::milliseconds>(left)))
                    return "it changed after the expectation held: found " + found;
                return {};
            }
            // A scale shows once the game's main loop has taken the object: wait for that too
            // (if it comes), so the next step finds the worker done.
            if (scale && loaded(w[2])->formType != 0x41) {
                const std::string took =
                    "main loop took ref#" + std::to_string(objects_.at(w[2]).index) + " ";
                game_.waitUntil(
                    [&] {
                        for (const std::string& call : game_.calls(eventCalls_))
                            if (call.rfind(took, 0) == 0) return true;
                        return false;
                    },
                    kExpectDeadline);
            }
            return {};
        }
        if (what == "gone") {
            if (game_.waitUntil([&] { return !loaded(w[2]); }, kExpectDeadline)) return {};
            return "the game still holds " + w[2];
        }
        if (what == "message") {
            const std::size_t index = expectedMessages_;
            const bool came =
                game_.waitUntil([&] { return game_.messageCount() > index; }, kExpectDeadline);
            if (!came) return "no further message came";
            const std::string got = game_.messages(index).front();
            ++expectedMessages_;
            return got == w[2] ? std::string() : "the message was \"" + got + "\"";
        }
        if (what == "no") {
            // Any message during the whole wait fails it, not only one still there at its end.
            const std::size_t index = expectedMessages_;
            if (!game_.waitUntil([&] { return game_.messageCount() > index; }, kNoMessageWait))
                return {};
            return "a message came: \"" + game_.messages(index).front() + "\"";
        }
        if (what == "log") {
            const std::string root = game_.root();
            auto has = [&] {
                const auto lines = game_.logLines();
                for (std::size_t i = loggedBefore_; i < lines.size(); ++i) {
                    std::string line = lines[i];
                    for (std::size_t at; (at = line.find(windowsRoot())) != std::string::npos;)
                        line.replace(at, windowsRoot().size(), "<root>");
                    if (line == w[2]) return true;
                }
                return false;
            };
            if (game_.waitUntil(has, kExpectDeadline)) return {};
            return "the log has no such line";
        }
        if (what == "report") {
            // The settings report the plugin writes beside its log.
            const std::string path =
                game_.documentsDir() + "/My Games/Fallout4/F4SE/freeplot_settings.txt";
            bool exists = false;
            auto has = [&] {
                const std::optional<std::string> text = game_.readFile(path);
                exists = text.has_value();
                return exists && text->find(w[2]) != std::string::npos;
            };
            if (game_.waitUntil(has, kExpectDeadline)) return {};
            return exists ? "the settings report holds no such text"
                          : "there is no settings report beside the log";
        }
        if (what == "clock") {
            const double want = std::stod(w[2]);
            float got = 0.0f;
            auto holds = [&] {
                got = game_.timeMultiplier();
                return std::fabs(got - want) <= 0.001;
            };
            if (game_.waitUntil(holds, kExpectDeadline)) return {};
            char text[64];
            std::snprintf(text, sizeof text, "the clock's multiplier is %g", double{got});
            return text;
        }
        if (what == "bytes") return expectBytes(w);
        return settled();
    }

    // Whether `want` is what the object's position, angles or scale was when the last event
    // step began.
    bool unchangedSinceEvent(const std::string& name, const std::string& what,
                             const double* want) const {
        const auto b = before_.find(name);
        if (b == before_.end()) return false;
        if (what == "scale") return std::fabs(b->second.scale - want[0]) < 0.5;
        const double* had = what == "angles" ? b->second.angles : b->second.position;
        for (int i = 0; i < 3; ++i) {
            const double off = std::fabs(had[i] - want[i]);
            if (off > 0.01 && !(what == "angles" && std::fabs(off - 360.0) <= 0.01)) return false;
        }
        return true;
    }

    // The code bytes at a site of the game, from an offset into it.
    std::string expectBytes(const std::vector<std::string>& w) {
        const auto& sites = detail::watchedSites();
        const auto site = std::find_if(sites.begin(), sites.end(),
                                       [&](const detail::SiteInfo& s) { return s.name == w[2]; });
        if (site == sites.end()) return "the game has no site named " + w[2];
        const auto offset = static_cast<std::uint32_t>(std::stoll(w[3], nullptr, 0));
        const std::size_t count = w.size() - 4;
        if (offset + count > site->length)
            return "the site is " + std::to_string(site->length) + " bytes long";
        std::vector<std::uint8_t> want;
        for (std::size_t i = 4; i < w.size(); ++i)
            want.push_back(static_cast<std::uint8_t>(std::stoul(w[i], nullptr, 16)));
        std::vector<std::uint8_t> got;
        auto holds = [&] {
            got = Game::bytes(site->offset + offset, count);
            return got == want;
        };
        if (game_.waitUntil(holds, kExpectDeadline)) return {};
        std::string found = "found";
        for (std::uint8_t b : got) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02X", b);
            found += hex;
        }
        return found;
    }

    // The session root as the plugin names it: a POSIX root on drive Z:, as Wine shows it; the
    // Windows host's root is a Windows path already.
    std::string windowsRoot() const {
        const bool posix = !game_.root().empty() && game_.root()[0] == '/';
        std::string root = posix ? "Z:" + game_.root() : game_.root();
        std::replace(root.begin(), root.end(), '/', '\\');
        return root;
    }

    // --- The notes of the event steps ----------------------------------------------------------

    // Called before the step runs: the note compares with the object as it was then.
    void beginNote(const ScenarioStep& step) {
        pending_ = true;
        noteSeen_.clear();
        noteKey_ = step.text;
        noteWhat_ = step.comment;
        noteShown_ = game_.messageCount();
        noteObject_ = selected_;
        noteBefore_.reset();
        if (auto ref = noteObject_.empty() ? std::nullopt : loaded(noteObject_))
            noteBefore_ = ObjectState(*ref);
    }

    // What the last event step led to, up to the next one: the messages it showed and what
    // changed on the object that was selected.
    void finishNote() {
        if (!pending_) return;
        pending_ = false;
        std::string text = noteWhat_.empty() ? std::string() : noteWhat_ + ": ";
        if (!noteSeen_.empty()) text += noteSeen_ + "; ";
        for (const std::string& message : game_.messages(noteShown_))
            text += "shows \"" + message + "\"; ";
        const auto ref = noteObject_.empty() ? std::nullopt : loaded(noteObject_);
        if (!ref || !noteBefore_) {
            text += noteObject_.empty() ? "nothing is selected" : noteObject_ + " is gone";
        } else {
            const ObjectState after(*ref);
            const std::string changes = after.changesSince(*noteBefore_);
            text += changes.empty() ? "the object is unchanged: " : changes + "; now ";
            text += after.text();
        }
        game_.note(noteKey_, text);
    }

    // --- The model ------------------------------------------------------------------------------

    // What the player sees now.
    Seen observe() const {
        Seen seen;
        for (const auto& [name, ref] : objects_) {
            const std::optional<RefLayout> layout = game_.readRef(ref.handle);
            if (!layout) {
                seen.objects[name] = std::nullopt;
                continue;
            }
            const ObjectState state(*layout);
            SeenObject o;
            std::copy(std::begin(state.position), std::end(state.position), o.position);
            std::copy(std::begin(state.angles), std::end(state.angles), o.angles);
            o.scale = static_cast<int>(state.scale);
            seen.objects[name] = o;
        }
        seen.messages = game_.messages();
        // The console thread writes code of its own; what it writes is read once it is done.
        seen.consoleIdle = game_.consoleIdle();
        if (seen.consoleIdle &&
            !detail::sitesAsSwitched(seen.codeTorn, &seen.groups, &seen.snapOverride))
            seen.groups.clear();
        seen.snapDistance = Game::value<float>(loc::snapDistance);
        seen.surfaceSnap = Game::value<float>(loc::surfaceSnapValue);
        seen.gridSnap = Game::value<std::uint8_t>(loc::gridSnapSetting);
        seen.clock = game_.timeMultiplier();
        seen.micros = Game::now();
        return seen;
    }

    // Compares the game with the model after a step. The plugin's threads may be half-way through
    // something the step started (a switch written site by site, a worker between two commands),
    // so a mismatch is looked at again for a moment before it counts; at "expect settled" the
    // plugin has two seconds to finish everything it can finish.
    std::string checkModel(bool settled) {
        if (!modelOn_) return {};
        ++compared_;
        const auto patience = std::chrono::milliseconds(settled ? 2000 : 300);
        const std::int64_t until = Game::now() + patience.count() * 1000;
        std::string why = world_.compare(observe(), settled);
        while (!why.empty() && Game::now() < until) {
            Game::sleep(std::chrono::milliseconds(5));
            why = world_.compare(observe(), settled);
        }
        // The settled checks then play with objects and keys of their own.
        if (settled) modelOn_ = false;
        return why.empty() ? why : "the game is not what the player should see: " + why;
    }

    // Whether the scenario's last stay is kept and replayed: one that is a kept stay itself is
    // not, nor one without an event (no stay can have kept anything).
    bool keepsStay() const {
        return !scenario_.keptStay &&
               std::any_of(scenario_.steps.begin(), scenario_.steps.end(),
                           [](const ScenarioStep& s) { return isEvent(s.words[0]); });
    }

    // --- The settings report --------------------------------------------------------------------

    // After a step in which the model says the plugin read the settings file (the game's start,
    // the first event of a stay that looked at a changed file), waits until the report beside the
    // log is the one of that reading, and compares the settings it says are in force with the
    // model's. The report is written on a worker, into a new file that replaces the last: the one
    // compared is marked with a time an hour before it was written, which no report of the
    // plugin has, so the next one is told from it whatever its text.
    std::string checkReport() {
        const std::vector<Model::SettingsReading> readings = world_.readings();
        const Model::SettingsReading& first = readings.front();
        for (const Model::SettingsReading& r : readings)
            if (r.count != first.count || r.kind != first.kind) return {};  // not settled yet
        if (first.count == reportsCompared_) return {};
        const std::string path =
            game_.documentsDir() + "/My Games/Fallout4/F4SE/freeplot_settings.txt";
        std::string why = "there is no settings report beside the log";
        // Read only once it is there whole: the plugin cannot replace a file being read.
        auto written = [&] {
            const std::optional<std::int64_t> time = host::writtenTime(path);
            if (!time) return false;
            if (*time == comparedTime_) {
                why = "the settings report was not written again after this reading";
                return false;
            }
            const std::optional<std::string> text = host::readShared(path);
            why = text ? reportDiffers(*text, readings) : why;
            return text && why.empty();
        };
        static constexpr const char* kOf[] = {"of the game's start", "of the file read again",
                                              "of the file not taken"};
        if (!game_.waitUntil(written, kReportDeadline))
            return std::string("the settings report ") + kOf[first.kind] +
                   " is not what the model read: " + why;
        reportsCompared_ = first.count;
        if (host::writeTimeBack(path)) comparedTime_ = host::writtenTime(path).value_or(-1);
        return {};
    }

    // --- Settled --------------------------------------------------------------------------------

    std::string settled() {
        std::string why;
        if (!noLateTurns(why)) return why;
        // The stay ends before the checks play with objects and keys of their own.
        if (!stayKept_ && keepsStay()) {
            // The checks' keys act under what the stay after it reads: the model sees the event
            // outside workshop mode that ends this one.
            keepStay(game_);
            world_.workshop(false);
            world_.mouse(0, 0, 0, 0);
            world_.workshop(true);
        }
        stayKept_ = true;
        if (!workersFree(why) || !codeAsSwitched(why)) return why;
        return {};
    }

    // No turn later than a second after the last button release (and the last event).
    bool noLateTurns(std::string& why) {
        if (lastRelease_ < 0) return true;
        const std::int64_t quietFrom = std::max(lastRelease_, lastEvent_) + 1'000'000;
        while (Game::now() < quietFrom + 100'000) Game::sleep(std::chrono::milliseconds(20));
        for (const Timed& call : game_.timedCalls()) {
            if (call.micros > quietFrom &&
                call.text.rfind("runAxisCommand(context, 0x1009", 0) == 0) {
                why = "a turn came " + std::to_string((call.micros - lastRelease_) / 1000) +
                      " ms after the last button release: " + call.text;
                return false;
            }
        }
        return true;
    }

    // Every worker takes work again within two seconds once the main loop takes: a scale, a
    // delete (when deleting is on) and a held-button turn (when the wheel is off) on fresh objects.
    bool workersFree(std::string& why) {
        game_.setMainLoopTakes(true);
        game_.setWorkshopMode(true);
        game_.setInputIgnore(false);
        game_.setWorkshopState(0);
        game_.mouseEvent(0x0002);
        game_.mouseEvent(0x0008);
        auto probe = [&](const char* what, std::uint16_t vkey,
                         const std::function<bool(const Ref&)>& ran) {
            RefLayout layout;
            const Ref ref = game_.createRef(layout);
            game_.selectRef(ref.handle);
            bool ok = false;
            if (vkey) {
                // A release first: the scenario may have left the key pressed where the game had
                // it, and such a key stays the game's until it is let go. A worker still busy with
                // the scenario's last step ignores the key: it is pressed again until the
                // deadline, since what counts is that the worker takes work within it.
                const auto until = std::chrono::steady_clock::now() + kExpectDeadline;
                do {
                    game_.keyRelease(vkey);
                    game_.keyPress(vkey);
                    game_.keyRelease(vkey);
                    ok = game_.waitUntil([&] { return ran(ref); }, kProbeAgain);
                } while (!ok && std::chrono::steady_clock::now() < until);
            } else {
                game_.mouseEvent(0x0001);
                ok = game_.waitUntil([&] { return ran(ref); }, kExpectDeadline);
            }
            if (!vkey) game_.mouseEvent(0x0002);
            if (!ok) why = std::string("the ") + what + " worker did not take work within 2 s";
            return ok;
        };
        auto calledOn = [&](const std::string& prefix, const Ref& ref) {
            const std::string name = "ref#" + std::to_string(ref.index);
            for (const std::string& c : game_.calls())
                if (c.rfind(prefix, 0) == 0 && c.find(name) != std::string::npos) return true;
            return false;
        };
        // Keys the settings in force give the actions (the player may have bound them anew, and
        // the game may be in states whose settings differ: any of their keys may act).
        const Model::Probes keys = world_.probes();
        auto anyKey = [&](const char* what, const std::vector<std::uint16_t>& codes, bool optional,
                          const std::function<bool(const Ref&)>& ran) {
            for (std::uint16_t code : codes)
                if (probe(what, code, ran)) return true;
            return optional;
        };
        // The game asked to scale the object: with a step of 0 or below in force the key leaves
        // its scale as it is, but the worker takes the work all the same.
        if (!anyKey("scale", keys.scaleKeys, keys.scaleOptional, [&](const Ref& r) {
                const std::string call =
                    "runAxisCommand(context, 0x113C, ref#" + std::to_string(r.index) + ",";
                return calledOn(call, r);
            }))
            return false;
        if (!anyKey("delete", keys.deleteKeys, keys.deleteOptional,
                    [&](const Ref& r) { return calledOn("refCommandExecute2(", r); }))
            return false;
        if (keys.wheelRotation == false && !probe("held-button", 0, [&](const Ref& r) {
                return calledOn("runAxisCommand(context, 0x1009", r);
            }))
            return false;
        game_.selectRef(0);
        return true;
    }

    bool codeAsSwitched(std::string& why) {
        return Game::codePagesAsLaid(why) && detail::sitesAsSwitched(why);
    }

    Game& game_;
    const Scenario& scenario_;
    std::map<std::string, Ref> objects_;
    std::string selected_;
    std::size_t expectedMessages_ = 0;
    std::size_t eventCalls_ = 0;                 // the calls recorded before the last event step
    std::map<std::string, ObjectState> before_;  // the objects when the last event step began
    std::size_t loggedBefore_ = 0;  // the log lines before the last step that is no expectation
    SettingsModel model_;
    std::string settings_;
    Model world_{settings_.empty() ? std::nullopt : std::optional<std::string>(settings_),
                 !scenario_.heldAtLoad};
    bool modelOn_ = true, stayKept_ = false;
    std::size_t compared_ = 0;
    // The readings of the settings file whose report was compared, and the time the last one
    // compared was marked with.
    int reportsCompared_ = 0;
    std::int64_t comparedTime_ = -1;
    std::int64_t lastRelease_ = -1, lastEvent_ = -1, resumed_ = -1, eventEnded_ = -1;
    bool pending_ = false;
    std::string noteKey_, noteWhat_, noteObject_, noteSeen_;
    std::size_t noteShown_ = 0;
    std::optional<ObjectState> noteBefore_;
};

}  // namespace

void playInSession(Game& game, const Scenario& scenario, const std::string& settings) {
    Player(game, scenario, settings).run();
}

PlayOutcome playScenario(const Scenario& scenario, Options options) {
    const Options base = options;
    // Without setting lines the session keeps the settings file of `options` (none by default).
    if (scenario.hasSettings()) options.settings = scenario.settingsText();
    options.script = nullptr;
    // The game's own input routine runs once per event whatever the plugin does, on the input
    // thread beside the plugin's workers: the notes say what it saw instead.
    options.recordInputCallees = false;
    options.scenarioText = scenario.source;
    options.scenarioName = scenario.name;
    PlayOutcome outcome;
    outcome.transcript = run(options);
    const Transcript& t = outcome.transcript;
    if (auto failed = t.note("scenario failed")) {
        outcome.failure = *failed;
    } else if (!t.completed) {
        outcome.failure = scenario.name + ": the session " + t.ending +
                          (t.lastStep > 0 ? " at or after line " + std::to_string(t.lastStep) : "");
        for (const std::string& e : t.errors) outcome.failure += "; " + e;
    }
    if (!scenario.keptStay) replayKeptStays(outcome, base);
    return outcome;
}

}  // namespace sim
