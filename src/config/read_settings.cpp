// Reading the setting table: the real numbers, the step tables, then the switches of main,
// dangerous and cheats, each in the table's order.

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "config/reading.h"
#include "config/setting_table.h"

namespace freeplot {
namespace {

// The words inih's GetBoolean knows; every other text reads as the default.
bool isTrueWord(const std::string& lower) {
    return lower == "true" || lower == "yes" || lower == "on" || lower == "1";
}
bool isFalseWord(const std::string& lower) {
    return lower == "false" || lower == "no" || lower == "off" || lower == "0";
}

// A flag: the words inih knows for true and false; any other text reads as the default (off).
void readFlag(Reading& reading, const SettingRow& row) {
    const IniEntry* entry = reading.ini.find(row.section, row.name);
    if (!entry) return;
    const std::string lower = lowerCase(entry->value);
    const bool value = isTrueWord(lower) || (!isFalseWord(lower) && row.defaultValue != 0);
    reading.inForce.settings.*row.flag = value;
    if (isTrueWord(lower) || isFalseWord(lower))
        reading.note(NoteKind::accepted, row.section, row.name, value ? "true" : "false", entry);
    else
        reading.note(NoteKind::refused, row.section, row.name,
                     quoted(entry->value) +
                         " is not true/yes/on/1 or false/no/off/0; it reads as false",
                     entry);
}

void readLow8(Reading& reading, const SettingRow& row) {
    const IniEntry* entry = reading.ini.find(row.section, row.name);
    if (!entry) return;
    const std::int32_t value =
        readInteger(entry->value, static_cast<std::int32_t>(row.defaultValue));
    const auto kept = static_cast<std::uint8_t>(value);
    reading.inForce.settings.*row.low8 = kept;
    if (!startsWithInteger(entry->value))
        reading.note(NoteKind::refused, row.section, row.name,
                     quoted(entry->value) + " is not a number; the default stays", entry);
    else if (value != kept)
        reading.note(NoteKind::adjusted, row.section, row.name,
                     std::to_string(value) + " counts only its low 8 bits: " + std::to_string(kept),
                     entry);
    else
        reading.note(NoteKind::accepted, row.section, row.name, std::to_string(value), entry);
}

// A missing or unreadable number keeps the default. A value that is no finite number or does not
// fit a float would put garbage (or, for the conversion, undefined behaviour) into the game clock:
// it keeps the default too.
void readReal(Reading& reading, const SettingRow& row) {
    const IniEntry* entry = reading.ini.find(row.section, row.name);
    if (!entry) return;
    char* end = nullptr;
    const double value = std::strtod(entry->value.c_str(), &end);
    const bool converts = end > entry->value.c_str();
    const bool fits = std::isfinite(value) &&
                      std::fabs(value) <= static_cast<double>(std::numeric_limits<float>::max());
    if (converts && fits) reading.inForce.settings.*row.real = static_cast<float>(value);
    if (!converts)
        reading.note(NoteKind::refused, row.section, row.name,
                     quoted(entry->value) + " is not a number; the default stays", entry);
    else if (!fits)
        reading.note(NoteKind::refused, row.section, row.name,
                     quoted(entry->value) +
                         " is no finite number a float can hold; the default stays",
                     entry);
    else
        reading.note(NoteKind::accepted, row.section, row.name, entry->value, entry);
}

}  // namespace

void readSettingTable(Reading& reading) {
    // The real numbers first, then the step tables, then the switches: the order of the
    // plugin's log lines and of the report's notes.
    for (const SettingRow& row : kSettingTable)
        if (row.type == SettingType::real) readReal(reading, row);
    readSteps(reading);
    for (const SettingRow& row : kSettingTable) {
        if (row.type == SettingType::low8)
            readLow8(reading, row);
        else if (row.type == SettingType::flag)
            readFlag(reading, row);
    }
}

}  // namespace freeplot
