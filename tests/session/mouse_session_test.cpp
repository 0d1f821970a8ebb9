// The mouse handler in the simulated game, events fed through the game's own input routine and the
// executed mouse stub: the wheel turning the selected object by notches, and a held button
// turning it on a worker thread.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "session_support.h"
#include "sim/sim.h"

using ::testing::ElementsAre;

using namespace session;

namespace {

constexpr std::uint16_t kWheel = 0x0400, kLeftDown = 0x0001, kLeftUp = 0x0002, kRightDown = 0x0004,
                        kRightUp = 0x0008;

// What the game saw of an event and what the record held afterwards.
std::string seen(const sim::InputResult& r) {
    return std::to_string(r.seenButtonFlags) + "/" +
           std::to_string(static_cast<std::int16_t>(r.seenButtonData)) + " after " +
           std::to_string(r.buttonFlags) + "/" + std::to_string(r.buttonData) +
           (r.calleeRan ? "" : " (the game's call was skipped)");
}

// The angle commands recorded so far, with their times.
std::vector<sim::Timed> turns(sim::Game& game) {
    std::vector<sim::Timed> out;
    for (const sim::Timed& c : game.timedCalls())
        if (c.text.rfind("runAxisCommand(context, 0x1009", 0) == 0) out.push_back(c);
    return out;
}

// Waits until `count` turns have been recorded.
bool waitForTurns(sim::Game& game, std::size_t count) {
    return game.waitUntil([&] { return turns(game).size() >= count; });
}

// Waits until no turn has come for `quiet` (the worker has stopped).
bool waitUntilStill(sim::Game& game, std::chrono::milliseconds quiet) {
    std::size_t last = turns(game).size();
    auto lastChange = std::chrono::steady_clock::now();
    return game.waitUntil([&] {
        const std::size_t now = turns(game).size();
        if (now != last) {
            last = now;
            lastChange = std::chrono::steady_clock::now();
        }
        return std::chrono::steady_clock::now() - lastChange >= quiet;
    });
}

// How many threads made the turns, leaving out those made between `skipFrom` and `skipTo` (a
// key's turn, made on the input thread): one worker is one thread.
std::size_t threadsTurning(const std::vector<sim::Timed>& all, std::int64_t skipFrom = 0,
                           std::int64_t skipTo = -1) {
    std::set<std::size_t> threads;
    for (const sim::Timed& t : all)
        if (t.micros < skipFrom || t.micros > skipTo) threads.insert(t.thread);
    return threads.size();
}

}  // namespace

TEST(Mouse, WheelTurnsByWholeNotchesAndIsKeptFromTheGame) {
    sim::Options options;
    options.settings = "[main]\nwheelRotation = true\n[steps]\nrotateSteps = 2\n";
    options.script = [](sim::Game& game) {
        const sim::Ref ref = selectNew(game);
        game.note("up", seen(game.mouseEvent(kWheel, 120)));
        game.note("up3", seen(game.mouseEvent(kWheel, 360)));
        game.note("down", seen(game.mouseEvent(kWheel, -120)));
        game.note("half", seen(game.mouseEvent(kWheel, 60)));
        // With the wheel in use, the buttons are the game's.
        game.note("button", seen(game.mouseEvent(kLeftDown)));
        game.note("move", seen(game.mouseEvent(0)));
        // Nothing selected, outside workshop mode, or the workshop busy: untouched.
        game.selectRef(0);
        game.note("untouched", seen(game.mouseEvent(kWheel, 120)));
        game.selectRef(ref.handle);
        game.setWorkshopState(1);
        game.note("untouched", seen(game.mouseEvent(kWheel, 120)));
        game.setWorkshopState(0);
        game.setWorkshopMode(false);
        game.note("untouched", seen(game.mouseEvent(kWheel, 120)));
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    for (const char* taken : {"up", "up3", "down", "half"})
        EXPECT_EQ(t.note(taken), "0/0 after 0/0") << taken;
    EXPECT_EQ(t.note("button"), "1/0 after 1/0");
    EXPECT_EQ(t.note("move"), "0/0 after 0/0");
    EXPECT_THAT(t.notesFor("untouched"),
                ElementsAre("1024/120 after 1024/120", "1024/120 after 1024/120",
                            "1024/120 after 1024/120"));
    // +1, then +3 steps in one command, then -1; half a notch turns nothing. The sim keeps the
    // angle in radians as a float, so each command starts from the value read back.
    const auto commands = axisCommands(t.calls);
    ASSERT_EQ(commands.size(), 3u) << t.text();
    auto next = [](double degrees, double delta) {
        const float radians = static_cast<float>(degrees * 0.017453292519943295);
        return static_cast<double>(radians) * kDegrees + delta;
    };
    const double a = 2, b = next(a, 6), c = next(b, -2);
    EXPECT_THAT(commands,
                ElementsAre(angleCall(1, 'Z', a), angleCall(1, 'Z', b), angleCall(1, 'Z', c)));
}

TEST(Mouse, AHeldButtonTurnsTheObjectOnOneWorker) {
    sim::Options options;
    options.script = [](sim::Game& game) {
        sim::Ref ref = selectNew(game);
        game.note("leftDown", seen(game.mouseEvent(kLeftDown)));
        waitForTurns(game, 3);
        // The right button while the left is held: the same worker turns the other way.
        game.mouseEvent(kRightDown);
        const std::size_t atRight = turns(game).size();
        const float angleAtRight = ref.rot(2);
        waitForTurns(game, atRight + 3);
        // The right button's release stops it, although the left one is still held; the left
        // one's later release changes nothing.
        game.note("rightUp", seen(game.mouseEvent(kRightUp)));
        waitUntilStill(game, std::chrono::milliseconds(150));
        game.mouseEvent(kLeftUp);
        const auto all = turns(game);
        game.note("turnedBack", std::to_string(ref.rot(2) < angleAtRight));
        game.note("threads", std::to_string(threadsTurning(all)));
        game.note("turns", std::to_string(all.size()));

        // A key or a wheel-less turn while the worker runs never starts a second worker.
        game.mouseEvent(kLeftDown);
        waitForTurns(game, all.size() + 2);
        const std::size_t beforeKey = turns(game).size();
        const std::int64_t keyFrom = sim::Game::now();
        tap(game, key::rotateRight);
        const std::int64_t keyTo = sim::Game::now();
        game.mouseEvent(kLeftDown);  // the button again: the running worker takes it
        waitForTurns(game, beforeKey + 5);
        game.mouseEvent(kLeftUp);
        waitUntilStill(game, std::chrono::milliseconds(150));
        const auto later = turns(game);
        game.note("threadsWithKey",
                  std::to_string(threadsTurning(
                      {later.begin() + static_cast<long>(all.size()), later.end()}, keyFrom, keyTo)));

        // The game sees the releases of the presses it saw (nothing selected, the workshop
        // busy), though an object is selected and turned by then.
        game.selectRef(0);
        game.mouseEvent(kLeftDown);
        game.selectRef(ref.handle);
        game.setWorkshopState(1);
        game.mouseEvent(kRightDown);
        game.setWorkshopState(0);
        game.note("seenUp", seen(game.mouseEvent(kLeftUp)));
        game.mouseEvent(kLeftDown);
        game.note("seenBoth", seen(game.mouseEvent(kRightUp | kLeftUp)));
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_EQ(t.note("leftDown"), "0/0 after 0/0");
    EXPECT_EQ(t.note("rightUp"), "0/0 after 0/0");
    // One worker: every turn of a hold comes from one thread, the key's own turn aside.
    EXPECT_EQ(t.note("threads"), "1");
    EXPECT_EQ(t.note("threadsWithKey"), "1");
    // Up first, then down: at least 3 turns each way.
    EXPECT_GE(std::stoi(*t.note("turns")), 6);
    EXPECT_EQ(t.note("turnedBack"), "1");
    EXPECT_EQ(t.note("seenUp"), "2/0 after 2/0");
    EXPECT_EQ(t.note("seenBoth"), "8/0 after 8/0");
}

TEST(Mouse, TheWorkerStopsWhenWorkshopModeEndsOrItsObjectIsDeleted) {
    sim::Options options;
    options.settings = "[dangerous]\ndeleteEnabled = true\n";
    options.script = [](sim::Game& game) {
        // The release ends the turning whatever the game does meanwhile: the crosshair left the
        // object, input is ignored, or the game let go of the object.
        const auto heldThen = [&](const char* name, const std::function<void()>& meanwhile) {
            const sim::Ref ref = selectNew(game);
            game.mouseEvent(kLeftDown);
            waitForTurns(game, turns(game).size() + 2);
            meanwhile();
            const sim::InputResult up = game.mouseEvent(kLeftUp);
            const std::size_t atRelease = turns(game).size();
            waitUntilStill(game, std::chrono::milliseconds(150));
            game.note(name, std::to_string(turns(game).size() - atRelease) + " " + seen(up));
            game.setInputIgnore(false);
            (void)ref;
        };
        heldThen("nothingSelected", [&] { game.selectRef(0); });
        heldThen("inputIgnored", [&] { game.setInputIgnore(true); });
        std::uint32_t unloaded = 0;
        heldThen("unloaded", [&] {
            unloaded = game.selectedRefHandle();
            game.unloadRef(unloaded);
            waitUntilStill(game, std::chrono::milliseconds(150));
        });

        selectNew(game);
        game.mouseEvent(kLeftDown);
        waitForTurns(game, 2);
        game.setWorkshopMode(false);
        const std::size_t atEnd = turns(game).size();
        waitUntilStill(game, std::chrono::milliseconds(150));
        // At most the turn that was under way when the mode ended.
        game.note("afterEnd", std::to_string(turns(game).size() - atEnd));
        // The button state went back to none: a release of the other button starts nothing.
        game.setWorkshopMode(true);
        game.mouseEvent(kRightUp);
        const std::size_t still = turns(game).size();
        waitUntilStill(game, std::chrono::milliseconds(150));
        game.note("afterOtherRelease", std::to_string(turns(game).size() - still));

        // Deleting the object stops the worker before its next turn. The delete worker deletes
        // it when its turn comes, which under load can be some turns after the key: the turns
        // are counted from the game's delete call.
        game.mouseEvent(kLeftDown);
        waitForTurns(game, still + 2);
        tap(game, key::remove);
        auto deletedAt = [&]() -> std::optional<std::int64_t> {
            for (const sim::Timed& c : game.timedCalls())
                if (c.text.rfind("refCommandExecute2(", 0) == 0) return c.micros;
            return std::nullopt;
        };
        game.waitUntil([&] { return deletedAt().has_value(); });
        waitUntilStill(game, std::chrono::milliseconds(150));
        std::size_t afterDelete = 0;
        for (const sim::Timed& c : turns(game)) afterDelete += c.micros > deletedAt().value_or(0);
        game.note("afterDelete", std::to_string(afterDelete));
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    // At most the turn under way; the game sees the release whenever nothing takes it over.
    EXPECT_THAT(t.note("nothingSelected"),
                ::testing::Optional(::testing::MatchesRegex("[01] 2/0 after 2/0")));
    EXPECT_THAT(t.note("inputIgnored"),
                ::testing::Optional(::testing::MatchesRegex("[01] 2/0 after 2/0")));
    EXPECT_THAT(t.note("unloaded"),
                ::testing::Optional(::testing::MatchesRegex("0 2/0 after 2/0")));
    EXPECT_LE(std::stoi(*t.note("afterEnd")), 1);
    EXPECT_EQ(t.note("afterOtherRelease"), "0");
    EXPECT_LE(std::stoi(*t.note("afterDelete")), 1);
    EXPECT_EQ(t.countCalls("refCommandExecute2("), 1u);
}

TEST(Mouse, HeldButtonScaleAndUndoTogether) {
    sim::Options options;
    options.script = [](sim::Game& game) {
        sim::Ref ref = selectNew(game);
        game.mouseEvent(kLeftDown);
        for (int i = 0; i < 200; ++i) {
            const std::uint16_t keys[] = {key::scaleUp, key::undo, key::moveUp, key::leftCtrl,
                                          key::rotateStepPlus};
            tap(game, keys[i % 5]);
            game.sleep(std::chrono::milliseconds(1));
        }
        game.mouseEvent(kLeftUp);
        waitUntilStill(game, std::chrono::milliseconds(150));
        game.note("scale", std::to_string(ref.scale() >= 100));
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_EQ(t.note("scale"), "1");
    EXPECT_TRUE(t.errors.empty());
    EXPECT_TRUE(t.stderrLines.empty()) << t.text();
}
