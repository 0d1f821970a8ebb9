// The report's text: the file's verdict, the settings in force, the keys drawn, the findings, the
// plugin's log lines for the file and the result.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "common/version.h"
#include "config/keynames.h"
#include "config/setting_table.h"
#include "report/report_text.h"

namespace freeplot {

using report_text::put;

std::string printable(std::string_view text, bool doubleBackslash) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        // A whole UTF-8 character is shown as it is; a byte that starts none as \xNN.
        std::size_t more = c >= 0xF0 && c <= 0xF4 ? 3 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xC2 && c <= 0xDF ? 1 : 0;
        bool whole = more > 0 && i + more < text.size();
        for (std::size_t k = 1; whole && k <= more; ++k)
            whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (whole) {
            out.append(text.substr(i, more + 1));
            i += more;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\\' && doubleBackslash) {
            out += "\\\\";
        } else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

SettingsInForce inForceOf(const Reading& reading, const ReportContext& context) {
    SettingsInForce inForce = reading.inForce;
    if (context.when == ReportContext::When::again)
        inForce.settings = whileRunning(inForce.settings, context.started);
    return inForce;
}

namespace {

const char* origin(bool isDefault) { return isDefault ? "default" : "from the file"; }

// Read again while the game runs, a setting that acts only at the start keeps the start's value,
// whatever the file now says: its origin says so rather than "from the file".
void printSetting(std::string* out, const SettingsInForce& in, const SettingRow& row,
                  const ReportContext& context) {
    const char* from = row.startOnly && context.when == ReportContext::When::again
                           ? "as the game started"
                           : origin(holdsDefault(in, row));
    if (row.type == SettingType::low8)
        put(out, "  %-22s %-10u %s\n", row.name, unsigned{in.settings.*row.low8}, from);
    else if (row.type == SettingType::real)
        put(out, "  %-22s %-10g %s\n", row.name, double{in.settings.*row.real}, from);
    else if (row.type == SettingType::flag)
        put(out, "  %-22s %-10s %s\n", row.name, in.settings.*row.flag ? "true" : "false", from);
}

template <class T>
std::string stepList(const StepsInForce<T>& steps) {
    std::string text;
    for (std::int32_t i = 0; i < steps.count; ++i) {
        char value[64];
        if constexpr (std::is_same_v<T, double>)
            std::snprintf(value, sizeof value, "%g", steps.values[static_cast<std::size_t>(i)]);
        else
            std::snprintf(value, sizeof value, "%d", steps.values[static_cast<std::size_t>(i)]);
        if (!text.empty()) text += ' ';
        text += i == steps.index ? std::string("[") + value + "]" : std::string(value);
    }
    return text;
}

void printSteps(std::string* out, const SettingsInForce& in, const SettingRow& list) {
    const bool isDefault =
        holdsDefault(in, list) && holdsDefault(in, stepRow(list.steps, SettingType::stepIndex));
    withSteps(in, list.steps, [&](const auto& steps, auto&&...) {
        put(out, "  %-22s %s   (%d %s, entry %d current)  %s\n", list.name,
            stepList(steps).c_str(), steps.count, steps.count == 1 ? "entry" : "entries",
            steps.index + 1, origin(isDefault));
    });
}

// The plugin logs "Invalid value in rotateSteps, succesfully parsed N" whenever a list ends
// before ten values, which is also the end of every well-formed shorter list. Says which of the
// two a log line is; "" for other lines.
std::string stepLogNote(const std::string& line, const Reading& reading) {
    for (const SettingRow& row : kSettingTable) {
        if (row.type != SettingType::stepList) continue;
        const std::string prefix = std::string("Invalid value in ") + row.name + ", succesfully parsed ";
        if (line.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string count = line.substr(prefix.size());
        const bool wellFormed =
            std::any_of(reading.notes.begin(), reading.notes.end(), [&](const SettingsNote& n) {
                return n.kind == NoteKind::accepted && n.section == "steps" && n.name == row.name;
            });
        if (!wellFormed) return std::string("see [steps] ") + row.name + " under Findings";
        const bool one = count == "1";
        return "expected: the list has " + count + (one ? " value" : " values") +
               ", fewer than 10, and the plugin logs this for any such list; " +
               (one ? "the value is" : "all " + count + " are") + " in force";
    }
    return {};
}

void putVerdict(std::string* out, const Reading& reading) {
    const FileBytes& file = reading.file;
    switch (file.state) {
        case FileState::unreadable:
            put(out, "The file cannot be opened: the plugin keeps every default.\n");
            return;
        case FileState::tooLarge:
            put(out,
                "The file is larger than 4 MiB (4194304 bytes), the most the plugin reads: it "
                "keeps every default. No settings file comes near that size; check that this is "
                "the file meant.\n");
            return;
        case FileState::utf16:
            put(out,
                "The file is saved as UTF-16 (%s, %s; Notepad calls it \"Unicode\"), which the "
                "plugin does not read: every setting keeps its default. Save it as UTF-8 (in "
                "Notepad: File, Save As, Encoding UTF-8).\n",
                file.bigEndian ? "big-endian" : "little-endian",
                file.byteOrderMark ? "with a byte-order mark" : "without a byte-order mark");
            return;
        case FileState::read:
            break;
    }
    if (reading.ini.firstBadLine > 0)
        put(out,
            "Line %d is the first line that did not parse; the plugin skips such lines without a "
            "log line.\n",
            reading.ini.firstBadLine);
    else
        put(out, "Every line parsed.\n");
}

}  // namespace

std::string renderReport(const Reading& reading, const Findings& findings,
                         const ReportContext& context, int* status) {
    std::string text;
    std::string* const out = &text;
    const SettingsInForce in = inForceOf(reading, context);
    put(out, "Settings file: %s\n",
        printable(context.shownPath.empty() ? reading.path : context.shownPath, false).c_str());
    put(out, "As read by Freeplot %s.\n", kVersion);
    if (context.when == ReportContext::When::start) put(out, "Read when the game started.\n");
    if (context.when == ReportContext::When::again)
        put(out,
            "Read again while the game runs: togglable and the switches' start states stay as the "
            "game started until its next start.\n");
    putVerdict(out, reading);

    put(out, "\n");
    const char* section = "";
    for (const SettingRow& row : kSettingTable) {
        if (row.type == SettingType::stepIndex || row.type == SettingType::stepList) continue;
        if (std::strcmp(section, row.section) != 0) {
            section = row.section;
            put(out, "[%s]\n", section);
        }
        printSetting(out, in, row, context);
    }

    put(out, "\n[keys]\n");
    for (std::size_t i = 0; i < kActionCount; ++i) {
        const KeyBinding& b = in.keys[i];
        char codes[32];
        if (b.alternate)
            std::snprintf(codes, sizeof codes, "%u, %u", b.primary, b.alternate);
        else
            std::snprintf(codes, sizeof codes, "%u", b.primary);
        put(out, "  %-22s %-10s %-26s %s\n", kActionNames[i], codes, bindingName(b).c_str(),
            origin(b == kDefaultKeyBindings[i]));
    }

    put(out, "\n[messages]\n");
    for (std::size_t i = 0; i < kMessageCount; ++i) {
        const auto msg = static_cast<Msg>(i);
        put(out, "  %-22s \"%s\"  %s\n", kMessages[i].key, printable(in.text(msg)).c_str(),
            msg == Msg::stateStored ? "built in, no key"
                                    : origin(in.text(msg) == kMessages[i].defaultText));
    }

    put(out, "\n[steps]  (the current entry in brackets)\n");
    for (const SettingRow& row : kSettingTable)
        if (row.type == SettingType::stepList) printSteps(out, in, row);

    if (reading.read())
        put(out, "\nKeys in force (each key's cap, and below it what the key does):\n%s",
            keyboardPicture(in.keys).c_str());

    put(out, "\nFindings:\n");
    for (const Finding& f : findings.listed) {
        const char* label = f.severity == Severity::refused   ? "refused"
                            : f.severity == Severity::ignored ? "ignored"
                            : f.severity == Severity::warning ? "warning"
                                                              : "note";
        if (f.about.empty())
            put(out, "  %-8s %s\n", label, printable(f.detail).c_str());
        else
            put(out, "  %-8s %s: %s\n", label, printable(f.about).c_str(),
                printable(f.detail).c_str());
    }
    if (findings.unlisted > 0)
        put(out, "  ... and %d more, not listed (the counts below hold them all)\n",
            findings.unlisted);
    if (findings.listed.empty()) put(out, "  none\n");

    put(out, "\nPlugin log lines for this file:\n");
    for (const std::string& line : reading.logLines) {
        put(out, "  %s\n", printable(line, false).c_str());
        const std::string note = stepLogNote(line, reading);
        if (!note.empty()) put(out, "    (%s)\n", note.c_str());
    }
    if (reading.logLines.empty()) put(out, "  none\n");

    if (findings.warnings > 0)
        put(out, "\nResult: %d refused, %d ignored, %d %s.\n", findings.refused, findings.ignored,
            findings.warnings, findings.warnings == 1 ? "warning" : "warnings");
    else
        put(out, "\nResult: %d refused, %d ignored.\n", findings.refused, findings.ignored);
    if (status) *status = !reading.read() ? 2 : findings.any() ? 1 : 0;
    return text;
}

std::string renderNotTaken(const std::string& why, const std::string& inForce) {
    return "The settings file was changed but not taken: " + why +
           ".\nThe settings in force are still those below, from the file as last taken.\n\n" +
           inForce;
}

}  // namespace freeplot
