#pragma once
// The settings file over a game: read while the plugin loads, and read again at the first event of
// a stay in workshop mode when the player changed it. Each reading is put in force on the thread
// that read it, and its report is written beside the log on a worker.

#include <string>

namespace freeplot {

// Load's reading of the file at `windowsPath`: its log lines and its settings in force.
void takeSettingsAtLoad(const std::string& windowsPath);
// Hands the report of Load's reading to its worker: called once the hooks are made, so that the
// first worker starts when Load has nothing left to write into the game.
void reportSettingsAtLoad();

// The first event of a stay (on the input thread, while no worker runs): when the file changed,
// reads it, puts it in force and says so on screen, or says that it was not taken.
void takeSettingsAtStayStart();

}  // namespace freeplot
