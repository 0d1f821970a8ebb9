// The console of the settings checker on POSIX: arguments as given, standard output silenced by
// descriptor, no window of its own to keep open.

#include <fcntl.h>
#include <unistd.h>

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

int silenceStandardOutput() {
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    const bool silenced = saved >= 0 && null >= 0 && dup2(null, STDOUT_FILENO) >= 0;
    if (null >= 0) close(null);
    if (silenced) return saved;
    if (saved >= 0) close(saved);
    return -1;
}

void restoreStandardOutput(int token) {
    if (token < 0) return;
    std::fflush(stdout);
    dup2(token, STDOUT_FILENO);
    close(token);
}

bool consoleOwnedAlone() { return false; }

void waitForKeyPress() { std::getchar(); }

}  // namespace freeplot::os
