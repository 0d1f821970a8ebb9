#pragma once
// Where the game lives: the executable's full path and its folder.

#include <string>

namespace freeplot {

// The full path of the game executable. Halts the plugin when the system cannot tell it.
std::string appPath();

// The executable's folder with its trailing backslash; empty (with a log line) while the path
// holds no backslash, in which case the next call looks again.
const std::string& appDirectory();

// The pure part of appDirectory: everything up to and including the last backslash, or empty.
std::string directoryOf(const std::string& path);

}  // namespace freeplot
