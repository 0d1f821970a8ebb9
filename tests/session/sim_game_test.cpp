// The simulated game's behaviour: the routines around the hooked sites, the stand-ins for the
// game functions, and the main loop, driven from a session child with the sim's own plugin.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include <cmath>
#include <cstring>

#include "sim/sim.h"
#include "session_support.h"

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

using session::fixtureSession;

namespace {

template <typename Fn>
Fn gameFunction(std::uint32_t offset) {
    return reinterpret_cast<Fn>(sim::loc::imageBase + offset);
}

using PrintFn = void __attribute__((ms_abi)) (*)(void*, const char*, __builtin_ms_va_list);

// Calls the game's print function the way a caller with a Microsoft va_list does.
__attribute__((ms_abi)) void consolePrintf(void* console, const char* format, ...) {
    __builtin_ms_va_list args;
    __builtin_ms_va_start(args, format);
    gameFunction<PrintFn>(0x1249110)(console, format, args);
    __builtin_ms_va_end(args);
}

std::string str(bool b) { return b ? "1" : "0"; }

}  // namespace

TEST(SimRoutines, UnchangedSitesGiveTheGamesResults) {
    sim::Options o = fixtureSession();
    o.script = [](sim::Game& game) {
        sim::InputResult k = game.keyPress(0x68, 0x48);
        game.note("key", str(k.calleeRan) + " " + std::to_string(k.path) + " " +
                             str(k.rcx == sim::loc::inputRcxValue) + str(k.rdx == k.record) +
                             str(k.rax == sim::loc::inputRaxValue));
        // The compare after the site: a value not above 0x100 takes its jbe.
        game.set<std::uint32_t>(sim::loc::inputFrame + sim::loc::inputFrameCompare, 0x100);
        game.note("keyBelow", std::to_string(game.keyRelease(0x68).path));

        sim::InputResult m = game.mouseEvent(0x0400, -240);
        game.note("mouse", str(m.calleeRan) + " " + std::to_string(m.path) + " " +
                               str(m.rdx == m.record) + str(m.rcx == sim::loc::inputRcxValue) +
                               str(m.rax == sim::loc::inputRaxValue));
        game.note("mouseFields", std::to_string(m.seenButtonFlags) + " " +
                                     std::to_string(static_cast<std::int16_t>(m.seenButtonData)) +
                                     " " + std::to_string(m.buttonFlags) + " " +
                                     std::to_string(static_cast<std::int16_t>(m.buttonData)));

        for (std::uint8_t r : {std::uint8_t{0}, std::uint8_t{1}}) {
            sim::FreeplotEnableResult e = game.runFreeplotEnableSite(r);
            game.note("enable", std::to_string(e.al) + " " + std::to_string(e.buildAllowed));
        }

        sim::Ref ref = game.createRef();
        for (std::uint8_t r : {std::uint8_t{0}, std::uint8_t{1}}) {
            game.setOutlineCalleeResult(r);
            sim::OutlineResult out = game.runOutlineSite(ref.address);
            game.note("outline", str(out.calleeRan) + " " + std::to_string(out.al) + " " +
                                     str(out.selectable));
        }
    };
    const sim::Transcript t = sim::run(o);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_EQ(t.note("key"), "1 1 111");
    EXPECT_EQ(t.note("keyBelow"), "2");
    EXPECT_EQ(t.note("mouse"), "1 1 111");
    EXPECT_EQ(t.note("mouseFields"), "1024 -240 1024 -240");
    EXPECT_THAT(t.notesFor("enable"), ElementsAre("0 0", "1 1"));
    EXPECT_THAT(t.notesFor("outline"), ElementsAre("1 0 0", "1 1 1"));
    EXPECT_THAT(t.calls, Contains("outlineCallee(rcx=ref#1, rdi=ref#1) -> 1"));
    EXPECT_THAT(t.calls,
                Contains(HasSubstr("mouseInputCallee(rcx=0x0000000145F00800, rdx=mouseRecord")));
}

TEST(SimRoutines, WhatIsWrittenAtASiteRuns) {
    sim::Options o = fixtureSession();
    o.script = [](sim::Game& game) {
        // A stub like the plugin's freeplot enable stub, reached through a 6-byte slot call.
        std::uint32_t stub = 0x5B00000, slot = 0x5B00100;
        const std::uint8_t code[] = {0xB0, 0x01, 0xA2, 0x2A, 0xB0, 0x86,
                                     0x45, 0x01, 0x00, 0x00, 0x00, 0xC3};
        std::memcpy(game.at(stub), code, sizeof code);
        game.set<std::uint64_t>(slot, sim::loc::imageBase + stub);
        const auto rel = static_cast<std::uint32_t>(slot - (0x1F0DAB + 6));
        game.patchCode(
            0x1F0DAB,
            {0xFF, 0x15, static_cast<std::uint8_t>(rel), static_cast<std::uint8_t>(rel >> 8),
             static_cast<std::uint8_t>(rel >> 16), static_cast<std::uint8_t>(rel >> 24)});
        sim::FreeplotEnableResult e = game.runFreeplotEnableSite(0);
        game.note("enable", std::to_string(e.al) + " " + std::to_string(e.buildAllowed));

        // A jump over the keyboard call: the game's callee does not run, the code after it does.
        game.patchCode(0xD2678D, {0xE9, 0, 0, 0, 0});
        sim::InputResult k = game.keyPress(0x41);
        game.note("key", str(k.calleeRan) + " " + std::to_string(k.path));
    };
    const sim::Transcript t = sim::run(o);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_EQ(t.note("enable"), "1 1");
    EXPECT_EQ(t.note("key"), "0 1");
    EXPECT_EQ(t.countCalls("keyboardInputCallee"), 0u);
    // Both writes are reported against the bytes from before Query.
    const sim::SiteChange* kb = t.site("keyboardInput");
    ASSERT_NE(kb, nullptr) << t.text();
    EXPECT_EQ(sim::hex(kb->after).substr(0, 14), "E9 00 00 00 00");
    ASSERT_NE(t.site("freeplotEnable"), nullptr);
    EXPECT_EQ(t.site("freeplotEnable")->before[0], 0x88);
    EXPECT_EQ(t.sites.size(), 2u) << t.text();
}

TEST(SimStandIns, GameFunctionsRecordAndAct) {
    sim::Options o = fixtureSession();
    o.script = [](sim::Game& game) {
        using Hud = void __attribute__((ms_abi)) (*)(const char*, std::uint64_t, std::uint64_t);
        using Lookup = std::uint64_t __attribute__((ms_abi)) (*)(const std::uint32_t*, void**);
        using Axis = std::uint64_t
            __attribute__((ms_abi)) (*)(void*, std::uint32_t, void*, std::uint64_t, double);
        using Physics = std::uint64_t __attribute__((ms_abi)) (*)(const void*, std::uint64_t*);
        using RefCmd = std::uint64_t
            __attribute__((ms_abi)) (*)(std::uint64_t, std::uint64_t, void*, std::uint64_t,
                                        std::uint64_t, std::uint64_t, double*, std::uint64_t);

        gameFunction<Hud>(0xADFBC0)("Object snap off", 0, 1);

        sim::RefLayout layout;
        layout.position[2] = 3.0f;
        layout.scale = 80;
        sim::Ref ref = game.createRef(layout);
        game.selectRef(ref.handle);
        void* out = nullptr;
        auto lookup = gameFunction<Lookup>(0xAB60);
        lookup(reinterpret_cast<std::uint32_t*>(game.at(0x586B37C)), &out);
        game.note("lookup", str(out == reinterpret_cast<void*>(ref.address)));
        std::uint32_t unknown = ref.handle + 7;
        out = nullptr;
        lookup(&unknown, &out);
        game.note("unknown", str(out == nullptr));
        game.forgetRef(ref.handle);
        lookup(reinterpret_cast<std::uint32_t*>(game.at(0x586B37C)), &out);
        game.note("forgotten", str(out == nullptr));

        sim::Ref r2 = game.createRef(layout);
        auto axis = gameFunction<Axis>(0xD3E600);
        auto ctx = reinterpret_cast<void*>(game.scriptContext());
        auto target = reinterpret_cast<void*>(r2.address);
        axis(ctx, 0x1007, target, 'Z', 12.5);
        axis(ctx, 0x1009, target, 'X', 90.0);
        double factor = 0.35;
        std::uint64_t bits;
        std::memcpy(&bits, &factor, 8);
        axis(ctx, 0x113C, target, bits, 7.0);
        game.note("pos", std::to_string(r2.pos(0)) + " " + std::to_string(r2.pos(2)));
        game.note("rotX", std::to_string(r2.rot(0)));
        game.note("scale", std::to_string(r2.scale()));

        struct {
            std::uint64_t a = 0, b = 1;
            std::uint32_t handle, mode = 2;
            std::uint64_t c = 0;
            std::uint32_t d = 1;
        } request;
        request.handle = r2.handle;
        std::uint64_t slot = 0;
        gameFunction<Physics>(0x140F550)(&request, &slot);

        double result = 0.0;
        gameFunction<RefCmd>(0x52A190)(0, 0, target, 0, 0, 0, &result, 0);
        gameFunction<RefCmd>(0x504C00)(0, 0, target, 0, 0, 0, &result, 0);

        consolePrintf(reinterpret_cast<void*>(game.consoleObject()),
                      "Freeplot-> %s|%d|%u|%x|%X|%c|%0.1f|%%|%5s", "On", -5, 7u, 255u, 255u, 'Z',
                      2.25, "ab");
        consolePrintf(reinterpret_cast<void*>(game.consoleObject()), "%I64X %lld",
                      0x123456789ABCull, -3ll);
    };
    const sim::Transcript t = sim::run(o);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_THAT(t.messages, ElementsAre("Object snap off"));
    EXPECT_EQ(t.note("lookup"), "1");
    EXPECT_EQ(t.note("unknown"), "1");
    EXPECT_EQ(t.note("forgotten"), "1");
    EXPECT_EQ(t.note("pos"), "0.000000 12.500000");
    EXPECT_NEAR(std::stod(t.note("rotX").value_or("0")), M_PI / 2, 1e-6);
    EXPECT_EQ(t.note("scale"), "35");
    EXPECT_THAT(t.console,
                ElementsAre("Freeplot-> On|-5|7|ff|FF|Z|2.2|%|   ab", "123456789ABC -3"));
    EXPECT_THAT(t.calls, Contains("hudMessageFunction(\"Object snap off\", 0, 1)"));
    EXPECT_THAT(t.calls, Contains("lookupRefByHandle(&selectedRefHandle=0x00F00001) -> ref#1"));
    EXPECT_THAT(t.calls, Contains("runAxisCommand(context, 0x1007, ref#2, 'Z', 12.5)"));
    EXPECT_THAT(t.calls, Contains("runAxisCommand(context, 0x113C, ref#2, scale 0.35)"));
    EXPECT_THAT(t.calls, Contains("physicsToggleFunction({0, 1, 0x00F00002, 2, 0, 1}, out=0)"));
    EXPECT_THAT(t.calls, Contains("refCommandExecute(0, 0, ref#2, 0, 0, 0, &0, 0)"));
    EXPECT_THAT(t.calls, Contains("refCommandExecute2(0, 0, ref#2, 0, 0, 0, &0, 0)"));
    EXPECT_THAT(t.calls, Contains("consolePrintFunction(console, \"%I64X %lld\")"));
}

TEST(SimStandIns, MainLoopTakesTheHandedOverReference) {
    for (bool takes : {true, false}) {
        sim::Options o = fixtureSession();
        o.gameTakesRefQueue = takes;
        o.script = [](sim::Game& game) {
            sim::Ref ref = game.createRef();
            auto* lock = reinterpret_cast<pthread_mutex_t*>(game.at(0x5965948));
            pthread_mutex_lock(lock);
            game.set<std::uint64_t>(0x5965970, ref.address);
            pthread_mutex_unlock(lock);
            // The slot is read under the game's lock, as the main loop writes it.
            auto slotValue = [&] {
                pthread_mutex_lock(lock);
                const auto value = game.value<std::uint64_t>(0x5965970);
                pthread_mutex_unlock(lock);
                return value;
            };
            bool cleared =
                game.waitUntil([&] { return slotValue() == 0; }, std::chrono::milliseconds(1000));
            game.note("cleared", str(cleared));
            game.note("takes", std::to_string(game.refQueueTakes()));
            // A paused main loop takes again once it is resumed.
            game.setMainLoopTakes(true);
            game.note("resumed", str(game.waitUntil([&] { return slotValue() == 0; })));
        };
        const sim::Transcript t = sim::run(o);
        ASSERT_TRUE(t.completed) << t.text();
        EXPECT_EQ(t.note("cleared"), str(takes));
        EXPECT_EQ(t.note("takes"), takes ? "1" : "0");
        EXPECT_EQ(t.note("resumed"), "1");
        EXPECT_EQ(t.countCalls("main loop took ref#1 from refQueueSlot"), 1u);
    }
}

TEST(SimStandIns, AReferenceKeptPastItsLookupCrashesTheSession) {
    // A lookup and the first call on its reference are one action, however long the thread waited
    // between them; a second call after the game let go of the reference is a crash.
    sim::Options o = fixtureSession();
    o.script = [](sim::Game& game) {
        using Lookup = std::uint64_t __attribute__((ms_abi)) (*)(const std::uint32_t*, void**);
        using Axis = std::uint64_t
            __attribute__((ms_abi)) (*)(void*, std::uint32_t, void*, std::uint64_t, double);
        const sim::Ref ref = game.createRef();
        void* out = nullptr;
        gameFunction<Lookup>(0xAB60)(&ref.handle, &out);
        game.unloadRef(ref.handle);
        game.sleep(std::chrono::milliseconds(5));
        auto axis = gameFunction<Axis>(0xD3E600);
        axis(reinterpret_cast<void*>(game.scriptContext()), 0x1007, out, 'Z', 1.0);
        game.note("first call", "made");
        axis(reinterpret_cast<void*>(game.scriptContext()), 0x1007, out, 'Z', 2.0);
        game.note("second call", "made");
    };
    const sim::Transcript t = sim::run(o);
    EXPECT_FALSE(t.completed);
    EXPECT_EQ(t.note("first call"), "made");
    EXPECT_EQ(t.note("second call"), std::nullopt);
    ASSERT_EQ(t.errors.size(), 1u) << t.text();
    EXPECT_THAT(t.errors[0], HasSubstr("called on a reference the game has let go of: "
                                       "runAxisCommand(context, 0x1007, ref#1 (unloaded), ...); "
                                       "let go of "));
    EXPECT_THAT(t.errors[0], HasSubstr("ms before, looked up by this thread "));
}
