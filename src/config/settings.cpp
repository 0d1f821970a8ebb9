#include "config/settings.h"

#include <algorithm>
#include <utility>

namespace freeplot {

Settings settings;
std::array<KeyBinding, kActionCount> keyBindings = kDefaultKeyBindings;

std::size_t actionNumberOf(std::string_view name) {
    // The names in byte order, searched by halves: a file may hold many thousand names.
    static const std::array<std::pair<std::string_view, std::size_t>, kActionCount> sorted = [] {
        std::array<std::pair<std::string_view, std::size_t>, kActionCount> all{};
        for (std::size_t i = 0; i < kActionCount; ++i) all[i] = {kActionNames[i], i};
        std::sort(all.begin(), all.end());
        return all;
    }();
    const auto it = std::lower_bound(sorted.begin(), sorted.end(), name,
                                     [](const auto& entry, std::string_view n) { return entry.first < n; });
    return it != sorted.end() && it->first == name ? it->second : kActionCount;
}

KeyBinding bindingForCode(std::uint16_t code) {
    switch (code) {
        case 16:
            return {160, 161};  // Shift: left, right
        case 17:
            return {162, 163};  // Ctrl
        case 18:
            return {164, 165};  // Alt
        default:
            return {code, 0};
    }
}

namespace {

template <class T>
void putSteps(StepTable<T>& table, const StepsInForce<T>& next) {
    table.values = next.values;
    table.count = next.count;
    table.index = next.index;
}

template <class T>
StepsInForce<T> stepsOf(const StepTable<T>& table) {
    return {table.values, table.count, table.index};
}

}  // namespace

void applySettings(const SettingsInForce& next) {
    settings = next.settings;
    keyBindings = next.keys;
    for (std::size_t i = 0; i < kMessageCount; ++i) setMessageText(static_cast<Msg>(i), next.texts[i]);
    putSteps(rotateSteps, next.rotate);
    putSteps(moveSteps, next.move);
    putSteps(scaleSteps, next.scale);
}

SettingsInForce settingsNow() {
    SettingsInForce now;
    now.settings = settings;
    now.keys = keyBindings;
    for (std::size_t i = 0; i < kMessageCount; ++i) now.texts[i] = messageText(static_cast<Msg>(i));
    now.rotate = stepsOf(rotateSteps);
    now.move = stepsOf(moveSteps);
    now.scale = stepsOf(scaleSteps);
    return now;
}

void restoreDefaultSettings() { applySettings(SettingsInForce{}); }

}  // namespace freeplot
