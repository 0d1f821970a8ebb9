// freeplot.dll itself, loaded by this program as a host that is not the game: it loads (it needs
// no compiler runtime beside it), and Query, with the game's runtime version, refuses this
// program's main module, which is far smaller than the game's, with one line in its log, and
// the host carries on. The user's documents folder is named in Cyrillic and CJK letters, outside
// the ANSI code page: the log is written there all the same.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <windows.h>

// Declared with the types <windows.h> gives.
#include <dbghelp.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "test_memory.h"

namespace {

struct HostInterface {
    std::uint32_t f4seVersion, runtimeVersion, editorVersion, isEditor;
};
struct PluginInfo {
    std::uint32_t infoVersion;
    const char* name;
    std::uint32_t version;
};
using QueryFn = bool (*)(const HostInterface*, PluginInfo*);

// What `body` prints to standard output (the plugin prints every log line there too, and its log
// file may be held by this program's own log tests).
template <class Body>
std::string standardOutputOf(Body body) {
    char folder[MAX_PATH], file[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    GetTempFileNameA(folder, "fpl", 0, file);
    std::fflush(stdout);
    const int saved = _dup(1);
    const int out = _open(file, _O_WRONLY | _O_TRUNC | _O_BINARY);
    _dup2(out, 1);
    body();
    std::fflush(stdout);
    _dup2(saved, 1);
    _close(out);
    _close(saved);
    std::ifstream in(file, std::ios::binary);
    std::string text(std::istreambuf_iterator<char>(in), {});
    in.close();
    DeleteFileA(file);
    return text;
}

}  // namespace

TEST(Dll, LoadsAndRefusesAHostThatIsNotTheGame) {
    const char* path = std::getenv("FREEPLOT_DLL");
    ASSERT_TRUE(path && *path) << "FREEPLOT_DLL names the freeplot.dll to load";
    HMODULE dll = LoadLibraryA(path);
    ASSERT_NE(dll, nullptr) << "LoadLibrary failed with error " << GetLastError();
    const auto query =
        reinterpret_cast<QueryFn>(reinterpret_cast<void*>(GetProcAddress(dll, "F4SEPlugin_Query")));
    ASSERT_NE(query, nullptr);
    ASSERT_NE(GetProcAddress(dll, "F4SEPlugin_Load"), nullptr);

    const testmem::Scratch scratch;
    ASSERT_FALSE(scratch.path.empty());
    const std::string user = scratch.path + "Документы 文档\\";
    const std::string folder = user + "Documents\\My Games\\Fallout4\\F4SE\\";
    const HostInterface host{0x00030000, 0x01090040, 0, 0};
    PluginInfo info{};
    bool accepted = true;
    std::string log;
    {
        const testmem::DocumentsIn documents(user);
        log = standardOutputOf([&] { accepted = query(&host, &info); });
    }
    EXPECT_FALSE(accepted);
    EXPECT_EQ(info.version, 16u);
    EXPECT_STREQ(info.name, "Freeplot plugin");
    EXPECT_NE(log.find("lies outside the main module"), std::string::npos) << log;
    const std::string file = testmem::readFile(folder + "freeplot_plugin.log");
    EXPECT_NE(file.find("lies outside the main module"), std::string::npos) << folder << file;
    // The host goes on: nothing of this program was touched, and it is still running.
    EXPECT_TRUE(FreeLibrary(dll));
}

// The PDB beside the DLL, read by Windows' debugging library (DbgHelp) as a crash logger reads it:
// an address inside F4SEPlugin_Query is named as that function, with its line in main.cpp.
TEST(Dll, ItsPdbNamesTheFunctionAndLineOfAnAddress) {
    const char* path = std::getenv("FREEPLOT_DLL");
    ASSERT_TRUE(path && *path) << "FREEPLOT_DLL names the freeplot.dll to load";
    HMODULE dll = LoadLibraryA(path);
    ASSERT_NE(dll, nullptr) << "LoadLibrary failed with error " << GetLastError();
    const auto address = reinterpret_cast<DWORD64>(GetProcAddress(dll, "F4SEPlugin_Query")) + 8;
    std::string folder(path);
    folder.erase(folder.find_last_of('\\'));

    const HANDLE process = GetCurrentProcess();
    SymSetOptions(SYMOPT_LOAD_LINES | SYMOPT_UNDNAME | SYMOPT_FAIL_CRITICAL_ERRORS);
    ASSERT_TRUE(SymInitialize(process, folder.c_str(), FALSE)) << GetLastError();
    EXPECT_NE(SymLoadModuleEx(process, nullptr, path, nullptr, reinterpret_cast<DWORD64>(dll), 0,
                              nullptr, 0),
              0u)
        << GetLastError();
    alignas(SYMBOL_INFO) char buffer[sizeof(SYMBOL_INFO) + MAX_SYM_NAME] = {};
    auto* symbol = reinterpret_cast<SYMBOL_INFO*>(buffer);
    symbol->SizeOfStruct = sizeof(SYMBOL_INFO);
    symbol->MaxNameLen = MAX_SYM_NAME;
    DWORD64 displacement = 0;
    ASSERT_TRUE(SymFromAddr(process, address, &displacement, symbol)) << GetLastError();
    EXPECT_STREQ(symbol->Name, "F4SEPlugin_Query");
    EXPECT_EQ(displacement, 8u);
    IMAGEHLP_LINE64 line{};
    line.SizeOfStruct = sizeof line;
    DWORD column = 0;
    ASSERT_TRUE(SymGetLineFromAddr64(process, address, &column, &line)) << GetLastError();
    const std::string file = line.FileName ? line.FileName : "";
    EXPECT_NE(file.find("main.cpp"), std::string::npos) << file;
    EXPECT_GT(line.LineNumber, 0u);
    SymCleanup(process);
    EXPECT_TRUE(FreeLibrary(dll));
}
