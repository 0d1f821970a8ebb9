#include "config/findings.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <type_traits>
#include <vector>

#include "config/actions.h"
#include "config/dispatch_order.h"
#include "config/ini_file.h"
#include "config/keynames.h"
#include "config/messages.h"
#include "config/setting_table.h"
#include "config/settings.h"
#include "config/steps.h"

namespace freeplot {
namespace {

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string lineText(int number) { return "line " + std::to_string(number); }

// A key as a sentence names it: "the 8 key", "Numpad 8", "code 300".
std::string keyLabel(std::uint16_t code) {
    const char* name = keyName(code);
    if (!name) return "code " + std::to_string(code);
    return std::strlen(name) == 1 ? std::string("the ") + name + " key" : name;
}

// Where each section and entry is written, as inih splits the lines: by LF only.
struct FileLines {
    std::map<std::string, int> sections;  // lower-case name -> its first line
    std::map<std::string, int> entries;   // lower-case section "\n" lower-case name -> last line
    int loneCr = 0;                       // the first line holding a CR not followed by LF
    bool anyLf = false;
    struct AfterSection {
        int line;
        std::string section, rest;
    };
    std::vector<AfterSection> afterSection;

    explicit FileLines(const std::string& text) {
        std::string section;
        int number = 0;
        for (std::size_t at = 0; at <= text.size();) {
            ++number;
            std::size_t end = text.find('\n', at);
            if (end == std::string::npos) end = text.size();
            anyLf = anyLf || end < text.size();
            std::string line = text.substr(at, end - at);
            if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
            const std::size_t cr = line.find('\r');
            const bool crInside = cr != std::string::npos && cr + 1 < line.size();
            if (loneCr == 0 && crInside) loneCr = number;
            const std::string body = trimmed(line);
            if (!body.empty() && body[0] == '[') {
                const std::size_t close = body.find(']');
                if (close != std::string::npos) {
                    section = lowerCase(body.substr(1, close - 1));
                    sections.emplace(section, number);
                    const std::string rest = trimmed(body.substr(close + 1));
                    // A CR inside the line is a line end the plugin does not see: said apart.
                    if (!rest.empty() && rest[0] != ';' && rest[0] != '#' && !crInside)
                        afterSection.push_back({number, body.substr(1, close - 1), rest});
                }
            } else if (!body.empty() && body[0] != ';' && body[0] != '#') {
                const std::size_t separator = body.find_first_of("=:");
                if (separator != std::string::npos)
                    entries[section + "\n" + lowerCase(trimmed(body.substr(0, separator)))] =
                        number;
            }
            at = end + 1;
        }
    }

    int entry(const std::string& section, const std::string& name) const {
        const auto it = entries.find(lowerCase(section) + "\n" + lowerCase(name));
        return it == entries.end() ? 0 : it->second;
    }
    std::string where(const std::string& section, const std::string& name) const {
        const int line = entry(section, name);
        return line > 0 ? lineText(line) + ": " : "";
    }
};

void warn(SettingsReport& report, std::string section, std::string name, std::string detail) {
    note(&report, NoteKind::warning, std::move(section), std::move(name), std::move(detail));
}

// --- Two actions on one key ----------------------------------------------------------------

std::string actionList(std::uint64_t actions, const char* last = " and ") {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < kActionCount; ++i)
        if (actions & (std::uint64_t{1} << i)) names.emplace_back(kActionNames[i]);
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += i + 1 == names.size() ? last : ", ";
        text += names[i];
    }
    return text;
}

// Which gate a setting holds shut now; workshopIdle is open or shut from moment to moment.
bool gateShutBySettings(DispatchGate gate) {
    switch (gate) {
        case DispatchGate::togglable:
            return settings.togglable == 0;
        case DispatchGate::duplicateEnabled:
            return !settings.duplicateEnabled;
        case DispatchGate::deleteEnabled:
            return !settings.deleteEnabled;
        default:
            return false;
    }
}

const char* gateNeed(DispatchGate gate) {
    switch (gate) {
        case DispatchGate::togglable:
            return "needs togglable 1 or more";
        case DispatchGate::duplicateEnabled:
            return "needs duplicateEnabled";
        case DispatchGate::deleteEnabled:
            return "needs deleteEnabled";
        default:
            return "";
    }
}

// The one action a row runs as when the key holds several of the row's actions: the keyboard
// dispatcher's rules (input/keyboard.cpp) for each kind of row. 0 when they act together.
std::uint64_t actingWithinRow(std::uint64_t held) {
    auto has = [&](Action a) { return (held & actionBit(a)) != 0; };
    // Rows of two opposite directions: the first named goes its own way when bound.
    for (const Action winner : {Action::rotateStepPlus, Action::moveStepPlus,
                                Action::scaleStepMinus, Action::rotateLeft, Action::physicsOn})
        if (has(winner)) return actionBit(winner);
    if (has(Action::scaleReset)) return actionBit(Action::scaleReset);
    if (has(Action::scaleDown)) return actionBit(Action::scaleDown);
    // A move: the first in this order gives the axis, any backward one the direction.
    const Action moves[] = {Action::moveDown,  Action::moveUp,   Action::moveLeft,
                            Action::moveRight, Action::moveBack, Action::moveForth};
    char axis = 0;
    int direction = +1;
    for (const Action a : moves) {
        if (!has(a)) continue;
        if (axis == 0) axis = paramsOf(a).axis;
        if (paramsOf(a).direction < 0) direction = -1;
    }
    if (axis != 0)
        for (const Action a : moves)
            if (paramsOf(a).axis == axis && paramsOf(a).direction == direction) return actionBit(a);
    return 0;
}

// What a key bound to several actions does when let go.
std::string sharedKeyOutcome(std::uint64_t actions) {
    std::string said;
    std::uint64_t acting = 0, shut = 0;
    for (std::size_t r = 0; r < kDispatchRows.size(); ++r) {
        const DispatchRow& row = kDispatchRows[r];
        const std::uint64_t held = row.actions & actions;
        if (held == 0) continue;
        if (gateShutBySettings(row.gate)) {
            said += actionList(held) + " " + gateNeed(row.gate) + ", so it does not act; ";
            shut |= held;
            continue;
        }
        const std::uint64_t one = std::popcount(held) > 1 ? actingWithinRow(held) : held;
        if (one == 0)
            said += actionList(held) + " act together";
        else if ((one & held) == 0)  // a move whose axis one gives and direction another
            said += actionList(held) + " act as one: the object moves as by " + actionList(one);
        else if (one != held)
            said += actionList(one) + " acts (" + actionList(held & ~one) + " adds nothing)";
        else
            said += actionList(one) + " acts";
        acting = held;
        if (row.gate == DispatchGate::workshopIdle) {
            // While the workshop is busy the search goes on below.
            for (std::size_t next = r + 1; next < kDispatchRows.size(); ++next) {
                const DispatchRow& other = kDispatchRows[next];
                const std::uint64_t otherHeld = other.actions & actions;
                if (otherHeld == 0 || gateShutBySettings(other.gate) ||
                    other.gate == DispatchGate::workshopIdle)
                    continue;
                said += "; while the workshop is busy, " + actionList(otherHeld) + " acts instead";
                acting |= otherHeld;
                break;
            }
        }
        break;
    }
    const std::uint64_t never = actions & ~acting & ~shut;
    if (acting == 0) return said + "nothing acts";
    if (never != 0) said += "; " + actionList(never, " or ") + " never acts on this key";
    return said;
}

void findSharedKeys(const FileLines& lines, SettingsReport& report) {
    std::map<std::uint16_t, std::uint64_t> byCode;
    for (std::size_t i = 0; i < kActionCount; ++i) {
        const KeyBinding& b = keyBindings[i];
        for (const std::uint16_t code : {b.primary, b.alternate})
            if (code != 0) byCode[code] |= std::uint64_t{1} << i;
    }
    for (const auto& [code, actions] : byCode) {
        if (std::popcount(actions) < 2) continue;
        std::string where;
        for (std::size_t i = 0; i < kActionCount; ++i) {
            if (!(actions & (std::uint64_t{1} << i))) continue;
            const int line = lines.entry("keys", kActionNames[i]);
            where += std::string(where.empty() ? "" : ", ") + kActionNames[i] +
                     (line > 0 ? " on " + lineText(line) : " by default");
        }
        const char* name = keyName(code);
        warn(report, "keys", actionList(actions, ", "),
             (name ? keyLabel(code) + " (code " + std::to_string(code) + ")"
                   : "code " + std::to_string(code)) +
                 " is bound to " + std::to_string(std::popcount(actions)) + " actions (" + where +
                 "); " + sharedKeyOutcome(actions) + "; give each action a key of its own");
    }
}

// --- Numbers ---------------------------------------------------------------------------------

// Whether strtol with base 0 reads the text as octal: a 0 followed by a digit.
bool readAsOctal(const std::string& text) {
    std::size_t i = text.find_first_not_of(" \t");
    if (i == std::string::npos) return false;
    if (text[i] == '+' || text[i] == '-') ++i;
    return i + 1 < text.size() && text[i] == '0' &&
           std::isdigit(static_cast<unsigned char>(text[i + 1]));
}

void findOctal(const IniFile& file, const FileLines& lines, const std::string& section,
               const std::string& name, bool isKey, SettingsReport& report) {
    const std::string text = file.reader.Get(section, name, "");
    if (!readAsOctal(text)) return;
    const long octal = std::strtol(text.c_str(), nullptr, 0);
    const long decimal = std::strtol(text.c_str(), nullptr, 10);
    if (octal == decimal) return;
    std::string detail =
        lines.where(section, name) + "\"" + text +
        "\" starts with 0, so it is read as an octal number: " + std::to_string(octal);
    if (isKey) {
        const auto code = static_cast<std::uint16_t>(saturateToInt32(octal));
        if (code == 0)
            detail += ", which is no key, so the binding is refused";
        else
            detail += " (" + keyLabel(code) + "), and that is what is bound";
        detail += "; write " + std::to_string(decimal) + " without the 0, or the key's name";
    } else {
        detail += "; write " + std::to_string(decimal) + " without the 0";
    }
    warn(report, section, name, detail);
}

bool isMouseButton(std::uint16_t code) {
    return code == 1 || code == 2 || (code >= 4 && code <= 6);
}

void findUnusableCodes(const IniFile& file, const FileLines& lines, SettingsReport& report) {
    for (const std::string& name : file.names("keys")) {
        const auto it = std::find(kActionNames.begin(), kActionNames.end(), name);
        if (it == kActionNames.end()) continue;
        const KeyBinding& b = keyBindings[static_cast<std::size_t>(it - kActionNames.begin())];
        if (b == kDefaultKeyBindings[static_cast<std::size_t>(it - kActionNames.begin())]) continue;
        const std::uint16_t code = b.primary;
        if (isMouseButton(code))
            warn(report, "keys", name,
                 lines.where("keys", name) + "code " + std::to_string(code) + " is the " +
                     keyName(code) + ", and Freeplot's actions take keyboard keys only: " + name +
                     " never acts; bind it to a key");
        else if (!keyName(code))
            warn(report, "keys", name,
                 lines.where("keys", name) + "code " + std::to_string(code) +
                     " is sent by no keyboard key or mouse button: " + name +
                     " never acts; bind it to a key by its name or code");
    }
}

// --- Steps -----------------------------------------------------------------------------------

struct StepBounds {
    double largest;
    const char* unit;
    const char* negative;  // what a negative entry does
    const char* zero;      // what an entry of 0 does
};

StepBounds boundsOf(StepId id) {
    switch (id) {
        case StepId::rotate:
            return {180, "degrees", "each key turns the object the other way",
                    "no key turns the object"};
        case StepId::move:
            return {1000, "units", "each key moves the object the other way",
                    "no key moves the object"};
        case StepId::scale:
            break;
    }
    return {100, "percent", "the scale keys do nothing", "the scale keys do nothing"};
}

void findOddSteps(const IniFile& file, const FileLines& lines, SettingsReport& report) {
    for (const SettingRow& row : kSettingTable) {
        if (row.type != SettingType::stepList || !file.reader.HasValue(row.section, row.name))
            continue;
        const StepBounds bounds = boundsOf(row.steps);
        std::string odd;
        withStepTable(row.steps, [&](const auto& table, auto&&...) {
            for (std::int32_t i = 0; i < table.count; ++i) {
                const double value = static_cast<double>(table.values[static_cast<std::size_t>(i)]);
                const char* what = value < 0                ? bounds.negative
                                   : value == 0             ? bounds.zero
                                   : value > bounds.largest ? nullptr
                                                            : "";
                if (what && !*what) continue;
                char shown[64];
                std::snprintf(shown, sizeof shown, "%g", value);
                if (!odd.empty()) odd += "; ";
                odd += "entry " + std::to_string(i + 1) + " is " + shown + ": ";
                if (what) {
                    odd += std::string("at this step ") + what;
                } else {
                    char largest[32];
                    std::snprintf(largest, sizeof largest, "%g", bounds.largest);
                    odd += std::string("far beyond what building needs (up to ") + largest + " " +
                           bounds.unit + ")";
                }
            }
        });
        if (!odd.empty())
            warn(report, row.section, row.name,
                 lines.where(row.section, row.name) + odd +
                     "; the list is taken as it is: write steps above 0 and within the bounds");
    }
}

// --- Messages --------------------------------------------------------------------------------

void findQuotedMessages(const IniFile& file, const FileLines& lines, SettingsReport& report) {
    for (std::size_t i = 0; i < kMessageKeyCount; ++i) {
        const char* key = kMessages[i].key;
        if (!file.reader.HasValue("messages", key)) continue;
        const std::string text = file.reader.Get("messages", key, "");
        if (text.size() < 2 || (text.front() != '"' && text.front() != '\'') ||
            text.back() != text.front())
            continue;
        warn(report, "messages", key,
             lines.where("messages", key) +
                 "the text is written in quotes, and the quotes are shown on screen with it; "
                 "write it without them");
    }
}

// --- Names -----------------------------------------------------------------------------------

// The nearest of `known` to `name`, when near enough to be a slip of the keyboard.
std::string nearest(const std::string& name, const std::vector<std::string>& known) {
    std::string best;
    std::size_t bestDistance = std::string::npos;
    for (const std::string& candidate : known) {
        const std::size_t d = editDistance(name, candidate);
        if (d < bestDistance) {
            bestDistance = d;
            best = candidate;
        }
    }
    const std::size_t allowed = std::max<std::size_t>(1, std::min(name.size(), best.size()) / 4);
    return bestDistance <= allowed ? best : std::string();
}

std::vector<std::string> knownNames(const std::string& section) {
    std::vector<std::string> names;
    if (section == "keys") {
        names.assign(kActionNames.begin(), kActionNames.end());
    } else if (section == "messages") {
        for (const MessageInfo& m : kMessages) names.emplace_back(m.key);
    } else {
        for (const SettingRow& row : kSettingTable)
            if (section == row.section) names.emplace_back(row.name);
    }
    return names;
}

const std::vector<std::string>& knownSections() {
    static const std::vector<std::string> sections = {"main",  "keys",      "messages",
                                                      "steps", "dangerous", "cheats"};
    return sections;
}

// Adds the nearest known name to the notes on unknown sections and names.
void suggestNames(const FileLines& lines, SettingsReport& report) {
    for (SettingsNote& n : report.notes) {
        if (n.kind != NoteKind::ignored) continue;
        const bool known = std::find(knownSections().begin(), knownSections().end(), n.section) !=
                           knownSections().end();
        if (!known) {
            const std::string near = nearest(n.section, knownSections());
            const auto line = lines.sections.find(n.section);
            if (!near.empty() && line != lines.sections.end())
                n.detail += " (" + lineText(line->second) + "); the nearest section is [" + near +
                            "]: write that";
            continue;
        }
        if (n.name.empty()) continue;
        const std::vector<std::string> names = knownNames(n.section);
        if (std::find(names.begin(), names.end(), n.name) != names.end()) continue;
        const std::string near = nearest(n.name, names);
        if (near.empty()) continue;
        const int line = lines.entry(n.section, n.name);
        n.detail += std::string(line > 0 ? " (" + lineText(line) + ")" : "") +
                    "; the nearest name is " + near + ": write that";
    }
}

// --- Lines -----------------------------------------------------------------------------------

void findLineShapes(const std::string& text, const FileLines& lines, SettingsReport& report) {
    if (savedAsUtf16(text))
        warn(report, "", "",
             "the file is saved as UTF-16 (\"Unicode\"), which the plugin cannot read: every "
             "setting keeps its default; save it as UTF-8 or ANSI");
    if (lines.loneCr != 0 && !lines.anyLf)
        warn(report, "", "",
             lineText(lines.loneCr) +
                 ": the lines end in CR alone (as old Mac editors save), so the plugin reads the "
                 "whole file as one line and takes nothing past its first section or entry; "
                 "save it with Windows (CR LF) or Unix (LF) line ends");
    else if (lines.loneCr != 0)
        warn(report, "", "",
             lineText(lines.loneCr) +
                 ": a CR without LF ends no line for the plugin: what follows it up to the next "
                 "LF belongs to this line; save the file with Windows (CR LF) or Unix (LF) line "
                 "ends");
    for (const FileLines::AfterSection& after : lines.afterSection)
        warn(report, "", "",
             lineText(after.line) + ": \"" + after.rest + "\" after [" + after.section +
                 "] is dropped: the plugin reads only the section's name on that line; put it "
                 "on a line of its own");
}

}  // namespace

std::size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> previous(b.size() + 1), current(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) previous[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        current[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                              std::tolower(static_cast<unsigned char>(b[j - 1]));
            current[j] =
                std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (same ? 0 : 1)});
        }
        std::swap(previous, current);
    }
    return previous[b.size()];
}

void addFindings(const std::string& text, const IniFile& file, SettingsReport& report) {
    const FileLines lines(text);
    findLineShapes(text, lines, report);
    suggestNames(lines, report);
    findSharedKeys(lines, report);
    for (const std::string& name : file.names("keys"))
        if (std::find(kActionNames.begin(), kActionNames.end(), name) != kActionNames.end())
            findOctal(file, lines, "keys", name, true, report);
    for (const SettingRow& row : kSettingTable)
        if (row.type == SettingType::low8 || row.type == SettingType::stepIndex)
            findOctal(file, lines, row.section, row.name, false, report);
    findUnusableCodes(file, lines, report);
    findOddSteps(file, lines, report);
    findQuotedMessages(file, lines, report);
}

}  // namespace freeplot
