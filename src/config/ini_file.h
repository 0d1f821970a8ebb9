#pragma once
// The settings file as inih reads it, plus the key names of every section.
//
// inih's INIReader answers lookups but cannot list the names a section holds, and the
// `keys` and `messages` sections are read name by name. So the file is parsed twice:
// once by INIReader for the values, once through ini.h to gather the names, spelled as
// written, in ascending byte order, with the section matched in any case.
//
// Both parse the file's text as read into memory, each line cut at its first NUL byte: the
// reader sees no text past a NUL anyway, and a NUL right after an overlong line would make inih
// read a byte before its own buffer.

#include <INIReader.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace freeplot {

// The text with its ASCII capitals made small: section and key names match in any case.
std::string lowerCase(std::string text);

struct IniFile {
    // Parses the file at `nativePath` (a name the C runtime can open).
    explicit IniFile(const std::string& nativePath);

    // inih's verdict: 0 for a clean parse, -1 for a file that would not open, otherwise the
    // 1-based number of the earliest bad line.
    int parseError() const { return opened ? reader.ParseError() : -1; }

    // The file's text with every line cut at its first NUL byte; nullopt when it cannot be read
    // or holds more than kMaxSettingsBytes (no settings file comes near; a device may not end).
    static constexpr std::size_t kMaxSettingsBytes = 4u << 20;
    static std::optional<std::string> readText(const std::string& nativePath);

    // Parses a text already read with readText.
    static IniFile fromText(const std::string& text) { return IniFile(std::optional(text)); }
    // The same for what readText gave: nullopt is a file that would not open.
    static IniFile fromReadText(const std::optional<std::string>& text) { return IniFile(text); }

    bool opened;

    // The key names of a section (its name given in lower case); empty when it has none.
    const std::set<std::string>& names(const std::string& lowerSection) const;

    INIReader reader;
    // Lower-case section name -> names as written.
    std::map<std::string, std::set<std::string>> sectionNames;

private:
    explicit IniFile(const std::optional<std::string>& text);
};

// Whether a file's text starts as one saved as UTF-16 ("Unicode" in Notepad): every other byte is
// 0, and the reader sees at most one character of each line.
inline bool savedAsUtf16(const std::string& text) {
    return text.rfind("\xFF\xFE", 0) == 0 || text.rfind("\xFE\xFF", 0) == 0;
}

// INIReader::GetInteger as the Windows build sees it: strtol with base 0 into a signed
// 32-bit long, so a number out of that range saturates to INT32_MIN or INT32_MAX. The
// default comes back when no character converts.
std::int32_t getInteger(const IniFile& file, const std::string& section, const std::string& name,
                        std::int32_t defaultValue);

// Saturates a long from a 64-bit strtol the way a 32-bit strtol would have.
std::int32_t saturateToInt32(long value);

}  // namespace freeplot
