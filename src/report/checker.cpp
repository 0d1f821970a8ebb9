#include "report/checker.h"

#include <cerrno>
#include <system_error>

namespace freeplot {
namespace {

SettingsCheck checked(Reading reading, const std::string& shownPath) {
    SettingsCheck check;
    check.context.shownPath = shownPath;
    check.reading = std::move(reading);
    check.findings = findingsOf(check.reading, check.context);
    return check;
}

}  // namespace

SettingsCheck checkSettings(const std::string& windowsPath, const std::string& shownPath) {
    return checked(readSettings(windowsPath, readSettingsBytes(windowsPath)), shownPath);
}

SettingsCheck checkSettingsBytes(const std::string& windowsPath, std::string bytes,
                                 const std::string& shownPath) {
    return checked(readSettings(windowsPath, settingsBytesOf(std::move(bytes))), shownPath);
}

std::string formatSettingsCheck(const SettingsCheck& check, int* status) {
    return renderReport(check.reading, check.findings, check.context, status);
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
