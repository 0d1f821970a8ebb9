// libFuzzer target: arbitrary bytes as the settings file, read and then rendered as the report
// beside the log is: its findings within their bound, its lines within 100 columns where it draws
// the keys, and every message the handlers format with the values they pass.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "report/report.h"
#include "fuzz_check.h"

namespace {

// Whether the text is UTF-8 throughout (the report quotes what is not as \xNN).
bool utf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        const std::size_t more = c >= 0xF5 ? 9 : c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 ? 1 : 9;
        if (more == 9 || i + more >= text.size()) return false;
        for (std::size_t k = 1; k <= more; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += more + 1;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const freeplot::Reading reading =
        freeplot::readSettings("C:\\fuzz\\freeplot.ini", freeplot::settingsBytesOf(bytes));
    freeplot::ReportContext context;
    context.when = size % 2 ? freeplot::ReportContext::When::again
                            : freeplot::ReportContext::When::start;
    const freeplot::Findings findings = freeplot::findingsOf(reading, context);
    FUZZ_CHECK(findings.listed.size() <= freeplot::kListedFindings);
    // The input thread asks only whether there is any: the same answer, found sooner.
    FUZZ_CHECK(freeplot::anyFindings(reading, context) == findings.any());
    const std::string report = freeplot::renderReport(reading, findings, context);
    FUZZ_CHECK(utf8(report));
    const std::string picture = freeplot::keyboardPicture(reading.inForce.keys);
    for (std::size_t at = 0, end; at < picture.size(); at = end + 1) {
        end = picture.find('\n', at);
        if (end == std::string::npos) end = picture.size();
        FUZZ_CHECK(end - at < 100);
    }

    // Every message the handlers may format, with the values they pass, once put in force.
    freeplot::applySettings(reading.inForce);
    using freeplot::Msg;
    auto length = [](const freeplot::FormattedText& text) { return std::strlen(text.c_str()); };
    FUZZ_CHECK(length(freeplot::formatMessage(Msg::rotateStepChange, reading.inForce.rotate.current())) < 1024);
    FUZZ_CHECK(length(freeplot::formatMessage(Msg::moveStepChange, reading.inForce.move.current())) < 1024);
    FUZZ_CHECK(length(freeplot::formatMessage(Msg::scaleStepChange, reading.inForce.scale.current())) < 1024);
    FUZZ_CHECK(length(freeplot::formatMessage(Msg::axisChange, 'Z')) < 1024);
    FUZZ_CHECK(length(freeplot::formatMessage(Msg::scaleChange, -2147483647 - 1)) < 1024);
    return 0;
}
