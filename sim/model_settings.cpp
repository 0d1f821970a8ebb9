// The model's reading of the settings file (model_settings.h), written from docs/settings-file.md
// in its order: the file, its lines, the values, the sections, the key bindings, the messages, the
// step lists, and what the report finds. It shares no code with the plugin's reader.

#include "sim/model_settings.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <type_traits>

namespace sim {
namespace {

bool space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && space(text.front())) text.remove_prefix(1);
    while (!text.empty() && space(text.back())) text.remove_suffix(1);
    return text;
}

bool onlySpace(std::string_view text) { return trim(text).empty(); }

// Where `text` holds one of `stops` from `from` on, or a ';' after white space (a comment);
// npos when neither comes.
std::size_t stopOrComment(std::string_view text, std::size_t from, const char* stops) {
    for (std::size_t i = from; i < text.size(); ++i) {
        if (std::strchr(stops, text[i]) && text[i] != '\0') return i;
        if (text[i] == ';' && i > from && space(text[i - 1])) return i;
    }
    return std::string_view::npos;
}

// --- The file and its lines ----------------------------------------------------------------------

// The names each section holds and their values. Sections and names are matched in lower case; a
// name given again, or continued on an indented line, adds its value after a line feed.
struct Lines {
    std::map<std::pair<std::string, std::string>, std::string> values;
    // The names as written, by section in lower case.
    std::set<std::pair<std::string, std::string>> written;
    bool findings = false;  // a line the report names whatever the values

    const std::string* value(const char* section, std::string_view name) const {
        const auto it = values.find({section, lower(name)});
        return it == values.end() ? nullptr : &it->second;
    }
};

void addValue(Lines& lines, const std::string& section, const std::string& name,
              std::string_view value) {
    std::string& text = lines.values[{section, name}];
    if (!text.empty()) text += '\n';
    text += value;
}

// A value as an entry or a continuation line holds it: up to an inline comment (the white space
// before the value counts), without the white space around it.
std::string_view valueOf(std::string_view text) {
    return trim(text.substr(0, std::min(text.size(), stopOrComment(text, 0, ""))));
}

Lines linesOf(std::string_view file) {
    Lines out;
    if (file.substr(0, 3) == "\xEF\xBB\xBF") file.remove_prefix(3);
    std::string section, name;  // name: the last entry's since the section line
    bool entry = false;
    while (!file.empty()) {
        const std::size_t end = std::min(file.find('\n'), file.size());
        std::string_view line = file.substr(0, end);
        file.remove_prefix(std::min(end + 1, file.size()));
        // A CR before the line feed is white space; one elsewhere ends no line.
        const std::size_t cr = line.find('\r');
        if (cr != std::string_view::npos && cr + 1 < line.size()) out.findings = true;
        if (const std::size_t nul = line.find('\0'); nul != std::string_view::npos) {
            out.findings = true;
            line = line.substr(0, nul);
        }
        if (line.size() > 199) {
            if (line.size() > 200 || line.back() != '\r') out.findings = true;
            line = line.substr(0, 199);
        }
        const bool indented = !line.empty() && space(line.front());
        line = trim(line);
        if (line.empty() || line.front() == ';' || line.front() == '#') continue;
        if (indented && entry) {
            out.findings = true;  // a continuation line
            addValue(out, section, name, valueOf(line));
            continue;
        }
        if (line.front() == '[') {
            const std::size_t close = stopOrComment(line, 1, "]");
            if (close == std::string_view::npos || line[close] != ']') {
                out.findings = true;  // a bad line
                continue;
            }
            entry = false;
            section = lower(line.substr(1, std::min<std::size_t>(close - 1, 49)));
            // Text after the ']' other than a comment is dropped, and the report says so.
            const std::string_view after = trim(line.substr(close + 1));
            if (!after.empty() && after.front() != ';' && after.front() != '#') out.findings = true;
            continue;
        }
        const std::size_t sep = line.find_first_of("=:");
        if (sep == std::string_view::npos) {
            out.findings = true;  // a bad line
            continue;
        }
        const std::string_view written = trim(line.substr(0, sep));
        name = lower(written);
        entry = true;
        if (out.values.count({section, name})) out.findings = true;  // given twice
        out.written.insert({section, std::string(written)});
        addValue(out, section, name, valueOf(line.substr(sep + 1)));
    }
    return out;
}

// --- The values ----------------------------------------------------------------------------------

// A whole number as strtol with base 0 reads it, brought into 32 bits; nullopt without a digit.
std::optional<long> whole(const std::string& text, int base = 0) {
    char* end = nullptr;
    const long long n = std::strtoll(text.c_str(), &end, base);
    if (end == text.c_str()) return std::nullopt;
    return static_cast<long>(std::clamp<long long>(n, INT32_MIN, INT32_MAX));
}

// A leading 0 that reads a number as octal where decimal reads another.
bool octalSurprise(const std::string& text) {
    std::string_view digits = trim(text);
    if (!digits.empty() && (digits.front() == '-' || digits.front() == '+'))
        digits.remove_prefix(1);
    return digits.size() > 1 && digits[0] == '0' &&
           std::isdigit(static_cast<unsigned char>(digits[1])) && whole(text, 0) != whole(text, 10);
}

std::optional<bool> onOff(const std::string& text) {
    const std::string word = lower(text);
    for (const char* on : {"true", "yes", "on", "1"})
        if (word == on) return true;
    for (const char* off : {"false", "no", "off", "0"})
        if (word == off) return false;
    return std::nullopt;
}

// --- Key bindings --------------------------------------------------------------------------------

// The key names by code, a run of codes to a line, as the document's table gives them.
struct NameRun {
    std::uint16_t first;
    const char* names;  // '|' between codes; an empty name for a code without one
};
// clang-format off
constexpr NameRun kKeyNames[] = {
    {0x01, "Left mouse button|Right mouse button|Control-break|Middle mouse button|Mouse button 4|Mouse button 5"},
    {0x08, "Backspace|Tab"}, {0x0C, "Clear|Enter"},
    {0x10, "Shift|Ctrl|Alt|Pause|Caps Lock|IME Kana/Hangul|IME On|IME Junja|IME Final|IME Hanja/Kanji|IME Off"},
    {0x1B, "Esc|IME Convert|IME Nonconvert|IME Accept|IME Mode change"},
    {0x20, "Space|Page Up|Page Down|End|Home|Left arrow|Up arrow|Right arrow|Down arrow"},
    {0x29, "Select|Print|Execute|Print Screen|Insert|Delete|Help"},
    {0x30, "0|1|2|3|4|5|6|7|8|9"},
    {0x41, "A|B|C|D|E|F|G|H|I|J|K|L|M|N|O|P|Q|R|S|T|U|V|W|X|Y|Z"},
    {0x5B, "Left Windows|Right Windows|Menu||Sleep"},
    {0x60, "Numpad 0|Numpad 1|Numpad 2|Numpad 3|Numpad 4|Numpad 5|Numpad 6|Numpad 7|Numpad 8|Numpad 9"},
    {0x6A, "Numpad *|Numpad +|Numpad separator|Numpad -|Numpad .|Numpad /"},
    {0x70, "F1|F2|F3|F4|F5|F6|F7|F8|F9|F10|F11|F12|F13|F14|F15|F16|F17|F18|F19|F20|F21|F22|F23|F24"},
    {0x90, "Num Lock|Scroll Lock"},
    {0xA0, "Left Shift|Right Shift|Left Ctrl|Right Ctrl|Left Alt|Right Alt|Browser Back|Browser Forward|"
           "Browser Refresh|Browser Stop|Browser Search|Browser Favorites|Browser Home|Volume Mute|"
           "Volume Down|Volume Up|Next Track|Previous Track|Stop Media|Play/Pause Media|Start Mail|"
           "Select Media|Start Application 1|Start Application 2"},
    {0xBA, "Semicolon key|= key|, key|- key|. key|/ key|` key"},
    {0xDB, "[ key|\\ key|] key|' key|OEM 8 key"},
    {0xE2, "< > key (102-key keyboards)"}, {0xE5, "IME Process"},
    {0xF6, "Attn|CrSel|ExSel|Erase EOF|Play|Zoom||PA1|OEM Clear"},
};
// clang-format on

// A name without its spaces, in lower case: the form names are matched in.
std::string bare(std::string_view name) {
    std::string out;
    for (char c : lower(name))
        if (c != ' ') out += c;
    return out;
}

// The code a key's name names; 0 for none.
std::uint16_t codeOfName(const std::string& value) {
    const std::string want = bare(value);
    // A name, or it followed by " key", or one that ends in " key" without that.
    auto names = [&](std::string_view name) {
        const std::string full = bare(name);
        const bool keyEnd = full.size() > 3 && full.compare(full.size() - 3, 3, "key") == 0 &&
                            name.size() > 4 && name.substr(name.size() - 4) == " key";
        return want == full || want == full + "key" ||
               (keyEnd && want == full.substr(0, full.size() - 3));
    };
    if (names("< > key") || names("; key")) return names("; key") ? 0xBA : 0xE2;
    for (const NameRun& run : kKeyNames) {
        std::uint16_t code = run.first;
        for (std::string_view rest = run.names;; ++code) {
            const std::size_t bar = std::min(rest.find('|'), rest.size());
            if (bar > 0 && names(rest.substr(0, bar))) return code;
            if (bar == rest.size()) break;
            rest.remove_prefix(bar + 1);
        }
    }
    return 0;
}

bool mouseButton(std::uint16_t c) { return c == 1 || c == 2 || (c >= 4 && c <= 6); }
bool sentByNoKey(std::uint16_t c) {
    return c > 255 || c == 0x07 || c == 0x0A || c == 0x0B || c == 0x0E || c == 0x0F ||
           (c >= 0x3A && c <= 0x40) || c == 0x5E || (c >= 0x88 && c <= 0x8F) ||
           (c >= 0x97 && c <= 0x9F) || c == 0xB8 || c == 0xB9 || (c >= 0xC3 && c <= 0xDA) ||
           c == 0xE0 || c == 0xE8;
}
bool noPcKey(std::uint16_t c) {
    return c == 0x29 || c == 0x2A || c == 0x2B || c == 0x2F || (c >= 0xF6 && c <= 0xFB) ||
           c == 0xFD || c == 0xFE;
}

// One action's binding from its value; false when refused (code 0).
bool readKey(Settings& s, int action, const std::string& value, bool& findings) {
    char* end = nullptr;
    (void)std::strtoll(value.c_str(), &end, 0);
    const bool alone = end != value.c_str() && onlySpace(end);
    const std::uint16_t named = alone ? 0 : codeOfName(value);
    if (!named && octalSurprise(value)) findings = true;
    const auto code = named ? named : static_cast<std::uint16_t>(whole(value).value_or(0));
    if (code == 0) return false;
    const bool both = code >= 16 && code <= 18;
    s.primary[action] = both ? static_cast<std::uint16_t>(160 + 2 * (code - 16)) : code;
    s.alternate[action] = both ? static_cast<std::uint16_t>(161 + 2 * (code - 16)) : 0;
    if (s.primary[action] != kKeys[action].primary &&
        (mouseButton(code) || sentByNoKey(code) || noPcKey(code)))
        findings = true;
    return true;
}

// --- Messages ------------------------------------------------------------------------------------

// A text that shows a value of `kind` ('f' a real number, 'd' a whole one, 'c' the axis letter):
// at most one conversion that fits the value, and 1 to 1023 characters with a trial value. An
// object's place ('p') takes seven: six real numbers, then a whole one.
bool messageTaken(const std::string& text, int m) {
    const char whole = kTexts[m].kind;
    if (!whole) return true;
    const int allowed = whole == 'p' ? 7 : 1;
    int conversions = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') continue;
        if (++i < text.size() && text[i] == '%') continue;
        std::string flags;
        const char kind = whole != 'p' ? whole : conversions < 6 ? 'f' : 'd';
        for (; i < text.size() && std::strchr("-+ #0", text[i]) && text[i]; ++i) flags += text[i];
        bool precision = false;
        for (int part = 0; part < 2; ++part) {  // the width, then the precision after a '.'
            if (part == 1) {
                precision = i < text.size() && text[i] == '.';
                if (!precision) break;
                ++i;
            }
            long size = 0;
            for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
                size = std::min(size * 10 + (text[i] - '0'), 10000L);
            if (size > 1023) return false;
        }
        if (kind == 'f' && i < text.size() && text[i] == 'l') ++i;
        if (i >= text.size()) return false;
        const char c = text[i];
        const char* fits = kind == 'f' ? "fFeEgGaA" : kind == 'd' ? "di" : "cdiuxXo";
        if (!c || !std::strchr(fits, c) || ++conversions > allowed) return false;
        if (kind != 'f' && flags.find('#') != std::string::npos && !std::strchr("oxX", c))
            return false;
        if (c == 'c' && (precision || flags.find_first_not_of('-') != std::string::npos))
            return false;
    }
    if (conversions < allowed && whole == 'p') return false;
    const int length =
        whole == 'p'   ? std::snprintf(nullptr, 0, text.c_str(), 1.5, 1.5, 1.5, 1.5, 1.5, 1.5, 150)
        : whole == 'f' ? std::snprintf(nullptr, 0, text.c_str(), 1.5)
                       : std::snprintf(nullptr, 0, text.c_str(),
                                       whole == 'c'   ? int{'X'}
                                       : m == mScale ? 95
                                                     : 150);
    return length >= 1 && length <= 1023;
}

bool utf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t more = c < 0x80                 ? 0
                                 : c >= 0xC2 && c <= 0xDF ? 1
                                 : c >= 0xE0 && c <= 0xEF ? 2
                                 : c >= 0xF0 && c <= 0xF4 ? 3
                                                          : 9;
        if (more == 9 || i + more >= text.size()) return false;
        for (std::size_t k = 1; k <= more; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += more + 1;
    }
    return true;
}

// --- Step lists ----------------------------------------------------------------------------------

// A list of up to ten numbers of its kind, then its index. A list that takes none keeps the
// built-in one; an index outside the list keeps the one in force, pulled into a shorter list.
template <class T>
void readSteps(Steps<T>& steps, const std::string* list, const std::string* index, double most,
               bool& findings) {
    if (list) {
        std::vector<T> values;
        const char* rest = list->c_str();
        while (values.size() < 10) {
            char* end = nullptr;
            errno = 0;
            T v;
            if constexpr (std::is_same_v<T, double>) {
                v = std::strtod(rest, &end);
                if (end == rest || !std::isfinite(v) || std::fabs(v) > FLT_MAX) break;
                if (static_cast<float>(1.0f + static_cast<float>(v)) == 1.0f) findings = true;
            } else {
                const long long n = std::strtoll(rest, &end, 10);
                if (end == rest || errno == ERANGE || n < INT32_MIN || n > INT32_MAX) break;
                v = static_cast<T>(n);
            }
            if (v <= 0 || v > most) findings = true;  // negative, 0, or far beyond building's need
            values.push_back(v);
            rest = end;
        }
        // None taken, a list ending at text before its tenth value, or text after the tenth.
        if (values.empty() || !onlySpace(rest)) findings = true;
        if (!values.empty()) steps.values = values;
    }
    const int count = static_cast<int>(steps.values.size());
    steps.index = std::min(steps.index, count - 1);
    if (!index) return;
    const std::optional<long> wanted = whole(*index);
    if (octalSurprise(*index)) findings = true;
    if (wanted && *wanted >= 1 && *wanted <= count)
        steps.index = static_cast<int>(*wanted - 1);
    else
        findings = true;
}

// The settings of [main], [dangerous] and [cheats], matched in any case.
struct Flag {
    const char* section;
    const char* name;
    bool Settings::*field;
};
constexpr Flag kFlags[] = {
    {"main", "wheelRotation", &Settings::wheelRotation},
    {"main", "timeoutFrozen", &Settings::timeoutFrozen},
    {"main", "snapDisabled", &Settings::snapDisabled},
    {"main", "groundDisabled", &Settings::groundDisabled},
    {"main", "outlineDisabled", &Settings::outlineDisabled},
    {"main", "extraOutlineEnabled", &Settings::extraOutlineEnabled},
    {"main", "autoTimescaleEnabled", &Settings::autoTimescale},
    {"dangerous", "deleteEnabled", &Settings::deleteEnabled},
    {"cheats", "duplicateEnabled", &Settings::duplicateEnabled},
};
constexpr const char* kOtherNames[] = {
    "main/togglable",   "main/buildtimescale", "steps/rotatesteps", "steps/movesteps",
    "steps/scalesteps", "steps/rotatestepidx", "steps/movestepidx", "steps/scalestepidx"};

// Whether the plugin reads anything of a name as written in its section.
bool readName(const std::string& section, const std::string& name) {
    if (section == "keys")
        return std::any_of(std::begin(kKeys), std::end(kKeys),
                           [&](const ActionKey& k) { return name == k.name; });
    if (section == "messages")
        return std::any_of(std::begin(kTexts), std::end(kTexts),
                           [&](const Text& t) { return name == t.key; });
    const std::string both = section + "/" + lower(name);
    return std::any_of(std::begin(kFlags), std::end(kFlags),
                       [&](const Flag& f) { return both == f.section + ("/" + lower(f.name)); }) ||
           std::any_of(std::begin(kOtherNames), std::end(kOtherNames),
                       [&](const char* n) { return both == n; });
}

}  // namespace

FileShape shapeOf(const std::string& bytes) {
    if (bytes.size() > 4194304) return FileShape::tooLarge;
    if (bytes.rfind("\xFF\xFE", 0) == 0 || bytes.rfind("\xFE\xFF", 0) == 0) return FileShape::utf16;
    // Without a mark: a zero byte on one side of at least half of the first pairs, on the other
    // side of none.
    const std::size_t pairs = std::min<std::size_t>(bytes.size() / 2, 256);
    std::size_t zeros[2] = {0, 0};
    for (std::size_t i = 0; i < pairs * 2; ++i) zeros[i % 2] += bytes[i] == '\0';
    for (int side = 0; side < 2; ++side)
        if (pairs > 0 && zeros[side] * 2 >= pairs && zeros[1 - side] == 0) return FileShape::utf16;
    return FileShape::text;
}

Reading readSettings(const std::string& bytes, const Settings* started) {
    Reading r;
    Settings& s = r.s;
    if (shapeOf(bytes) != FileShape::text) return r;
    const Lines lines = linesOf(bytes);
    bool& findings = r.findings;
    findings = lines.findings;
    for (const auto& [section, name] : lines.written)
        if (!readName(section, name)) findings = true;

    for (int a = 0; a < kActions; ++a) {
        const std::string* value = lines.value("keys", kKeys[a].name);
        if (value && lines.written.count({"keys", kKeys[a].name}) &&
            !readKey(s, a, *value, findings))
            findings = true;  // code 0: refused
    }
    for (int a = 0; a < kActions; ++a)
        for (const std::uint16_t code : {s.primary[a], s.alternate[a]})
            for (int b = a + 1; b < kActions && code; ++b)
                if (s.bound(b, code)) findings = true;  // a key bound to two actions

    for (int m = 0; m < kMessages; ++m) {
        const std::string* text = lines.value("messages", kTexts[m].key);
        if (!text || !lines.written.count({"messages", kTexts[m].key})) continue;
        const bool quoted = text->size() >= 2 && (text->front() == '"' || text->front() == '\'') &&
                            text->back() == text->front();
        if (quoted || !utf8(*text)) findings = true;
        if (messageTaken(*text, m))
            s.setText(m, *text);
        else
            findings = true;
    }

    if (const std::string* v = lines.value("main", "togglable")) {
        if (const std::optional<long> n = whole(*v))
            s.togglable = static_cast<int>(*n & 0xFF);
        else
            findings = true;
        if (octalSurprise(*v)) findings = true;
    }
    if (const std::string* v = lines.value("main", "buildTimescale")) {
        char* end = nullptr;
        const double t = std::strtod(v->c_str(), &end);
        if (end != v->c_str() && std::isfinite(t) && std::fabs(t) <= FLT_MAX)
            s.buildTimescale = static_cast<float>(t);
        else
            findings = true;
    }
    for (const Flag& f : kFlags) {
        const std::string* v = lines.value(f.section, f.name);
        if (!v) continue;
        const std::optional<bool> on = onOff(*v);
        s.*f.field = on.value_or(false);
        if (!on) findings = true;
    }
    readSteps(s.rotate, lines.value("steps", "rotateSteps"), lines.value("steps", "rotateStepIdx"),
              180, findings);
    readSteps(s.move, lines.value("steps", "moveSteps"), lines.value("steps", "moveStepIdx"), 1000,
              findings);
    readSteps(s.scale, lines.value("steps", "scaleSteps"), lines.value("steps", "scaleStepIdx"),
              100, findings);

    // Read while the game runs: togglable and the start states stay as the game started.
    if (started) {
        for (bool Settings::*field :
             {&Settings::timeoutFrozen, &Settings::snapDisabled, &Settings::groundDisabled,
              &Settings::outlineDisabled, &Settings::extraOutlineEnabled}) {
            if (s.*field != started->*field) findings = true;
            s.*field = started->*field;
        }
        if (s.togglable != started->togglable) findings = true;
        s.togglable = started->togglable;
    }
    return r;
}

std::string formatPlace(const std::string& text, const double (&position)[3],
                        const double (&angles)[3], int scale) {
    char out[1024];
    std::snprintf(out, sizeof out, text.c_str(), position[0], position[1], position[2], angles[0],
                  angles[1], angles[2], scale);
    return out;
}

std::string format(const std::string& text, char kind, double value) {
    char out[1024];
    if (kind == 'f')
        std::snprintf(out, sizeof out, text.c_str(), value);
    else if (kind)
        std::snprintf(out, sizeof out, text.c_str(), static_cast<int>(value));
    else
        return text;
    return out;
}

}  // namespace sim
