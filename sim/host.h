#pragma once
// What the simulated game needs of the operating system it runs on: the game image's memory, the
// game's critical section, files, the plugin's library, and one session as one process. Linux
// (host_posix.cpp) maps the image with mmap and forks a child per session; Windows
// (host_win32.cpp) has the image in the program's own main module and runs a session as a copy
// of the program started from the game's folder, as the game itself starts.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "sim/sim.h"

namespace sim::host {

// A path the sim holds as UTF-8 text, as the standard library's files and folders take it. On
// Windows the name is handed over wide: the narrow one would go through the ANSI code page and
// lose every letter outside it.
std::filesystem::path filePath(const std::string& utf8);

// The documents folder the plugin writes its log and settings report into, for a session whose
// folder is `root`: the one the session's environment gives (POSIX), or the user's as Windows
// tells it.
std::string documentsFolder(const std::string& root);

// Makes `bytes` from `base` on the game image, read/write/execute (throws std::runtime_error).
void mapImage(std::uintptr_t base, std::size_t bytes);

enum class Access { readWriteExecute, readExecute, none };
// Sets the protection of the pages that hold [address, address + bytes).
bool protect(std::uintptr_t address, std::size_t bytes, Access access);
// The protection of the page that holds `address`: "r-x", "rwx", "rw-", "---" or "unmapped".
std::string protectionAt(std::uintptr_t address);

// The game's critical section, laid in the image.
void initGameLock(void* at);
void lockGame(void* at);
void unlockGame(void* at);

// Holds an exclusive lock on the file (creating it) until the process ends, as another program
// holding it open would; false when that cannot be had.
bool holdFileLock(const std::string& path);

// Another program holding the file so that it cannot be read (`hold`), or letting go of it,
// leaving its time and size as they were (throws std::runtime_error when it cannot). Load runs on
// the thread that holds it.
void holdAgainstReading(const std::string& path, bool hold);

// The whole file, read as a program that lets others replace or delete it meanwhile (the plugin
// replaces its settings report whole, which Windows refuses while the file is open without its
// deletion shared); nullopt when it cannot be read.
std::optional<std::string> readShared(const std::string& path);
// The file's last write time in the system's own units, asked without opening it (Windows
// refuses to replace a file while anyone has it open at all); nullopt when there is none.
std::optional<std::int64_t> writtenTime(const std::string& path);
// Sets the file's last write time an hour back; false when it cannot.
bool writeTimeBack(const std::string& path);

// The session's event file: opened for appending, written a whole record at a time.
int openEventFile(const std::string& path);
void writeAll(int fd, const std::string& text);

// Ends the process as a crash would (a game function handed freed memory).
[[noreturn]] void crash();

// Runs one session of `options` in a process of its own with the plugin at `plugin`, its
// standard output and error in <root>/.sim/stdout and stderr; the child calls runChild.
struct ChildEnd {
    bool timedOut = false;
    int exitCode = -1;   // when it exited
    int signal = 0;      // when a signal (or an exception, on Windows) ended it
    std::string ending;  // how it ended, for the transcript, unless it completed
};
ChildEnd runSession(const Options& options, const std::string& root, const std::string& plugin);

// The part of a session that runs in the child, shared by both hosts: lays the image, loads the
// plugin, plays the script, records everything. Returns the exit status.
int runChild(const Options& options, const std::string& root, const std::string& plugin);

// The entry of a session's child process where the child is not a fork (Windows): reads what
// runSession left in <root>/.sim and runs the session. Returns the exit status.
int childProcessMain(const std::string& root);

// A fresh folder for a session's files; empty when none can be made.
std::string makeSessionRoot();

struct Plugin {
    void* query = nullptr;
    void* load = nullptr;
};
// Loads the plugin's library and finds its two entry points (throws std::runtime_error).
Plugin loadPlugin(const std::string& path);

}  // namespace sim::host
