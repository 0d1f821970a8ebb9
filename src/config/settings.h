#pragma once
// The plugin's settings and key bindings, read from "Data\F4SE\Plugins\freeplot.ini" while the
// plugin loads (and again when the player changes the file), and never written back.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/actions.h"
#include "config/messages.h"
#include "config/steps.h"

namespace freeplot {

// Sections main, dangerous and cheats; each member's name, section and default are in its row of
// the setting table, which checks at compile time that the defaults here agree. The switches
// take their start states from the flags here (rules/switches.h) and keep their live states
// there.
struct Settings {
    std::uint8_t togglable = 0;  // low 8 bits of the integer read
    float buildTimescale = 0.01f;
    bool wheelRotation = false;
    bool timeoutFrozen = false;
    bool snapDisabled = false;
    bool groundDisabled = false;
    bool outlineDisabled = false;
    bool extraOutlineEnabled = false;
    bool autoTimescaleEnabled = false;
    bool deleteEnabled = false;     // section dangerous
    bool duplicateEnabled = false;  // section cheats
};
extern Settings settings;

// A step table as a reading leaves it: plain values, copied into the live table when taken.
template <class T>
struct StepsInForce {
    std::array<T, kStepCapacity> values;
    std::int32_t count;
    std::int32_t index = kDefaultStepIdx;
    T current() const { return values[static_cast<std::size_t>(index)]; }
};

// Everything a settings file decides, as one value: what a reading gives before anything of it
// is put in force, so that a reading never leaves the plugin half changed. Starts at the built-in
// defaults.
struct SettingsInForce {
    Settings settings;
    std::array<KeyBinding, kActionCount> keys = kDefaultKeyBindings;
    std::array<std::string, kMessageCount> texts = defaultTexts();
    StepsInForce<double> rotate{kDefaultRotateSteps, kDefaultRotateStepCount};
    StepsInForce<double> move{kDefaultMoveSteps, kDefaultMoveStepCount};
    StepsInForce<std::int32_t> scale{kDefaultScaleSteps, kDefaultScaleStepCount};

    const std::string& text(Msg msg) const { return texts[static_cast<std::size_t>(msg)]; }

private:
    static std::array<std::string, kMessageCount> defaultTexts() {
        std::array<std::string, kMessageCount> all;
        for (std::size_t i = 0; i < kMessageCount; ++i) all[i] = kMessages[i].defaultText;
        return all;
    }
};

// Puts a reading's settings in force: the settings, the key bindings, the messages and the step
// tables, each step table's current entry included. Called while the plugin loads, and on the
// input thread at the start of a stay while no worker runs, so nothing sees them half replaced.
void applySettings(const SettingsInForce& next);

// The settings in force now, as one value.
SettingsInForce settingsNow();

// Puts every setting, binding, message and step table back to its built-in default
// (the state at library load). Used by tools and tests that read several files.
void restoreDefaultSettings();

}  // namespace freeplot
