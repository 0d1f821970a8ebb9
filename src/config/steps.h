#pragma once
// The rotate, move and scale step tables: up to 10 entries each, a count and a current
// index that always lies within the valid entries.

#include <array>
#include <cstddef>
#include <cstdint>

namespace freeplot {

struct IniFile;
struct SettingsReport;

inline constexpr std::size_t kStepCapacity = 10;

inline constexpr std::array<double, kStepCapacity> kDefaultRotateSteps = {0.1, 0.5, 1, 5,
                                                                          15,  45,  90};
inline constexpr std::array<double, kStepCapacity> kDefaultMoveSteps = {0.1, 0.5, 1,  5,
                                                                        10,  50,  100};
inline constexpr std::array<std::int32_t, kStepCapacity> kDefaultScaleSteps = {1, 5, 10, 25, 50};
inline constexpr std::int32_t kDefaultRotateStepCount = 7;
inline constexpr std::int32_t kDefaultMoveStepCount = 7;
inline constexpr std::int32_t kDefaultScaleStepCount = 5;
inline constexpr std::int32_t kDefaultStepIdx = 2;

extern std::array<double, kStepCapacity> rotateSteps;       // degrees
extern std::array<double, kStepCapacity> moveSteps;         // game distance units
extern std::array<std::int32_t, kStepCapacity> scaleSteps;  // percentage points
extern std::int32_t rotateStepCount, moveStepCount, scaleStepCount;
extern std::int32_t rotateStepIdx, moveStepIdx, scaleStepIdx;  // 0-based

inline double currentRotateStep() { return rotateSteps[static_cast<std::size_t>(rotateStepIdx)]; }
inline double currentMoveStep() { return moveSteps[static_cast<std::size_t>(moveStepIdx)]; }
inline std::int32_t currentScaleStep() {
    return scaleSteps[static_cast<std::size_t>(scaleStepIdx)];
}

// Moves a current index by `delta` (+1 or -1), wrapping from the last entry to the first and
// from the first to the last. Returns the new index.
std::int32_t stepIndex(std::int32_t& index, std::int32_t count, std::int32_t delta);

// Parses a list of up to 10 numbers separated by white space into `table`, as the [steps]
// lists are read: stops at the first text that is no number (or is out of range, or no
// finite number), logging "Invalid value in <listKey>, succesfully parsed %d" with the
// number of values taken, unless 10 values were taken. Returns the number of values taken;
// when it is 0 the table is untouched.
int parseStepList(const char* text, std::array<double, kStepCapacity>& table, const char* listKey);
int parseStepList(const char* text, std::array<std::int32_t, kStepCapacity>& table,
                  const char* listKey);

// The index a table settles on: the wanted index when it lies within the count, else the
// current one pulled below the count.
std::int32_t settleIndex(std::int32_t current, std::int32_t wanted, std::int32_t count);

// Reads [steps]: the three index keys (counting from 1 in the file), then the three lists,
// settling each index after its list.
void readSteps(const IniFile& file, SettingsReport* report = nullptr);

// Every table, count and index back to its default.
void restoreDefaultSteps();

}  // namespace freeplot
