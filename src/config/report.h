#pragma once
// What the settings readers made of each entry of the file. The plugin passes no report;
// the settings checker passes one to tell the player which entries took effect.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace freeplot {

enum class NoteKind : std::uint8_t {
    accepted,  // the entry took effect as written
    adjusted,  // the entry took effect, read differently from how it reads (cut to 16 bits...)
    refused,   // the entry's value was bad; the default (or previous value) stays
    ignored,   // the entry means nothing to the plugin (unknown name or section)
    warning,   // taken, but likely not what the player meant (two actions on one key...)
};

struct SettingsNote {
    NoteKind kind;
    std::string section;
    std::string name;
    std::string detail;
};

struct SettingsReport {
    std::vector<SettingsNote> notes;
};

inline void note(SettingsReport* report, NoteKind kind, std::string section, std::string name,
                 std::string detail) {
    if (report)
        report->notes.push_back({kind, std::move(section), std::move(name), std::move(detail)});
}

}  // namespace freeplot
