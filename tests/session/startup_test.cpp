// Start-up in the simulated game: what Query and Load answer, log and touch.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "sim/sim.h"

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

// The game's native path of a file under the session root, as the plugin writes it.
std::string windowsPath(const std::string& posix) {
    std::string out = "Z:" + posix;
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

}  // namespace

TEST(Startup, EditorIsRefusedAfterTheInformationRecordIsFilled) {
    sim::Options options;
    options.editor = 1;
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_TRUE(t.queryCalled);
    EXPECT_FALSE(t.queryResult);
    EXPECT_FALSE(t.loadCalled);
    EXPECT_THAT(t.log, ElementsAre("freeplot_plugin", "loaded in editor, marking as incompatible"));
    EXPECT_EQ(t.infoVersion, 1u);
    EXPECT_EQ(t.infoName, "Freeplot plugin");
    EXPECT_EQ(t.infoPluginVersion, 16u);
    EXPECT_TRUE(t.sites.empty());
}

TEST(Startup, EveryOtherRuntimeIsRefusedWithItsVersionInHex) {
    for (std::uint32_t runtime : {0x01090041u, 0x010A03D8u, 0x0u}) {
        sim::Options options;
        options.runtimeVersion = runtime;
        const sim::Transcript t = sim::run(options);
        ASSERT_TRUE(t.completed) << t.text();
        EXPECT_FALSE(t.queryResult);
        EXPECT_FALSE(t.loadCalled);
        char expected[128];
        std::snprintf(expected, sizeof expected,
                      "unsupported runtime version %08X, compiled for f4se 0.3.0 (00030000)",
                      runtime);
        EXPECT_THAT(t.log, ElementsAre("freeplot_plugin", expected));
        EXPECT_TRUE(t.sites.empty());
    }
}

TEST(Startup, SupportedGameWithoutSettingsLoadsWithDefaults) {
    sim::Options options;
    options.script = [](sim::Game& game) {
        game.noteFile("logfile", game.logPath());
        game.note("settings", windowsPath(game.settingsPath()));
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_TRUE(t.queryResult);
    EXPECT_TRUE(t.loadCalled);
    EXPECT_TRUE(t.loadResult);
    const std::string path = t.note("settings").value();
    EXPECT_THAT(t.log, Contains("freeplot_plugin"));
    EXPECT_THAT(t.log, Contains("Compiled for f4se 0.3.0"));
    EXPECT_THAT(t.log, Contains("Config path: " + path));
    EXPECT_THAT(t.log, Contains("Could not read/parse config file " + path));
    EXPECT_THAT(t.log, Not(Contains("Sigs not found")));
    EXPECT_THAT(t.log, Not(Contains(HasSubstr("mismatch"))));

    // The log file holds the same lines as standard output, created with its folders.
    std::string expectedFile;
    for (const std::string& line : t.log) expectedFile += line + "\n";
    const auto file = t.note("logfile");
    ASSERT_TRUE(file.has_value()) << "log file missing";
    EXPECT_EQ(*file, expectedFile);
}

TEST(Startup, CorruptedSitesAreReportedAndGateNothing) {
    sim::Options options;
    options.beforeQuery = [](sim::Game& game) {
        game.at(sim::loc::freeplotEnable)[0] = 0x89;   // 88 expected
        game.at(sim::loc::colorBase)[3] ^= 0xFF;       // under a wildcard: no mismatch
        game.at(sim::loc::lockObject)[1] = 0x85;       // 84 expected
        game.at(sim::loc::keyboardInput)[12] ^= 0xFF;  // beyond the compared bytes
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_TRUE(t.queryResult);
    EXPECT_TRUE(t.loadResult);
    std::vector<std::string> report;
    for (const std::string& line : t.log)
        if (line.find("ismatch") != std::string::npos || line == "Sigs not found")
            report.push_back(line);
    EXPECT_THAT(report, ElementsAre("sig (freeplotEnable) mismatch at 00000001401F0DAB",
                                    "Mismatched at 0: 89 (has to be 88)",
                                    "sig (lockObject) mismatch at 000000014020595C",
                                    "Mismatched at 1: 85 (has to be 84)", "Sigs not found"));
}

TEST(Startup, LogFallsBackToNumberedNamesWhileTheFileIsHeld) {
    // Held: the log and its first two fallbacks. The plugin writes to "...log2".
    sim::Options options;
    options.beforeQuery = [](sim::Game& game) {
        game.writeFile(game.logPath(), "written by an earlier game\n");
        game.holdFileLock(game.logPath());
        game.holdFileLock(game.logPath() + "0");
        game.holdFileLock(game.logPath() + "1");
    };
    options.script = [](sim::Game& game) {
        game.noteFile("log", game.logPath());
        game.noteFile("log2", game.logPath() + "2");
        game.noteFile("log3", game.logPath() + "3");
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_EQ(t.note("log"), "written by an earlier game\n") << "a held file is left as it was";
    ASSERT_TRUE(t.note("log2").has_value());
    EXPECT_THAT(*t.note("log2"), StartsWith("freeplot_plugin\n"));
    EXPECT_FALSE(t.note("log3").has_value()) << *t.note("log3");
}

TEST(Startup, WithEveryLogNameHeldLinesStillReachStandardOutput) {
    sim::Options options;
    options.beforeQuery = [](sim::Game& game) {
        game.holdFileLock(game.logPath());
        for (int i = 0; i < 5; ++i) game.holdFileLock(game.logPath() + std::to_string(i));
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_TRUE(t.queryResult);
    EXPECT_TRUE(t.loadResult);
    EXPECT_THAT(t.log, Contains("Compiled for f4se 0.3.0"));
}

TEST(Startup, WithoutADocumentsFolderThePluginStopsCleanly) {
    sim::Options options;
    options.documents = false;
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_FALSE(t.queryResult);
    EXPECT_FALSE(t.loadCalled);
    ASSERT_EQ(t.log.size(), 2u) << t.text();
    EXPECT_THAT(t.log[0], AllOf(StartsWith("SHGetFolderPath 00000005 failed (result = 80004005 "
                                           "lasterr = "),
                                HasSubstr(")")));
    EXPECT_THAT(t.log[1], AllOf(StartsWith("Assertion failed in IDebugLog ("),
                                HasSubstr("): SUCCEEDED(err) (code = FFFFFFFF80004005 "
                                          "(-2147467259))")));
    EXPECT_TRUE(t.sites.empty());
    EXPECT_TRUE(t.calls.empty());
}

TEST(Startup, ExecutablePathWithoutBackslashReadsSettingsByRelativePath) {
    sim::Options options;
    options.gameExe = "Fallout4.exe";
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_THAT(t.log, Contains("no slash in runtime path? (Fallout4.exe)"));
    EXPECT_THAT(t.log, Contains("Config path: Data\\F4SE\\Plugins\\freeplot.ini"));
    EXPECT_TRUE(t.loadResult);
}

TEST(Startup, AnExecutableThatIsNotTheGameIsRefusedOrLeftUntouched) {
    // One that says it is 1.9.4 but is smaller than the game: refused before anything of it is
    // read, with one line.
    sim::Options small;
    small.imageBytes = 0x1000000;
    small.settings = "[main]\ntogglable=1\n";
    const sim::Transcript refused = sim::run(small);
    ASSERT_TRUE(refused.completed) << refused.text();
    EXPECT_FALSE(refused.queryResult);
    EXPECT_FALSE(refused.loadCalled);
    EXPECT_THAT(
        refused.log,
        ::testing::ElementsAre("freeplot_plugin",
                               "colorBase at game+0x27E5AC8 lies outside the main module "
                               "(0x1000000 bytes): this is not the game this plugin was made for"));

    // One as large as the game with none of its code: every check fails, Load runs its course
    // (the console command searched for, freeplot mode switched on, the hooks made) and writes
    // not one byte into the image: no code, and no start-up patch of the game's data either.
    sim::Options blank;
    blank.blankImage = true;
    blank.countImageChanges = true;
    blank.settings =
        "[main]\ntogglable=1\nsnapDisabled=true\ngroundDisabled=true\nextraOutlineEnabled=true\n";
    const sim::Transcript untouched = sim::run(blank);
    ASSERT_TRUE(untouched.completed) << untouched.text();
    EXPECT_TRUE(untouched.queryResult);
    EXPECT_TRUE(untouched.loadResult);
    EXPECT_EQ(untouched.imageBytesChanged, 0u) << untouched.text();
    EXPECT_TRUE(untouched.logHas("Sigs not found"));
    EXPECT_TRUE(untouched.logHas("Site mouseInput does not match the game's code, left unpatched"));
    EXPECT_TRUE(untouched.logHas("Hijack command not found!"));
    EXPECT_TRUE(untouched.logHas(
        "None of the game's code is where this plugin knows it: no start-up patch applied"));
}
