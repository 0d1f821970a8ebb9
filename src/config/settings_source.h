#pragma once
// The settings file while the game runs: which file was last taken and when it changed, so that a
// player who edits freeplot.ini with the game open sees the change at the next start of workshop
// mode, at the cost of one look at the file's time and size.

#include <optional>
#include <string>

#include "config/reading.h"

namespace freeplot {

// Remembers the file Load read (a Windows path) and whether it was taken. A file that was there
// but could not be read is looked at again at every later start of workshop mode until taken.
void rememberSettingsFile(const std::string& windowsPath, bool taken);

// What a look at the file found.
struct SettingsLook {
    enum Outcome : std::uint8_t {
        unchanged,  // as last looked at: nothing to do
        taken,      // read again: `reading` holds what it gives
        kept,       // changed but not taken: `why` says why, `logLine` is the line to log
    } outcome = unchanged;
    std::optional<Reading> reading;
    std::string why;      // for the report: why the file was not taken
    std::string logLine;  // the log line of a file not taken, or of one taken
};

// Looks at the file: when its time or size differs from the file last taken (or it was not taken
// yet), reads it whole. A file that is gone, cannot be read, is too large, is saved as UTF-16 or
// changes while it is read is not taken; the look after a deletion says so once, the others every
// time until the file is taken.
SettingsLook lookAtSettingsFile();

}  // namespace freeplot
