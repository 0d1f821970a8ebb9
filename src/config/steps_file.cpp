// Reading the [steps] section.

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <string>
#include <type_traits>

#include "config/ini_file.h"
#include "config/report.h"
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
void readTable(const IniFile& file, const SettingRow& list, const SettingRow& indexRow,
               StepTable<T>& table, std::int32_t wanted, SettingsReport* report) {
    const char* const listKey = list.name;
    const std::string text = file.reader.Get(list.section, listKey, "");
    int taken = 0;
    if (!text.empty()) {
        taken = parseStepList(text.c_str(), table.values, listKey);
        if (taken > 0) table.count = taken;
    }
    const std::int32_t count = table.count;
    const std::int32_t before = table.index;
    const std::int32_t index = settleIndex(before, wanted, count);
    table.index = index;

    if (!report) return;
    if (file.reader.HasValue(list.section, listKey)) {
        const char* rest = restAfter<T>(text.c_str(), taken);
        if (taken == 0 && convertsAnyway<T>(rest))
            note(report, NoteKind::refused, list.section, listKey,
                 "\"" + std::string(rest) + "\" starts with " + whyStopped<T>(rest) +
                     "; the built-in list stays");
        else if (taken == 0)
            note(report, NoteKind::refused, list.section, listKey,
                 "no number at \"" + std::string(rest) + "\"; the built-in list stays");
        else if (taken < static_cast<int>(kStepCapacity) && !onlyWhiteSpace(rest))
            note(report, NoteKind::refused, list.section, listKey,
                 std::to_string(taken) + (taken == 1 ? " value" : " values") +
                     " taken; the list stops at \"" + rest + "\" (" + whyStopped<T>(rest) + ")");
        else if (taken == static_cast<int>(kStepCapacity) && !onlyWhiteSpace(rest))
            note(report, NoteKind::ignored, list.section, listKey,
                 "10 values taken; \"" + std::string(rest) + "\" is beyond the limit of 10");
        else
            note(report, NoteKind::accepted, list.section, listKey,
                 std::to_string(taken) + " values");
    }
    const char* const indexKey = indexRow.name;
    if (file.reader.HasValue(indexRow.section, indexKey)) {
        const std::string given = file.reader.Get(indexRow.section, indexKey, "");
        char* end = nullptr;
        (void)std::strtol(given.c_str(), &end, 0);
        if (end == given.c_str())
            note(report, NoteKind::refused, indexRow.section, indexKey,
                 "\"" + given + "\" is not a number; the index stays at entry " +
                     std::to_string(index + 1));
        else if (index == wanted)
            note(report, NoteKind::accepted, indexRow.section, indexKey,
                 "entry " + std::to_string(index + 1) + " of " + std::to_string(count));
        else
            note(report, NoteKind::refused, indexRow.section, indexKey,
                 "\"" + given + "\" is not an entry from 1 to " + std::to_string(count) +
                     "; the index stays at entry " + std::to_string(index + 1) +
                     (index != before ? " (the last of the list)" : ""));
    }
}

}  // namespace

void readSteps(const IniFile& file, SettingsReport* report) {
    // The file counts entries from 1; a missing or unreadable key gives back the current one.
    // Computed in 64 bits: the value read may be INT32_MIN. Every index is read before the
    // first list.
    std::array<std::int32_t, kStepTableCount> wanted{};
    for (const SettingRow& row : kSettingTable) {
        if (row.type != SettingType::stepIndex) continue;
        withStepTable(row.steps, [&](const auto& table, auto&&...) {
            const std::int64_t oneBased = getInteger(file, row.section, row.name, table.index + 1);
            wanted[static_cast<std::size_t>(row.steps)] =
                static_cast<std::int32_t>(std::max<std::int64_t>(oneBased - 1, INT32_MIN));
        });
    }
    for (const SettingRow& row : kSettingTable) {
        if (row.type != SettingType::stepList) continue;
        withStepTable(row.steps, [&](auto& table, auto&&...) {
            readTable(file, row, stepRow(row.steps, SettingType::stepIndex), table,
                      wanted[static_cast<std::size_t>(row.steps)], report);
        });
    }
}

}  // namespace freeplot
