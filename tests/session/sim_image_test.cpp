// The simulated game's image: the game's bytes at every site, its data, pointer chains and
// console command table, read back from a session child.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstring>
#include <ctime>
#include <map>
#include <sstream>
#include <tuple>

#include "sim/sim.h"
#include "session_support.h"

using ::testing::Contains;
using ::testing::Not;

using session::fixtureSession;

namespace {

std::vector<std::uint8_t> parseHex(const std::string& text) {
    std::vector<std::uint8_t> out;
    std::istringstream in(text);
    for (std::string b; in >> b;)
        out.push_back(static_cast<std::uint8_t>(std::stoul(b, nullptr, 16)));
    return out;
}

struct Pattern {
    const char* name;
    std::uint32_t offset;
    const char* bytes;  // "??" is any byte
};

// The game's code at the signed sites, as published for runtime 1.9.4.
const Pattern patterns[] = {
    {"freeplotEnable", 0x1F0DAB,
     "88 05 ?? ?? ?? ?? 88 44 24 70 E8 ?? ?? ?? ?? 48 8D 54 24 70 48 8B C8"},
    {"colorBase", 0x27E5AC8,
     "C6 05 ?? ?? ?? ?? 01 F3 0F 11 05 ?? ?? ?? ?? 0F 28 74 24 40 44 0F 28 44 24 30"},
    {"selectEnable", 0x1F2BD3,
     "8B 58 14 48 8D 4C 24 30 45 33 C0 8B D3 E8 ?? ?? ?? ?? 48 8B 15 ?? ?? ?? ?? 48 85 D2 74 ?? 8B "
     "05"},
    {"buildEnable", 0x1F0962,
     "0F B6 05 ?? ?? ?? ?? 0F B6 B5 ?? ?? ?? ?? 84 C0 0F 85 ?? ?? ?? ?? 45 84 F6 74 00 40 84 F6 74 "
     "??"},
    {"buildAirEnable", 0x1F0A63, "C6 05 ?? ?? ?? ?? 01 84 C0 75 ?? B1 02 EB ?? 40 84 FF"},
    {"buildWaterEnable", 0x20735D,
     "0F 85 ?? ?? ?? ?? 83 FE 01 74 ?? F3 0F 10 05 ?? ?? ?? ?? 41 0F 2E C1"},
    {"collisionSnap", 0x1EF89E,
     "83 BD ?? ?? ?? ?? 00 48 8D 8D ?? ?? ?? ?? 0F 95 05 ?? ?? ?? ?? E8 ?? ?? ?? ?? 80 3D ?? ?? ?? "
     "?? 00"},
    {"keyboardInput", 0xD2678D,
     "E8 ?? ?? ?? ?? 81 BD ?? ?? ?? ?? 00 01 00 00 0F 86 ?? ?? ?? ?? 48 8B CB"},
    {"timeoutFreese", 0x21556A,
     "0F 84 ?? ?? ?? ?? 48 8B 15 ?? ?? ?? ?? E8 ?? ?? ?? ?? 84 C0 0F 94 C0 84 C0"},
    {"outline", 0x1E64A0, "C6 05 ?? ?? ?? ?? 01 88 15 ?? ?? ?? ?? 76 13 48 8B 05"},
    {"outlineUselectable", 0x22ABA3,
     "E8 ?? ?? ?? ?? 84 C0 0F 84 ?? ?? ?? ?? 43 0F 28 14 27 F3 0F 10 1D ?? ?? ?? ?? 0F 28 05 ?? ?? "
     "?? ?? 48 8D 95"},
    {"selectButtonUnselectable", 0xBD8952, "75 ?? 48 8B CF 40 32 F6 E8"},
    {"selectActionUnselectable", 0x1F2964,
     "33 C0 80 79 ?? ?? 48 0F 44 C1 48 85 C0 74 ?? E8 ?? ?? ?? ?? 0F B6 40 ?? 24 ?? 48 83 C4 ?? "
     "C3"},
    {"lockObject", 0x20595C,
     "0F 84 ?? ?? ?? ?? 48 89 5C 24 ?? 48 89 6C 24 ?? 48 89 74 24 ?? 48 8D 54 24 ?? 48 8D 0D"},
};

std::uint64_t gameAddress(std::uint32_t offset) { return sim::loc::imageBase + offset; }

// Target of a rel32 operand at byte `at` of a site, for an instruction ending at byte `end`.
std::uint64_t rel32Target(std::uint32_t site, const std::vector<std::uint8_t>& b, std::size_t at,
                          std::size_t end) {
    std::int32_t rel;
    std::memcpy(&rel, b.data() + at, 4);
    return gameAddress(site) + end + static_cast<std::int64_t>(rel);
}

}  // namespace

TEST(SimImage, SitesHoldTheGamesCodeWithConsistentOperands) {
    sim::Options o = fixtureSession();
    o.script = [](sim::Game& game) {
        for (const auto& p : patterns) game.note(p.name, sim::hex(game.bytes(p.offset, 48)));
        game.note("mouseInput", sim::hex(game.bytes(0xD2676B, 5)));
        game.note("snapJump", sim::hex(game.bytes(0x249C61, 2)));
        game.note("clampedStore", sim::hex(game.bytes(0x20DDE2, 6)));
    };
    const sim::Transcript t = sim::run(o);
    ASSERT_TRUE(t.completed) << t.text();

    std::map<std::string, std::vector<std::uint8_t>> site;
    for (const auto& p : patterns) {
        auto game = parseHex(t.note(p.name).value_or(""));
        std::istringstream in(p.bytes);
        std::size_t i = 0;
        for (std::string b; in >> b; ++i) {
            ASSERT_LT(i, game.size()) << p.name;
            if (b != "??") {
                EXPECT_EQ(game[i], std::stoul(b, nullptr, 16)) << p.name << " byte " << i;
            }
        }
        site[p.name] = game;
    }

    // The calls and stores reach the game's own functions and variables.
    EXPECT_EQ(rel32Target(0xD2678D, site["keyboardInput"], 1, 5), gameAddress(0x1B11580));
    EXPECT_EQ(rel32Target(0x22ABA3, site["outlineUselectable"], 1, 5), gameAddress(0x242E30));
    EXPECT_EQ(rel32Target(0x1F0DAB, site["freeplotEnable"], 2, 6), gameAddress(0x586B02A));
    EXPECT_EQ(rel32Target(0x1EF89E, site["collisionSnap"], 17, 21), gameAddress(0x586B024));
    // The substitute code freeplot mode writes at collisionSnap stores with a fixed displacement
    // from +17; it must land on the same variable as the game's own store.
    EXPECT_EQ(gameAddress(0x1EF89E) + 17 + 0x0567B775, gameAddress(0x586B024));
    // Its lea keeps the game's displacement.
    EXPECT_EQ(sim::hex(std::vector<std::uint8_t>(site["collisionSnap"].begin() + 7,
                                                 site["collisionSnap"].begin() + 14)),
              "48 8D 8D 60 11 00 00");
    // Freeplot mode's "jmp +0x20" at buildWaterEnable goes where the game's jnz goes.
    EXPECT_EQ(rel32Target(0x20735D, site["buildWaterEnable"], 2, 6),
              gameAddress(0x20735D) + 2 + 0x20);
    // The selectable test's epilogue at +26 is where freeplot's "jmp +0x13" from +7 lands.
    const auto& sel = site["selectActionUnselectable"];
    EXPECT_EQ(13 + 2 + sel[14], 26);
    EXPECT_EQ(sel[26], 0x48);
    EXPECT_EQ(sel[30], 0xC3);

    auto mouse = parseHex(t.note("mouseInput").value_or(""));
    ASSERT_EQ(mouse.size(), 5u);
    EXPECT_EQ(mouse[0], 0xE8);
    EXPECT_EQ(rel32Target(0xD2676B, mouse, 1, 5), gameAddress(0x1B11900));

    auto snap = parseHex(t.note("snapJump").value_or(""));
    ASSERT_EQ(snap.size(), 2u);
    EXPECT_TRUE(snap[0] >= 0x70 && snap[0] <= 0x7F) << "a short conditional jump";

    // The three 6-byte conditional jumps reach real code of the image.
    auto clamped = parseHex(t.note("clampedStore").value_or(""));
    for (auto [name, offset, bytes] :
         {std::tuple{"timeoutFreese", 0x21556Au, site["timeoutFreese"]},
          std::tuple{"lockObject", 0x20595Cu, site["lockObject"]},
          std::tuple{"clampedStore", 0x20DDE2u, clamped}}) {
        ASSERT_GE(bytes.size(), 6u) << name;
        EXPECT_EQ(bytes[0], 0x0F) << name;
        EXPECT_EQ(bytes[1], 0x84) << name;
        auto target = rel32Target(offset, bytes, 2, 6);
        EXPECT_GT(target, gameAddress(offset) + 6) << name;
        EXPECT_LT(target, gameAddress(0x6000000)) << name;
    }
}

TEST(SimImage, DataStartsWithTheGamesValuesAndChains) {
    sim::Options o = fixtureSession();
    o.script = [](sim::Game& game) {
        game.note("snapDistance", std::to_string(game.value<float>(0x366CDA0)));
        game.note("surfaceSnapValue", std::to_string(game.value<float>(0x366D1F0)));
        game.note("gridSnapSetting", std::to_string(game.value<std::uint8_t>(0x366D2E0)));
        auto p = game.value<std::uint64_t>(0x585BD40);
        auto q = *reinterpret_cast<std::uint64_t*>(p + 48);
        game.note("timeMultiplier", std::to_string(*reinterpret_cast<float*>(q + 48)));
        auto heading = game.value<std::uint64_t>(0x5A2F8B8);
        game.setHeading(1.25f);
        game.note("heading", std::to_string(*reinterpret_cast<float*>(heading + 200)));
        game.note("console", game.value<std::uint64_t>(0x586C4C0) == game.consoleObject() &&
                                     game.consoleObject()
                                 ? "yes"
                                 : "no");
        game.setConsole(false);
        game.note("consoleAfter", std::to_string(game.value<std::uint64_t>(0x586C4C0)));
        game.note("context", game.value<std::uint64_t>(0x5A51A00) == game.scriptContext() &&
                                     game.scriptContext()
                                 ? "yes"
                                 : "no");
        // All five pointers lead into memory the session owns for good: the image.
        for (auto ptr : {p, q, heading, game.consoleObject(), game.scriptContext()})
            if (ptr < sim::loc::imageBase || ptr >= sim::loc::imageBase + sim::loc::imageSize)
                game.note("outside", std::to_string(ptr));
        std::uint32_t zero = 0;
        for (std::uint32_t off : {0x586B02Au, 0x586B024u, 0x586B37Cu, 0x586B7CCu, 0x586B92Au,
                                  0x5A305C0u, 0x5965970u, 0x5965980u})
            zero |= game.value<std::uint8_t>(off);
        game.note("flagsZero", zero == 0 ? "yes" : "no");
        auto* mutex =
            reinterpret_cast<pthread_mutex_t*>(sim::loc::imageBase + sim::loc::refQueueLock);
        // The game's main loop takes this lock every frame, so it may be held just now: a
        // working mutex is one that comes free within the deadline.
        timespec deadline{};
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_sec += 30;
        int locked = pthread_mutex_timedlock(mutex, &deadline);
        game.note("lock", std::to_string(locked));
        if (locked == 0) pthread_mutex_unlock(mutex);
    };
    const sim::Transcript t = sim::run(o);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_EQ(t.note("snapDistance"), "48.000000");
    EXPECT_EQ(t.note("surfaceSnapValue"), "0.800000");
    EXPECT_EQ(t.note("gridSnapSetting"), "1");
    EXPECT_EQ(t.note("timeMultiplier"), "1.000000");
    EXPECT_EQ(t.note("heading"), "1.250000");
    EXPECT_EQ(t.note("console"), "yes");
    EXPECT_EQ(t.note("consoleAfter"), "0");
    EXPECT_EQ(t.note("context"), "yes");
    EXPECT_FALSE(t.note("outside").has_value()) << t.text();
    EXPECT_EQ(t.note("flagsZero"), "yes");
    EXPECT_EQ(t.note("lock"), "0");
}

TEST(SimImage, CommandTableVariants) {
    struct Case {
        sim::CommandTable table;
        bool debugTextBefore2F9;
        bool debugTextAfter2F9;
    };
    for (Case c : {Case{sim::CommandTable::Standard, true, false},
                   Case{sim::CommandTable::NoDebugText, false, false},
                   Case{sim::CommandTable::DebugTextLate, false, true}}) {
        sim::Options o = fixtureSession();
        o.commandTable = c.table;
        o.script = [](sim::Game& game) {
            for (std::uint32_t rec = 0x3695DA0; game.value<std::uint64_t>(rec); rec += 80) {
                auto name = reinterpret_cast<const char*>(game.value<std::uint64_t>(rec));
                game.note("record",
                          std::to_string(game.value<std::uint32_t>(rec + 16)) + " " + name);
                if (!game.value<std::uint64_t>(rec + 48) || !game.value<std::uint64_t>(rec + 40))
                    game.note("incomplete", name);
            }
            sim::ConsoleResult r = game.runConsoleCommand("GetDebugText");
            game.note("ran", r.found && r.returned ? "yes" : "no");
            game.note("byShortName", game.findCommand("tdt") == game.findCommand("ToggleDebugText")
                                         ? "yes"
                                         : "no");
        };
        const sim::Transcript t = sim::run(o);
        ASSERT_TRUE(t.completed) << t.text();
        auto records = t.notesFor("record");
        ASSERT_GE(records.size(), 5u);
        unsigned previous = 0;
        bool seen2F9 = false, before = false, after = false;
        for (const auto& r : records) {
            unsigned number = static_cast<unsigned>(std::stoul(r));
            EXPECT_GT(number, previous) << r;
            previous = number;
            seen2F9 = seen2F9 || number == 0x2F9;
            if (r.substr(r.find(' ') + 1) == "GetDebugText") (seen2F9 ? after : before) = true;
        }
        EXPECT_TRUE(seen2F9);
        EXPECT_GT(previous, 0x2F9u) << "records follow the one numbered 0x2F9";
        EXPECT_EQ(before, c.debugTextBefore2F9);
        EXPECT_EQ(after, c.debugTextAfter2F9);
        EXPECT_FALSE(t.note("incomplete").has_value());
        EXPECT_EQ(t.note("byShortName"), "yes");
        bool present = c.debugTextBefore2F9 || c.debugTextAfter2F9;
        EXPECT_EQ(t.note("ran"), present ? "yes" : "no");
        if (present) {
            EXPECT_THAT(t.calls, Contains("game command handler of GetDebugText"));
        }
    }
}
