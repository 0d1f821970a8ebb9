#pragma once
// The settings checker: a settings file read as the plugin reads it, and its report, for a player
// before the game starts (tools/freeplot-check) and for the tests.

#include <cstdio>
#include <string>

#include "report/report.h"

namespace freeplot {

struct SettingsCheck {
    Reading reading;
    ReportContext context;
    Findings findings;
};

// Reads the file at `windowsPath` as the plugin's Load does; `shownPath` is how the report names
// it (default: `windowsPath`). Touches none of the plugin's settings in force.
SettingsCheck checkSettings(const std::string& windowsPath, const std::string& shownPath = {});
// The same for the file's bytes in memory.
SettingsCheck checkSettingsBytes(const std::string& windowsPath, std::string bytes,
                                 const std::string& shownPath = {});

// The report's text; the exit status goes to `status` when given.
std::string formatSettingsCheck(const SettingsCheck& check, int* status = nullptr);

// Prints the report; returns the exit status: 0 when every entry took effect as meant, 1 when any
// was refused or ignored or a warning was found, 2 when the file was not read or the report could
// not be written in full (then one line on `errors` says why).
int printSettingsCheck(const SettingsCheck& check, std::FILE* out, std::FILE* errors = stderr);

}  // namespace freeplot
