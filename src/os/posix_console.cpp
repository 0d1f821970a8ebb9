// The console of the settings checker on POSIX: arguments as given, no window of its own to keep
// open.

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "os/os.h"
#include "os/posix_internal.h"

namespace freeplot::os {

std::vector<std::string> programArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

std::string pluginPathOf(const std::string& commandLinePath) {
    return posix::toWindowsPath(commandLinePath);
}

void prepareConsoleOutput() { std::signal(SIGPIPE, SIG_IGN); }

bool consoleOwnedAlone() { return false; }

void waitForKeyPress() { std::getchar(); }

}  // namespace freeplot::os
