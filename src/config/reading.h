#pragma once
// One reading of the settings file: its bytes, read once, give the settings they put in force,
// what became of every line and every entry, and the lines the plugin logs for them. The plugin
// puts the settings in force, the report beside the log and the settings checker render the
// same record, so they can never disagree about a file. A reading touches no global state.

#include <cstdint>
#include <string>
#include <vector>

#include "config/ini_text.h"
#include "config/settings.h"

namespace freeplot {

// Larger files are not read: no settings file comes near, and a device may not end.
inline constexpr std::uint64_t kMaxSettingsBytes = 4u << 20;

enum class FileState : std::uint8_t {
    read,        // its bytes were read (an empty file too)
    unreadable,  // it could not be opened or read (gone, or held by another program)
    tooLarge,    // beyond kMaxSettingsBytes
    utf16,       // saved as UTF-16 (Notepad's "Unicode"): none of it is read as settings
};

// The file's bytes as the plugin gets them, with what they are.
struct FileBytes {
    FileState state = FileState::unreadable;
    std::string bytes;       // when read
    std::uint64_t size = 0;  // what was found (for a file too large: at least this much)
    bool bigEndian = false;  // UTF-16: the byte order, and whether it starts with its mark
    bool byteOrderMark = false;
};

// Reads the file at a Windows path, whole, up to the size limit.
FileBytes readSettingsBytes(const std::string& windowsPath);
// The same checks for bytes already in memory.
FileBytes settingsBytesOf(std::string bytes);

enum class NoteKind : std::uint8_t {
    accepted,  // the entry took effect as written
    adjusted,  // it took effect, read differently from how it reads (cut to 16 bits...)
    refused,   // its value was bad: the default (or the value in force) stays
    ignored,   // it means nothing to the plugin
    warning,   // taken, but likely not what the player meant
};

// What a reader made of one entry of a section it reads.
struct SettingsNote {
    NoteKind kind;
    std::string section;
    std::string name;  // as written
    std::string detail;
    std::int32_t entry = -1;  // the entry of the file it is about
};

struct Reading {
    std::string path;  // the file as the plugin names it (a Windows path)
    FileBytes file;
    IniText ini;
    SettingsInForce inForce;
    std::vector<SettingsNote> notes;
    std::vector<std::string> logLines;  // what the plugin logs for the file, in order

    // Which entries a reader took up (taken, refused or adjusted), by entry number: the others
    // mean nothing to the plugin.
    std::vector<bool> used;

    bool read() const { return file.state == FileState::read; }

    void note(NoteKind kind, std::string section, std::string name, std::string detail,
              const IniEntry* entry);
    void log(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
};

// Reads the bytes from the built-in defaults up: the key bindings, the messages, the real
// numbers, the step tables, then the switches of main, dangerous and cheats, as the plugin's
// Load reads them. Bytes that are not read (unreadable, too large, UTF-16) give every default.
Reading readSettings(std::string windowsPath, FileBytes file);

// The readers of the sections, in that order (each for its own file, reading.cpp runs them).
void readKeys(Reading& reading);
void readMessages(Reading& reading);
void readSettingTable(Reading& reading);
void readSteps(Reading& reading);

// Load's reading: reads the file at `windowsPath`, logs "Could not read/parse config file %s"
// when it cannot be read, then the reading's own lines, and puts its settings in force. False
// when the file could not be read (every setting then holds its default).
bool loadSettings(const std::string& windowsPath);

// The text of a whole number as the game's Windows build reads it: strtol with base 0 into a
// 32-bit long, so a number out of that range is the nearest one it holds. The default comes back
// when no character converts.
std::int32_t readInteger(const std::string& text, std::int32_t fallback);
// Whether a text starts with a whole number (strtol with base 0 converts something of it).
bool startsWithInteger(const std::string& text);
// The text in double quotes, as a note quotes a value.
inline std::string quoted(const std::string& text) { return "\"" + text + "\""; }
// Saturates a long from a 64-bit strtol the way a 32-bit strtol would have.
std::int32_t saturateToInt32(long value);

}  // namespace freeplot
