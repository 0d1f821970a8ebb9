#pragma once
// Settings read again while the game runs. A player who edits freeplot.ini with the game open
// sees the change the next time workshop mode starts: the input handlers ask here then, which
// costs one look at the file's time and size. Key bindings, messages, step lists and every
// switch of main, dangerous and cheats take effect; what acts only while the plugin loads (the
// start-up patches, togglable with the console command) waits for the next start of the game.

#include <cstdint>
#include <string>

namespace freeplot {

// Reads the settings file as Load reads it (loadSettings), and writes what the settings checker
// prints for it to "freeplot_settings.txt" in the log's folder, whole or not at all. A report that
// cannot be written is left as it was, without a log line.
void loadSettingsAndReport(const std::string& windowsPath);

// Remembers the file Load read (a Windows path), so that a later change can be told.
void rememberSettingsFile(const std::string& windowsPath);

enum class Reload : std::uint8_t {
    unchanged,  // the file is as it was when last looked at
    reloaded,   // read again: the settings in force are the file's now
    kept,       // it changed but is not taken: gone (the settings in force stay until a file
                // is there again), or unreadable or written to while read (looked at again at
                // every later call until taken); one log line says why
};

// Reads the settings file again, whole, as Load reads it (and writes its report), when its time or
// size differs from the file last taken. Called on the input thread while no worker runs, so
// nothing sees the tables half replaced.
Reload reloadSettingsIfChanged();

}  // namespace freeplot
