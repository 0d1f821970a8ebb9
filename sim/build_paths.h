#pragma once
// Where this build's files are, found at run time from the running program's own path: the build
// folder is the nearest folder above the program that holds CMakeCache.txt, and the checkout is
// the folder that cache names. No path is compiled in, so every clone of a commit compiles to the
// same objects, which is what lets the compiler cache serve a fresh clone.

#if defined(_WIN32)
#include <windows.h>
#endif

#include <filesystem>
#include <fstream>
#include <string>

namespace sim {

// The path of the running program; empty when it cannot be told.
inline std::filesystem::path runningProgram() {
#if defined(_WIN32)
    char path[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    return n ? std::filesystem::path(std::string(path, n)) : std::filesystem::path();
#else
    std::error_code error;
    std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : path;
#endif
}

// The build folder of the running program; empty when it has none.
inline std::string buildDirectory() {
    std::error_code error;
    std::filesystem::path dir = runningProgram();
    for (dir = dir.parent_path(); !dir.empty(); dir = dir.parent_path()) {
        if (std::filesystem::exists(dir / "CMakeCache.txt", error)) return dir.string();
        if (dir == dir.root_path()) break;
    }
    return {};
}

// The checkout the running program was built from; empty when it cannot be told.
inline std::string sourceDirectory() {
    const std::string build = buildDirectory();
    if (build.empty()) return {};
    std::ifstream cache(build + "/CMakeCache.txt");
    const std::string key = "CMAKE_HOME_DIRECTORY:INTERNAL=";
    for (std::string line; std::getline(cache, line);)
        if (line.compare(0, key.size(), key) == 0) return line.substr(key.size());
    return {};
}

}  // namespace sim
