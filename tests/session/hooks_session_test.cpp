// Hook set-up in the simulated game: the five stubs made at Load with their log lines, the
// keyboard and mouse stubs linked and executed through the game's own input routines, the
// build-allowed store and the outline call, and what `togglable` decides.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sim/sim.h"

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

std::uint64_t parseHex(const std::string& text) { return std::stoull(text, nullptr, 16); }

// Where a 5-byte jump at a site of the image leads.
std::uintptr_t jumpTarget(std::uint32_t site) {
    std::int32_t rel;
    std::memcpy(&rel, sim::Game::at(site + 1), 4);
    return sim::Game::base() + site + 5 + static_cast<std::intptr_t>(rel);
}

std::string hex64(std::uint64_t v) {
    char text[32];
    std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(v));
    return text;
}

// The log lines from the first hook line on.
std::vector<std::string> hookLines(const sim::Transcript& t) {
    std::vector<std::string> lines;
    bool on = false;
    for (const auto& l : t.log) {
        if (l.rfind("Setting freeplot enable hook", 0) == 0) on = true;
        if (on) lines.push_back(l);
    }
    return lines;
}

}  // namespace

TEST(HookSession, LoadMakesFiveStubsInOrderAndTheInputStubsRunTheGamesCall) {
    sim::Options options;
    options.script = [](sim::Game& game) {
        game.note("keyboardTarget", hex64(jumpTarget(sim::loc::keyboardInput)));
        game.note("mouseTarget", hex64(jumpTarget(sim::loc::mouseInput)));
        for (bool release : {false, true}) {
            const sim::InputResult k = game.keyboardEvent(0x68, 0x48, release ? 1 : 0);
            game.note("keyboard", std::to_string(k.calleeRan) + " " + std::to_string(k.path) + " " +
                                      std::to_string(k.rdx == k.record) + " " +
                                      std::to_string(k.rcx == sim::loc::inputRcxValue) + " " +
                                      std::to_string(k.rax == sim::loc::inputRaxValue));
        }
        const sim::InputResult m = game.mouseEvent(0x0400, 120);
        game.note("mouse", std::to_string(m.calleeRan) + " " + std::to_string(m.path) + " " +
                               std::to_string(m.rdx == m.record) + " " +
                               std::to_string(m.rcx == sim::loc::inputRcxValue) + " " +
                               std::to_string(m.rax == sim::loc::inputRaxValue));
        // Freeplot mode is on from the start: the game's result becomes 1 either way.
        for (std::uint8_t result : {std::uint8_t{0}, std::uint8_t{1}}) {
            const sim::FreeplotEnableResult f = game.runFreeplotEnableSite(result);
            game.note("enable", std::to_string(f.al) + " " + std::to_string(f.buildAllowed));
        }
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_TRUE(t.loadResult);

    const std::vector<std::string> lines = hookLines(t);
    ASSERT_GE(lines.size(), 11u) << t.text();
    const char* heads[] = {"Setting freeplot enable hook, memory remain 2048",
                           "Setting keyboard input hook, memory remain 2036",
                           "Setting mouse input hook, memory remain 1993",
                           "Setting scale hook, memory remain 1950",
                           "Setting outline hook, memory remain 1914"};
    const std::uint64_t sizes[] = {12, 43, 43, 36, 29};
    std::uint64_t buffers[5];
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(lines[2 * i], heads[i]);
        ASSERT_THAT(lines[2 * i + 1], StartsWith("Buffer allocated at ")) << t.text();
        const std::string address = lines[2 * i + 1].substr(20);
        EXPECT_EQ(address.size(), 16u);
        EXPECT_EQ(address.find_first_not_of("0123456789ABCDEF"), std::string::npos) << address;
        buffers[i] = parseHex(address);
        if (i > 0) {
            EXPECT_EQ(buffers[i], buffers[i - 1] + sizes[i - 1]);
        }
    }
    EXPECT_EQ(lines[10], "Hooks set up, memory remain 1885");
    // Within reach below the image.
    EXPECT_LT(buffers[0], sim::loc::imageBase);
    EXPECT_GT(buffers[0], sim::loc::imageBase - 0x78000000);

    // The input sites jump to their stubs; the game's call runs with the site's registers.
    EXPECT_EQ(t.note("keyboardTarget"), hex64(buffers[1]));
    EXPECT_EQ(t.note("mouseTarget"), hex64(buffers[2]));
    EXPECT_EQ(t.notesFor("keyboard"), (std::vector<std::string>{"1 1 1 1 1", "1 1 1 1 1"}));
    EXPECT_EQ(t.notesFor("mouse"), (std::vector<std::string>{"1 1 1 1 1"}));
    EXPECT_EQ(t.notesFor("enable"), (std::vector<std::string>{"1 1", "1 1"}));

    // Without a console command asked for, none is looked up.
    EXPECT_THAT(t.log, Not(Contains(StartsWith("Command found at"))));
    EXPECT_THAT(t.log, Not(Contains("Hijack command not found!")));
    ASSERT_NE(t.site("keyboardInput"), nullptr);
    EXPECT_EQ(t.site("keyboardInput")->after[0], 0xE9);
    ASSERT_NE(t.site("mouseInput"), nullptr);
    EXPECT_EQ(t.site("mouseInput")->after[0], 0xE9);
    ASSERT_NE(t.site("freeplotEnable"), nullptr);
    EXPECT_EQ(t.site("freeplotEnable")->after[0], 0xFF);
    // The outline stub is made but linked only by extra selection.
    EXPECT_EQ(t.site("outlineUselectable"), nullptr);
    EXPECT_TRUE(t.messages.empty());
}

TEST(HookSession, TogglableDecidesTheCommandAndTheModeAtStart) {
    struct Case {
        const char* value;
        bool command, mode;
    };
    // Only the low 8 bits count: 257 is 1, 256 is 0.
    const Case cases[] = {{"0", false, true},  {"1", true, true},     {"2", true, false},
                          {"3", false, false}, {"255", false, false}, {"257", true, true},
                          {"256", false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        sim::Options options;
        options.settings = std::string("[main]\ntogglable=") + c.value + "\n";
        options.script = [](sim::Game& game) {
            game.note("command", game.findCommand("ToggleFreeplot") ? "yes" : "no");
            game.note("al", std::to_string(game.runFreeplotEnableSite(0).al));
        };
        const sim::Transcript t = sim::run(options);
        ASSERT_TRUE(t.completed) << t.text();
        EXPECT_EQ(t.note("command"), c.command ? "yes" : "no");
        EXPECT_EQ(t.note("al"), c.mode ? "1" : "0");
        EXPECT_EQ(t.site("freeplotEnable") != nullptr, c.mode);
        EXPECT_EQ(std::count_if(
                      t.log.begin(), t.log.end(),
                      [](const std::string& l) { return l.rfind("Command found at ", 0) == 0; }),
                  c.command ? 1 : 0);
    }
}

TEST(HookSession, CommandSearchStopsAtTheFirstForeignNumber) {
    for (sim::CommandTable table :
         {sim::CommandTable::DebugTextLate, sim::CommandTable::NoDebugText}) {
        sim::Options options;
        options.settings = "[main]\ntogglable=1\n";
        options.commandTable = table;
        options.script = [](sim::Game& game) {
            game.note("command", game.findCommand("ToggleFreeplot") ? "yes" : "no");
        };
        const sim::Transcript t = sim::run(options);
        ASSERT_TRUE(t.completed) << t.text();
        EXPECT_THAT(t.log, Not(Contains(StartsWith("Command found at"))));
        EXPECT_THAT(t.log, Contains("Hijack command not found!"));
        EXPECT_EQ(t.note("command"), "no");
        // The rest of the start-up goes on: freeplot mode is on.
        EXPECT_NE(t.site("freeplotEnable"), nullptr);
        EXPECT_TRUE(t.loadResult);
    }
}

TEST(HookSession, OutlineStubTurnsUnselectableIntoSelectableExceptForActors) {
    sim::Options options;
    options.settings = "[main]\nextraOutlineEnabled=1\n";
    options.script = [](sim::Game& game) {
        for (std::uint8_t formType : {std::uint8_t{0x20}, std::uint8_t{0x41}}) {
            sim::RefLayout layout;
            layout.formType = formType;
            const sim::Ref ref = game.createRef(layout);
            for (std::uint8_t result : {std::uint8_t{0}, std::uint8_t{1}}) {
                game.setOutlineCalleeResult(result);
                const sim::OutlineResult r = game.runOutlineSite(ref.address);
                game.note("outline", std::to_string(formType) + " " + std::to_string(result) +
                                         " -> " + std::to_string(r.al) + " " +
                                         std::to_string(r.selectable) + " " +
                                         std::to_string(r.calleeRan));
            }
        }
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_EQ(t.notesFor("outline"), (std::vector<std::string>{"32 0 -> 1 1 1", "32 1 -> 1 1 1",
                                                               "65 0 -> 0 0 1", "65 1 -> 1 1 1"}));
    // Switched on at start, silently.
    EXPECT_TRUE(t.messages.empty());
}

TEST(HookSession, WithoutRoomBelowTheImageNoHookGoesInAndLoadStillFinishes) {
    sim::Options options;
    options.settings = "[main]\ntogglable=1\ntimeoutFrozen=1\n";
    options.beforeQuery = [](sim::Game& game) {
        // Everything within reach below the image is taken.
        const std::uintptr_t low = sim::loc::imageBase - 0x78000000;
        void* p = mmap(reinterpret_cast<void*>(low), 0x78000000, PROT_NONE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED_NOREPLACE, -1, 0);
        game.note("blocked", p == reinterpret_cast<void*>(low) ? "yes" : "no");
    };
    options.script = [](sim::Game& game) {
        game.note("keyboard", std::to_string(game.keyboardEvent(0x68, 0x48, 1).calleeRan));
        game.note("command", game.findCommand("ToggleFreeplot") ? "yes" : "no");
        game.note("al", std::to_string(game.runFreeplotEnableSite(0).al));
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    ASSERT_EQ(t.note("blocked"), "yes");
    EXPECT_TRUE(t.loadResult);
    EXPECT_THAT(t.log, Contains("couldn't allocate trampoline, no free space before image"));
    EXPECT_THAT(t.log, Contains("couldn't create codegen buffer. this is fatal. skipping remainder "
                                "of init process."));
    EXPECT_THAT(t.log, Not(Contains(StartsWith("Setting "))));
    EXPECT_EQ(t.note("keyboard"), "1");  // the game's own call, unhooked
    EXPECT_EQ(t.note("command"), "no");
    EXPECT_EQ(t.note("al"), "0");  // freeplot mode stays off
    EXPECT_EQ(t.site("keyboardInput"), nullptr);
    EXPECT_EQ(t.site("freeplotEnable"), nullptr);
    // The start-up patches still go in.
    ASSERT_NE(t.site("timeoutFreese"), nullptr);
    EXPECT_EQ(t.site("timeoutFreese")->after[0], 0xE9);
}
