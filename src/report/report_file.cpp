#include "report/report_file.h"

#include <mutex>

#include "common/log.h"
#include "os/os.h"

namespace freeplot {
namespace {

constexpr const char* kReportName = "freeplot_settings.txt";

// The report of the settings in force, as written last: a file not taken is reported above it.
struct Written {
    std::mutex mutex;
    std::string inForce;
};
Written written;

void writeText(const std::string& text) {
    const std::string path = settingsReportPath();
    if (path.empty()) return;
    std::string bytes;
    bytes.reserve(text.size() + text.size() / 16);
    for (const char c : text) {
        if (c == '\n')
            bytes += os::kLineEnd;
        else
            bytes += c;
    }
    if (!os::replaceFileWhole(path.c_str(), bytes))
        logLine("Settings report %s could not be written: the one before stays", path.c_str());
}

}  // namespace

std::string settingsReportPath() {
    const std::string folder = logFolder();
    return folder.empty() ? std::string() : folder + kReportName;
}

void writeSettingsReport(const Reading& reading, const Findings& findings,
                         const ReportContext& context) {
    const std::string text = renderReport(reading, findings, context);
    const std::lock_guard lock(written.mutex);
    written.inForce = text;
    writeText(text);
}

void writeSettingsReportNotTaken(const std::string& why) {
    const std::lock_guard lock(written.mutex);
    writeText(renderNotTaken(why, written.inForce));
}

}  // namespace freeplot
