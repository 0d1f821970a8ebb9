#pragma once
// What the report's sources share: how findings are gathered within their bound, and how the
// lines and entries of a file are named in them. Findings hold the file's text as it is; the
// report makes it printable when it writes them.

#include <string>
#include <vector>

#include "config/reading.h"
#include "report/report.h"

namespace freeplot::report_text {

// Gathers findings: every one is counted, the first kListedFindings are written out. One that only
// asks whether there is any (firstOnly) writes none out and is done at the first.
class Collector {
public:
    explicit Collector(Findings& out, bool firstOnly = false) : out_(out), firstOnly_(firstOnly) {}
    // Whether a further finding would still be written out (work on its text is wasted if not).
    bool listing() const { return !firstOnly_ && out_.listed.size() < kListedFindings; }
    // Whether nothing more is asked: the finders stop looking.
    bool done() const { return firstOnly_ && out_.any(); }
    void add(Severity severity, std::string about, std::string detail);
    // One more finding of that severity that is not written out.
    void count(Severity severity);

private:
    Findings& out_;
    bool firstOnly_;
};

// "[section] name"
std::string about(const std::string& section, const std::string& name);
// "line 3: ", "lines 3 and 7: ", "lines 3, 5 and 7: ", "" for none.
std::string linesPrefix(const std::vector<int>& lines);
// The lines of the file that give an entry its value, as a prefix ("" when it has none).
std::string entryPrefix(const Reading& reading, std::int32_t entry);
// The entry a name spelled exactly so gives in a section: [keys] and [messages] take only their
// names' exact spellings. Null when the file does not spell it so.
const IniEntry* exactEntry(const Reading& reading, std::string_view section, std::string_view name);
// The line a reader's note is about, as a prefix.
std::string notePrefix(const Reading& reading, const SettingsNote& note);

// A key as a sentence names it: "the 8 key", "Numpad 8", "code 300".
std::string keyLabel(std::uint16_t code);

// Keys bound to two or more actions, each a warning that says which action acts.
void findSharedKeys(const Reading& reading, const SettingsInForce& inForce, Collector& out);

// The findings about bindings, numbers, steps and messages that only show across entries.
void findKeyProblems(const Reading& reading, const SettingsInForce& inForce, Collector& out);
void findValueProblems(const Reading& reading, const SettingsInForce& inForce, Collector& out);

// Why a refused format text was refused, and what to write instead ("" when it is not one of
// the texts the format check refuses for a part of it).
std::string explainFormatFault(const std::string& text, Msg msg);

// How the setting an entry gives is in force now, in words ("" for an entry the plugin does
// not read).
std::string inForceText(const Reading& reading, const SettingsInForce& inForce,
                        const IniEntry& entry);

// Appends printf-style text.
void put(std::string* out, const char* format, ...)
#if defined(__MINGW32__) && !defined(__clang__)
    // The C++ runtime of mingw-w64 formats as the GNU C library does (%zu included).
    __attribute__((format(gnu_printf, 2, 3)))
#elif defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

}  // namespace freeplot::report_text
