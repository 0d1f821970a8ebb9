#include "config/steps.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>


namespace freeplot {

StepTable<double> rotateSteps{kDefaultRotateSteps, kDefaultRotateStepCount};
StepTable<double> moveSteps{kDefaultMoveSteps, kDefaultMoveStepCount};
StepTable<std::int32_t> scaleSteps{kDefaultScaleSteps, kDefaultScaleStepCount};

namespace {

// One number from the start of `text`; false when none converts or it is out of range.
bool convert(const char* text, char*& end, double& out) {
    errno = 0;
    out = std::strtod(text, &end);
    // Infinity and NaN are spelled out ("inf", "nan") rather than overflowing; as a step they
    // would carry the object's coordinates to infinity, so they are refused like a bad value.
    // So is a finite double beyond a float's range: the game's coordinates and angles are
    // floats, and the first move or turn by it would write infinity.
    return end != text && errno != ERANGE && std::isfinite(out) &&
           std::fabs(out) <= std::numeric_limits<float>::max();
}

bool convert(const char* text, char*& end, std::int32_t& out) {
    errno = 0;
    // strtol into a 32-bit long, as on Windows: out of that range is out of range.
    const long long value = std::strtoll(text, &end, 10);
    if (end == text || errno == ERANGE || value < INT32_MIN || value > INT32_MAX) return false;
    out = static_cast<std::int32_t>(value);
    return true;
}

template <class T>
int parseList(const char* text, std::array<T, kStepCapacity>& table) {
    std::array<T, kStepCapacity> taken = table;
    int n = 0;
    const char* rest = text;
    while (n < static_cast<int>(kStepCapacity)) {
        char* end = nullptr;
        T value{};
        if (!convert(rest, end, value)) break;
        taken[static_cast<std::size_t>(n++)] = value;
        rest = end;
    }
    if (n > 0) table = taken;
    return n;
}

}  // namespace

bool convertStep(const char* text, char*& end, double& out) { return convert(text, end, out); }
bool convertStep(const char* text, char*& end, std::int32_t& out) {
    return convert(text, end, out);
}

std::int32_t stepIndex(std::int32_t index, std::int32_t count, std::int32_t delta) {
    index += delta;
    if (index >= count)
        index = 0;
    else if (index < 0)
        index = count - 1;
    return index;
}

int parseStepList(const char* text, std::array<double, kStepCapacity>& table) {
    return parseList(text, table);
}

int parseStepList(const char* text, std::array<std::int32_t, kStepCapacity>& table) {
    return parseList(text, table);
}

std::int32_t settleIndex(std::int32_t current, std::int32_t wanted, std::int32_t count) {
    std::int32_t index = std::min(current, count - 1);
    if (wanted >= 0 && wanted < count) index = wanted;
    return index;
}

}  // namespace freeplot
