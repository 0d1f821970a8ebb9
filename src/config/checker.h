#pragma once
// The settings checker: reads a settings file exactly as the plugin does and tells a player
// what is in force, what was refused and what the plugin logs for it.

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "config/report.h"

namespace freeplot {

struct SettingsCheck {
    std::string path;         // the file as the player named it
    std::string windowsPath;  // the same file as the plugin is given it
    bool opened = false;
    // The first line that does not parse (0: none, -1: the file would not open). A line cut
    // for its length is not one: the plugin reads its first 199 bytes as any other line.
    int parseError = 0;
    // The lines longer than the plugin reads: their number, length, and what is dropped.
    struct LongLine {
        int number;
        std::size_t length;
        std::string keptEnd;  // the last bytes read
        std::string dropped;  // the first bytes dropped
    };
    std::vector<LongLine> longLines;
    SettingsReport report;              // what the readers made of each entry
    std::vector<std::string> logLines;  // every line the plugin logs while reading
};

// Puts every setting back to its default, reads the file at `windowsPath` through
// loadSettings and gathers the outcome; `shownPath` is how the report names the file
// (default: `windowsPath`). Afterwards the plugin's settings, bindings, messages and step
// tables hold what the file gives.
SettingsCheck checkSettings(const std::string& windowsPath, const std::string& shownPath = {});
// The same for a file whose text is already read (nullopt: it could not be read). Only the lines
// the calling thread logs meanwhile count as the file's log lines.
SettingsCheck checkSettingsText(const std::string& windowsPath,
                                const std::optional<std::string>& text,
                                const std::string& shownPath = {});

// Prints the effective configuration, a drawing of the keys in force, the findings and the log
// lines; returns the exit status: 0 when every entry took effect as meant, 1 when any value was
// refused, any entry or line was ignored or a warning was found, 2 when the file cannot be
// opened or the report could not be written in full (then one line on `errors` says why).
int printSettingsCheck(const SettingsCheck& check, std::FILE* out, std::FILE* errors = stderr);
// The same text; the exit status goes to `status` when given.
std::string formatSettingsCheck(const SettingsCheck& check, int* status = nullptr);

}  // namespace freeplot
