// The console of the settings checker on Windows: its arguments from the wide command line, UTF-8
// on the console, and whether its window is its own (a program started from Explorer gets a
// console that closes the moment it ends).

#include <windows.h>

// Declared with the types <windows.h> gives.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "os/os.h"

namespace freeplot::os {
namespace {

std::string utf8Of(const wchar_t* text) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) return {};
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
    out.pop_back();  // the terminating NUL
    return out;
}

bool isConsole(DWORD standardHandle) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(standardHandle), &mode) != 0;
}

UINT consoleCodePageAtStart = 0;
void restoreConsoleCodePage() { SetConsoleOutputCP(consoleCodePageAtStart); }

}  // namespace

std::vector<std::string> programArguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) arguments.push_back(utf8Of(wide[i]));
    LocalFree(wide);
    return arguments;
}

std::string pluginPathOf(const std::string& commandLinePath) { return commandLinePath; }

void prepareConsoleOutput() {
    if (!isConsole(STD_OUTPUT_HANDLE)) return;
    consoleCodePageAtStart = GetConsoleOutputCP();
    if (consoleCodePageAtStart != CP_UTF8 && SetConsoleOutputCP(CP_UTF8))
        std::atexit(restoreConsoleCodePage);
}

// The shell that started a program shares its console with it; Explorer gives it one of its own.
bool consoleOwnedAlone() {
    if (!isConsole(STD_INPUT_HANDLE) || !isConsole(STD_OUTPUT_HANDLE)) return false;
    DWORD processes[2] = {};
    return GetConsoleProcessList(processes, 2) == 1;
}

void waitForKeyPress() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (!isConsole(STD_INPUT_HANDLE)) {
        std::getchar();
        return;
    }
    FlushConsoleInputBuffer(input);
    for (;;) {
        INPUT_RECORD record{};
        DWORD read = 0;
        if (!ReadConsoleInputW(input, &record, 1, &read) || read == 0) return;
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return;
    }
}

}  // namespace freeplot::os
