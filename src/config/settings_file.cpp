// Reading the settings file: key bindings, the settings of the setting table, and the order in
// which every section is read.

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <limits>
#include <optional>

#include "common/log.h"
#include "config/ini_file.h"
#include "config/keynames.h"
#include "config/messages.h"
#include "config/report.h"
#include "config/setting_table.h"
#include "config/settings.h"
#include "config/steps.h"
#include "os/os.h"

namespace freeplot {

namespace {

const char* const kKeys = "keys";

// The words GetBoolean knows; every other text reads as false.
bool isTrueWord(const std::string& lower) {
    return lower == "true" || lower == "yes" || lower == "on" || lower == "1";
}
bool isFalseWord(const std::string& lower) {
    return lower == "false" || lower == "no" || lower == "off" || lower == "0";
}

// Whether GetInteger / GetReal find a number at the start of the text.
bool convertsAsInteger(const std::string& text) {
    char* end = nullptr;
    (void)std::strtol(text.c_str(), &end, 0);
    return end > text.c_str();
}
// Whether the whole text is one integer (white space around it aside).
bool wholeInteger(const std::string& text) {
    char* end = nullptr;
    (void)std::strtol(text.c_str(), &end, 0);
    while (end && (*end == ' ' || *end == '\t')) ++end;
    return end > text.c_str() && *end == '\0';
}
bool convertsAsReal(const std::string& text) {
    char* end = nullptr;
    (void)std::strtod(text.c_str(), &end);
    return end > text.c_str();
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// A flag: the words GetBoolean knows, any other text reads as the default (off).
void readFlag(const IniFile& file, const SettingRow& row, SettingsReport* report) {
    const bool value = file.reader.GetBoolean(row.section, row.name, row.defaultValue != 0);
    settings.*row.flag = value;
    if (report && file.reader.HasValue(row.section, row.name)) {
        const std::string text = file.reader.Get(row.section, row.name, "");
        const std::string lower = lowerCase(text);
        if (isTrueWord(lower) || isFalseWord(lower))
            note(report, NoteKind::accepted, row.section, row.name, value ? "true" : "false");
        else
            note(report, NoteKind::refused, row.section, row.name,
                 quoted(text) + " is not true/yes/on/1 or false/no/off/0; it reads as false");
    }
}

void readLow8(const IniFile& file, const SettingRow& row, SettingsReport* report) {
    const std::int32_t value =
        getInteger(file, row.section, row.name, static_cast<std::int32_t>(row.defaultValue));
    const auto kept = static_cast<std::uint8_t>(value);
    settings.*row.low8 = kept;
    if (!report || !file.reader.HasValue(row.section, row.name)) return;
    const std::string text = file.reader.Get(row.section, row.name, "");
    if (!convertsAsInteger(text))
        note(report, NoteKind::refused, row.section, row.name,
             quoted(text) + " is not a number; the default stays");
    else if (value != kept)
        note(report, NoteKind::adjusted, row.section, row.name,
             std::to_string(value) + " counts only its low 8 bits: " + std::to_string(kept));
    else
        note(report, NoteKind::accepted, row.section, row.name, std::to_string(value));
}

// A missing or unreadable number keeps the value in force.
void readReal(const IniFile& file, const SettingRow& row, SettingsReport* report) {
    float& setting = settings.*row.real;
    const double value = file.reader.GetReal(row.section, row.name, setting);
    // A value that is no finite number or does not fit a float would put garbage (or, for
    // the conversion, undefined behaviour) into the game clock: it keeps the value in force.
    const bool fits = std::isfinite(value) &&
                      std::fabs(value) <= static_cast<double>(std::numeric_limits<float>::max());
    if (fits) setting = static_cast<float>(value);

    if (!report || !file.reader.HasValue(row.section, row.name)) return;
    const std::string text = file.reader.Get(row.section, row.name, "");
    if (!convertsAsReal(text))
        note(report, NoteKind::refused, row.section, row.name,
             quoted(text) + " is not a number; the default stays");
    else if (!fits)
        note(report, NoteKind::refused, row.section, row.name,
             quoted(text) + " is no finite number a float can hold; the default stays");
    else
        note(report, NoteKind::accepted, row.section, row.name, text);
}

}  // namespace

void readKeys(const IniFile& file, SettingsReport* report) {
    for (const std::string& name : file.names(kKeys)) {
        try {
            // A number alone is a code as it always was; any other text may name a key, "9 key"
            // too (a number with text after it that names no key still reads as its number).
            const std::string text = file.reader.Get(kKeys, name, "");
            const bool number = convertsAsInteger(text);
            const std::optional<std::uint16_t> named =
                number && wholeInteger(text) ? std::nullopt : keyCodeOfName(text);
            const std::int32_t value = named ? *named : getInteger(file, kKeys, name, 0);
            const auto code = static_cast<std::uint16_t>(value);
            const bool zero = text == "0";
            if (code == 0) {
                logLine("Invalid value for key: %s", name.c_str());
                note(report, NoteKind::refused, kKeys, name,
                     zero ? "\"0\" is the number 0, which no key sends (for the 0 key write "
                             "\"0 key\" or 48); the default stays"
                           : quoted(text) +
                                 " is neither a key code (a number from 1 to 65535) nor a key's "
                                 "name; the default stays");
                continue;
            }
            const KeyBinding bound = bindingForCode(code);
            bool known = false;
            for (std::size_t i = 0; i < kActionCount; ++i) {
                if (name == kActionNames[i]) {
                    keyBindings[i] = bound;
                    known = true;
                    break;
                }
            }
            if (!report) continue;
            if (!known) {
                note(report, NoteKind::ignored, kKeys, name,
                     "no action has this name (names are case-sensitive)");
            } else if (value != code) {
                note(report, NoteKind::adjusted, kKeys, name,
                     std::to_string(value) + " is cut to 16 bits: " + std::to_string(code));
            } else if (named) {
                note(report, NoteKind::accepted, kKeys, name, text + ": " + std::to_string(code));
            } else {
                note(report, NoteKind::accepted, kKeys, name, std::to_string(code));
            }
        } catch (const std::exception&) {
            logLine("Invalid key: %s", name.c_str());
            note(report, NoteKind::refused, kKeys, name, "could not be read; the default stays");
        }
    }
}

void readSettingTable(const IniFile& file, SettingsReport* report) {
    // The real numbers first, then the step tables, then the switches: the order of the
    // plugin's log lines and of the checker's findings.
    for (const SettingRow& row : kSettingTable)
        if (row.type == SettingType::real) readReal(file, row, report);
    readSteps(file, report);
    for (const SettingRow& row : kSettingTable) {
        if (row.type == SettingType::low8)
            readLow8(file, row, report);
        else if (row.type == SettingType::flag)
            readFlag(file, row, report);
    }
}

bool loadSettings(const std::string& windowsPath, SettingsReport* report) {
    const IniFile file(os::nativePath(windowsPath.c_str()));
    return loadSettings(windowsPath, file, report);
}

bool loadSettings(const std::string& windowsPath, const IniFile& file, SettingsReport* report) {
    if (file.parseError() < 0) {
        logLine("Could not read/parse config file %s", windowsPath.c_str());
        return false;
    }
    readKeys(file, report);
    readMessages(file, report);
    readSettingTable(file, report);
    return true;
}

}  // namespace freeplot
