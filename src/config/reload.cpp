#include "config/reload.h"

#include <cstdint>
#include <optional>

#include "common/log.h"
#include "config/checker.h"
#include "config/ini_file.h"
#include "config/settings.h"
#include "os/os.h"

namespace freeplot {
namespace {

// The settings file as last taken: its state then, so that a change can be told.
struct SettingsSource {
    std::string path;  // Windows path; empty until Load remembered it
    bool exists = false;
    os::FileStamp stamp{};
};
SettingsSource source;

std::optional<os::FileStamp> stampOf(const std::string& path) {
    os::FileStamp stamp{};
    if (!os::fileStamp(path.c_str(), stamp)) return std::nullopt;
    return stamp;
}

constexpr const char* kReportName = "freeplot_settings.txt";

// The checker's text beside the log. Nothing of it may stop the plugin or add a log line: a
// report that cannot be made or written is simply not there (or the last one stays).
// The report of the settings in force, as last written: a file that is not taken is reported above
// it, since those settings stay.
std::string reportInForce;

void writeReportText(const std::string& text) {
    const std::string folder = logFolder();
    if (!folder.empty()) (void)os::replaceFileWhole((folder + kReportName).c_str(), text);
}

void writeReport(const SettingsCheck& check) {
    try {
        reportInForce = formatSettingsCheck(check);
        writeReportText(reportInForce);
    } catch (...) {
    }
}

// A changed file that is not taken: the report says why first, then what stays in force.
Reload refused(const char* why) {
    try {
        writeReportText(std::string("The settings file was changed but not taken: ") + why +
                        ".\nThe settings in force are still those below, from the file as last "
                        "taken.\n\n" +
                        reportInForce);
    } catch (...) {
    }
    return Reload::kept;
}

}  // namespace

void loadSettingsAndReport(const std::string& windowsPath) {
    writeReport(checkSettings(windowsPath));
}

void rememberSettingsFile(const std::string& windowsPath) {
    source = {};
    source.path = windowsPath;
    if (const auto stamp = stampOf(windowsPath)) {
        source.exists = true;
        source.stamp = *stamp;
    }
}

Reload reloadSettingsIfChanged() {
    if (source.path.empty()) return Reload::unchanged;
    const auto stamp = stampOf(source.path);
    if (stamp.has_value() == source.exists && (!stamp || *stamp == source.stamp))
        return Reload::unchanged;
    const char* path = source.path.c_str();
    if (!stamp) {
        // Deleted: the settings in force stay until a file is there again. Nothing waits to be
        // read, so this is said once.
        source.exists = false;
        logLine("Config file %s is gone; the settings in force stay", path);
        return refused("it is gone, and they stay until a file is there again");
    }
    // A file that cannot be read now, or changes while it is read, is not taken and its state is
    // not remembered: every later look reads it again until it is taken.
    const auto text = IniFile::readText(os::nativePath(path));
    if (!text) {
        logLine(
            "Config file %s changed but cannot be read: the settings in force stay, and the next "
            "start of workshop mode looks again",
            path);
        return refused("it cannot be read (another program may hold it); the next start of "
                       "workshop mode looks again");
    }
    // Taken, it would put every setting back to its default: it waits, as a file that cannot be
    // read does, for the player to save it again.
    if (savedAsUtf16(*text)) {
        logLine(
            "Config file %s is saved as UTF-16, which the plugin cannot read: the settings in "
            "force stay, and the next start of workshop mode looks again",
            path);
        return refused("it is saved as UTF-16 (\"Unicode\"): save it as UTF-8 or ANSI; the next "
                       "start of workshop mode looks again");
    }
    if (stampOf(source.path) != stamp) {
        logLine(
            "Config file %s changed while it was read: the settings in force stay, and the next "
            "start of workshop mode looks again",
            path);
        return refused("it changed while it was read; the next start of workshop mode looks "
                       "again");
    }
    // Taken as Load takes it, from the defaults up: every line that parses counts, whatever the
    // file's length or its last byte. togglable acts only at Load and keeps its value.
    const std::uint8_t togglable = settings.togglable;
    SettingsCheck check = checkSettingsText(source.path, text);
    if (settings.togglable != togglable)
        note(&check.report, NoteKind::warning, "main", "togglable",
             "the file now gives " + std::to_string(settings.togglable) +
                 ", which acts only when the game starts: " + std::to_string(togglable) +
                 " stays in force until then");
    settings.togglable = togglable;
    source.exists = true;
    source.stamp = *stamp;
    logLine("Config file %s changed: read again", path);
    writeReport(check);
    return Reload::reloaded;
}

}  // namespace freeplot
