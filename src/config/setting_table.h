#pragma once
// Every setting of the sections main, dangerous, cheats and steps, one row each: the section
// and name the file gives it, its type (which says what values it accepts and how they are
// read), where its value goes, and its default. The reader, the settings checker and the tests
// take every setting's name from here. [keys] and [messages] have tables of their own
// (config/actions.h, config/messages.h).

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "config/settings.h"
#include "config/steps.h"

namespace freeplot {

enum class SettingType : std::uint8_t {
    flag,       // true, yes, on or 1 (in any case) switch it on; any other text switches it off
    low8,       // an integer (decimal, 0x hexadecimal, 0 octal) of which the low 8 bits count
    real,       // a finite number a float can hold; any other text keeps the value in force
    stepIndex,  // the current entry of its step list, counting from 1; any other number or
                // text keeps the entry in force (pulled into a shorter list)
    stepList,   // up to 10 numbers separated by white space, reals for the rotate and move
                // steps, whole numbers for the scale steps; the list ends at the first that is
                // none, and a list without any keeps the built-in one
};

// The step table a stepIndex or stepList setting goes to.
enum class StepId : std::uint8_t { rotate, move, scale };
inline constexpr std::size_t kStepTableCount = 3;

struct SettingRow {
    const char* section;  // in lower case, as inih matches section names in any case
    const char* name;     // as the shipped file writes it; inih matches it in any case
    SettingType type;
    // Where the value goes: the member of `settings` that fits the type, or the step table.
    bool Settings::*flag = nullptr;
    std::uint8_t Settings::*low8 = nullptr;
    float Settings::*real = nullptr;
    StepId steps = StepId::rotate;
    // The default of a flag, low8 or real, and the entry (counting from 1) of a stepIndex. A
    // step list's default is its table's built-in list (config/steps.h).
    double defaultValue = 0;
    // It acts only while the game starts: a file read again while the game runs leaves it as the
    // game started until the next start.
    bool startOnly = false;
};

constexpr SettingRow flagSetting(const char* section, const char* name, bool Settings::*member,
                                 bool defaultValue, bool startOnly = false) {
    return {.section = section,
            .name = name,
            .type = SettingType::flag,
            .flag = member,
            .defaultValue = defaultValue ? 1.0 : 0.0,
            .startOnly = startOnly};
}
constexpr SettingRow low8Setting(const char* section, const char* name,
                                 std::uint8_t Settings::*member, std::uint8_t defaultValue,
                                 bool startOnly = false) {
    return {.section = section,
            .name = name,
            .type = SettingType::low8,
            .low8 = member,
            .defaultValue = static_cast<double>(defaultValue),
            .startOnly = startOnly};
}
constexpr SettingRow realSetting(const char* section, const char* name, float Settings::*member,
                                 float defaultValue) {
    return {.section = section,
            .name = name,
            .type = SettingType::real,
            .real = member,
            .defaultValue = defaultValue};
}
constexpr SettingRow stepListSetting(const char* section, const char* name, StepId steps) {
    return {.section = section, .name = name, .type = SettingType::stepList, .steps = steps};
}
constexpr SettingRow stepIndexSetting(const char* section, const char* name, StepId steps,
                                      std::int32_t defaultEntry) {
    return {.section = section,
            .name = name,
            .type = SettingType::stepIndex,
            .steps = steps,
            .defaultValue = static_cast<double>(defaultEntry)};
}

// The order counts: the reader takes the rows of each type in it (see readSettingTable), and the
// checker prints main, dangerous and cheats, and the step lists, in it.
inline constexpr bool kStartOnly = true;
inline constexpr std::array kSettingTable = {
    low8Setting("main", "togglable", &Settings::togglable, 0, kStartOnly),
    realSetting("main", "buildTimescale", &Settings::buildTimescale, 0.01f),
    flagSetting("main", "wheelRotation", &Settings::wheelRotation, false),
    flagSetting("main", "timeoutFrozen", &Settings::timeoutFrozen, false, kStartOnly),
    flagSetting("main", "snapDisabled", &Settings::snapDisabled, false, kStartOnly),
    flagSetting("main", "groundDisabled", &Settings::groundDisabled, false, kStartOnly),
    flagSetting("main", "outlineDisabled", &Settings::outlineDisabled, false, kStartOnly),
    flagSetting("main", "extraOutlineEnabled", &Settings::extraOutlineEnabled, false, kStartOnly),
    flagSetting("main", "autoTimescaleEnabled", &Settings::autoTimescaleEnabled, false),
    flagSetting("dangerous", "deleteEnabled", &Settings::deleteEnabled, false),
    flagSetting("cheats", "duplicateEnabled", &Settings::duplicateEnabled, false),
    stepListSetting("steps", "rotateSteps", StepId::rotate),
    stepIndexSetting("steps", "rotateStepIdx", StepId::rotate, kDefaultStepIdx + 1),
    stepListSetting("steps", "moveSteps", StepId::move),
    stepIndexSetting("steps", "moveStepIdx", StepId::move, kDefaultStepIdx + 1),
    stepListSetting("steps", "scaleSteps", StepId::scale),
    stepIndexSetting("steps", "scaleStepIdx", StepId::scale, kDefaultStepIdx + 1),
};

// Calls f(table, builtInValues, builtInCount) with the step table `id` names in `in`.
template <class In, class F>
void withSteps(In& in, StepId id, F&& f) {
    switch (id) {
        case StepId::rotate:
            f(in.rotate, kDefaultRotateSteps, kDefaultRotateStepCount);
            return;
        case StepId::move:
            f(in.move, kDefaultMoveSteps, kDefaultMoveStepCount);
            return;
        case StepId::scale:
            f(in.scale, kDefaultScaleSteps, kDefaultScaleStepCount);
            return;
    }
}

// The row of the given type (stepIndex or stepList) of a step table.
constexpr const SettingRow& stepRow(StepId id, SettingType type) {
    for (const SettingRow& row : kSettingTable)
        if (row.steps == id && row.type == type) return row;
    return kSettingTable.front();  // not reached: the checks below find both rows of each table
}

// The settings a file read again while the game runs puts in force: the file's, but for those
// that act only while the game starts, which keep their values from the start.
inline Settings whileRunning(Settings fromFile, const Settings& started) {
    for (const SettingRow& row : kSettingTable) {
        if (!row.startOnly) continue;
        if (row.type == SettingType::flag) fromFile.*row.flag = started.*row.flag;
        if (row.type == SettingType::low8) fromFile.*row.low8 = started.*row.low8;
    }
    return fromFile;
}

// Whether a setting holds its default in `in`.
inline bool holdsDefault(const SettingsInForce& in, const SettingRow& row) {
    bool same = false;
    switch (row.type) {
        case SettingType::flag:
            return in.settings.*row.flag == (row.defaultValue != 0);
        case SettingType::low8:
            return in.settings.*row.low8 == row.defaultValue;
        case SettingType::real:
            return in.settings.*row.real == static_cast<float>(row.defaultValue);
        case SettingType::stepIndex:
            withSteps(in, row.steps, [&](const auto& table, auto&&...) {
                same = table.index + 1 == row.defaultValue;
            });
            return same;
        case SettingType::stepList:
            withSteps(in, row.steps,
                      [&](const auto& table, const auto& values, std::int32_t count) {
                          same = table.count == count &&
                                 std::equal(values.begin(), values.begin() + count,
                                            table.values.begin());
                      });
            return same;
    }
    return false;
}

namespace setting_table_checks {

constexpr bool sameText(const char* a, const char* b) {
    for (; *a && *a == *b; ++a, ++b) {
    }
    return *a == *b;
}
constexpr char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr bool sameName(const char* a, const char* b) {
    for (; *a && lower(*a) == lower(*b); ++a, ++b) {
    }
    return lower(*a) == lower(*b);
}

// Settings{} starts each member at its row's default; no name is in a section twice, in any
// case; every step table has one index row and one list row.
constexpr bool consistent() {
    const Settings start{};
    for (const SettingRow& row : kSettingTable) {
        if (row.type == SettingType::flag && start.*row.flag != (row.defaultValue != 0))
            return false;
        if (row.type == SettingType::low8 && start.*row.low8 != row.defaultValue) return false;
        if (row.type == SettingType::real &&
            start.*row.real != static_cast<float>(row.defaultValue))
            return false;
        for (const SettingRow& other : kSettingTable)
            if (&other != &row && sameText(other.section, row.section) &&
                sameName(other.name, row.name))
                return false;
    }
    for (std::size_t id = 0; id < kStepTableCount; ++id) {
        int indexRows = 0, listRows = 0;
        for (const SettingRow& row : kSettingTable) {
            if (row.steps != static_cast<StepId>(id)) continue;
            indexRows += row.type == SettingType::stepIndex;
            listRows += row.type == SettingType::stepList;
        }
        if (indexRows != 1 || listRows != 1) return false;
    }
    return true;
}
static_assert(consistent());

// An unreadable on/off text reads as false, which the reader's note says: every flag is off
// unless the file switches it on.
constexpr bool flagsStartOff() {
    for (const SettingRow& row : kSettingTable)
        if (row.type == SettingType::flag && row.defaultValue != 0) return false;
    return true;
}
static_assert(flagsStartOff());

}  // namespace setting_table_checks

}  // namespace freeplot
