// freeplot.dll itself, loaded by this program as a host that is not the game: it loads (it needs
// no compiler runtime beside it), and Query, with the game's runtime version, refuses this
// program's main module, which is far smaller than the game's, with one line in its log, and
// the host carries on. The user's documents folder is named in Cyrillic and CJK letters, outside
// the ANSI code page: the log is written there all the same.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <windows.h>

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
