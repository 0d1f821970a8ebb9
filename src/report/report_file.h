#pragma once
// The report beside the log: "freeplot_settings.txt", in the folder the log is in (or would be in,
// had it opened), written whole or not at all, with the line ends of the system's text files.
// Rendering and writing take time that grows with the file, so the plugin calls these on a worker.

#include <string>

#include "report/report.h"

namespace freeplot {

// Renders the report of a reading and writes it; it is remembered as the report of the settings
// in force. A report that cannot be written leaves the one before and logs one line.
void writeSettingsReport(const Reading& reading, const Findings& findings,
                         const ReportContext& context);

// Writes the report of a changed file that was not taken: why, above the report of the settings
// in force (the one written last).
void writeSettingsReportNotTaken(const std::string& why);

// Where the report goes ("" before the log's folder is known).
std::string settingsReportPath();

}  // namespace freeplot
