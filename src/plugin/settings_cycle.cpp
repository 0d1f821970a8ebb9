// The order of a reading of the settings file, at Load and at the start of a stay: read, put in
// force, say so on screen, and hand the report to a worker.

#include "plugin/settings_cycle.h"

#include <memory>
#include <utility>

#include "common/log.h"
#include "config/setting_table.h"
#include "config/settings_source.h"
#include "feedback/notify.h"
#include "feedback/workers.h"
#include "input/handlers.h"
#include "input/stay.h"
#include "report/report_file.h"

namespace freeplot {
namespace {

// The settings as the game started: those that act only then keep these values until the next
// start, whatever a file read while the game runs gives.
Settings started;

// Load's reading, until its report is handed over.
std::shared_ptr<const Reading> atLoad;

// One thread writes every report, one after the other, in the order of the readings.
constexpr const char* kReportThread = "settings report";

// The findings are worked out there too: their time grows with the file.
void handReport(std::shared_ptr<const Reading> reading, ReportContext context) {
    startThread(kReportThread, [reading = std::move(reading), context = std::move(context)] {
        writeSettingsReport(*reading, findingsOf(*reading, context), context);
    });
}

void logAll(const Reading& reading) {
    for (const std::string& line : reading.logLines) logLine("%s", line.c_str());
}

}  // namespace

void takeSettingsAtLoad(const std::string& windowsPath) {
    auto reading =
        std::make_shared<Reading>(readSettings(windowsPath, readSettingsBytes(windowsPath)));
    logAll(*reading);
    applySettings(reading->inForce);
    started = settings;
    staySettingsRead(reading);
    rememberSettingsFile(windowsPath, reading->read());
    atLoad = std::move(reading);
}

void reportSettingsAtLoad() {
    if (!atLoad) return;
    ReportContext context;
    context.when = ReportContext::When::start;
    handReport(std::move(atLoad), std::move(context));
}

void takeSettingsAtStayStart() {
    SettingsLook look = lookAtSettingsFile();
    if (look.outcome == SettingsLook::unchanged) return;
    if (look.reading) logAll(*look.reading);
    logLine("%s", look.logLine.c_str());
    if (look.outcome == SettingsLook::kept) {
        showNow(Msg::settingsRefused);
        startThread(kReportThread, [why = std::move(look.why)] { writeSettingsReportNotTaken(why); });
        return;
    }
    auto reading = std::make_shared<const Reading>(std::move(*look.reading));
    ReportContext context;
    context.when = ReportContext::When::again;
    context.started = started;
    SettingsInForce next = reading->inForce;
    next.settings = whileRunning(next.settings, started);
    applySettings(next);
    staySettingsRead(reading);
    // The bindings and what the buttons do may have changed: presses taken under the settings
    // before are forgotten.
    prepareKeyLookup();
    forgetTakenButtons();
    forgetTakenKeys();
    showNow(Msg::settingsReloaded);
    // Whether the report will have findings, asked of the same code that lists them for it.
    if (anyFindings(*reading, context)) showNow(Msg::settingsWarnings);
    handReport(std::move(reading), std::move(context));
}

}  // namespace freeplot
