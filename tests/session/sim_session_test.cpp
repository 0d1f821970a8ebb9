// Sessions of the simulated game: what the host hands the plugin, the captured log, and how
// the parent reports a child that did not reach its end.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "sim/build_paths.h"
#include "sim/sim.h"
#include "session_support.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

using session::fixtureSession;

TEST(SimSession, HostRecordsEnvironmentAndLogOrder) {
    sim::Options o = fixtureSession();
    o.runtimeVersion = 0x01090041;
    o.editor = 3;
    o.settings = "[main]\ntogglable=1\n";
    o.script = [](sim::Game& game) {
        game.noteFile("settings", game.settingsPath());
        game.note("documents", std::filesystem::is_directory(game.documentsDir()) ? "yes" : "no");
        game.note("logSoFar", std::to_string(game.logLines().size()));
    };
    const sim::Transcript t = sim::run(o);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_EQ(t.ending, "completed");
    EXPECT_THAT(t.log, ElementsAre("fixture query runtime=01090041 editor=3",
                                   "fixture HOME=" + t.root + "/home",
                                   "fixture exe=" + t.root + "/Fallout4/Fallout4.exe",
                                   "fixture raw write", "fixture load", "fixture load done"));
    EXPECT_TRUE(t.queryCalled && t.queryResult && t.loadCalled && t.loadResult);
    EXPECT_EQ(t.infoVersion, 1u);
    EXPECT_EQ(t.infoName, "Freeplot sim fixture");
    EXPECT_EQ(t.infoPluginVersion, 7u);
    EXPECT_EQ(t.note("settings"), "[main]\ntogglable=1\n");
    EXPECT_EQ(t.note("documents"), "yes");
    EXPECT_EQ(t.note("logSoFar"), "6");
    EXPECT_TRUE(t.sites.empty());
    EXPECT_FALSE(std::filesystem::exists(t.root)) << "the session root is removed";
    // The printed transcript starts with the log and names the root the same in every session.
    EXPECT_EQ(t.text().rfind("== log (6)\n  fixture query", 0), 0u);
    EXPECT_THAT(t.text(), HasSubstr("  fixture HOME=<root>/home\n"));
}

TEST(SimSession, NoDocumentsNoSettingsAndRefusedQuery) {
    sim::Options o = fixtureSession("query-false");
    o.documents = false;
    o.script = [](sim::Game& game) {
        game.noteFile("settings", game.settingsPath());
        game.note("documents", std::filesystem::exists(game.documentsDir()) ? "yes" : "no");
    };
    const sim::Transcript t = sim::run(o);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_TRUE(t.logHas("fixture HOME=(unset)"));
    EXPECT_TRUE(t.queryCalled);
    EXPECT_FALSE(t.queryResult);
    EXPECT_FALSE(t.loadCalled) << "Load only follows a true Query";
    EXPECT_FALSE(t.logHas("fixture load"));
    EXPECT_FALSE(t.note("settings").has_value()) << "no settings file, no note";
    EXPECT_EQ(t.note("documents"), "no");
}

TEST(SimSession, ChildThatDoesNotReachTheEndIsReported) {
    {
        const sim::Transcript t = sim::run(fixtureSession("crash-load"));
        EXPECT_FALSE(t.completed);
        EXPECT_NE(t.signal, 0);
        EXPECT_THAT(t.ending, HasSubstr("killed by signal"));
        EXPECT_TRUE(t.queryResult);
        EXPECT_TRUE(t.loadCalled);
        EXPECT_FALSE(t.loadResult);
        EXPECT_EQ(t.log.back(), "fixture about to crash") << "output up to the crash is kept";
    }
    {
        const sim::Transcript t = sim::run(fixtureSession("abort-load"));
        EXPECT_FALSE(t.completed);
        EXPECT_EQ(t.signal, SIGABRT);
    }
    {
        const sim::Transcript t = sim::run(fixtureSession("exit-load"));
        EXPECT_FALSE(t.completed);
        EXPECT_EQ(t.exitCode, 5);
        EXPECT_THAT(t.ending, HasSubstr("exited with code 5"));
    }
    {
        sim::Options o = fixtureSession("hang-load");
        o.timeout = std::chrono::milliseconds(1500);
        const sim::Transcript t = sim::run(o);
        EXPECT_FALSE(t.completed);
        EXPECT_TRUE(t.timedOut);
        EXPECT_TRUE(t.logHas("fixture hanging"));
        EXPECT_THAT(t.ending, Not(HasSubstr("after its end was recorded")));
    }
    {
        // Hung on the way out: the last flush of every stream blocks on a pipe nobody reads.
        sim::Options o = fixtureSession();
        o.timeout = std::chrono::milliseconds(1500);
        o.script = [](sim::Game&) {
            int ends[2];
            if (::pipe(ends) != 0) return;
            static char buffer[1 << 20];
            std::FILE* out = ::fdopen(ends[1], "w");
            std::setvbuf(out, buffer, _IOFBF, sizeof buffer);
            const std::string block(200000, 'x');
            std::fwrite(block.data(), 1, block.size(), out);
        };
        const sim::Transcript t = sim::run(o);
        EXPECT_TRUE(t.timedOut);
        EXPECT_THAT(t.ending, HasSubstr("after its end was recorded")) << t.text();
    }
    {
        sim::Options o = fixtureSession();
        o.script = [](sim::Game& game) {
            game.note("before", "1");
            throw std::runtime_error("script gave up");
        };
        const sim::Transcript t = sim::run(o);
        EXPECT_FALSE(t.completed);
        EXPECT_THAT(t.errors, ElementsAre("script gave up"));
        EXPECT_EQ(t.note("before"), "1");
    }
    {
        sim::Options o;
        o.plugin = "/nonexistent/freeplot.so";
        const sim::Transcript t = sim::run(o);
        EXPECT_FALSE(t.completed);
        EXPECT_FALSE(t.queryCalled);
        ASSERT_EQ(t.errors.size(), 1u);
        EXPECT_THAT(t.errors[0], HasSubstr("dlopen failed"));
    }
}

TEST(SimSession, BaselineIsTakenAfterTheBeforeQueryHook) {
    sim::Options o = fixtureSession();
    o.keepRoot = true;
    o.beforeQuery = [](sim::Game& game) {
        game.set<std::uint8_t>(0x20595C, 0xCC);  // a corrupted site, as a test would lay it
        game.holdFileLock(game.logPath());
    };
    o.script = [](sim::Game& game) {
        game.patchCode(0x249C61, {0x90, 0x90});
        game.note("lockHeld", game.holdFileLock(game.logPath()) ? "no" : "yes");
    };
    const sim::Transcript t = sim::run(o);
    ASSERT_TRUE(t.completed) << t.text();
    ASSERT_EQ(t.sites.size(), 1u) << t.text();
    EXPECT_EQ(t.sites[0].name, "snapJump");
    EXPECT_EQ(t.sites[0].offset, 0x249C61u);
    EXPECT_EQ(sim::hex(t.sites[0].after), "90 90");
    EXPECT_EQ(t.sites[0].before[0], 0x74);
    EXPECT_EQ(t.note("lockHeld"), "yes");
    EXPECT_TRUE(std::filesystem::exists(t.root));
    std::filesystem::remove_all(t.root);
}

namespace {

using Hud = void __attribute__((ms_abi)) (*)(const char*, std::uint64_t, std::uint64_t);

}  // namespace

TEST(SimSession, TranscriptOfAFixedScriptMatchesItsGoldenFile) {
    sim::Options o = fixtureSession();
    o.script = [](sim::Game& game) {
        sim::Ref ref = game.createRef();
        game.selectRef(ref.handle);
        game.keyPress(0x70);
        game.mouseEvent(0x0001);
        reinterpret_cast<Hud>(game.at(0xADFBC0))("Object locked", 0, 1);
        game.runConsoleCommand("sv");
        game.runOutlineSite(ref.address);
        game.patchCode(0x1E64A0 + 6, {0});
        game.note("selected", std::to_string(game.selectedRefHandle()));
    };
    const sim::Transcript t = sim::run(o);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_EQ(sim::compareWithGolden(
                  t, sim::sourceDirectory() + "/tests/session/golden/sim_fixture.transcript"),
              "");
}
