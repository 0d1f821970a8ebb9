#pragma once
// The operating-system layer: the portable face of each Windows call the plugin makes.
// win32.cpp calls the real API; posix.cpp emulates it for the Linux build that runs inside
// the simulated game. No other file of the plugin names an operating system.
//
// Every name and path crosses this interface as UTF-8, whatever the user's code page: the
// Windows backend calls the wide (UTF-16) functions and converts at its edge, so a user or folder
// name in any script reaches the files it names.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace freeplot::os {

// How lines of a text file end on this system: CR LF on Windows, LF elsewhere.
#if defined(_WIN32)
inline constexpr std::string_view kLineEnd = "\r\n";
#else
inline constexpr std::string_view kLineEnd = "\n";
#endif

// Windows page protection values, used on both backends.
inline constexpr std::uint32_t kPageReadWrite = 0x04;
inline constexpr std::uint32_t kPageExecuteRead = 0x20;
inline constexpr std::uint32_t kPageExecuteReadWrite = 0x40;

// MAX_PATH, in UTF-16 units as Windows counts it.
inline constexpr std::size_t kMaxPath = 260;
// Bytes that hold a path of kMaxPath UTF-16 units written as UTF-8, with its terminating NUL
// among them: a unit takes at most three bytes (a pair of units, four).
inline constexpr std::size_t kMaxPathUtf8 = kMaxPath * 3;

// GetModuleHandle(NULL): the load address of the process's main executable.
std::uintptr_t mainModule();

// How many bytes from mainModule() on belong to the main module's image: its SizeOfImage from
// the PE header on Windows; the span of memory mapped from the image base on in the emulation.
// 0 when it cannot be told.
std::size_t mainModuleSize();

// GetModuleFileName(main module, buffer, size): the executable's path as a Windows path, in
// UTF-8. Returns its length in bytes; a path that does not fit is cut to the buffer between two
// characters and terminated, `size` is returned and the last error is ERROR_INSUFFICIENT_BUFFER
// (122). 0 on failure.
std::uint32_t mainModuleFileName(char* buffer, std::uint32_t size);

// VirtualQuery: the region that starts at the page holding `address` and runs upward while the
// pages stay alike: a free region up to the next used one, a used one to the end of its run.
struct Region {
    std::uintptr_t base;
    std::size_t size;
    bool free;  // state MEM_FREE
};
bool queryRegion(std::uintptr_t address, Region& out);

// VirtualAlloc(address, size, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE). Reserves and
// commits from the address rounded down to 64 KiB up to the page holding the request's last
// byte. Returns the rounded address, or 0 (last error ERROR_INVALID_ADDRESS, 487, when part of
// that range is in use).
std::uintptr_t allocateAt(std::uintptr_t address, std::size_t size);

// VirtualProtect: sets `protection` on the pages covering [address, address + size) and
// reports the protection the first of them had in `oldProtection`. When any page of the range
// is not in use, nothing changes and the result is false.
bool protect(std::uintptr_t address, std::size_t size, std::uint32_t protection,
             std::uint32_t& oldProtection);

// FlushInstructionCache(GetCurrentProcess(), address, size): code written at the range is what
// the processor runs from now on.
void flushInstructionCache(std::uintptr_t address, std::size_t size);

// GetLastError: a Windows error code on both backends.
std::uint32_t lastError();

// SHGetFolderPath(NULL, CSIDL_MYDOCUMENTS | CSIDL_FLAG_CREATE, NULL, 0, buffer):
// the documents folder as a Windows path, in UTF-8, into a buffer of kMaxPathUtf8 bytes.
// Returns the HRESULT (0 on success; a failure leaves the buffer empty).
std::int32_t documentsFolder(char* buffer);

// _wmkdir of a Windows path; the result is not reported.
void makeDirectory(const char* path);

// _wfsopen(path, L"w", _SH_DENYWR): open for writing, truncated, shared reading allowed and
// shared writing denied. Returns null when the file cannot be opened or another opener
// holds it.
std::FILE* openShareDenyWrite(const char* path);

// The name under which openNative opens a file given by a Windows path. Identity on Windows;
// the POSIX backend turns "Z:\\a\\b" into "/a/b" and a relative "a\\b" into "a/b".
std::string nativePath(const char* path);

// Writes `bytes` to the file at a Windows path whole or not at all: into "<path>.tmp" first,
// which then replaces the file (MoveFileExW with MOVEFILE_REPLACE_EXISTING). False, with the file
// as it was and no temporary file left, when the folder cannot be written or another opener holds
// the file (the emulation: holds a lock on it, as openShareDenyWrite takes).
bool replaceFileWhole(const char* path, const std::string& bytes);

// fopen of a name nativePath gave (mode as fopen takes it). On Windows the UTF-8 name is opened
// through the wide call, as the ANSI fopen cannot name what the code page does not hold.
std::FILE* openNative(const std::string& nativePath, const char* mode);

// GetFileAttributesEx: when a file given by a Windows path was last written, and its size.
// False when there is no such file (or it cannot be asked about).
struct FileStamp {
    std::int64_t written;  // in the system's own units: compared, never interpreted
    std::uint64_t size;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};
bool fileStamp(const char* path, FileStamp& out);

// MapVirtualKey(scanCode, MAPVK_VSC_TO_VK_EX).
std::uint32_t scanCodeToVirtualKey(std::uint32_t scanCode);

// EnterCriticalSection / LeaveCriticalSection on a critical section inside the game's data.
void enterCriticalSection(void* section);
void leaveCriticalSection(void* section);

// For the settings checker, a program players run from a console or from Explorer.

// The program's arguments as UTF-8. Windows: taken from the wide command line (the ANSI argv
// turns every letter outside the user's code page into '?'); POSIX: argv as it is.
std::vector<std::string> programArguments(int argc, char** argv);

// A file named on the command line as the plugin's file calls take it: itself on Windows; on
// POSIX an absolute path on drive Z: ("/a/b" -> "Z:\\a\\b"), a relative one with backslashes.
std::string pluginPathOf(const std::string& commandLinePath);

// Output for the program's console: a write to a reader that went away (a closed pipe) fails
// with an error the program can report, instead of ending it unheard (POSIX: SIGPIPE ignored);
// a Windows console shows UTF-8 text (its output code page, set back when the program ends).
void prepareConsoleOutput();

// Whether the program has its console to itself: started from Explorer (a double click, or a
// file dropped on it), its window closes the moment it ends. False when it shares a console
// with the shell that started it, or its input or output is not a console (POSIX: always).
bool consoleOwnedAlone();

// Waits until a key is pressed on the console (or a byte or the end of input arrives, when
// standard input is not a console).
void waitForKeyPress();

}  // namespace freeplot::os
