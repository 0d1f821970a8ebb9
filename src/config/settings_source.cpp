#include "config/settings_source.h"

#include <cstdio>

#include "os/os.h"

namespace freeplot {
namespace {

// The settings file as last looked at.
struct SettingsSource {
    std::string path;  // Windows path; empty until Load remembered it
    bool exists = false;
    bool taken = false;  // its bytes at `stamp` were taken
    os::FileStamp stamp{};
};
SettingsSource source;

std::optional<os::FileStamp> stampOf(const std::string& path) {
    os::FileStamp stamp{};
    if (!os::fileStamp(path.c_str(), stamp)) return std::nullopt;
    return stamp;
}

std::string said(const char* format, const std::string& path) {
    char line[1200];
    std::snprintf(line, sizeof line, format, path.c_str());
    return line;
}

SettingsLook notTaken(const char* logFormat, std::string why) {
    // Not remembered: every later look reads it again until it is taken.
    source.taken = false;
    SettingsLook look;
    look.outcome = SettingsLook::kept;
    look.logLine = said(logFormat, source.path);
    look.why = std::move(why);
    return look;
}

constexpr const char* kLooksAgain = "; the next start of workshop mode looks again";

}  // namespace

void rememberSettingsFile(const std::string& windowsPath, bool taken) {
    source = {};
    source.path = windowsPath;
    if (const auto stamp = stampOf(windowsPath)) {
        source.exists = true;
        source.taken = taken;
        source.stamp = *stamp;
    }
}

SettingsLook lookAtSettingsFile() {
    if (source.path.empty()) return {};
    const auto stamp = stampOf(source.path);
    if (stamp.has_value() == source.exists && (!stamp || (source.taken && *stamp == source.stamp)))
        return {};
    if (!stamp) {
        // Deleted: the settings in force stay until a file is there again. Nothing waits to be
        // read, so this is said once.
        source.exists = false;
        return notTaken("Config file %s is gone; the settings in force stay",
                        "it is gone, and they stay until a file is there again");
    }
    source.exists = true;
    FileBytes file = readSettingsBytes(source.path);
    switch (file.state) {
        case FileState::unreadable:
            return notTaken("Config file %s changed but cannot be read: the settings in force stay, "
                            "and the next start of workshop mode looks again",
                            std::string("it cannot be read (another program may hold it)") +
                                kLooksAgain);
        case FileState::tooLarge:
            return notTaken(
                "Config file %s changed but is larger than 4 MiB: the settings in force stay, and "
                "the next start of workshop mode looks again",
                "it is larger than 4 MiB (4194304 bytes), the most the plugin reads: no settings "
                "file comes near that, so it is likely not the file meant" +
                    std::string(kLooksAgain));
        case FileState::utf16:
            return notTaken(
                "Config file %s is saved as UTF-16, which the plugin cannot read: the settings in "
                "force stay, and the next start of workshop mode looks again",
                std::string("it is saved as UTF-16 (") +
                    (file.bigEndian ? "big-endian" : "little-endian") +
                    (file.byteOrderMark ? ", with a byte-order mark" : ", without a byte-order mark") +
                    "; Notepad calls it \"Unicode\"): save it as UTF-8 (in Notepad: File, Save As, "
                    "Encoding UTF-8)" +
                    kLooksAgain);
        case FileState::read:
            break;
    }
    if (stampOf(source.path) != stamp)
        return notTaken("Config file %s changed while it was read: the settings in force stay, and "
                        "the next start of workshop mode looks again",
                        std::string("it changed while it was read") + kLooksAgain);
    // Taken as Load takes it, from the defaults up: every line that parses counts, whatever the
    // file's length or its last byte.
    source.taken = true;
    source.stamp = *stamp;
    SettingsLook look;
    look.outcome = SettingsLook::taken;
    look.reading = readSettings(source.path, std::move(file));
    look.logLine = said("Config file %s changed: read again", source.path);
    return look;
}

}  // namespace freeplot
