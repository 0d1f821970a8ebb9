#include "common/Utilities.h"

#include "common/Log.h"
#include "os/os.h"

namespace freeplot {
namespace {

char appPath[4096];

// The line number the assertion for an unobtainable executable path has always logged; tools
// that watch the log match the whole line, so it stays this number wherever the check moves.
constexpr int kAppPathAssertLine = 11;

}  // namespace

std::string AppPath() {
    if (appPath[0] == '\0' && os::mainModuleFileName(appPath, sizeof appPath) == 0) {
        appPath[0] = '\0';
        assertionFailed("Utilities", kAppPathAssertLine,
                        "GetModuleFileName(GetModuleHandle(NULL), appPath, sizeof(appPath))");
    }
    return appPath;
}

std::string directoryOf(const std::string& path) {
    // Only the backslash separates; a forward slash is part of a name.
    const auto slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

const std::string& AppDirectory() {
    static std::string directory;
    if (directory.empty()) {
        const std::string path = AppPath();
        directory = directoryOf(path);
        if (directory.empty()) logLine("no slash in runtime path? (%s)", path.c_str());
    }
    return directory;
}

}  // namespace freeplot
