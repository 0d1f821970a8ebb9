// The console command in the simulated game: the "GetDebugText" record taken over, the command
// switching freeplot mode and answering on the console, and ten thousand switches in one session
// that neither use up the trampoline nor leave a site changed, also while the input thread
// switches object snap on the same code page.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "session_support.h"
#include "sim/sim.h"

using session::tap;
using ::testing::ElementsAre;
namespace key = session::key;

namespace {

// The address of the slot that the 6-byte call at freeplotEnable goes through.
std::uintptr_t slotOfFreeplotEnable() {
    const std::uint8_t* site = sim::Game::at(sim::loc::freeplotEnable);
    if (site[0] != 0xFF || site[1] != 0x15) return 0;
    std::int32_t rel;
    std::memcpy(&rel, site + 2, 4);
    return sim::Game::base() + sim::loc::freeplotEnable + 6 + static_cast<std::intptr_t>(rel);
}

template <class T>
T field(const std::vector<std::uint8_t>& record, std::size_t offset) {
    T v;
    std::memcpy(&v, record.data() + offset, sizeof v);
    return v;
}

}  // namespace

TEST(ConsoleSession, CommandTakesOverTheRecordAndSwitchesFreeplotMode) {
    sim::Options options;
    options.settings = "[main]\ntogglable=2\n";
    options.script = [](sim::Game& game) {
        const std::uintptr_t record = game.findCommand("ToggleFreeplot");
        game.note("byShortName", game.findCommand("tfp") == record ? "same" : "other");
        if (record) {
            auto text = [&](std::size_t offset) {
                const char* s = *reinterpret_cast<const char* const*>(record + offset);
                return s ? std::string("\"") + s + "\"" : std::string("null");
            };
            game.note("help", text(24));
        }
        for (int i = 0; i < 2; ++i) {
            const sim::ConsoleResult r = game.runConsoleCommand("ToggleFreeplot");
            game.note("run", std::to_string(r.found) + " " + std::to_string(r.returned) + " " +
                                 std::to_string(r.result) + " al " +
                                 std::to_string(game.runFreeplotEnableSite(0).al));
        }
        // Without a console object the answer is dropped; the switch still happens.
        game.setConsole(false);
        game.runConsoleCommand("tfp");
        game.note("silent", std::to_string(game.runFreeplotEnableSite(0).al));
        game.runConsoleCommand("tfp");
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_EQ(t.note("byShortName"), "same");
    EXPECT_EQ(t.note("help"), "\"\"");
    EXPECT_EQ(t.notesFor("run"),
              (std::vector<std::string>{"1 1 1.000000 al 1", "1 1 1.000000 al 0"}));
    EXPECT_EQ(t.note("silent"), "1");
    EXPECT_THAT(t.console, ElementsAre("Freeplot-> On", "Freeplot-> Off"));

    // The record: the fields the command needs are rewritten, the game's others kept.
    const sim::SiteChange* rec = t.site("commandTable[GetDebugText]");
    ASSERT_NE(rec, nullptr) << t.text();
    ASSERT_EQ(rec->before.size(), 80u);
    const auto& before = rec->before;
    const auto& after = rec->after;
    EXPECT_NE(field<std::uint64_t>(after, 0), field<std::uint64_t>(before, 0));
    EXPECT_NE(field<std::uint64_t>(after, 8), field<std::uint64_t>(before, 8));
    EXPECT_NE(field<std::uint64_t>(after, 48), field<std::uint64_t>(before, 48));
    EXPECT_EQ(after[32], 0);
    EXPECT_EQ(field<std::uint16_t>(after, 34), 0);
    EXPECT_EQ(field<std::uint32_t>(after, 72), 0u);
    const std::pair<std::size_t, std::size_t> kept[] = {
        {16, 8}, {33, 1}, {36, 12}, {56, 16}, {76, 4}};
    for (auto [offset, length] : kept)
        EXPECT_TRUE(std::equal(before.begin() + offset, before.begin() + offset + length,
                               after.begin() + offset))
            << "bytes " << offset << ".." << offset + length - 1;
    EXPECT_THAT(t.log, ::testing::Contains(::testing::StartsWith("Command found at ")));
}

// How many times the stress tests below switch: 10,000, or FREEPLOT_CONSOLE_SWITCHES made even (so
// that each test ends with the mode off and the game's bytes back). The test command's Linux run
// sets 2,000 and its ThreadSanitizer run 1,000 (every switch there costs tens of times more, and
// the races it looks for need the two threads to meet, not the count); a soak run keeps 10,000.
int switchCount() {
    const char* text = std::getenv("FREEPLOT_CONSOLE_SWITCHES");
    const int count = text && *text ? std::atoi(text) : 0;
    return count > 0 ? (count + 1) / 2 * 2 : 10000;
}

// Every site the mode switches is back to the game's bytes: only the linked input hooks and the
// taken-over command record differ from the game's image.
void expectOnlyTheHooksAndTheCommandChanged(const sim::Transcript& t) {
    std::vector<std::string> changed;
    for (const auto& s : t.sites) changed.push_back(s.name);
    EXPECT_THAT(changed, ::testing::UnorderedElementsAre("keyboardInput", "mouseInput",
                                                         "commandTable[GetDebugText]"));
    EXPECT_THAT(t.log,
                ::testing::Not(::testing::Contains(::testing::StartsWith("Assertion failed"))));
}

TEST(ConsoleSession, ThousandsOfSwitchesKeepTheTrampolineAndEndWithTheGamesBytes) {
    const int switches = switchCount();
    sim::Options options;
    options.settings = "[main]\ntogglable=2\n";
    options.timeout = std::chrono::milliseconds(240000);
    options.script = [switches](sim::Game& game) {
        std::set<std::uintptr_t> slots;
        std::vector<std::uint8_t> firstOn;
        std::size_t differentOn = 0, wrongResults = 0;
        for (int i = 0; i < switches; ++i) {
            game.runConsoleCommand("tfp");
            slots.insert(slotOfFreeplotEnable());
            const auto on = sim::Game::bytes(sim::loc::freeplotEnable, 6);
            if (firstOn.empty()) firstOn = on;
            if (on != firstOn) ++differentOn;
            if (game.runFreeplotEnableSite(0).al != 1) ++wrongResults;
            game.runConsoleCommand("tfp");
            if (game.runFreeplotEnableSite(0).al != 0) ++wrongResults;
        }
        game.note("slots", std::to_string(slots.size()));
        game.note("differentOn", std::to_string(differentOn));
        game.note("wrongResults", std::to_string(wrongResults));
        // One more switch-on after all that still has room and writes the same call.
        game.runConsoleCommand("tfp");
        game.note("lastOn",
                  sim::hex(sim::Game::bytes(sim::loc::freeplotEnable, 6)) == sim::hex(firstOn)
                      ? "same"
                      : "different");
        game.runConsoleCommand("tfp");
        std::string why = "read-execute";
        sim::Game::codePagesAsLaid(why);
        game.note("pages", why);
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_EQ(t.note("pages"), "read-execute");
    EXPECT_EQ(t.console.size(), 2u * switches + 2);
    EXPECT_EQ(t.messages.size(), 0u);
    EXPECT_EQ(t.note("slots"), "1");
    EXPECT_EQ(t.note("differentOn"), "0");
    EXPECT_EQ(t.note("wrongResults"), "0");
    EXPECT_EQ(t.note("lastOn"), "same");
    expectOnlyTheHooksAndTheCommandChanged(t);
}

TEST(ConsoleSession, SwitchesFromTheConsoleThreadBesideSnapFromInputLeaveEveryPageReadExecute) {
    const int switches = switchCount();
    sim::Options options;
    options.settings = "[main]\ntogglable=2\n";
    options.timeout = std::chrono::milliseconds(240000);
    options.script = [switches](sim::Game& game) {
        // The console thread switches the mode while the input thread switches object snap, whose
        // bytes share the mode's page at collisionSnap: every write holds the code writer's lock
        // across unprotect, copy and restore, so no write faults and every page ends read-execute.
        game.setWorkshopMode(true);
        for (int i = 0; i < switches; ++i) game.runConsoleCommandOnConsoleThread("tfp");
        for (int i = 0; i < switches; ++i) tap(game, key::snap);
        game.note("consoleDone", std::to_string(game.waitForConsole(std::chrono::seconds(120))));
        std::string why = "read-execute";
        sim::Game::codePagesAsLaid(why);
        game.note("pages", why);
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_EQ(t.note("consoleDone"), "1");
    EXPECT_EQ(t.note("pages"), "read-execute");
    EXPECT_EQ(t.console.size(), static_cast<std::size_t>(switches));
    EXPECT_EQ(t.messages.size(), static_cast<std::size_t>(switches));  // "Object snap off" / "on"
    expectOnlyTheHooksAndTheCommandChanged(t);
}
