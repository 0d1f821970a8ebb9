// Path forming: the game folder from the executable path, and the POSIX face of Windows paths.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common/runtime_paths.h"
#include "os/os.h"

using namespace freeplot;

TEST(Paths, DirectoryKeepsTrailingBackslashAndIgnoresForwardSlashes) {
    EXPECT_EQ(directoryOf("C:\\Games\\Fallout4\\Fallout4.exe"), "C:\\Games\\Fallout4\\");
    EXPECT_EQ(directoryOf("Z:\\a\\b/c.exe"), "Z:\\a\\");
    EXPECT_EQ(directoryOf("/usr/games/fallout4"), "");
    EXPECT_EQ(directoryOf(""), "");
    EXPECT_EQ(directoryOf("\\"), "\\");
}

TEST(Paths, PosixNamesForWindowsPaths) {
    EXPECT_EQ(os::nativePath("Z:\\home\\p\\Documents\\x.log"), "/home/p/Documents/x.log");
    EXPECT_EQ(os::nativePath("Data\\F4SE\\Plugins\\freeplot.ini"),
              "Data/F4SE/Plugins/freeplot.ini");
    EXPECT_EQ(os::nativePath("Z:"), "");
}

TEST(Paths, ExecutablePathAndDocumentsFolderComeFromTheEnvironment) {
    ::setenv("FREEPLOT_GAME_EXE", "/opt/games/Fallout 4/Fallout4.exe", 1);
    char buffer[4096];
    ASSERT_EQ(os::mainModuleFileName(buffer, sizeof buffer), 35u);
    EXPECT_STREQ(buffer, "Z:\\opt\\games\\Fallout 4\\Fallout4.exe");
    // A buffer too small gets the cut path (here still terminated) and, as from Windows, the
    // whole size back with ERROR_INSUFFICIENT_BUFFER.
    char small[8];
    EXPECT_EQ(os::mainModuleFileName(small, sizeof small), 8u);
    EXPECT_EQ(os::lastError(), 122u);
    EXPECT_STREQ(small, "Z:\\opt\\");
    ::setenv("FREEPLOT_GAME_EXE", "Z:\\already\\windows.exe", 1);
    os::mainModuleFileName(buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "Z:\\already\\windows.exe");
    // Names in other scripts pass as UTF-8, and a cut never splits a character: "Z:\\И" is 5
    // bytes, so a buffer of 5 keeps "Z:\\" only.
    ::setenv("FREEPLOT_GAME_EXE", "/Игры/遊戲.exe", 1);
    os::mainModuleFileName(buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "Z:\\Игры\\遊戲.exe");
    EXPECT_EQ(os::mainModuleFileName(small, 5), 5u);
    EXPECT_STREQ(small, "Z:\\");
    ::unsetenv("FREEPLOT_GAME_EXE");

    const char* home = std::getenv("HOME");
    const std::string saved = home ? home : "";
    char docs[os::kMaxPathUtf8];
    ::setenv("HOME", "/home/player", 1);
    EXPECT_EQ(os::documentsFolder(docs), 0);
    EXPECT_STREQ(docs, "Z:\\home\\player\\Documents");
    // Windows counts MAX_PATH in UTF-16 units, not in UTF-8 bytes: "Z:\\" + 246 letters of two
    // bytes + "\\Documents" is 259 units (502 bytes) and is a documents folder; one more is not.
    std::string longHome = "/";
    for (int i = 0; i < 246; ++i) longHome += "Ж";
    ::setenv("HOME", longHome.c_str(), 1);
    EXPECT_EQ(os::documentsFolder(docs), 0);
    EXPECT_EQ(std::string(docs), "Z:\\" + longHome.substr(1) + "\\Documents");
    ::setenv("HOME", (longHome + "Ж").c_str(), 1);
    EXPECT_EQ(static_cast<std::uint32_t>(os::documentsFolder(docs)), 0x80004005u);
    EXPECT_STREQ(docs, "");
    ::setenv("HOME", "", 1);
    EXPECT_EQ(static_cast<std::uint32_t>(os::documentsFolder(docs)), 0x80004005u);
    ::unsetenv("HOME");
    EXPECT_EQ(static_cast<std::uint32_t>(os::documentsFolder(docs)), 0x80004005u);
    if (home) ::setenv("HOME", saved.c_str(), 1);
}
