// freeplot-check: reads a Freeplot settings file exactly as the plugin does and prints the
// configuration in force, every entry that was refused or ignored, and the log lines the
// plugin writes for the file.
//
// Windows players get it as freeplot-check.exe beside freeplot.ini, and start it from Explorer:
// with freeplot.ini dropped on it (Explorer names the file as the first argument) or with a
// double click (it then reads the freeplot.ini beside it). Such a program has a console window of
// its own that closes the moment it ends, so it then also writes its report to
// freeplot-check.txt beside the settings file, says so, and waits for a key.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/version.h"
#include "os/os.h"
#include "report/checker.h"

namespace {

constexpr const char* kReportFile = "freeplot-check.txt";

// The folder part of a path as given, with its separator ("" for a bare name).
std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool exists(const std::string& path) {
    std::FILE* file = freeplot::os::openNative(freeplot::os::nativePath(path.c_str()), "rb");
    if (file) std::fclose(file);
    return file != nullptr;
}

int usage(bool asked) {
    std::fprintf(asked ? stdout : stderr,
                 "freeplot-check %s: the settings checker of Freeplot\n"
                 "usage: freeplot-check SETTINGS_FILE\n"
                 "Reads a freeplot.ini as the plugin does and prints the settings in force,\n"
                 "the entries refused or ignored, and the plugin's log lines for the file.\n"
                 "On Windows, drop freeplot.ini on freeplot-check.exe, or double-click\n"
                 "freeplot-check.exe beside freeplot.ini.\n"
                 "Exit status: 0 all entries took effect, 1 something was refused or\n"
                 "ignored, 2 the file cannot be opened, the report cannot be written or\n"
                 "the usage is wrong.\n",
                 freeplot::kVersion);
    if (asked && std::fflush(stdout) != 0) {
        std::perror("freeplot-check: the usage could not be written");
        return 2;
    }
    return asked ? 0 : 2;
}

// Started from Explorer: the report goes beside the settings file too, and the window stays
// until a key is pressed.
void keepForThePlayer(const freeplot::SettingsCheck& check, const std::string& settingsPath) {
    namespace os = freeplot::os;
    if (!settingsPath.empty()) {
        const std::string report = folderOf(settingsPath) + kReportFile;
        std::FILE* file = os::openNative(os::nativePath(os::pluginPathOf(report).c_str()), "w");
        bool written = false;
        if (file) {
            // Its status says what became of the settings file (2 also for one not read, whose
            // report is written all the same); whether the report reached its file is asked here.
            freeplot::printSettingsCheck(check, file, stderr);
            written = std::ferror(file) == 0;
            written = std::fclose(file) == 0 && written;
        }
        if (written)
            std::printf("\nThis report is also written to %s\n", report.c_str());
        else
            std::printf("\nThis report could not be written to %s\n", report.c_str());
    }
    std::printf("Press any key to close this window.\n");
    std::fflush(stdout);
    os::waitForKeyPress();
}

}  // namespace

int main(int argc, char** argv) {
    namespace os = freeplot::os;
    os::prepareConsoleOutput();
    std::vector<std::string> arguments = os::programArguments(argc, argv);
    // FREEPLOT_CHECK_ALONE=1 acts as a window of its own: the tests under Wine run the program
    // with its output in a file, where Windows would show a window.
    const char* alone = std::getenv("FREEPLOT_CHECK_ALONE");
    const bool fromExplorer = os::consoleOwnedAlone() || (alone && std::strcmp(alone, "1") == 0);
    if (arguments.size() == 1 && fromExplorer && !arguments[0].empty()) {
        const std::string beside = folderOf(arguments[0]) + "freeplot.ini";
        if (exists(beside)) arguments.push_back(beside);
    }
    if (arguments.size() != 2 || arguments[1] == "--help" || arguments[1] == "-h") {
        const int status = usage(arguments.size() == 2);
        if (fromExplorer) keepForThePlayer({}, {});
        return status;
    }
    const std::string& path = arguments[1];

    const freeplot::SettingsCheck check = freeplot::checkSettings(os::pluginPathOf(path), path);
    const int status = freeplot::printSettingsCheck(check, stdout);
    if (fromExplorer) keepForThePlayer(check, path);
    return status;
}
