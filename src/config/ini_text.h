#pragma once
// The settings file's bytes read once, line by line, the way inih reads them: every line's kind
// and what became of it, the sections, and every setting with all the values the file gives it.
// Everything else about the file (the settings in force, the report) is worked out from this.
//
// inih's own parser reads the lines: it decides what is a comment, a value, a continuation and
// where a value's inline comment starts, so the plugin reads a file exactly as inih does. Lines are
// handed to it one at a time, each cut first at its first NUL byte (inih sees nothing past it) and
// at 199 bytes (what its buffer holds), so that the fate of every line is known here.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace freeplot {

// inih reads at most this many bytes of a line; the rest of a longer line is dropped.
inline constexpr std::size_t kLineBytesRead = 199;
// A section name keeps at most this many bytes, as does the name a continuation line goes to.
inline constexpr std::size_t kNameBytesKept = 49;

enum class LineKind : std::uint8_t {
    comment,       // empty, or starting with ";" or "#"
    section,       // "[name]"
    entry,         // name = value (or name : value)
    continuation,  // an indented line after an entry: a further value of the same name
    bad,           // none of these: skipped
};

// What happened to a line's bytes on the way to the parser, one bit each.
namespace line_flag {
inline constexpr std::uint8_t cut = 1;           // longer than 199 bytes: the rest is dropped
inline constexpr std::uint8_t nul = 2;           // cut at a NUL byte within its first 199
inline constexpr std::uint8_t afterSection = 4;  // text after a section's "]" that is dropped
inline constexpr std::uint8_t loneCr = 8;        // a CR that ends no line (inside the line)
inline constexpr std::uint8_t notUtf8 = 16;      // bytes that are not UTF-8 (ANSI text)
}  // namespace line_flag

struct IniLine {
    std::uint32_t offset = 0;  // where the line starts in the text
    std::uint32_t length = 0;  // its bytes before the line feed (a CR before it counted)
    LineKind kind = LineKind::comment;
    std::uint8_t flags = 0;
    std::int32_t section = -1;  // the section the line starts or lies in (-1: before any)
    std::int32_t entry = -1;    // the setting an entry or continuation line gives a value to
};

struct IniSection {
    std::string name;   // as first written, cut to 49 bytes
    std::string lower;  // in lower case: sections match in any case
    std::int32_t firstLine = 0;
};

// One setting as the file gives it: a name in a section, matched in any case, with every value
// the file gives it (from entries written more than once and from continuation lines) joined with
// line feeds, as inih's reader gives it.
struct IniEntry {
    std::int32_t section = -1;
    std::string name;   // as first written
    std::string lower;  // in lower case
    std::string value;
    std::int32_t firstLine = 0;      // the first line that gives it a value
    std::int32_t entryLines = 0;     // name = value lines that give it (2 or more: written twice)
    std::int32_t continuations = 0;  // continuation lines joined to it
};

// A name as written in a section: the [keys] and [messages] readers go through them in ascending
// byte order, each spelling on its own.
struct IniSpelling {
    std::int32_t section;
    std::string name;
    std::int32_t entry;
};

struct IniText {
    std::vector<IniLine> lines;
    std::vector<IniSection> sections;
    std::vector<IniEntry> entries;
    std::vector<IniSpelling> spellings;  // by section, then name in ascending byte order
    int firstBadLine = 0;                // inih's verdict: the first line that does not parse

    // The setting of that name in that section (in any case); null when the file has none.
    const IniEntry* find(std::string_view section, std::string_view name) const;
    std::int32_t sectionIndex(std::string_view section) const;  // -1 when absent
    // inih's Get: the joined values, or `fallback` when the file has none.
    std::string get(std::string_view section, std::string_view name,
                    std::string_view fallback) const;
    bool has(std::string_view section, std::string_view name) const {
        return find(section, name) != nullptr;
    }
    // The spellings of a section (its name in lower case), in ascending byte order.
    std::pair<const IniSpelling*, const IniSpelling*> spellingsOf(std::string_view section) const;
    // The 1-based numbers of the lines that give an entry a value.
    std::vector<int> linesOf(std::int32_t entry) const;

    // The entry of a section (by number) and a lower-case name; -1 when the file has none.
    std::int32_t entryIndex(std::int32_t section, std::string_view lowerName) const;
    // Makes room in the entry lookup for `entries` entries, and adds the last entry to it.
    void reserveLookup(std::size_t count);
    void addToLookup();

    // Sections by their lower-case names.
    std::unordered_map<std::string, std::int32_t> sectionByName;

private:
    // Open addressing over entry numbers (-1: empty), at most half full: a file of many thousand
    // names is read in time that grows with its size, and no key is stored twice.
    // Each slot also keeps the high half of its entry's hash, so that most probes that miss never
    // read the entry.
    struct Slot {
        std::int32_t entry = -1;
        std::uint32_t tag = 0;
    };
    std::vector<Slot> slots_;
    static std::uint64_t hashOf(std::int32_t section, std::string_view lowerName);
    void place(std::int32_t entry);
};

// Reads the text (the file's bytes as read, NUL bytes included).
IniText parseIni(std::string_view text);

// The text with its ASCII capitals made small: section and key names match in any case.
std::string lowerCase(std::string_view text);

// Whether the bytes are UTF-8 (ASCII included), checked as a decoder would.
bool validUtf8(std::string_view bytes);

}  // namespace freeplot
