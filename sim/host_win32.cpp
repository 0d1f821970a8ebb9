// The simulated game's host on Windows (run under Wine here). The game image is a section of the
// program's own main module, laid first by the linker script the build writes (.gameimg, right
// after the headers), so GetModuleHandle(NULL) is the game's base and the module spans every
// game location, as the game's own executable does. A session is a copy of the program, named
// Fallout4.exe, started from the game's folder of the session with the plugin in
// Data\F4SE\Plugins, so the plugin finds its settings there as in the game. Every name goes to
// Windows through the wide calls and is held as UTF-8, and each session's folder is named in
// Cyrillic and CJK letters: the game's folder of a player whose names are outside the ANSI code
// page, which the plugin must reach all the same.

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
// After <windows.h>, which it needs.
#include <shellapi.h>
#include <shlobj.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include "sim/host.h"

// The image itself: uninitialised data, so it takes no room in the program's file.
__asm__(
    ".section .gameimg,\"bw\"\n"
    ".balign 4096\n"
    ".globl freeplot_game_image\n"
    "freeplot_game_image:\n"
    ".zero 0x6000000\n"
    ".text\n");
extern "C" unsigned char freeplot_game_image[];

namespace sim::host {
namespace {

// The image section starts after the one page of headers.
constexpr std::uintptr_t kHeaders = 0x1000;
constexpr std::size_t kImageSection = 0x6000000;

DWORD toProtection(Access access) {
    switch (access) {
        case Access::readWriteExecute:
            return PAGE_EXECUTE_READWRITE;
        case Access::readExecute:
            return PAGE_EXECUTE_READ;
        case Access::none:
            return PAGE_NOACCESS;
    }
    return PAGE_NOACCESS;
}

std::wstring wide(std::string_view utf8) {
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string utf8(std::wstring_view text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                            nullptr, nullptr);
    return out;
}

// The letters in every session folder's name: none of them is in a Western code page.
constexpr const char* kSessionFolderName = "Игра 遊戲";

std::string lastErrorText(const char* what) {
    char text[128];
    std::snprintf(text, sizeof text, "%s failed (error %lu)", what, GetLastError());
    return text;
}

std::string thisProgram() {
    std::wstring path(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    return utf8(std::wstring_view(path.data(), n));
}

// What a session's child needs of its Options, written by the parent into <root>\.sim.
void writeOptions(const Options& o, const std::string& dir) {
    std::ofstream out(filePath(dir + "\\options"), std::ios::binary);
    out << "runtimeVersion=" << o.runtimeVersion << "\n"
        << "editor=" << o.editor << "\n"
        << "commandTable=" << static_cast<int>(o.commandTable) << "\n"
        << "gameTakesRefQueue=" << o.gameTakesRefQueue << "\n"
        << "recordInputCallees=" << o.recordInputCallees << "\n"
        << "axisCommandMicros=" << o.axisCommandTime.count() << "\n"
        << "callLoad=" << o.callLoad << "\n"
        << "blankImage=" << o.blankImage << "\n"
        << "imageBytes=" << o.imageBytes << "\n"
        << "countImageChanges=" << o.countImageChanges << "\n"
        << "scenarioName=" << o.scenarioName << "\n";
    if (o.settings) std::ofstream(filePath(dir + "\\settings"), std::ios::binary) << *o.settings;
    std::ofstream(filePath(dir + "\\scenario"), std::ios::binary) << o.scenarioText;
}

std::optional<std::string> readWhole(const std::string& path) {
    std::ifstream in(filePath(path), std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

Options readOptions(const std::string& dir) {
    std::map<std::string, std::string> values;
    std::istringstream in(readWhole(dir + "\\options").value_or(""));
    for (std::string line; std::getline(in, line);)
        if (const auto eq = line.find('='); eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
    auto number = [&](const char* key, unsigned long long fallback) {
        const auto it = values.find(key);
        return it == values.end() ? fallback : std::strtoull(it->second.c_str(), nullptr, 10);
    };
    Options o;
    o.runtimeVersion = static_cast<std::uint32_t>(number("runtimeVersion", o.runtimeVersion));
    o.editor = static_cast<std::uint32_t>(number("editor", 0));
    o.commandTable = static_cast<CommandTable>(number("commandTable", 0));
    o.gameTakesRefQueue = number("gameTakesRefQueue", 1) != 0;
    o.recordInputCallees = number("recordInputCallees", 1) != 0;
    o.axisCommandTime = std::chrono::microseconds(number("axisCommandMicros", 0));
    o.callLoad = number("callLoad", 1) != 0;
    o.blankImage = number("blankImage", 0) != 0;
    o.imageBytes = static_cast<std::size_t>(number("imageBytes", o.imageBytes));
    o.countImageChanges = number("countImageChanges", 0) != 0;
    o.scenarioName = values["scenarioName"];
    o.settings = readWhole(dir + "\\settings");
    o.scenarioText = readWhole(dir + "\\scenario").value_or("");
    return o;
}

HANDLE inheritableFile(const std::string& path) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(wide(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherit, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::filesystem::path filePath(const std::string& text) {
    return std::filesystem::path(wide(text));
}

std::string documentsFolder(const std::string& root) {
    wchar_t folder[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, 0, folder) != S_OK)
        return root + "/home/Documents";
    return utf8(folder);
}

void mapImage(std::uintptr_t base, std::size_t bytes) {
    const auto module = reinterpret_cast<std::uintptr_t>(GetModuleHandleW(nullptr));
    const auto section = reinterpret_cast<std::uintptr_t>(freeplot_game_image);
    if (module != base || section != base + kHeaders)
        throw std::runtime_error(
            "the game image is not the program's first section at the game's base: link "
            "freeplot-sim with the linker script the build writes, --image-base 0x140000000 and "
            "--disable-dynamicbase");
    if (bytes > kHeaders + kImageSection)
        throw std::runtime_error("the game image is larger than the program's image section");
    DWORD old = 0;
    if (!VirtualProtect(freeplot_game_image, bytes - kHeaders, PAGE_EXECUTE_READWRITE, &old))
        throw std::runtime_error(lastErrorText("making the game image writable"));
}

bool protect(std::uintptr_t address, std::size_t bytes, Access access) {
    DWORD old = 0;
    return VirtualProtect(reinterpret_cast<void*>(address), bytes, toProtection(access), &old) !=
           FALSE;
}

std::string protectionAt(std::uintptr_t address) {
    MEMORY_BASIC_INFORMATION info{};
    if (!VirtualQuery(reinterpret_cast<const void*>(address), &info, sizeof info) ||
        info.State != MEM_COMMIT)
        return "unmapped";
    switch (info.Protect & 0xFF) {
        case PAGE_EXECUTE_READ:
            return "r-x";
        case PAGE_EXECUTE_READWRITE:
        case PAGE_EXECUTE_WRITECOPY:
            return "rwx";
        case PAGE_READWRITE:
        case PAGE_WRITECOPY:
            return "rw-";
        case PAGE_READONLY:
            return "r--";
        case PAGE_EXECUTE:
            return "--x";
        default:
            return "---";
    }
}

void initGameLock(void* at) { InitializeCriticalSection(static_cast<CRITICAL_SECTION*>(at)); }

void lockGame(void* at) { EnterCriticalSection(static_cast<CRITICAL_SECTION*>(at)); }

void unlockGame(void* at) { LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(at)); }

bool holdFileLock(const std::string& path) {
    HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    OVERLAPPED whole{};
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                    MAXDWORD, &whole)) {
        CloseHandle(file);
        return false;
    }
    return true;  // the handle stays open, and the lock held, until the process ends
}

void holdAgainstReading(const std::string& path, bool hold) {
    // Opened with no sharing, as an editor that locks its file opens it: every other open fails.
    static HANDLE held = INVALID_HANDLE_VALUE;
    if (!hold) {
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        held = INVALID_HANDLE_VALUE;
        return;
    }
    held = CreateFileW(wide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot hold the settings file against reading: " + path);
}

namespace {
HANDLE openShared(const std::string& path, DWORD access) {
    return CreateFileW(wide(path).c_str(), access,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}
std::int64_t ticks(const FILETIME& time) {
    return static_cast<std::int64_t>((std::uint64_t{time.dwHighDateTime} << 32) |
                                     time.dwLowDateTime);
}
}  // namespace

std::optional<std::string> readShared(const std::string& path) {
    const HANDLE file = openShared(path, GENERIC_READ);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string text;
    char chunk[65536];
    DWORD n = 0;
    bool done = true;
    while ((done = ReadFile(file, chunk, sizeof chunk, &n, nullptr) != 0) && n > 0)
        text.append(chunk, n);
    CloseHandle(file);
    if (!done) return std::nullopt;
    return text;
}

std::optional<std::int64_t> writtenTime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(wide(path).c_str(), GetFileExInfoStandard, &data))
        return std::nullopt;
    return ticks(data.ftLastWriteTime);
}

bool writeTimeBack(const std::string& path) {
    const HANDLE file = openShared(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
    if (file == INVALID_HANDLE_VALUE) return false;
    FILETIME written{};
    bool done = GetFileTime(file, nullptr, nullptr, &written) != 0;
    const auto back = static_cast<std::uint64_t>(ticks(written)) - 36'000'000'000ull;  // an hour
    written.dwLowDateTime = static_cast<DWORD>(back);
    written.dwHighDateTime = static_cast<DWORD>(back >> 32);
    done = done && SetFileTime(file, nullptr, nullptr, &written) != 0;
    CloseHandle(file);
    return done;
}

int openEventFile(const std::string& path) {
    return _wopen(wide(path).c_str(), _O_WRONLY | _O_CREAT | _O_APPEND | _O_BINARY,
                  _S_IREAD | _S_IWRITE);
}

void writeAll(int fd, const std::string& text) {
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const int n = _write(fd, p, static_cast<unsigned>(left));
        if (n <= 0) return;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

void crash() {
    std::fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), 0xC0000005);  // as an access violation ends it
    std::abort();
}

std::string makeSessionRoot() {
    wchar_t temp[MAX_PATH];
    const DWORD n = GetTempPathW(MAX_PATH, temp);
    if (n == 0 || n >= MAX_PATH) return {};
    static int sessions = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string root = utf8(std::wstring_view(temp, n)) + "freeplot-sim-" +
                                 std::to_string(GetCurrentProcessId()) + "-" +
                                 std::to_string(++sessions) + " " + kSessionFolderName;
        if (CreateDirectoryW(wide(root).c_str(), nullptr)) return root;
    }
    return {};
}

Plugin loadPlugin(const std::string& path) {
    HMODULE library = LoadLibraryW(wide(path).c_str());
    if (!library) throw std::runtime_error(lastErrorText(("LoadLibrary of " + path).c_str()));
    Plugin p{reinterpret_cast<void*>(GetProcAddress(library, "F4SEPlugin_Query")),
             reinterpret_cast<void*>(GetProcAddress(library, "F4SEPlugin_Load"))};
    if (!p.query || !p.load)
        throw std::runtime_error("the plugin does not export F4SEPlugin_Query and F4SEPlugin_Load");
    return p;
}

ChildEnd runSession(const Options& o, const std::string& root, const std::string& plugin) {
    ChildEnd end;
    if (o.script || o.beforeQuery) {
        end.exitCode = 121;
        end.ending = "a session script in code cannot cross to another process: use a scenario";
        return end;
    }
    namespace fs = std::filesystem;
    const std::string dir = root + "\\.sim";
    const std::string game = root + "\\Fallout4";
    const std::string plugins = game + "\\Data\\F4SE\\Plugins";
    std::error_code error;
    fs::create_directories(filePath(plugins), error);
    writeOptions(o, dir);
    // The session is the game: this program as Fallout4.exe, the plugin where F4SE keeps it.
    const std::string exe = game + "\\Fallout4.exe";
    const std::string dll = plugins + "\\freeplot.dll";
    if (!CopyFileW(wide(thisProgram()).c_str(), wide(exe).c_str(), FALSE) ||
        !CopyFileW(wide(plugin).c_str(), wide(dll).c_str(), FALSE)) {
        end.exitCode = 122;
        end.ending = lastErrorText("copying the program and the plugin into the session");
        return end;
    }

    HANDLE out = inheritableFile(dir + "\\stdout");
    HANDLE err = inheritableFile(dir + "\\stderr");
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    start.hStdOutput = out;
    start.hStdError = err;
    PROCESS_INFORMATION child{};
    std::wstring command = wide("\"" + exe + "\" --session \"" + root + "\"");
    const BOOL started = CreateProcessW(wide(exe).c_str(), command.data(), nullptr, nullptr, TRUE,
                                        0, nullptr, wide(game).c_str(), &start, &child);
    CloseHandle(out);
    CloseHandle(err);
    if (!started) {
        end.exitCode = 123;
        end.ending = lastErrorText("starting the session");
        return end;
    }
    const auto ms = static_cast<DWORD>(o.timeout.count());
    if (WaitForSingleObject(child.hProcess, ms) == WAIT_TIMEOUT) {
        TerminateProcess(child.hProcess, 0xFFFFFFFF);
        WaitForSingleObject(child.hProcess, INFINITE);
        end.timedOut = true;
        end.signal = 9;
    } else {
        DWORD code = 0;
        GetExitCodeProcess(child.hProcess, &code);
        if (code >= 0xC0000000) {
            char text[64];
            std::snprintf(text, sizeof text, "crashed with exception 0x%08lX", code);
            end.signal = static_cast<int>(code & 0xFFFF);
            end.ending = text;
        } else {
            end.exitCode = static_cast<int>(code);
        }
    }
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return end;
}

int childProcessMain(const std::string& ansiRoot) {
    // The root as the parent wrote it: the narrow command line went through the code page.
    std::string root = ansiRoot;
    int count = 0;
    if (wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count)) {
        if (count == 3) root = utf8(args[2]);
        LocalFree(args);
    }
    const Options o = readOptions(root + "\\.sim");
    const int status = runChild(o, root, root + "\\Fallout4\\Data\\F4SE\\Plugins\\freeplot.dll");
    std::fflush(nullptr);
    // The plugin's workers may still run: end at once, without tearing anything down.
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    return status;
}

}  // namespace sim::host
