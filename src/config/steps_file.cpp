// Reading the [steps] section.

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <string>

#include "config/ini_file.h"
#include "config/report.h"
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

template <class T>
void readTable(const IniFile& file, const char* listKey, const char* indexKey, StepTable<T>& table,
               std::int32_t wanted, SettingsReport* report) {
    const std::string text = file.reader.Get("steps", listKey, "");
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
    if (file.reader.HasValue("steps", listKey)) {
        const char* rest = restAfter<T>(text.c_str(), taken);
        if (taken == 0)
            note(report, NoteKind::refused, "steps", listKey,
                 "no number at \"" + std::string(rest) + "\"; the built-in list stays");
        else if (taken < static_cast<int>(kStepCapacity) && !onlyWhiteSpace(rest))
            note(report, NoteKind::refused, "steps", listKey,
                 std::to_string(taken) + (taken == 1 ? " value" : " values") +
                     " taken; the list stops at \"" + rest +
                     "\" (values are separated by white space only)");
        else if (taken == static_cast<int>(kStepCapacity) && !onlyWhiteSpace(rest))
            note(report, NoteKind::ignored, "steps", listKey,
                 "10 values taken; \"" + std::string(rest) + "\" is beyond the limit of 10");
        else
            note(report, NoteKind::accepted, "steps", listKey, std::to_string(taken) + " values");
    }
    if (file.reader.HasValue("steps", indexKey)) {
        const std::string given = file.reader.Get("steps", indexKey, "");
        char* end = nullptr;
        (void)std::strtol(given.c_str(), &end, 0);
        if (end == given.c_str())
            note(report, NoteKind::refused, "steps", indexKey,
                 "\"" + given + "\" is not a number; the index stays at entry " +
                     std::to_string(index + 1));
        else if (index == wanted)
            note(report, NoteKind::accepted, "steps", indexKey,
                 "entry " + std::to_string(index + 1) + " of " + std::to_string(count));
        else
            note(report, NoteKind::refused, "steps", indexKey,
                 "\"" + given + "\" is not an entry from 1 to " + std::to_string(count) +
                     "; the index stays at entry " + std::to_string(index + 1) +
                     (index != before ? " (the last of the list)" : ""));
    }
}

}  // namespace

void readSteps(const IniFile& file, SettingsReport* report) {
    // The file counts entries from 1; a missing or unreadable key gives back the current one.
    // Computed in 64 bits: the value read may be INT32_MIN.
    auto wantedIndex = [&](const char* key, std::int32_t current) {
        const std::int64_t oneBased = getInteger(file, "steps", key, current + 1);
        return static_cast<std::int32_t>(std::max<std::int64_t>(oneBased - 1, INT32_MIN));
    };
    const std::int32_t rotateWanted = wantedIndex("rotateStepIdx", rotateSteps.index);
    const std::int32_t moveWanted = wantedIndex("moveStepIdx", moveSteps.index);
    const std::int32_t scaleWanted = wantedIndex("scaleStepIdx", scaleSteps.index);

    readTable(file, "rotateSteps", "rotateStepIdx", rotateSteps, rotateWanted, report);
    readTable(file, "moveSteps", "moveStepIdx", moveSteps, moveWanted, report);
    readTable(file, "scaleSteps", "scaleStepIdx", scaleSteps, scaleWanted, report);
}

}  // namespace freeplot
