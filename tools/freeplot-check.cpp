// freeplot-check: reads a Freeplot settings file exactly as the plugin does and prints the
// configuration in force, every entry that was refused or ignored, and the log lines the
// plugin writes for the file.

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "report/checker.h"

namespace {

// The plugin receives Windows paths; a POSIX path is written as one on drive Z:, as Wine
// does, and turned back by the OS layer when the file is opened. The report names the file
// as the player gave it.
std::string windowsPathOf(const std::string& path) {
    std::string out = path.size() > 0 && path[0] == '/' ? "Z:" + path : path;
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    // A reader that goes away (a closed pipe) makes the next write fail with an error the
    // report's own check turns into exit 2, instead of a signal ending the program unheard.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc != 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fprintf(argc == 2 ? stdout : stderr,
                     "usage: freeplot-check SETTINGS_FILE\n"
                     "Reads a freeplot.ini as the plugin does and prints the settings in force,\n"
                     "the entries refused or ignored, and the plugin's log lines for the file.\n"
                     "Exit status: 0 all entries took effect, 1 something was refused or\n"
                     "ignored, 2 the file cannot be opened, the report cannot be written or\n"
                     "the usage is wrong.\n");
        if (argc == 2 && std::fflush(stdout) != 0) {
            std::perror("freeplot-check: the usage could not be written");
            return 2;
        }
        return argc == 2 ? 0 : 2;
    }

    const freeplot::SettingsCheck check = freeplot::checkSettings(windowsPathOf(argv[1]), argv[1]);
    return freeplot::printSettingsCheck(check, stdout);
}
