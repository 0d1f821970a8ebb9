#include "common/runtime_paths.h"

#include "common/log.h"
#include "os/os.h"

namespace freeplot {
namespace {

char appPathBuffer[4096];

// The line number the assertion for an unobtainable executable path has always logged; tools
// that watch the log match the whole line, so it stays this number wherever the check moves.
constexpr int kAppPathAssertLine = 11;

}  // namespace

std::string appPath() {
    if (appPathBuffer[0] == '\0' &&
        os::mainModuleFileName(appPathBuffer, sizeof appPathBuffer) == 0) {
        appPathBuffer[0] = '\0';
        assertionFailed("Utilities", kAppPathAssertLine,
                        "GetModuleFileName(GetModuleHandle(NULL), appPath, sizeof(appPath))");
    }
    return appPathBuffer;
}

std::string directoryOf(const std::string& path) {
    // Only the backslash separates; a forward slash is part of a name.
    const auto slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

const std::string& appDirectory() {
    static std::string directory;
    if (directory.empty()) {
        const std::string path = appPath();
        directory = directoryOf(path);
        if (directory.empty()) logLine("no slash in runtime path? (%s)", path.c_str());
    }
    return directory;
}

}  // namespace freeplot
