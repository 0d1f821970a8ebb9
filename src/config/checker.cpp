#include "config/checker.h"

#include <ini.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstring>
#include <optional>
#include <system_error>
#include <thread>
#include <type_traits>

#include "common/log.h"
#include "config/findings.h"
#include "config/ini_file.h"
#include "config/keynames.h"
#include "config/messages.h"
#include "config/setting_table.h"
#include "config/settings.h"
#include "config/steps.h"
#include "os/os.h"

namespace freeplot {
namespace {

// The lines the reading thread logs while the file is read, passed on to the observer that was
// set before (a test's) so that it keeps seeing every line.
struct LineCapture {
    std::vector<std::string>& lines;
    std::thread::id reader = std::this_thread::get_id();
    LogObserver previous = nullptr;
    void* previousContext = nullptr;
};

void collectLine(const char* line, void* context) {
    auto& capture = *static_cast<LineCapture*>(context);
    if (std::this_thread::get_id() == capture.reader) capture.lines.emplace_back(line);
    if (capture.previous) capture.previous(line, capture.previousContext);
}

// A text as it can be shown on one terminal line. A backslash is doubled where a "\n" could
// otherwise be read either way; the log lines, which hold Windows paths and no line feeds,
// keep theirs single.
std::string printable(const std::string& text, bool doubleBackslash = true) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\\' && doubleBackslash) {
            out += "\\\\";
        } else if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// [keys] and [messages] are read name by name, and their readers report on every name.
bool readsEveryName(const std::string& section) {
    return section == "keys" || section == "messages";
}

void noteUnknownEntries(const IniFile& file, SettingsReport& report) {
    for (const auto& [section, names] : file.sectionNames) {
        if (readsEveryName(section)) continue;
        // The table's names in this section, in lower case: the plugin looks them up in any case.
        std::vector<std::string> known;
        for (const SettingRow& row : kSettingTable)
            if (section == row.section) known.push_back(lowerCase(row.name));
        if (known.empty()) {
            for (const std::string& name : names)
                note(&report, NoteKind::ignored, section, name,
                     "the plugin reads no section of this name");
            continue;
        }
        for (const std::string& name : names)
            if (std::find(known.begin(), known.end(), lowerCase(name)) == known.end())
                note(&report, NoteKind::ignored, section, name,
                     "the plugin reads no setting of this name in this section");
    }
}

// Appends printf-style text.
void put(std::string* out, const char* format, ...)
#if defined(__MINGW32__)
    // The C++ runtime of mingw-w64 formats as the GNU C library does (%zu included).
    __attribute__((format(gnu_printf, 2, 3)))
#elif defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
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

const char* origin(bool isDefault) { return isDefault ? "default" : "from the file"; }

// One setting of main, dangerous or cheats: its value and whether it is the default.
void printSetting(std::string* out, const SettingRow& row) {
    const char* from = origin(holdsDefault(row));
    if (row.type == SettingType::low8)
        put(out, "  %-22s %-10u %s\n", row.name, unsigned{settings.*row.low8}, from);
    else if (row.type == SettingType::real)
        put(out, "  %-22s %-10g %s\n", row.name, double{settings.*row.real}, from);
    else if (row.type == SettingType::flag)
        put(out, "  %-22s %-10s %s\n", row.name, settings.*row.flag ? "true" : "false", from);
}

template <class T>
std::string stepList(const std::array<T, kStepCapacity>& table, std::int32_t count,
                     std::int32_t index) {
    std::string text;
    for (std::int32_t i = 0; i < count; ++i) {
        char value[64];
        if constexpr (std::is_same_v<T, double>)
            std::snprintf(value, sizeof value, "%g", table[static_cast<std::size_t>(i)]);
        else
            std::snprintf(value, sizeof value, "%d", table[static_cast<std::size_t>(i)]);
        if (!text.empty()) text += ' ';
        if (i == index) {
            text += '[';
            text += value;
            text += ']';
        } else {
            text += value;
        }
    }
    return text;
}

// A step list with its current entry, and whether both are the defaults.
void printSteps(std::string* out, const SettingRow& list) {
    const bool isDefault =
        holdsDefault(list) && holdsDefault(stepRow(list.steps, SettingType::stepIndex));
    withStepTable(list.steps, [&](const auto& steps, auto&&...) {
        const std::int32_t count = steps.count;
        const std::int32_t index = steps.index;
        put(out, "  %-22s %s   (%d %s, entry %d current)  %s\n", list.name,
            stepList(steps.values, count, index).c_str(), count, count == 1 ? "entry" : "entries",
            index + 1, origin(isDefault));
    });
}

// How a message's value goes into its text, for the advice on a refused format.
struct ValueAdvice {
    const char* conversion;
    const char* value;
};

ValueAdvice adviceFor(Msg msg) {
    switch (msg) {
        case Msg::rotateStepChange:
            return {"%0.1f", "the rotate step"};
        case Msg::moveStepChange:
            return {"%0.1f", "the move step"};
        case Msg::scaleStepChange:
            return {"%d", "the scale step"};
        case Msg::axisChange:
            return {"%c", "the axis letter"};
        default:
            return {"%d", "the scale"};
    }
}

// The 1-based number of the character that starts at byte `offset` (UTF-8 continuation bytes
// are no characters of their own).
std::size_t characterNumber(const std::string& text, std::size_t offset) {
    std::size_t number = 1;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++number;
    return number;
}

// Names the part of a refused format text at fault and what to write instead; "" when the
// text has no such part (it is empty or formats too long).
std::string explainFormatFault(const std::string& text, Msg msg) {
    const FormatFault fault = findFormatFault(text.c_str(), messageInfo(msg).arg);
    if (!fault.reason) return {};
    const ValueAdvice advice = adviceFor(msg);
    std::string why = "it holds \"" + text.substr(fault.offset, fault.length) + "\" at character " +
                      std::to_string(characterNumber(text, fault.offset)) + ", " + fault.reason +
                      "; ";
    switch (fault.kind) {
        case FormatFaultKind::lonePercent:
            why += "write %% for a percent sign";
            break;
        case FormatFaultKind::wrongConversion:
            why += std::string("write ") + advice.conversion + " for " + advice.value +
                   ", or %% for a percent sign";
            break;
        case FormatFaultKind::spoiltConversion:
            why += std::string("write ") + advice.conversion + " for " + advice.value;
            break;
        case FormatFaultKind::tooWide:
            why += "keep a width or precision at 1023 or less";
            break;
        case FormatFaultKind::secondConversion:
            why += std::string("the message has one value: keep one ") + advice.conversion +
                   " and write %% for any other percent sign";
            break;
        case FormatFaultKind::none:
            break;
    }
    return why + "; the default text stays";
}

// The readers say that a format text was refused; the checker adds which part of it and the fix.
void explainRefusedFormats(const IniFile& file, SettingsReport& report) {
    for (SettingsNote& n : report.notes) {
        if (n.kind != NoteKind::refused || n.section != "messages") continue;
        for (std::size_t i = 0; i < kMessageKeyCount; ++i) {
            if (n.name != kMessages[i].key || kMessages[i].arg == FormatArg::none) continue;
            const std::string why = explainFormatFault(
                file.reader.Get("messages", n.name, "Empty message"), static_cast<Msg>(i));
            if (!why.empty()) n.detail = why;
        }
    }
}

// The plugin logs "Invalid value in rotateSteps, succesfully parsed N" whenever a list ends
// before ten values, which is also the end of every well-formed shorter list. Says which of the
// two a log line is; "" for other lines.
std::string stepLogNote(const std::string& line, const SettingsReport& report) {
    for (const SettingRow& row : kSettingTable) {
        if (row.type != SettingType::stepList) continue;
        const char* const key = row.name;
        const std::string prefix = std::string("Invalid value in ") + key + ", succesfully parsed ";
        if (line.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string count = line.substr(prefix.size());
        if (count.empty() ||
            !std::all_of(count.begin(), count.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return {};
        const bool wellFormed =
            std::any_of(report.notes.begin(), report.notes.end(), [&](const SettingsNote& n) {
                return n.kind == NoteKind::accepted && n.section == "steps" && n.name == key;
            });
        if (!wellFormed) return std::string("see [steps] ") + key + " under Findings";
        const bool one = count == "1";
        return "expected: the list has " + count + (one ? " value" : " values") +
               ", fewer than 10, and the plugin logs this for any such list; " +
               (one ? "the value is" : "all " + count + " are") + " in force";
    }
    return {};
}

// inih reads at most this many bytes of a line (its buffer of 200 with the NUL); a line that
// fills them is counted as a parse error even when its line feed is all that is left over.
constexpr std::size_t kLineBytesRead = 199;

// Feeds inih the text line by line as its own string reader does, except that the rest of a
// line longer than inih reads is skipped here rather than left for inih to discard: so the
// parse error that remains is a line whose text does not parse.
struct LineFeed {
    const std::string& text;
    std::size_t at = 0;
    bool skipRest = false;
};

char* feedLine(char* out, int size, void* stream) {
    auto& feed = *static_cast<LineFeed*>(stream);
    if (feed.skipRest) {
        // inih asks for the rest of the line it thinks too long: there is none.
        feed.skipRest = false;
        const std::size_t end = feed.text.find('\n', feed.at);
        feed.at = end == std::string::npos ? feed.text.size() : end + 1;
        return nullptr;
    }
    if (feed.at >= feed.text.size() || size < 2) return nullptr;
    const std::size_t room = static_cast<std::size_t>(size) - 1;
    const std::size_t end = feed.text.find('\n', feed.at);
    const std::size_t lineEnd = end == std::string::npos ? feed.text.size() : end + 1;
    const std::size_t n = std::min(room, lineEnd - feed.at);
    std::memcpy(out, feed.text.data() + feed.at, n);
    out[n] = '\0';
    feed.at += n;
    // A full buffer without the line feed: inih goes on to discard what follows.
    if (n == room && out[n - 1] != '\n') feed.skipRest = true;
    return out;
}

int noHandler(void*, const char*, const char*, const char*) { return 1; }

int firstLineThatDoesNotParse(const std::string& text) {
    LineFeed feed{text};
    return ini_parse_stream(feedLine, &feed, noHandler, nullptr);
}

std::vector<SettingsCheck::LongLine> longLinesOf(const std::string& text) {
    std::vector<SettingsCheck::LongLine> lines;
    int number = 0;
    for (std::size_t at = 0; at < text.size();) {
        ++number;
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::size_t length = end - at;
        // A line end written CR LF loses only its CR past the 199th byte: nothing that counts.
        if (length == kLineBytesRead + 1 && text[end - 1] == '\r') length = kLineBytesRead;
        if (length > kLineBytesRead) {
            constexpr std::size_t kShown = 24;
            const std::size_t cut = at + kLineBytesRead;
            const std::size_t keptFrom = cut - std::min(kShown, kLineBytesRead);
            std::string keptEnd = text.substr(keptFrom, cut - keptFrom);
            keptEnd.erase(0, keptEnd.find_first_not_of(" \t"));
            lines.push_back(
                {number, length, keptEnd, text.substr(cut, std::min(kShown, end - cut))});
        }
        at = end + 1;
    }
    return lines;
}

}  // namespace

SettingsCheck checkSettings(const std::string& windowsPath, const std::string& shownPath) {
    return checkSettingsText(windowsPath, IniFile::readText(os::nativePath(windowsPath.c_str())),
                             shownPath);
}

SettingsCheck checkSettingsText(const std::string& windowsPath,
                                const std::optional<std::string>& text,
                                const std::string& shownPath) {
    SettingsCheck check;
    check.path = shownPath.empty() ? windowsPath : shownPath;
    check.windowsPath = windowsPath;
    restoreDefaultSettings();

    // The file is parsed once and read as the plugin reads it.
    const IniFile file = IniFile::fromReadText(text);
    LineCapture capture{check.logLines};
    std::tie(capture.previous, capture.previousContext) = logObserver();
    setLogObserver(collectLine, &capture);
    check.opened = loadSettings(windowsPath, file, &check.report);
    setLogObserver(capture.previous, capture.previousContext);

    check.parseError = check.opened ? file.parseError() : -1;
    if (text && check.opened) {
        check.parseError = firstLineThatDoesNotParse(*text);
        check.longLines = longLinesOf(*text);
    }
    if (check.opened) {
        noteUnknownEntries(file, check.report);
        explainRefusedFormats(file, check.report);
        addFindings(*text, file, check.report);
    }
    return check;
}

std::string formatSettingsCheck(const SettingsCheck& check, int* status) {
    std::string text;
    std::string* const out = &text;
    put(out, "Settings file: %s\n", check.path.c_str());
    if (!check.opened) {
        put(out, "The file cannot be opened: the plugin keeps every default.\n");
    } else if (check.parseError > 0) {
        put(out,
            "Line %d is the first line that did not parse; the plugin skips such lines "
            "without a log line.\n",
            check.parseError);
    } else {
        put(out, "Every line parsed.\n");
    }

    put(out, "\n");
    const char* section = "";
    for (const SettingRow& row : kSettingTable) {
        if (row.type == SettingType::stepIndex || row.type == SettingType::stepList) continue;
        if (std::strcmp(section, row.section) != 0) {
            section = row.section;
            put(out, "[%s]\n", section);
        }
        printSetting(out, row);
    }

    put(out, "\n[keys]\n");
    for (std::size_t i = 0; i < kActionCount; ++i) {
        const KeyBinding& b = keyBindings[i];
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
        const bool builtIn = msg == Msg::stateStored;
        put(out, "  %-22s \"%s\"  %s\n", kMessages[i].key, printable(messageText(msg)).c_str(),
            builtIn ? "built in, no key"
                    : origin(std::strcmp(messageText(msg), kMessages[i].defaultText) == 0));
    }

    put(out, "\n[steps]  (the current entry in brackets)\n");
    for (const SettingRow& row : kSettingTable)
        if (row.type == SettingType::stepList) printSteps(out, row);

    if (check.opened)
        put(out, "\nKeys in force (each key's cap, and below it what the key does):\n%s",
            keyboardPicture().c_str());

    int refused = 0, ignored = 0, warnings = 0;
    put(out, "\nFindings:\n");
    for (const SettingsNote& n : check.report.notes) {
        if (n.kind == NoteKind::accepted) continue;
        const char* label = n.kind == NoteKind::refused   ? "refused"
                            : n.kind == NoteKind::ignored ? "ignored"
                            : n.kind == NoteKind::warning ? "warning"
                                                          : "note";
        if (n.kind == NoteKind::refused) ++refused;
        if (n.kind == NoteKind::ignored) ++ignored;
        if (n.kind == NoteKind::warning) ++warnings;
        // A finding about a line rather than an entry names only the line.
        if (n.kind == NoteKind::warning && n.section.empty() && n.name.empty())
            put(out, "  %-8s %s\n", label, printable(n.detail).c_str());
        else
            put(out, "  %-8s [%s] %s: %s\n", label, printable(n.section).c_str(),
                printable(n.name).c_str(), printable(n.detail).c_str());
    }
    for (const SettingsCheck::LongLine& line : check.longLines) {
        ++ignored;
        put(out,
            "  %-8s line %d: %zu bytes long; the plugin reads its first %zu, up to "
            "\"%s\", and drops the other %zu: \"%s\"%s\n",
            "ignored", line.number, line.length, kLineBytesRead, printable(line.keptEnd).c_str(),
            line.length - kLineBytesRead, printable(line.dropped).c_str(),
            line.dropped.size() < line.length - kLineBytesRead ? "..." : "");
    }
    if (check.parseError > 0) {
        ++ignored;
        put(out, "  %-8s line %d (and any later line that does not parse)\n", "ignored",
            check.parseError);
    }
    if (std::none_of(check.report.notes.begin(), check.report.notes.end(),
                     [](const SettingsNote& n) { return n.kind != NoteKind::accepted; }) &&
        check.parseError <= 0 && check.longLines.empty())
        put(out, "  none\n");

    put(out, "\nPlugin log lines for this file:\n");
    for (const std::string& line : check.logLines) {
        put(out, "  %s\n", printable(line, false).c_str());
        const std::string note = stepLogNote(line, check.report);
        if (!note.empty()) put(out, "    (%s)\n", note.c_str());
    }
    if (check.logLines.empty()) put(out, "  none\n");

    if (warnings > 0)
        put(out, "\nResult: %d refused, %d ignored, %d %s.\n", refused, ignored, warnings,
            warnings == 1 ? "warning" : "warnings");
    else
        put(out, "\nResult: %d refused, %d ignored.\n", refused, ignored);
    if (status) *status = !check.opened ? 2 : refused + ignored + warnings > 0 ? 1 : 0;
    return text;
}

int printSettingsCheck(const SettingsCheck& check, std::FILE* out, std::FILE* errors) {
    int status = 0;
    const std::string text = formatSettingsCheck(check, &status);
    errno = 0;
    std::fwrite(text.data(), 1, text.size(), out);
    // A report that did not reach its reader in full (a full disk, a closed pipe) is no answer:
    // the failure is told on `errors` rather than passed off as a verdict on the file.
    if (std::fflush(out) != 0 || std::ferror(out)) {
        const int error = errno;
        std::fprintf(errors, "freeplot-check: the report could not be written: %s\n",
                     error ? std::generic_category().message(error).c_str() : "write failed");
        return 2;
    }
    return status;
}

}  // namespace freeplot
