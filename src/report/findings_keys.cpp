// The findings that only show across entries: keys bound twice, codes no key sends, numbers read
// as octal, steps far from what building needs, messages in quotes or not in UTF-8.

#include <algorithm>
#include <bit>
#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "config/dispatch_order.h"
#include "config/keynames.h"
#include "config/setting_table.h"
#include "report/report_text.h"

namespace freeplot::report_text {
namespace {


// --- Codes no key sends ------------------------------------------------------------------------

bool isMouseButton(std::uint16_t code) {
    return code == 1 || code == 2 || (code >= 4 && code <= 6);
}

void findUnusableCodes(const Reading& reading, const SettingsInForce& inForce, Collector& out) {
    for (std::size_t i = 0; i < kActionCount; ++i) {
        const KeyBinding& b = inForce.keys[i];
        if (b == kDefaultKeyBindings[i]) continue;
        const IniEntry* entry = exactEntry(reading, kKeysSection, kActionNames[i]);
        const std::string where =
            entry ? entryPrefix(reading, static_cast<std::int32_t>(entry - reading.ini.entries.data()))
                  : std::string();
        const std::uint16_t code = b.primary;
        const char* name = kActionNames[i];
        if (isMouseButton(code))
            out.add(Severity::warning, about(kKeysSection, name),
                    where + "code " + std::to_string(code) + " is the " + keyName(code) +
                        ", and Freeplot's actions take keyboard keys only: " + name +
                        " never acts; bind it to a key");
        else if (namedButNoPcKey(code))
            out.add(Severity::warning, about(kKeysSection, name),
                    where + "it is bound to code " + std::to_string(code) + ", \"" +
                        keyName(code) + "\", a key of old terminals that no PC keyboard has: " +
                        name + " never acts" +
                        (code == 0x2A ? "; Print Screen is \"Print Screen\" (code 44)" : "") +
                        "; bind it to a key of your keyboard");
        else if (!sentByAnyKey(code))
            out.add(Severity::warning, about(kKeysSection, name),
                    where + "code " + std::to_string(code) +
                        " is sent by no keyboard key or mouse button: " + name +
                        " never acts; bind it to a key by its name or code");
    }
}

// --- Numbers read as octal ---------------------------------------------------------------------

// Whether strtol with base 0 reads the text as octal: a 0 followed by a digit.
bool readAsOctal(const std::string& text) {
    std::size_t i = text.find_first_not_of(" \t");
    if (i == std::string::npos) return false;
    if (text[i] == '+' || text[i] == '-') ++i;
    return i + 1 < text.size() && text[i] == '0' &&
           std::isdigit(static_cast<unsigned char>(text[i + 1]));
}

void findOctal(const Reading& reading, const std::string& section, const std::string& name,
               bool isKey, Collector& out) {
    const IniEntry* entry =
        isKey ? exactEntry(reading, section, name) : reading.ini.find(section, name);
    if (!entry || !readAsOctal(entry->value)) return;
    const std::string& text = entry->value;
    const long octal = std::strtol(text.c_str(), nullptr, 0);
    const long decimal = std::strtol(text.c_str(), nullptr, 10);
    if (octal == decimal) return;
    std::string detail =
        entryPrefix(reading, static_cast<std::int32_t>(entry - reading.ini.entries.data())) +
        "\"" + text + "\" starts with 0, so it is read as an octal number: " +
        std::to_string(octal);
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
    out.add(Severity::warning, about(section, name), detail);
}

// --- Steps -------------------------------------------------------------------------------------

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

// A step a float cannot add to a coordinate or angle of 1 (in units, or radians): no key moves or
// turns the object by it.
bool tooSmallForAFloat(double value, StepId id) {
    const double perUnit = id == StepId::rotate ? 3.14159265358979323846 / 180 : 1.0;
    return value != 0 && std::fabs(value * perUnit) < FLT_EPSILON / 2;
}

void findOddSteps(const Reading& reading, const SettingsInForce& inForce, Collector& out) {
    for (const SettingRow& row : kSettingTable) {
        const IniEntry* entry = reading.ini.find(row.section, row.name);
        if (row.type != SettingType::stepList || !entry) continue;
        const StepBounds bounds = boundsOf(row.steps);
        std::string odd;
        withSteps(inForce, row.steps, [&](const auto& table, auto&&...) {
            for (std::int32_t i = 0; i < table.count; ++i) {
                const double value = static_cast<double>(table.values[static_cast<std::size_t>(i)]);
                const bool tiny = tooSmallForAFloat(value, row.steps);
                const char* what = value < 0                ? bounds.negative
                                   : value == 0             ? bounds.zero
                                   : tiny                   ? bounds.zero
                                   : value > bounds.largest ? nullptr
                                                            : "";
                if (what && !*what) continue;
                char shown[64];
                std::snprintf(shown, sizeof shown, "%g", value);
                if (!odd.empty()) odd += "; ";
                odd += "entry " + std::to_string(i + 1) + " is " + shown + ": ";
                if (tiny) {
                    odd += std::string("so small that adding it to a coordinate or angle (a float) "
                                       "changes nothing: ") + what;
                } else if (what) {
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
            out.add(Severity::warning, about(row.section, row.name),
                    entryPrefix(reading, static_cast<std::int32_t>(entry - reading.ini.entries.data())) +
                        odd + "; the list is taken as it is: write steps above 0 and within the "
                              "bounds");
    }
}

// --- Messages ----------------------------------------------------------------------------------

void findMessageShapes(const Reading& reading, Collector& out) {
    for (std::size_t i = 0; i < kMessageKeyCount; ++i) {
        const char* key = kMessages[i].key;
        const IniEntry* entry = exactEntry(reading, kMessagesSection, key);
        if (!entry) continue;
        const auto index = static_cast<std::int32_t>(entry - reading.ini.entries.data());
        const std::string& text = entry->value;
        // The text as shown, not its lines: bytes of another code page in a comment after it
        // never reach the screen.
        if (!validUtf8(text))
            out.add(Severity::warning, about(kMessagesSection, key),
                    entryPrefix(reading, index) +
                        "the text holds bytes that are not UTF-8 (the file was saved as ANSI, or "
                        "in another code page), which the game does not show as written; save "
                        "the file as UTF-8");
        if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') &&
            text.back() == text.front())
            out.add(Severity::warning, about(kMessagesSection, key),
                    entryPrefix(reading, index) +
                        "the text is written in quotes, and the quotes are shown on screen with "
                        "it; write it without them");
    }
}

// How a message's value goes into its text, for the advice on a refused format.
struct ValueAdvice {
    const char* conversion;
    const char* value;
};

ValueAdvice adviceFor(Msg msg) {
    switch (msg) {
        case Msg::rotateStepChange:
            return {"%0.1f", "the rotate step"};
        case Msg::moveStepChange:
            return {"%0.1f", "the move step"};
        case Msg::scaleStepChange:
            return {"%d", "the scale step"};
        case Msg::axisChange:
            return {"%c", "the axis letter"};
        case Msg::objectInfo:
            return {"%.1f", "each of the position's and the angles' numbers and %d for the scale"};
        default:
            return {"%d", "the scale"};
    }
}

// The 1-based number of the character that starts at byte `offset` (UTF-8 continuation bytes
// are no characters of their own).
std::size_t characterNumber(const std::string& text, std::size_t offset) {
    std::size_t number = 1;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++number;
    return number;
}

// Names the part of a refused format text at fault and what to write instead; "" when the
// text has no such part (it is empty or formats too long).
}  // namespace

std::string explainFormatFault(const std::string& text, Msg msg) {
    const FormatFault fault = findFormatFault(text.c_str(), messageInfo(msg).arg);
    if (!fault.reason) return {};
    const ValueAdvice advice = adviceFor(msg);
    const bool placement = messageInfo(msg).arg == FormatArg::placement;
    if (fault.kind == FormatFaultKind::missingConversion)
        return std::string("it holds ") + fault.reason +
               "; write the seven in that order, as the default text does; the default text stays";
    std::string why = "it holds \"" + text.substr(fault.offset, fault.length) + "\" at character " +
                      std::to_string(characterNumber(text, fault.offset)) + ", " + fault.reason +
                      "; ";
    switch (fault.kind) {
        case FormatFaultKind::lonePercent:
            why += "write %% for a percent sign";
            break;
        case FormatFaultKind::wrongConversion:
            why += std::string("write ") + advice.conversion + " for " + advice.value +
                   ", or %% for a percent sign";
            break;
        case FormatFaultKind::spoiltConversion:
            why += std::string("write ") + advice.conversion + " for " + advice.value;
            break;
        case FormatFaultKind::tooWide:
            why += "keep a width or precision at 1023 or less";
            break;
        case FormatFaultKind::secondConversion:
            why += placement ? std::string("the message has seven values: keep seven "
                                           "conversions and write %% for any other percent sign")
                             : std::string("the message has one value: keep one ") +
                                   advice.conversion + " and write %% for any other percent sign";
            break;
        case FormatFaultKind::none:
        case FormatFaultKind::missingConversion:
            break;
    }
    return why + "; the default text stays";
}

void findKeyProblems(const Reading& reading, const SettingsInForce& inForce, Collector& out) {
    findSharedKeys(reading, inForce, out);
    for (const char* name : kActionNames) findOctal(reading, kKeysSection, name, true, out);
    findUnusableCodes(reading, inForce, out);
}

void findValueProblems(const Reading& reading, const SettingsInForce& inForce, Collector& out) {
    for (const SettingRow& row : kSettingTable)
        if (row.type == SettingType::low8 || row.type == SettingType::stepIndex)
            findOctal(reading, row.section, row.name, false, out);
    findOddSteps(reading, inForce, out);
    findMessageShapes(reading, out);
}

}  // namespace freeplot::report_text
