// The building-rule switches in the simulated game: freeplot mode's writes against the game's
// code as laid in the image, the game values a switch keeps and gives back, the switches parked
// outside workshop mode, the start-up patches the settings ask for, and a site whose code does
// not match. (Every site holding either the game's bytes or its switch's is the chaos session's
// invariant; the protection of the code pages is the portable switches test's.)

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "session_support.h"
#include "sim/sim.h"

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

using namespace session;

struct Range {
    const char* name;
    std::uint32_t offset;
    std::size_t count;
};
// What freeplot mode writes, byte by byte (freeplotEnable's call is checked on its own).
const Range kFreeplotRanges[] = {
    {"colorBase+6", sim::loc::colorBase + 6, 1},
    {"selectEnable", sim::loc::selectEnable, 3},
    {"buildEnable", sim::loc::buildEnable, 7},
    {"buildEnable+30", sim::loc::buildEnable + 30, 1},
    {"buildWaterEnable", sim::loc::buildWaterEnable, 6},
    {"buildAirEnable+6", sim::loc::buildAirEnable + 6, 1},
    {"collisionSnap", sim::loc::collisionSnap, 21},
};
const char* kFreeplotOn[] = {
    "00",
    "90 90 90",
    "31 C0 90 90 90 90 90",
    "EB",
    "EB 20 90 90 90 90",
    "00",
    "48 8D 8D 60 11 00 00 C7 05 75 B7 67 05 00 00 00 00 90 90 90 90",
};

void noteRanges(sim::Game& game, const std::string& key) {
    for (const Range& r : kFreeplotRanges)
        game.note(key + " " + r.name, sim::hex(sim::Game::bytes(r.offset, r.count)));
    game.note(key + " freeplotEnable", sim::hex(sim::Game::bytes(sim::loc::freeplotEnable, 2)));
}

}  // namespace

TEST(SwitchSession, FreeplotModeOnOffOnAgainstTheGamesCode) {
    sim::Options options;
    options.settings = "[main]\ntogglable=1\n";
    options.beforeQuery = [](sim::Game& game) { noteRanges(game, "game"); };
    options.script = [](sim::Game& game) {
        noteRanges(game, "on");
        game.runConsoleCommand("tfp");
        noteRanges(game, "off");
        game.runConsoleCommand("tfp");
        noteRanges(game, "again");
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    for (std::size_t i = 0; i < std::size(kFreeplotRanges); ++i) {
        const std::string name = kFreeplotRanges[i].name;
        EXPECT_EQ(t.note("on " + name), kFreeplotOn[i]) << name;
        EXPECT_EQ(t.note("again " + name), kFreeplotOn[i]) << name;
        EXPECT_EQ(t.note("off " + name), t.note("game " + name)) << name;
        EXPECT_NE(t.note("on " + name), t.note("game " + name)) << name;
    }
    EXPECT_EQ(t.note("on freeplotEnable"), "FF 15");
    EXPECT_EQ(t.note("again freeplotEnable"), "FF 15");
    EXPECT_EQ(t.note("off freeplotEnable"), t.note("game freeplotEnable"));
    // The mode switch itself shows nothing on screen; the console answers.
    EXPECT_TRUE(t.messages.empty());
    EXPECT_THAT(t.console, ::testing::ElementsAre("Freeplot-> Off", "Freeplot-> On"));
}

TEST(SwitchSession, StartupPatchesFollowTheSettingsWithoutMessages) {
    sim::Options options;
    options.settings =
        "[main]\ntogglable=3\ntimeoutFrozen=1\nsnapDisabled=1\ngroundDisabled=1\n"
        "outlineDisabled=1\nextraOutlineEnabled=1\n";
    options.beforeQuery = [](sim::Game& game) {
        game.note("je", sim::hex(sim::Game::bytes(sim::loc::timeoutFreese, 6)));
    };
    options.script = [](sim::Game& game) {
        game.note("snapDistance", std::to_string(sim::Game::value<float>(sim::loc::snapDistance)));
        game.note("surfaceSnap",
                  std::to_string(sim::Game::value<float>(sim::loc::surfaceSnapValue)));
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_TRUE(t.messages.empty());
    EXPECT_EQ(t.note("snapDistance"), "0.000000");
    EXPECT_EQ(t.note("surfaceSnap"), "1.500000");

    auto after = [&](const char* name) {
        const sim::SiteChange* s = t.site(name);
        return s ? sim::hex(s->after) : std::string("unchanged");
    };
    // timeoutFreese: the jump-if-equal's target as an unconditional jump, one byte shorter.
    const std::string je = t.note("je").value_or("");
    ASSERT_EQ(je.substr(0, 5), "0F 84");
    const std::uint32_t rel = static_cast<std::uint32_t>(std::stoul(
        je.substr(15, 2) + je.substr(12, 2) + je.substr(9, 2) + je.substr(6, 2), nullptr, 16));
    const std::uint8_t jump[6] = {0xE9,
                                  static_cast<std::uint8_t>(rel + 1),
                                  static_cast<std::uint8_t>((rel + 1) >> 8),
                                  static_cast<std::uint8_t>((rel + 1) >> 16),
                                  static_cast<std::uint8_t>((rel + 1) >> 24),
                                  0x90};
    EXPECT_THAT(after("timeoutFreese"), StartsWith(sim::hex(jump, 6)));
    EXPECT_THAT(after("snapJump"), StartsWith("90 90"));
    EXPECT_THAT(after("selectButtonUnselectable"), StartsWith("EB"));
    EXPECT_THAT(after("selectActionUnselectable"), StartsWith("B8 01 00 00 00 EB 13 90 90 90"));
    EXPECT_THAT(after("outlineUselectable"), StartsWith("E9"));
    // Freeplot mode stays off (togglable 3), so collisionSnap keeps the game's code.
    EXPECT_EQ(after("collisionSnap"), "unchanged");
    EXPECT_EQ(after("freeplotEnable"), "unchanged");
}

TEST(SwitchSession, SiteWithUnexpectedCodeIsNeverWritten) {
    sim::Options options;
    options.settings = "[main]\ntogglable=1\n";
    options.beforeQuery = [](sim::Game& game) {
        sim::Game::at(sim::loc::buildWaterEnable)[1] = 0x84;  // jne became je: not the game we know
        game.note("corrupt", sim::hex(sim::Game::bytes(sim::loc::buildWaterEnable, 6)));
    };
    options.script = [](sim::Game& game) {
        for (int i = 0; i < 4; ++i) {
            game.runConsoleCommand("tfp");
            game.note("water", sim::hex(sim::Game::bytes(sim::loc::buildWaterEnable, 6)));
        }
        // On at start and switched four times: on again.
        game.note("al", std::to_string(game.runFreeplotEnableSite(0).al));
        game.note("select", sim::hex(sim::Game::bytes(sim::loc::selectEnable, 3)));
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_TRUE(t.queryResult);
    EXPECT_TRUE(t.loadResult);
    EXPECT_THAT(t.log, Contains("sig (buildWaterEnable) mismatch at 000000014020735D"));
    EXPECT_THAT(t.log, Contains("Mismatched at 1: 84 (has to be 85)"));
    EXPECT_THAT(t.log, Contains("Sigs not found"));
    EXPECT_EQ(std::count(t.log.begin(), t.log.end(),
                         "Site buildWaterEnable does not match the game's code, left unpatched"),
              1);
    for (const std::string& water : t.notesFor("water")) EXPECT_EQ(water, t.note("corrupt"));
    EXPECT_EQ(t.notesFor("water").size(), 4u);
    // The rest of freeplot mode works.
    EXPECT_EQ(t.note("al"), "1");
    EXPECT_EQ(t.note("select"), "90 90 90");
    EXPECT_THAT(t.log, Not(Contains(StartsWith("Site freeplotEnable"))));
}

TEST(SwitchSession, SnapSwitchesKeepTheGamesValuesEachTimeAndCollisionOnlyInFreeplotMode) {
    sim::Options options;
    options.settings = "[main]\ntogglable=1\n";
    options.beforeQuery = [](sim::Game& game) {
        game.note("game code", sim::hex(sim::Game::bytes(sim::loc::collisionSnap, 21)));
    };
    options.script = [](sim::Game& game) {
        auto noteSnap = [&](const std::string& key) {
            game.note(key + " value", sim::hex(sim::Game::bytes(sim::loc::collisionSnap + 13, 1)));
            game.note(key + " jump", sim::hex(sim::Game::bytes(sim::loc::snapJump, 2)));
            game.note(key + " distance",
                      std::to_string(sim::Game::value<float>(sim::loc::snapDistance)));
        };
        game.setWorkshopMode(true);
        game.note("game jump", sim::hex(sim::Game::bytes(sim::loc::snapJump, 2)));
        sim::Game::set<float>(sim::loc::snapDistance, 30.0f);
        tap(game, key::snap);
        noteSnap("off");
        tap(game, key::snap);
        noteSnap("on");
        // Freeplot mode off: the snap switch leaves the game's collision code alone, and keeps
        // the distance the game has now.
        tap(game, key::mode);
        sim::Game::set<float>(sim::loc::snapDistance, 20.0f);
        tap(game, key::snap);
        game.note("plain code", sim::hex(sim::Game::bytes(sim::loc::collisionSnap, 21)));
        tap(game, key::snap);
        noteSnap("plain on");
        // Surface snap gives back the game's value each time, one it changed in between too.
        auto noteSurface = [&](const std::string& key) {
            game.note(key, std::to_string(sim::Game::value<float>(sim::loc::surfaceSnapValue)));
        };
        for (const float value : {0.6f, 0.7f}) {
            const std::string round = std::to_string(value).substr(0, 3);
            sim::Game::set<float>(sim::loc::surfaceSnapValue, value);
            tap(game, key::ground);
            noteSurface("surface off " + round);
            tap(game, key::ground);
            noteSurface("surface on " + round);
        }
        // Object snap off while freeplot mode is off, then the mode on: its collision code
        // comes in with the value object snap asks for.
        tap(game, key::snap);
        tap(game, key::mode);
        noteSnap("mode on");
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_EQ(t.note("off value"), "01");
    EXPECT_EQ(t.note("off jump"), "90 90");
    EXPECT_EQ(t.note("off distance"), "0.000000");
    EXPECT_EQ(t.note("on value"), "00");
    EXPECT_EQ(t.note("on jump"), t.note("game jump"));
    EXPECT_EQ(t.note("on distance"), "30.000000");
    EXPECT_EQ(t.note("plain code"), t.note("game code"));
    EXPECT_EQ(t.note("plain on distance"), "20.000000");
    EXPECT_EQ(t.note("surface off 0.6"), "1.500000");
    EXPECT_EQ(t.note("surface on 0.6"), "0.600000");
    EXPECT_EQ(t.note("surface off 0.7"), "1.500000");
    EXPECT_EQ(t.note("surface on 0.7"), "0.700000");
    EXPECT_EQ(t.note("mode on value"), "01");
    EXPECT_THAT(t.messages, ElementsAre("Object snap off", "Object snap on", "Freeplot mode off",
                                        "Object snap off", "Object snap on", "Surface snap off",
                                        "Surface snap on", "Surface snap off", "Surface snap on",
                                        "Object snap off", "Freeplot mode on"));
}

TEST(SwitchSession, OutlineAndExtraSelectionAreParkedOutsideWorkshopMode) {
    sim::Options options;
    options.script = [](sim::Game& game) {
        auto noteSites = [&](const std::string& key) {
            game.note(key + " outline", sim::hex(sim::Game::bytes(sim::loc::outline + 6, 1)));
            game.note(key + " extra", sim::hex(sim::Game::bytes(sim::loc::outlineUselectable, 1)));
        };
        game.setWorkshopMode(true);
        noteSites("game");
        tap(game, key::outline);
        tap(game, key::extraSelection);
        noteSites("on");
        // Leaving: a key event parks the outline; only a mouse event parks the extra selection.
        game.setWorkshopMode(false);
        game.keyboardEvent('Q', 0, 1);
        noteSites("key outside");
        game.mouseEvent(0);
        noteSites("outside");
        game.mouseEvent(0);
        // Back inside, the next event brings both back.
        game.setWorkshopMode(true);
        game.mouseEvent(0);
        noteSites("back");
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_EQ(t.note("on outline"), "00");
    EXPECT_EQ(t.note("on extra"), "E9");
    EXPECT_EQ(t.note("key outside outline"), t.note("game outline"));
    EXPECT_EQ(t.note("key outside extra"), "E9");
    EXPECT_EQ(t.note("outside outline"), t.note("game outline"));
    EXPECT_EQ(t.note("outside extra"), t.note("game extra"));
    EXPECT_EQ(t.note("back outline"), "00");
    EXPECT_EQ(t.note("back extra"), "E9");
    // Parking says nothing.
    EXPECT_THAT(t.messages, ElementsAre("Object outline off", "Extra object selection enabled"));
}

TEST(SwitchSession, TheClockKeyKeepsTheAutomaticSlowingOutUntilWorkshopModeIsLeft) {
    sim::Options options;
    options.settings = "[main]\nautoTimescaleEnabled = true\n";
    options.script = [](sim::Game& game) {
        auto noteClock = [&](const char* key) {
            game.note(key, std::to_string(game.timeMultiplier()));
        };
        game.setTimeMultiplier(1.0f);
        game.setWorkshopMode(true);
        tap(game, key::timescale);  // slowed by the event, given back by the key
        noteClock("key");
        tap(game, 'Q');
        noteClock("after key");
        game.setWorkshopMode(false);
        tap(game, 'Q');
        game.setWorkshopMode(true);
        tap(game, 'Q');
        noteClock("next stay");
        // Without the game's time manager the key changes nothing and says nothing.
        const auto manager = sim::Game::value<std::uint64_t>(sim::loc::timeManagerPtr);
        sim::Game::set<std::uint64_t>(sim::loc::timeManagerPtr, 0);
        tap(game, key::timescale);
        sim::Game::set<std::uint64_t>(sim::loc::timeManagerPtr, manager);
        noteClock("no manager");
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_EQ(t.note("key"), "1.000000");
    EXPECT_EQ(t.note("after key"), "1.000000");
    EXPECT_EQ(t.note("next stay"), "0.010000");
    EXPECT_EQ(t.note("no manager"), "0.010000");
    EXPECT_THAT(t.messages, ElementsAre("Timescale set to normal"));
}
