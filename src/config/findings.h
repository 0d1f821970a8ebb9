#pragma once
// What the settings checker finds beyond what each reader says of its own entry: mistakes that
// only show across entries or in the file's lines, and a drawing of the keys in force.

#include <string>

#include "config/report.h"

namespace freeplot {

struct IniFile;

// Adds a warning for each of: two actions on one key (which acts), a number read as octal, a
// code no key or button sends, a step far outside what building needs, a message kept with its
// quotes, line ends of CR alone, and text after a section's "]". Names the nearest known
// section or name in the notes on unknown ones. `text` is the file as read; the settings,
// bindings, messages and step tables hold what the file gave.
void addFindings(const std::string& text, const IniFile& file, SettingsReport& report);

// A US keyboard, its numpad and the mouse buttons drawn in text, every bound key labelled with
// a short name of its action, and a legend of those names; lines under 100 columns.
std::string keyboardPicture();

// The number of single-character edits between two texts, letters compared in any case.
std::size_t editDistance(const std::string& a, const std::string& b);

}  // namespace freeplot
