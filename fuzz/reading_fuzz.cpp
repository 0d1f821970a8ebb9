// libFuzzer target: arbitrary bytes as the settings file, read as the plugin reads one. Checks
// every invariant the rest of the plugin relies on, and the reading against inih's own reader
// where the two must agree. Each input is also tried as a message format: a text the format check
// lets through must format safely with its value.

#include <INIReader.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "config/reading.h"
#include "fuzz_check.h"

namespace {

template <class Steps>
void checkSteps(const Steps& steps) {
    FUZZ_CHECK(steps.count >= 1 && steps.count <= static_cast<std::int32_t>(freeplot::kStepCapacity));
    FUZZ_CHECK(steps.index >= 0 && steps.index < steps.count);
}

void tryFormat(const std::string& text) {
    using freeplot::FormatArg;
    char buffer[freeplot::kMessageBufferSize];
    if (!freeplot::formatProblem(text.c_str(), FormatArg::real))
        std::snprintf(buffer, sizeof buffer, text.c_str(), 1.5);
    if (!freeplot::formatProblem(text.c_str(), FormatArg::integer))
        std::snprintf(buffer, sizeof buffer, text.c_str(), 150);
    if (!freeplot::formatProblem(text.c_str(), FormatArg::letter))
        std::snprintf(buffer, sizeof buffer, text.c_str(), 'X');
    // A text fit for no value holds no conversion at all.
    if (!freeplot::formatProblem(text.c_str(), FormatArg::none))
        std::snprintf(buffer, sizeof buffer, text.c_str(), static_cast<char*>(nullptr));
}

// Where inih reads the same text the same way (no NUL, no line beyond its buffer), its reader
// gives every name the value the reading gives it, and names the same first bad line.
void compareWithInih(const freeplot::Reading& reading) {
    const std::string& text = reading.file.bytes;
    if (text.find('\0') != std::string::npos) return;
    for (const freeplot::IniLine& line : reading.ini.lines)
        if (line.length >= freeplot::kLineBytesRead) return;
    const INIReader inih(text.data(), text.size());
    FUZZ_CHECK(inih.ParseError() == reading.ini.firstBadLine);
    for (const freeplot::IniEntry& entry : reading.ini.entries) {
        const std::string& section =
            reading.ini.sections[static_cast<std::size_t>(entry.section)].name;
        FUZZ_CHECK(inih.Get(section, entry.name, "\x01") == entry.value);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const freeplot::Reading reading =
        freeplot::readSettings("C:\\fuzz\\freeplot.ini", freeplot::settingsBytesOf(bytes));
    const freeplot::SettingsInForce& in = reading.inForce;
    checkSteps(in.rotate);
    checkSteps(in.move);
    checkSteps(in.scale);
    for (const freeplot::KeyBinding& b : in.keys) FUZZ_CHECK(b.primary != 0);
    FUZZ_CHECK(in.settings.buildTimescale == in.settings.buildTimescale);
    // Every line of the text has its record, in order, and every entry's lines point at it.
    std::size_t covered = 0;
    for (const freeplot::IniLine& line : reading.ini.lines) {
        FUZZ_CHECK(line.offset == covered);
        covered += line.length + 1;
        if (line.kind == freeplot::LineKind::entry || line.kind == freeplot::LineKind::continuation)
            FUZZ_CHECK(line.entry >= 0 &&
                       static_cast<std::size_t>(line.entry) < reading.ini.entries.size());
    }
    if (reading.read()) FUZZ_CHECK(covered >= size && covered <= size + 1);
    compareWithInih(reading);
    tryFormat(bytes);
    return 0;
}
