// A kept stay rendered as a scenario file that the simulated game plays (sim/README.md): the
// settings file as the stay read it, the keys that bring a fresh game to the stay's start, the
// objects, the events in order, and at the end what the stay left each object as.

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "common/version.h"
#include "config/keynames.h"
#include "config/reading.h"
#include "input/stay_record.h"

namespace freeplot::stay {
namespace {

// The longest wait written between two events: longer pauses only slow the replay down.
constexpr std::uint32_t kLongestWait = 1000;

// A scenario file names every finite float (in degrees, every angle whose radians a float holds),
// but no NaN or infinity, which a game may hold all the same.
bool writable(double v) { return std::isfinite(v); }

// The shortest text that reads back as the same float.
std::string real(float v) {
    char text[48];
    for (int digits = 6; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, double{v});
        if (static_cast<float>(std::strtod(text, nullptr)) == v) break;
    }
    return text;
}

// The shortest degrees that a scenario file's reader (degrees to radians, as a float) turns back
// into these radians.
std::string angle(float radians) {
    char text[48];
    const double degrees = double{radians} * kDegreesPerRadian;
    for (int digits = 6; digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, degrees);
        if (static_cast<float>(std::strtod(text, nullptr) / kDegreesPerRadian) == radians) break;
    }
    return text;
}

bool writable(const Place& p) {
    for (int i = 0; i < 3; ++i)
        if (!writable(p.position[i]) || !writable(double{p.rotation[i]} * kDegreesPerRadian))
            return false;
    return true;
}

// A value no file can name is written as 0: the file then expects nothing of the objects (the
// comment under its expectations says why).
std::string placeText(const Place& p) {
    std::string out = "at";
    for (float v : p.position) out += " " + (writable(v) ? real(v) : "0");
    out += " angles";
    for (float v : p.rotation) out += " " + (writable(v) ? angle(v) : "0");
    return out + " scale " + std::to_string(p.scale);
}

// A key as a scenario file names it: by the name the settings checker prints, when that name
// reads back as this code, else by its code.
std::string keyText(std::uint16_t code) {
    const char* name = keyName(code);
    if (name) {
        auto lower = [](std::string s) {
            for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            return s;
        };
        std::uint32_t first = 1;
        while (first < 256 && !(keyName(first) && lower(keyName(first)) == lower(name))) ++first;
        if (first == code) return name;
    }
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", code);
    return text;
}

std::string mouseText(std::uint16_t buttons, std::int16_t data) {
    static constexpr const char* kButtons[] = {"left", "right", "middle", "x1", "x2"};
    const int notches = data / 120;
    const std::uint16_t changes = buttons & 0x3FF;
    if (changes == 0) return "wheel " + std::to_string(notches);
    std::string out = "mouse";
    for (int i = 0; i < 5; ++i)
        for (int up = 0; up < 2; ++up)
            if (changes & (1u << (2 * i + up)))
                out += std::string(" ") + kButtons[i] + (up ? " up" : " down");
    if (buttons & 0x0400) out += " wheel " + std::to_string(notches);
    // One change alone reads as the shorter step.
    if (out.rfind("mouse left ", 0) == 0 || out.rfind("mouse right ", 0) == 0)
        if (std::count(out.begin(), out.end(), ' ') == 2) return "button" + out.substr(5);
    return out;
}

// The settings file's bytes as lines of a scenario file: a line of plain text quoted, anything
// else (control bytes, an unterminated last line) as bytes.
void settingsLines(const std::string& bytes, std::string& out) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t end = bytes.find('\n', at);
        std::string line = bytes.substr(at, end == std::string::npos ? std::string::npos : end - at);
        const bool ended = end != std::string::npos;
        const bool crlf = ended && !line.empty() && line.back() == '\r';
        if (crlf) line.pop_back();
        bool plain = ended && line.size() <= 2000;
        for (const char c : line) plain = plain && static_cast<unsigned char>(c) >= 0x20 && c != 0x7F;
        if (plain) {
            out += "settings start line \"";
            for (const char c : line) out += (c == '"' || c == '\\') ? std::string{'\\', c} : std::string{c};
            out += crlf ? "\" crlf\n" : "\"\n";
        } else {
            const std::string raw = bytes.substr(at, ended ? end - at + 1 : std::string::npos);
            for (std::size_t i = 0; i < raw.size(); i += 1000) {
                out += "settings start bytes";
                for (std::size_t j = i; j < raw.size() && j < i + 1000; ++j) {
                    char hex[4];
                    std::snprintf(hex, sizeof hex, " %02X", static_cast<unsigned char>(raw[j]));
                    out += hex;
                }
                out += "\n";
            }
        }
        at = ended ? end + 1 : bytes.size();
    }
}

const char* reasonText(std::uint8_t why) {
    if (why & why::hold) return "a held mouse button turned it, as many times as the machine's timing gave";
    if (why & why::worker) return "a key found the scale or delete worker busy, which a replay may not";
    if (why & why::history)
        return "an undo or redo reached changes made before this file begins, which a replay does "
               "not hold";
    if (why & why::range)
        return "a place no scenario file can name (not a number, or infinite) came into play";
    if (why & why::stored) return "it was given parameters stored before this file begins";
    if (why & why::unreached)
        return "the stay began in a state (named above) that no key of this file brings back";
    if (why & why::togglable)
        return "a key bound to the freeplot key and more acts by togglable, which the replay reads "
               "from this file";
    return "this file begins while a worker was busy";
}

const char* const kStateNames[state::count] = {
    "freeplot mode", "object snap", "surface snap", "the workshop timeout",
    "the object outline", "the storing of clamped objects", "the extra object selection",
    "the workshop grid snap", "the rotate step", "the move step", "the scale step",
    "the rotation axis"};

}  // namespace

std::string render(const Kept& kept) {
    std::string out = "# Freeplot: a stay in workshop mode, kept as a scenario file (stay " +
                      std::to_string(kept.number) + " since the game started; Freeplot " +
                      kVersion + ").\n";
    out +=
        "# Attach it to a bug report: anyone can play it in Freeplot's simulated game with\n"
        "#   freeplot-sim play freeplot_session.txt\n"
        "# which presses the keys and the mouse as the stay did, and checks at the end that the\n"
        "# objects are where the stay left them.\n";
    if (kept.tooManyObjects) {
        out += "# The stay handled more than " + std::to_string(kMostObjects) +
               " objects: it is not kept.\n";
        return out;
    }
    const Start& s = kept.start;
    if (s.settingsRead)
        out += "# The stay read the settings file again only after " +
               std::to_string(s.eventsLeftOut) +
               " events (a worker was busy when it began): those are left out.\n";
    else if (s.eventsLeftOut > 0)
        out += "# The stay's first " + std::to_string(s.eventsLeftOut) +
               " events are left out: a stay keeps its last " + std::to_string(kMostEntries) +
               " steps or so.\n";
    const bool read = kept.reading && kept.reading->read() && !kept.reading->file.bytes.empty();
    if (read) {
        out += "\n# The settings file as the stay read it.\n";
        settingsLines(kept.reading->file.bytes, out);
    } else {
        out += "# The game had no settings file it read: every setting has its default.\n";
    }
    if (kept.fileTogglable != kept.gameTogglable)
        out += "# The game started with togglable " + std::to_string(kept.gameTogglable) +
               ", which this file does not give: the console command and the freeplot key act "
               "by the file's.\n";

    // Names by the order in which the file first shows each object.
    std::map<std::int32_t, std::string> names;
    auto name = [&](std::int32_t object) {
        const auto it = names.find(object);
        return it == names.end() ? std::string() : it->second;
    };
    auto define = [&](std::int32_t object, const Place& place) {
        const std::string n = "o" + std::to_string(names.size() + 1);
        names[object] = n;
        const Seen& o = kept.objects[static_cast<std::size_t>(object)];
        out += "object " + n + " " + placeText(place) +
               (o.turret ? " turret" : o.actor ? " actor" : "") + "\n";
    };
    bool outOfRange = false;

    out += "\n# Where the part kept begins: the heading, and keys that bring a game started with\n"
           "# this settings file to the building rules, steps and rotation axis of then.\n";
    if (s.headingKnown && writable(double{s.heading} * kDegreesPerRadian))
        out += "heading " + angle(s.heading) + "\n";
    if (s.console) out += "console tfp\n";
    for (const PrologueKey& k : s.keys) {
        out += "# " + std::string(kStateNames[k.what]) + "\n";
        for (int n = 0; n < k.presses; ++n) out += "key " + keyText(k.code) + "\n";
    }
    for (std::uint8_t what = 0; what < state::count; ++what)
        if (s.unreachable & (1u << what))
            out += "# (" + std::string(kStateNames[what]) +
                   " was otherwise: no key of this file reaches it)\n";
    if (s.locked) out += "# (the object lock was on)\n";
    if (s.slowClock) out += "# (the clock was slowed by the timescale key)\n";
    if (s.stored) {
        Place p;
        const float values[] = {s.params.posX, s.params.posY, s.params.posZ};
        const float angles[] = {s.params.angleX, s.params.angleY, s.params.angleZ};
        for (int i = 0; i < 3; ++i) {
            p.position[i] = values[i];
            p.rotation[i] = static_cast<float>(angles[i] / kDegreesPerRadian);
        }
        p.scale = static_cast<std::uint16_t>(std::lround(s.params.scale * 100.0f));
        outOfRange = outOfRange || !writable(p);
        out += "# The parameters stored then, stored again from an object of their own.\n";
        out += "object stored " + placeText(p) + "\nselect stored\nkey " + keyText(s.storeKey) +
               "\nselect none\n";
    }
    for (const Start::At& at : s.objects) {
        outOfRange = outOfRange || !writable(at.place);
        define(at.object, at.place);
    }
    for (const std::uint16_t code : s.kept) out += "press " + keyText(code) + "\n";

    out += "\n# The stay.\n";
    for (std::size_t i = 0; i < kept.entries.size(); ++i) {
        const Entry& e = kept.entries[i];
        auto waitFor = [&](const Entry& event) {
            const std::uint32_t wait =
                std::max(std::min(event.millis, kLongestWait), event.atLeast);
            return wait >= 2 ? "wait " + std::to_string(wait) + "\n" : std::string();
        };
        switch (e.kind) {
            case Entry::press:
            case Entry::release: {
                out += waitFor(e);
                const Entry* next = i + 1 < kept.entries.size() ? &kept.entries[i + 1] : nullptr;
                if (e.kind == Entry::press && next && next->kind == Entry::release &&
                    next->code == e.code && waitFor(*next).empty()) {
                    out += "key " + keyText(e.code) + "\n";
                    ++i;
                } else {
                    out += (e.kind == Entry::press ? "press " : "release ") + keyText(e.code) + "\n";
                }
                break;
            }
            case Entry::mouse:
                out += waitFor(e) + mouseText(e.code, e.data) + "\n";
                break;
            case Entry::define:
                outOfRange = outOfRange || !writable(e.place);
                define(e.object, e.place);
                break;
            case Entry::select:
                out += "select " + (name(e.object).empty() ? "none" : name(e.object)) + "\n";
                break;
            case Entry::unload:
                if (!name(e.object).empty()) out += "unload " + name(e.object) + "\n";
                break;
            case Entry::heading:
                if (writable(double{e.place.rotation[2]} * kDegreesPerRadian))
                    out += "heading " + angle(e.place.rotation[2]) + "\n";
                else
                    outOfRange = true;
                break;
            case Entry::busy:
                out += std::string("workshop busy ") + (e.flag ? "on" : "off") + "\n";
                break;
            case Entry::ignore:
                out += std::string("ignore input ") + (e.flag ? "on" : "off") + "\n";
                break;
            case Entry::console:
                out += kept.fileTogglable == 1 || kept.fileTogglable == 2
                           ? "console tfp\n"
                           : "# (freeplot mode switched by the console command)\n";
                break;
        }
    }

    out += "\n# Where the stay left the objects (after the time a worker takes to act).\nwait 700\n";
    std::string notes;
    for (const auto& [object, n] : names) {
        const std::size_t i = static_cast<std::size_t>(object);
        const Seen& o = kept.objects[i];
        if (!kept.there[i] && !o.deleting && !o.goneSaid) out += "unload " + n + "\n";
    }
    for (const auto& [object, n] : names) {
        const std::size_t i = static_cast<std::size_t>(object);
        const Seen& o = kept.objects[i];
        std::uint8_t inexact = o.inexact[0], why = o.why[0];
        if (outOfRange) {
            inexact = part::all;
            why |= why::range;
        }
        // A change made under a state the replay cannot reach may land elsewhere in the replay.
        // Under the object lock, which the replay does not bring back, any object may be the one
        // a key changed, whichever was selected.
        if ((s.unreachable != 0 && o.changed[0]) || s.locked) {
            inexact = part::all;
            why |= why::unreached;
        }
        const Place& p = kept.places[i];
        if (!kept.there[i]) {
            if (!(inexact & part::there)) out += "expect gone " + n + "\n";
        } else {
            char text[256];
            const bool position = writable(p.position[0]) && writable(p.position[1]) &&
                                  writable(p.position[2]);
            if (!(inexact & part::position) && position) {
                std::snprintf(text, sizeof text, "expect position %s %.4f %.4f %.4f\n", n.c_str(),
                              double{p.position[0]}, double{p.position[1]}, double{p.position[2]});
                out += text;
            }
            double degrees[3];
            for (int a = 0; a < 3; ++a) degrees[a] = double{p.rotation[a]} * kDegreesPerRadian;
            const bool angles = writable(degrees[0]) && writable(degrees[1]) && writable(degrees[2]);
            if (!(inexact & part::angles) && angles) {
                std::snprintf(text, sizeof text, "expect angles %s %.4f %.4f %.4f\n", n.c_str(),
                              degrees[0], degrees[1], degrees[2]);
                out += text;
            }
            if (!(inexact & part::scale))
                out += "expect scale " + n + " " + std::to_string(p.scale) + "\n";
            if (!position || !angles) {
                inexact |= position ? part::angles : part::position;
                why |= why::range;
            }
        }
        if (kept.there[i] ? (inexact & ~part::there) != 0 : (inexact & part::there) != 0)
            notes += "# " + n + ": not all of it is expected: " + reasonText(why) + ".\n";
    }
    return out + notes;
}

}  // namespace freeplot::stay
