// The model's reading of the settings file (model_settings.h).

#include "sim/model_settings.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <set>
#include <type_traits>

#include "INIReader.h"
#include "config/keynames.h"
#include "ini.h"

namespace sim {
namespace {

// A text that shows a value fits when it holds one placeholder for that value (or none); %%
// stands for a per cent sign. A whole number takes only placeholders that print all of it (no h
// or hh), and %c only where it is a letter. Any other text is shown as it is written.
bool fits(const std::string& text, char whole) {
    if (!whole) return true;  // shown as it is written
    int placeholders = 0;
    // An object's place: six reals, then a whole number, and no fewer.
    const int most = whole == 'p' ? 7 : 1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') continue;
        if (++i < text.size() && text[i] == '%') continue;
        while (i < text.size() && std::strchr("-+ #0", text[i])) ++i;
        while (i < text.size() &&
               (std::isdigit(static_cast<unsigned char>(text[i])) || text[i] == '.'))
            ++i;
        if (i >= text.size()) return false;
        const char kind = whole != 'p' ? whole : placeholders < 6 ? 'f' : 'd';
        if (kind == 'f' && text[i] == 'l' && i + 1 < text.size()) ++i;  // %lf is %f
        const char c = text[i];
        const bool right = kind == 'f'   ? std::strchr("fFeEgGaA", c) != nullptr
                           : kind == 'd' ? std::strchr("di", c) != nullptr
                           : kind == 'c' ? std::strchr("cdiuxXo", c) != nullptr
                                         : false;
        if (!right || ++placeholders > most) return false;
    }
    return whole != 'p' || placeholders == most;
}

// A text the plugin takes: one that fits its value and, shown with a trial value (1.5, the letter
// X, a scale of 95 or a step of 150), makes 1 to 1023 characters; a width or precision above 1023
// is refused before any trial. An empty text that shows a value is refused too (the default
// stays), while an empty text without a value shows nothing.
bool taken(const std::string& text, int m) {
    const char kind = kTexts[m].kind;
    if (!fits(text, kind)) return false;
    if (!kind) return true;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') continue;
        if (++i < text.size() && text[i] == '%') continue;
        while (i < text.size() && std::strchr("-+ #0", text[i])) ++i;
        for (int part = 0; part < 2; ++part) {
            if (part == 1) {
                if (i >= text.size() || text[i] != '.') break;
                ++i;
            }
            unsigned long size = 0;
            while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
                size = std::min(size * 10 + static_cast<unsigned long>(text[i++] - '0'), 100000ul);
            if (size > 1023) return false;
        }
    }
    const int length = kind == 'p'   ? std::snprintf(nullptr, 0, text.c_str(), 1.5, 1.5, 1.5,
                                                     1.5, 1.5, 1.5, 150)
                       : kind == 'f' ? std::snprintf(nullptr, 0, text.c_str(), 1.5)
                                     : std::snprintf(nullptr, 0, text.c_str(),
                                                     kind == 'c'   ? int{'X'}
                                                     : m == mScale ? 95
                                                                   : 150);
    return length >= 1 && length <= 1023;
}

template <class T>
void readList(Steps<T>& steps, const std::string& text, int wanted) {
    std::vector<T> values;
    const char* rest = text.c_str();
    while (values.size() < 10) {
        char* end = nullptr;
        T v;
        if constexpr (std::is_same_v<T, double>) {
            errno = 0;
            v = std::strtod(rest, &end);
            // A step a float cannot hold ends the list, as infinity does.
            if (end == rest || errno == ERANGE || !std::isfinite(v) ||
                std::fabs(v) > std::numeric_limits<float>::max())
                break;
        } else {
            errno = 0;
            const long l = std::strtol(rest, &end, 10);
            if (end == rest || errno == ERANGE || l < INT32_MIN || l > INT32_MAX) break;
            v = static_cast<T>(l);
        }
        values.push_back(v);
        rest = end;
    }
    if (!values.empty()) steps.values = values;
    const int count = static_cast<int>(steps.values.size());
    steps.index = std::min(steps.index, count - 1);
    if (wanted >= 0 && wanted < count) steps.index = wanted;
}

// The names each section of a file holds, as written (sections in lower case): names in [keys]
// and [messages] count only when written exactly as the README writes them.
using Names = std::set<std::pair<std::string, std::string>>;
Names namesIn(const std::string& file) {
    Names names;
    ini_parse_string_length(
        file.data(), file.size(),
        [](void* user, const char* section, const char* name, const char*) {
            std::string lower(section);
            for (char& c : lower)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (name) static_cast<Names*>(user)->emplace(lower, name);
            return 1;
        },
        &names);
    return names;
}

// A whole number as the plugin's Windows build reads it: its long holds 32 bits, so a number
// beyond that range reads as the nearest one it holds (the Linux build does the same).
long long integerIn(const INIReader& ini, const char* section, const std::string& name,
                    long fallback) {
    return std::clamp<long long>(ini.GetInteger(section, name, fallback), INT32_MIN, INT32_MAX);
}

}  // namespace

// The settings a file gives, read from the defaults up as the plugin reads them at start.
Settings readSettings(const std::optional<std::string>& file) {
    Settings s;
    if (!file) return s;
    const INIReader ini(file->data(), file->size());
    if (ini.ParseError() < 0) return s;
    const Names names = namesIn(*file);
    for (int a = 0; a < kActions; ++a) {
        if (!names.count({"keys", kKeys[a].name})) continue;
        if (ini.Get("keys", kKeys[a].name, "").empty()) continue;
        // A number alone is a code; any other text (a "9 key" too) a key's name as the checker
        // prints it, or else the number it starts with.
        const std::string text = ini.Get("keys", kKeys[a].name, "");
        char* end = nullptr;
        (void)std::strtol(text.c_str(), &end, 0);
        while (end != text.c_str() && (*end == ' ' || *end == '\t')) ++end;
        const std::optional<std::uint16_t> named =
            end == text.c_str() || *end != '\0' ? freeplot::keyCodeOfName(text) : std::nullopt;
        const auto code =
            named ? *named : static_cast<std::uint16_t>(integerIn(ini, "keys", kKeys[a].name, 0));
        if (code == 0) continue;
        const bool modifier = code >= 16 && code <= 18;
        s.primary[a] = modifier ? static_cast<std::uint16_t>(160 + 2 * (code - 16)) : code;
        s.alternate[a] = modifier ? static_cast<std::uint16_t>(161 + 2 * (code - 16)) : 0;
    }
    s.togglable = static_cast<int>(integerIn(ini, "main", "togglable", 0) & 0xFF);
    // A value no float can hold keeps the default.
    const double timescale = ini.GetReal("main", "buildTimescale", 0.01);
    if (std::isfinite(timescale) && std::fabs(timescale) <= std::numeric_limits<float>::max())
        s.buildTimescale = static_cast<float>(timescale);
    s.wheelRotation = ini.GetBoolean("main", "wheelRotation", false);
    s.timeoutFrozen = ini.GetBoolean("main", "timeoutFrozen", false);
    s.snapDisabled = ini.GetBoolean("main", "snapDisabled", false);
    s.groundDisabled = ini.GetBoolean("main", "groundDisabled", false);
    s.outlineDisabled = ini.GetBoolean("main", "outlineDisabled", false);
    s.extraOutlineEnabled = ini.GetBoolean("main", "extraOutlineEnabled", false);
    s.autoTimescale = ini.GetBoolean("main", "autoTimescaleEnabled", false);
    s.deleteEnabled = ini.GetBoolean("dangerous", "deleteEnabled", false);
    s.duplicateEnabled = ini.GetBoolean("cheats", "duplicateEnabled", false);
    for (int m = 0; m < kMessages; ++m) {
        if (!names.count({"messages", kTexts[m].key})) continue;
        const std::string text = ini.Get("messages", kTexts[m].key, kTexts[m].text);
        if (taken(text, m)) s.texts[m] = text;
    }
    auto wanted = [&](const char* key, int index) {
        return static_cast<int>(
            std::max<long long>(integerIn(ini, "steps", key, index + 1) - 1, INT32_MIN));
    };
    const int rotate = wanted("rotateStepIdx", s.rotate.index);
    const int move = wanted("moveStepIdx", s.move.index);
    const int scale = wanted("scaleStepIdx", s.scale.index);
    readList(s.rotate, ini.Get("steps", "rotateSteps", ""), rotate);
    readList(s.move, ini.Get("steps", "moveSteps", ""), move);
    readList(s.scale, ini.Get("steps", "scaleSteps", ""), scale);
    return s;
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
