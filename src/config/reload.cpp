#include "config/reload.h"

#include <cstdint>
#include <optional>

#include "common/Log.h"
#include "config/ini_file.h"
#include "config/settings.h"
#include "os/os.h"

namespace freeplot {
namespace {

// The settings file as last looked at.
struct SettingsSource {
    std::string path;  // Windows path; empty until Load remembered it
    bool exists = false;
    os::FileStamp stamp{};
    std::string text;  // the text in force
};
SettingsSource source;

std::optional<os::FileStamp> stampOf(const std::string& path) {
    os::FileStamp stamp{};
    if (!os::fileStamp(path.c_str(), stamp)) return std::nullopt;
    return stamp;
}

// Why a changed file is not taken; null when it can be.
const char* unfitBecause(const std::string& text, const IniFile& file) {
    if (text.empty()) return "it is empty";
    // An editor that writes the file in pieces leaves it cut short for a moment: cut inside a
    // line, or (when only its end has changed) as a shorter copy of the text in force.
    if (text.back() != '\n') return "its last line has no line break: it is still being written";
    if (text.size() < source.text.size() && source.text.compare(0, text.size(), text) == 0)
        return "it holds only the start of the settings in force: it is still being written";
    if (file.parseError() != 0) return "a line of it does not parse";
    return nullptr;
}

}  // namespace

void rememberSettingsFile(const std::string& windowsPath) {
    source = {};
    source.path = windowsPath;
    if (const auto stamp = stampOf(windowsPath)) {
        source.exists = true;
        source.stamp = *stamp;
        source.text = IniFile::readText(os::nativePath(windowsPath.c_str())).value_or("");
    }
}

Reload reloadSettingsIfChanged() {
    if (source.path.empty()) return Reload::unchanged;
    const auto stamp = stampOf(source.path);
    if (stamp.has_value() == source.exists && (!stamp || *stamp == source.stamp))
        return Reload::unchanged;
    // Whatever comes of it, this state of the file has been looked at: one line per change.
    source.exists = stamp.has_value();
    if (stamp) source.stamp = *stamp;
    const char* path = source.path.c_str();
    if (!stamp) {
        logLine("Config file %s is gone; the settings in force stay", path);
        return Reload::kept;
    }
    const auto text = IniFile::readText(os::nativePath(path));
    if (!text) {
        logLine("Config file %s changed but cannot be read; the settings in force stay", path);
        return Reload::kept;
    }
    if (stampOf(source.path) != stamp) {
        // Written to while it was read: the next start of workshop mode looks again.
        source.exists = false;
        logLine("Config file %s changed while it was read; the settings in force stay", path);
        return Reload::kept;
    }
    const IniFile file = IniFile::fromText(*text);
    if (const char* why = unfitBecause(*text, file)) {
        logLine("Config file %s changed but %s; the settings in force stay", path, why);
        return Reload::kept;
    }
    // Read as at Load, from the defaults up; togglable acts only at Load and keeps its value.
    const std::uint8_t togglable = settings.togglable;
    restoreDefaultSettings();
    loadSettings(source.path, file);
    settings.togglable = togglable;
    source.text = *text;
    logLine("Config file %s changed: read again", path);
    return Reload::reloaded;
}

}  // namespace freeplot
