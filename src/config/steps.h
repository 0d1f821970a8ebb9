#pragma once
// The rotate, move and scale step tables: up to 10 entries each, a count and a current
// index that always lies within the valid entries.

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/shared.h"

namespace freeplot {

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

// Moves a current index by `delta` (+1 or -1), wrapping from the last entry to the first and
// from the first to the last. Returns the new index.
std::int32_t stepIndex(std::int32_t index, std::int32_t count, std::int32_t delta);

// One table: its entries, how many are valid, and the current one. Entries and count are set
// while the plugin loads; the index moves with the step keys on the input thread while workers
// read the current step, so it is shared.
template <class T>
struct StepTable {
    std::array<T, kStepCapacity> values;
    std::int32_t count;
    Shared<std::int32_t> index{kDefaultStepIdx};

    T current() const { return values[static_cast<std::size_t>(index.load())]; }
    // Moves to the next (+1) or previous (-1) entry, wrapping around; returns the new step.
    T step(std::int32_t delta) {
        index = stepIndex(index, count, delta);
        return current();
    }
};

extern StepTable<double> rotateSteps;       // degrees
extern StepTable<double> moveSteps;         // game distance units
extern StepTable<std::int32_t> scaleSteps;  // percentage points

// Parses a list of up to 10 numbers separated by white space into `table`, as the [steps]
// lists are read: stops at the first text that is no number (or is out of range, or no finite
// number a float can hold). Returns the number of values taken; when it is 0 the table is
// untouched. A list that stops before 10 values is what the plugin logs.
int parseStepList(const char* text, std::array<double, kStepCapacity>& table);
int parseStepList(const char* text, std::array<std::int32_t, kStepCapacity>& table);

// One number from the start of `text` as a list entry: false when none converts, it is out of
// range, or (for the real lists) it is no finite number; `end` points after what converted.
bool convertStep(const char* text, char*& end, double& out);
bool convertStep(const char* text, char*& end, std::int32_t& out);

// The index a table settles on: the wanted index when it lies within the count, else the
// current one pulled below the count.
std::int32_t settleIndex(std::int32_t current, std::int32_t wanted, std::int32_t count);

}  // namespace freeplot
