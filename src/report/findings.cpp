// The findings of a reading: what the readers refused, the entries and lines that mean nothing to
// the plugin or not what they seem to mean, and the settings that wait for the next start.

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "config/keynames.h"
#include "config/setting_table.h"
#include "report/report_text.h"

namespace freeplot {
namespace report_text {

void Collector::add(Severity severity, std::string aboutWhat, std::string detail) {
    if (severity == Severity::note && firstOnly_) return;
    if (!listing()) {
        count(severity);
        return;
    }
    out_.listed.push_back({severity, std::move(aboutWhat), std::move(detail)});
    out_.refused += severity == Severity::refused;
    out_.ignored += severity == Severity::ignored;
    out_.warnings += severity == Severity::warning;
}

void Collector::count(Severity severity) {
    if (severity == Severity::note && firstOnly_) return;
    ++out_.unlisted;
    out_.refused += severity == Severity::refused;
    out_.ignored += severity == Severity::ignored;
    out_.warnings += severity == Severity::warning;
}

std::string about(const std::string& section, const std::string& name) {
    return "[" + section + "] " + name;
}

std::string linesPrefix(const std::vector<int>& lines) {
    if (lines.empty()) return {};
    std::string text = lines.size() == 1 ? "line " : "lines ";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) text += i + 1 == lines.size() ? " and " : ", ";
        text += std::to_string(lines[i]);
    }
    return text + ": ";
}

std::string entryPrefix(const Reading& reading, std::int32_t entry) {
    const IniEntry& e = reading.ini.entries[static_cast<std::size_t>(entry)];
    // An entry of one line needs no search for its lines.
    if (e.entryLines + e.continuations <= 1) return linesPrefix({e.firstLine});
    return linesPrefix(reading.ini.linesOf(entry));
}

std::string notePrefix(const Reading& reading, const SettingsNote& note) {
    return note.entry >= 0 ? entryPrefix(reading, note.entry) : std::string();
}

const IniEntry* exactEntry(const Reading& reading, std::string_view section,
                           std::string_view name) {
    const auto [first, last] = reading.ini.spellingsOf(section);
    const IniSpelling* at = std::lower_bound(
        first, last, name, [](const IniSpelling& s, std::string_view n) { return s.name < n; });
    if (at == last || at->name != name) return nullptr;
    return &reading.ini.entries[static_cast<std::size_t>(at->entry)];
}

std::string inForceText(const Reading& reading, const SettingsInForce& inForce,
                        const IniEntry& entry) {
    const std::string& section = reading.ini.sections[static_cast<std::size_t>(entry.section)].lower;
    if (section == kKeysSection) {
        for (std::size_t i = 0; i < kActionCount; ++i)
            if (exactEntry(reading, kKeysSection, kActionNames[i]) == &entry)
                return std::string(kActionNames[i]) + " is bound to " +
                       bindingName(inForce.keys[i]) +
                       (inForce.keys[i] == kDefaultKeyBindings[i] ? " (its default)" : "");
    } else if (section == kMessagesSection) {
        for (std::size_t i = 0; i < kMessageKeyCount; ++i)
            if (exactEntry(reading, kMessagesSection, kMessages[i].key) == &entry)
                return std::string(kMessages[i].key) + " shows \"" + inForce.texts[i] + "\"";
    }
    for (const SettingRow& row : kSettingTable) {
        if (section != row.section || entry.lower != lowerCase(row.name)) continue;
        const bool isDefault = holdsDefault(inForce, row);
        std::string value;
        switch (row.type) {
            case SettingType::flag:
                value = inForce.settings.*row.flag ? "true" : "false";
                break;
            case SettingType::low8:
                value = std::to_string(inForce.settings.*row.low8);
                break;
            case SettingType::real:
                put(&value, "%g", double{inForce.settings.*row.real});
                break;
            case SettingType::stepIndex:
            case SettingType::stepList:
                withSteps(inForce, row.steps, [&](const auto& table, auto&&...) {
                    if (row.type == SettingType::stepIndex) {
                        value = "entry " + std::to_string(table.index + 1);
                        return;
                    }
                    for (std::int32_t k = 0; k < table.count; ++k) {
                        if (k > 0) value += ' ';
                        put(&value, "%g",
                            static_cast<double>(table.values[static_cast<std::size_t>(k)]));
                    }
                });
                break;
        }
        return std::string(row.name) + " is " + value + (isDefault ? " (the default)" : "");
    }
    return "the plugin reads nothing of it";
}

void put(std::string* out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (length > 0) {
        const std::size_t at = out->size();
        out->resize(at + static_cast<std::size_t>(length) + 1);
        std::vsnprintf(out->data() + at, static_cast<std::size_t>(length) + 1, format, again);
        out->resize(at + static_cast<std::size_t>(length));
    }
    va_end(again);
}

}  // namespace report_text

using namespace report_text;

namespace {

Severity severityOf(NoteKind kind) {
    switch (kind) {
        case NoteKind::refused:
            return Severity::refused;
        case NoteKind::ignored:
            return Severity::ignored;
        case NoteKind::warning:
            return Severity::warning;
        default:
            return Severity::note;
    }
}

void findReaderNotes(const Reading& reading, Collector& out) {
    for (const SettingsNote& n : reading.notes) {
        if (out.done()) return;
        if (n.kind == NoteKind::accepted) continue;
        std::string detail = n.detail;
        if (n.kind == NoteKind::refused && n.section == kMessagesSection)
            for (std::size_t i = 0; i < kMessageKeyCount; ++i)
                if (n.name == kMessages[i].key && kMessages[i].arg != FormatArg::none)
                    if (const IniEntry* entry = exactEntry(reading, kMessagesSection, n.name)) {
                        const std::string why =
                            explainFormatFault(entry->value, static_cast<Msg>(i));
                        if (!why.empty()) detail = why;
                    }
        out.add(severityOf(n.kind), about(n.section, n.name), notePrefix(reading, n) + detail);
    }
}

// The sections the plugin reads, and the names each one knows.
std::vector<std::string> knownSections() {
    std::vector<std::string> sections = {kKeysSection, kMessagesSection};
    for (const SettingRow& row : kSettingTable)
        if (std::find(sections.begin(), sections.end(), row.section) == sections.end())
            sections.emplace_back(row.section);
    return sections;
}

std::vector<std::string> knownNames(const std::string& section) {
    std::vector<std::string> names;
    if (section == kKeysSection) {
        names.assign(kActionNames.begin(), kActionNames.end());
    } else if (section == kMessagesSection) {
        for (std::size_t i = 0; i < kMessageKeyCount; ++i) names.emplace_back(kMessages[i].key);
    } else {
        for (const SettingRow& row : kSettingTable)
            if (section == row.section) names.emplace_back(row.name);
    }
    return names;
}

std::string suggestion(const std::string& nearest, const char* open, const char* close) {
    return nearest.empty() ? std::string() : std::string("; the nearest is ") + open + nearest +
                                                 close + ": write that";
}

// Names the plugin reads nothing of: in a section it does not read, names no setting of the
// section has, and in [keys] and [messages] names not spelled exactly as an action or message.
void findUnknownNames(const Reading& reading, Collector& out) {
    const std::vector<std::string> sections = knownSections();
    std::vector<std::vector<std::string>> names;
    std::vector<std::unordered_set<std::string_view>> exact;
    names.reserve(sections.size());
    exact.reserve(sections.size());
    for (const std::string& s : sections) names.push_back(knownNames(s));
    for (const auto& list : names) exact.emplace_back(list.begin(), list.end());
    // A name whose value the [keys] reader refused was read all the same.
    std::unordered_set<std::string_view> noted;
    for (const SettingsNote& n : reading.notes) noted.insert(n.name);
    for (const IniSpelling& spelling : reading.ini.spellings) {
        if (out.done()) return;
        const IniSection& section = reading.ini.sections[static_cast<std::size_t>(spelling.section)];
        const auto known = std::find(sections.begin(), sections.end(), section.lower);
        const auto k = static_cast<std::size_t>(known - sections.begin());
        const bool byName = section.lower == kKeysSection || section.lower == kMessagesSection;
        if (known != sections.end() &&
            (byName ? exact[k].count(spelling.name) != 0
                    : reading.used[static_cast<std::size_t>(spelling.entry)]))
            continue;
        if (byName && noted.count(spelling.name) != 0) continue;
        if (!out.listing()) {
            out.count(Severity::ignored);
            continue;
        }
        const std::string where = entryPrefix(reading, spelling.entry);
        std::string why;
        if (known == sections.end())
            why = "the plugin reads no section of this name" +
                  suggestion(nearestName(section.name, sections), "[", "]");
        else if (section.lower == kMessagesSection && spelling.name == messageInfo(Msg::stateStored).key)
            why = "this text cannot be changed from the file";
        else
            why = std::string(section.lower == kKeysSection       ? "no action has this name"
                              : section.lower == kMessagesSection ? "no message has this name"
                                                            : "the plugin reads no setting of "
                                                              "this name in this section") +
                  (byName ? " (names are case-sensitive)" : "") +
                  suggestion(nearestName(spelling.name, names[k]), "", "");
        out.add(Severity::ignored, about(section.name, spelling.name), where + why);
    }
}

std::string shown(std::string_view text, std::size_t most) {
    return std::string(text.substr(0, most)) + (text.size() > most ? "..." : "");
}

void findLines(const Reading& reading, const SettingsInForce& inForce, Collector& out) {
    const std::string& text = reading.file.bytes;
    const IniText& ini = reading.ini;
    bool anyLf = text.find('\n') != std::string::npos;
    for (std::size_t i = 0; i < ini.lines.size() && !out.done(); ++i) {
        const IniLine& line = ini.lines[i];
        const bool counted = (line.flags & (line_flag::cut | line_flag::nul | line_flag::afterSection |
                                            line_flag::loneCr)) != 0 ||
                             line.kind == LineKind::bad || line.kind == LineKind::continuation;
        // Most lines have nothing to tell: they cost no more than this look, whatever the file.
        if (!counted) continue;
        if (!out.listing()) {
            out.count(line.kind == LineKind::bad || (line.flags & line_flag::cut) ? Severity::ignored
                                                                                  : Severity::warning);
            continue;
        }
        const std::string_view bytes(text.data() + line.offset, line.length);
        const std::string at = linesPrefix({static_cast<int>(i + 1)});
        if (line.flags & line_flag::loneCr)
            out.add(Severity::warning, "",
                    at + (anyLf ? "a CR without LF ends no line for the plugin: what follows it up "
                                  "to the next LF belongs to this line"
                                : "the lines end in CR alone (as old Mac editors save), so the "
                                  "plugin reads the whole file as one line and takes nothing past "
                                  "its first section or entry") +
                        "; save the file with Windows (CR LF) or Unix (LF) line ends");
        if (line.flags & line_flag::nul) {
            const std::size_t nul = bytes.find('\0');
            out.add(Severity::warning, "",
                    at + "a NUL byte (byte " + std::to_string(nul + 1) +
                        " of the line) ends it for the plugin, which reads nothing after it up to "
                        "the line's end: \"" + shown(bytes.substr(nul + 1), 24) +
                        "\" is dropped; remove the NUL (a program that writes binary data may "
                        "have saved the file)");
        }
        if (line.flags & line_flag::cut) {
            std::string_view keptEnd = bytes.substr(kLineBytesRead - 24, 24);
            keptEnd.remove_prefix(std::min(keptEnd.find_first_not_of(" \t"), keptEnd.size()));
            out.add(Severity::ignored, "",
                    at + std::to_string(line.length) + " bytes long; the plugin reads its first " +
                        std::to_string(kLineBytesRead) + ", up to \"" + shown(keptEnd, 24) +
                        "\", and drops the other " +
                        std::to_string(line.length - kLineBytesRead) + ": \"" +
                        shown(bytes.substr(kLineBytesRead), 24) + "\"");
        }
        if (line.flags & line_flag::afterSection) {
            const IniSection& s = ini.sections[static_cast<std::size_t>(line.section)];
            const std::size_t close = bytes.find(']');
            std::string_view rest = bytes.substr(close + 1);
            rest.remove_prefix(std::min(rest.find_first_not_of(" \t"), rest.size()));
            while (!rest.empty() && (rest.back() == '\r' || rest.back() == ' ')) rest.remove_suffix(1);
            out.add(Severity::warning, "",
                    at + "\"" + shown(rest, 40) + "\" after [" + s.name +
                        "] is dropped: the plugin reads only the section's name on that line; put "
                        "it on a line of its own");
        }
        if (line.kind == LineKind::bad)
            out.add(Severity::ignored, "",
                    at + "\"" + shown(bytes, 40) +
                        "\" does not parse (a line is a [section], a name = value or name : "
                        "value, or a comment that starts with ; or #); the plugin skips it "
                        "without a log line");
        if (line.kind == LineKind::continuation) {
            const IniEntry& entry = ini.entries[static_cast<std::size_t>(line.entry)];
            out.add(Severity::warning,
                    about(ini.sections[static_cast<std::size_t>(entry.section)].name, entry.name),
                    at + "it starts with white space after " + entry.name + " on line " +
                        std::to_string(entry.firstLine) +
                        ", so the plugin reads it as one more line of that value, not as a line "
                        "of its own: " + inForceText(reading, inForce, entry) +
                        "; write it without the white space at its start");
        }
    }
    for (std::size_t e = 0; e < ini.entries.size() && !out.done(); ++e) {
        const IniEntry& entry = ini.entries[e];
        if (entry.entryLines < 2) continue;
        if (!out.listing()) {
            out.count(Severity::warning);
            continue;
        }
        out.add(Severity::warning,
                about(ini.sections[static_cast<std::size_t>(entry.section)].name, entry.name),
                entryPrefix(reading, static_cast<std::int32_t>(e)) + "it is written " +
                    std::to_string(entry.entryLines) +
                    " times, and the plugin joins the values into one, \"" +
                    shown(entry.value, 60) + "\": " + inForceText(reading, inForce, entry) +
                    "; keep only the line you mean");
    }
}

void findStartOnly(const Reading& reading, const ReportContext& context, Collector& out) {
    if (context.when != ReportContext::When::again) return;
    for (const SettingRow& row : kSettingTable) {
        if (!row.startOnly) continue;
        const Settings& file = reading.inForce.settings;
        std::string now, then;
        if (row.type == SettingType::low8) {
            now = std::to_string(file.*row.low8);
            then = std::to_string(context.started.*row.low8);
        } else {
            now = file.*row.flag ? "true" : "false";
            then = context.started.*row.flag ? "true" : "false";
        }
        if (now == then) continue;
        const IniEntry* entry = reading.ini.find(row.section, row.name);
        std::string text =
            entry ? entryPrefix(reading, static_cast<std::int32_t>(entry - reading.ini.entries.data()))
                  : std::string();
        text += "the file now gives ";
        text += now;
        text += ", which acts only when the game starts: ";
        text += then;
        text += " stays in force until then (acts at the next start)";
        out.add(Severity::warning, about(row.section, row.name), std::move(text));
    }
}

}  // namespace

namespace {

Findings find(const Reading& reading, const ReportContext& context, bool firstOnly) {
    Findings findings;
    if (!reading.read()) return findings;
    const SettingsInForce inForce = inForceOf(reading, context);
    Collector out(findings, firstOnly);
    findReaderNotes(reading, out);
    findUnknownNames(reading, out);
    findLines(reading, inForce, out);
    if (!out.done()) findKeyProblems(reading, inForce, out);
    if (!out.done()) findValueProblems(reading, inForce, out);
    if (!out.done()) findStartOnly(reading, context, out);
    return findings;
}

}  // namespace

Findings findingsOf(const Reading& reading, const ReportContext& context) {
    return find(reading, context, false);
}

bool anyFindings(const Reading& reading, const ReportContext& context) {
    return find(reading, context, true).any();
}

}  // namespace freeplot
