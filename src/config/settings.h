#pragma once
// The plugin's settings and key bindings, read once from "Data\F4SE\Plugins\freeplot.ini"
// while the plugin loads, and never written back.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/actions.h"

namespace freeplot {

struct IniFile;
struct SettingsReport;

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

// Reads the settings file and puts what it says into effect: key bindings, messages,
// buildTimescale, the step tables, then the settings of main, dangerous and cheats.
// Logs "Could not read/parse config file %s" with `windowsPath` and returns false when
// the file cannot be opened; every setting then keeps its default.
bool loadSettings(const std::string& windowsPath, SettingsReport* report = nullptr);
// The same for a file already parsed from `windowsPath` (the checker parses it once for both).
bool loadSettings(const std::string& windowsPath, const IniFile& file,
                  SettingsReport* report = nullptr);

// The steps of loadSettings, for an already parsed file.
void readKeys(const IniFile& file, SettingsReport* report = nullptr);
// Every setting of the setting table (config/setting_table.h): the real numbers, the step
// tables, then the switches, each in the table's order.
void readSettingTable(const IniFile& file, SettingsReport* report = nullptr);

// Puts every setting, binding, message and step table back to its built-in default
// (the state at library load). Used by tools and tests that read several files.
void restoreDefaultSettings();

}  // namespace freeplot
