#pragma once
// The settings report: what the plugin made of a settings file, told to the player. The plugin
// writes it beside its log at every reading, and the settings checker prints it. It renders one
// reading (config/reading.h) and never reads the file a second time, so what it says is in force
// is what the plugin acts on.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "config/reading.h"

namespace freeplot {

using KeyBindings = std::array<KeyBinding, kActionCount>;

// Where a reading comes from, which decides part of what the report says about it.
struct ReportContext {
    enum class When : std::uint8_t {
        check,  // the settings checker, before the game starts
        start,  // the game's start
        again,  // read again while the game runs
    } when = When::check;
    std::string shownPath;  // how the report names the file; empty: the reading's path
    // For a reading while the game runs: the settings as the game started. The settings that act
    // only while the game starts keep these values until the next start.
    Settings started;
};

// The settings a reading puts in force in that context: as the file gives them, but for those
// that act only at the game's start while the game runs.
SettingsInForce inForceOf(const Reading& reading, const ReportContext& context);

enum class Severity : std::uint8_t {
    note,     // taken, read otherwise than it reads (not counted against the file)
    refused,  // a value the plugin does not take: the default stays
    ignored,  // a line or entry that means nothing to the plugin
    warning,  // taken, but likely not what the player meant
};

struct Finding {
    Severity severity;
    std::string about;   // "[section] name", or empty for a finding about a line or the file
    std::string detail;  // "line N: ..." where it names a line
};

// What the report tells of a reading, beyond the settings in force. However large the file, at
// most kListedFindings are written out; the counts hold all of them.
struct Findings {
    std::vector<Finding> listed;
    int refused = 0, ignored = 0, warnings = 0;
    int unlisted = 0;
    bool any() const { return refused + ignored + warnings > 0; }
};
inline constexpr std::size_t kListedFindings = 400;

// Works out the findings of a reading. What it writes out is bounded by kListedFindings whatever
// the file holds; the time it takes grows with the file.
Findings findingsOf(const Reading& reading, const ReportContext& context);

// Whether the reading has any finding that counts (refused, ignored or a warning): what findingsOf
// would count, found by the same code, which stops at the first. Cheap for any file.
bool anyFindings(const Reading& reading, const ReportContext& context);

// The report: the file's verdict, every setting, key binding, message and step list in force, a
// drawing of the keys, the findings, the plugin's log lines for the file and the result. The exit
// status the checker gives for it goes to `status`: 0 all taken as meant, 1 something refused,
// ignored or warned of, 2 the file was not read.
std::string renderReport(const Reading& reading, const Findings& findings,
                         const ReportContext& context, int* status = nullptr);

// The report of a changed file that was not taken: why, above the report of the settings in
// force (`inForce`, the report of the file last taken).
std::string renderNotTaken(const std::string& why, const std::string& inForce);

// A US keyboard, its numpad and the mouse buttons drawn in text, every bound key labelled with a
// short name of its action, and a legend of those names; lines under 100 columns.
std::string keyboardPicture(const KeyBindings& keys);

// The nearest of `known` to `name` when near enough to be a slip of the keyboard; "" otherwise.
// Costs at most a few hundred character comparisons per known name, whatever `name` is.
std::string nearestName(const std::string& name, const std::vector<std::string>& known);

// A text as it can be shown on one line of the report: line feeds as \n, control bytes and bytes
// that are not UTF-8 as \xNN, a backslash doubled where `doubleBackslash`.
std::string printable(std::string_view text, bool doubleBackslash = true);

}  // namespace freeplot
