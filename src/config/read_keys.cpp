// Reading [keys]: each name the section holds, as written, in ascending byte order.

#include <cstdlib>
#include <exception>
#include <optional>
#include <string>

#include "config/keynames.h"
#include "config/reading.h"

namespace freeplot {
namespace {

// The text as a whole number, read as readInteger reads it, and whether that is all of it (white
// space after it aside).
struct Number {
    std::int32_t value = 0;
    bool whole = false;
};
Number numberOf(const std::string& text) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 0);
    if (end == text.c_str()) return {};
    Number number{saturateToInt32(value), false};
    while (*end == ' ' || *end == '\t') ++end;
    number.whole = *end == '\0';
    return number;
}

}  // namespace

void readKeys(Reading& reading) {
    const auto [first, last] = reading.ini.spellingsOf(kKeysSection);
    for (const IniSpelling* spelling = first; spelling != last; ++spelling) {
        const std::string& name = spelling->name;
        try {
        const IniEntry& entry = reading.ini.entries[static_cast<std::size_t>(spelling->entry)];
        // A number alone is a code as it always was; any other text may name a key, "9 key" too
        // (a number with text after it that names no key still reads as its number).
        const std::string& text = entry.value;
        const Number number = numberOf(text);
        const std::optional<std::uint16_t> named =
            number.whole ? std::nullopt : keyCodeOfName(text);
        const std::int32_t value = named ? *named : number.value;
        const auto code = static_cast<std::uint16_t>(value);
        const std::size_t action = actionNumberOf(name);
        if (code == 0) {
            reading.log("Invalid value for key: %s", name.c_str());
            reading.note(NoteKind::refused, kKeysSection, name,
                         text == "0" ? "\"0\" is the number 0, which no key sends (for the 0 key "
                                       "write \"0 key\" or 48); the default stays"
                                     : quoted(text) +
                                           " is neither a key code (a number from 1 to 65535) "
                                           "nor a key's name; the default stays",
                         &entry);
            continue;
        }
        // A name that is no action's (names are case-sensitive) means nothing to the plugin.
        if (action == kActionCount) continue;
        reading.inForce.keys[action] = bindingForCode(code);
        if (value != code)
            reading.note(NoteKind::adjusted, kKeysSection, name,
                         std::to_string(value) + " is cut to 16 bits: " + std::to_string(code),
                         &entry);
        else
            reading.note(NoteKind::accepted, kKeysSection, name,
                         named ? text + ": " + std::to_string(code) : std::to_string(code), &entry);
        } catch (const std::exception&) {
            // The action keeps the binding it had.
            reading.log("Invalid key: %s", name.c_str());
        }
    }
}

}  // namespace freeplot
