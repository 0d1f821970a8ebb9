// Reading the [steps] section.

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <string>
#include <type_traits>

#include "config/reading.h"
#include "config/setting_table.h"
#include "config/steps.h"

namespace freeplot {
namespace {

bool onlyWhiteSpace(const char* text) {
    for (; *text; ++text)
        if (!std::isspace(static_cast<unsigned char>(*text))) return false;
    return true;
}

// Where a list stopped, for the report: the text after the values taken.
template <class T>
const char* restAfter(const char* text, int count) {
    const char* rest = text;
    for (int i = 0; i < count; ++i) {
        char* end = nullptr;
        T value{};
        convertStep(rest, end, value);
        rest = end;
    }
    return rest;
}

// Whether a number is written at `rest` although no step could be taken from it.
template <class T>
bool convertsAnyway(const char* rest) {
    char* end = nullptr;
    if constexpr (std::is_same_v<T, double>)
        (void)std::strtod(rest, &end);
    else
        (void)std::strtoll(rest, &end, 10);
    return end != rest;
}

// Why a list stops at `rest`, where a value was expected.
template <class T>
std::string whyStopped(const char* rest) {
    if (!convertsAnyway<T>(rest)) return "values are separated by white space only";
    if constexpr (std::is_same_v<T, double>)
        return "a number no step can be: infinity, NaN, or too large or too small for a float, "
               "which the game's positions and angles are";
    else
        return "a whole number beyond the 32-bit range";
}

template <class T>
void readTable(Reading& reading, const SettingRow& list, const SettingRow& indexRow,
               StepsInForce<T>& table, std::int32_t wanted) {
    const char* const listKey = list.name;
    const IniEntry* listEntry = reading.ini.find(list.section, listKey);
    const std::string text = listEntry ? listEntry->value : std::string();
    int taken = 0;
    if (!text.empty()) {
        taken = parseStepList(text.c_str(), table.values);
        if (taken > 0) table.count = taken;
        if (taken < static_cast<int>(kStepCapacity))
            reading.log("Invalid value in %s, succesfully parsed %d", listKey, taken);
    }
    const std::int32_t count = table.count;
    const std::int32_t before = table.index;
    const std::int32_t index = settleIndex(before, wanted, count);
    table.index = index;

    if (listEntry) {
        const char* rest = restAfter<T>(text.c_str(), taken);
        if (taken == 0 && convertsAnyway<T>(rest))
            reading.note(NoteKind::refused, list.section, listKey,
                         "\"" + std::string(rest) + "\" starts with " + whyStopped<T>(rest) +
                             "; the built-in list stays",
                         listEntry);
        else if (taken == 0)
            reading.note(NoteKind::refused, list.section, listKey,
                         "no number at \"" + std::string(rest) + "\"; the built-in list stays",
                         listEntry);
        else if (taken < static_cast<int>(kStepCapacity) && !onlyWhiteSpace(rest))
            reading.note(NoteKind::refused, list.section, listKey,
                         std::to_string(taken) + (taken == 1 ? " value" : " values") +
                             " taken; the list stops at \"" + rest + "\" (" +
                             whyStopped<T>(rest) + ")",
                         listEntry);
        else if (taken == static_cast<int>(kStepCapacity) && !onlyWhiteSpace(rest))
            reading.note(NoteKind::ignored, list.section, listKey,
                         "10 values taken; \"" + std::string(rest) +
                             "\" is beyond the limit of 10",
                         listEntry);
        else
            reading.note(NoteKind::accepted, list.section, listKey,
                         std::to_string(taken) + " values", listEntry);
    }
    const char* const indexKey = indexRow.name;
    if (const IniEntry* indexEntry = reading.ini.find(indexRow.section, indexKey)) {
        const std::string& given = indexEntry->value;
        char* end = nullptr;
        (void)std::strtol(given.c_str(), &end, 0);
        if (end == given.c_str())
            reading.note(NoteKind::refused, indexRow.section, indexKey,
                         "\"" + given + "\" is not a number; the index stays at entry " +
                             std::to_string(index + 1),
                         indexEntry);
        else if (index == wanted)
            reading.note(NoteKind::accepted, indexRow.section, indexKey,
                         "entry " + std::to_string(index + 1) + " of " + std::to_string(count),
                         indexEntry);
        else
            reading.note(NoteKind::refused, indexRow.section, indexKey,
                         "\"" + given + "\" is not an entry from 1 to " + std::to_string(count) +
                             "; the index stays at entry " + std::to_string(index + 1) +
                             (index != before ? " (the last of the list)" : ""),
                         indexEntry);
    }
}

}  // namespace

void readSteps(Reading& reading) {
    // The file counts entries from 1; a missing or unreadable key gives back the current one.
    // Computed in 64 bits: the value read may be INT32_MIN. Every index is read before the
    // first list.
    std::array<std::int32_t, kStepTableCount> wanted{};
    for (const SettingRow& row : kSettingTable) {
        if (row.type != SettingType::stepIndex) continue;
        withSteps(reading.inForce, row.steps, [&](const auto& table, auto&&...) {
            const IniEntry* entry = reading.ini.find(row.section, row.name);
            const std::int64_t oneBased =
                entry ? readInteger(entry->value, table.index + 1) : table.index + 1;
            wanted[static_cast<std::size_t>(row.steps)] =
                static_cast<std::int32_t>(std::max<std::int64_t>(oneBased - 1, INT32_MIN));
        });
    }
    for (const SettingRow& row : kSettingTable) {
        if (row.type != SettingType::stepList) continue;
        withSteps(reading.inForce, row.steps, [&](auto& table, auto&&...) {
            readTable(reading, row, stepRow(row.steps, SettingType::stepIndex), table,
                      wanted[static_cast<std::size_t>(row.steps)]);
        });
    }
}

}  // namespace freeplot
