// The undo key in the simulated game: what the history keeps, and what an undo writes back.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session_support.h"
#include "sim/sim.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using namespace session;

namespace {

std::string position(const sim::Ref& ref) {
    char text[96];
    std::snprintf(text, sizeof text, "%g %g %g", ref.pos(0), ref.pos(1), ref.pos(2));
    return text;
}

// The axis commands made since `from` calls were recorded.
std::vector<std::string> commandsSince(sim::Game& game, std::size_t from) {
    return axisCommands(game.calls(from));
}

}  // namespace

TEST(Undo, RepeatedChangesShareARecordAndUndoGoesBackInOrder) {
    sim::Options options;
    options.script = [](sim::Game& game) {
        game.setHeading(0.0f);
        sim::Ref ref = selectNew(game, at(10, 20, 100));
        for (int i = 0; i < 5; ++i) tap(game, key::moveUp);
        game.note("moved", position(ref));
        // One record for the five presses: one undo puts the object back.
        tap(game, key::undo);
        game.note("undone", position(ref));
        // Up, then right: two records; the first undo restores X and Y, the second Z.
        tap(game, key::moveUp);
        tap(game, key::moveRight);
        game.note("moved2", position(ref));
        std::size_t from = game.callCount();
        tap(game, key::undo);
        game.note("undo1", std::to_string(commandsSince(game, from).size()) + ": " + position(ref));
        from = game.callCount();
        tap(game, key::undo);
        game.note("undo2", std::to_string(commandsSince(game, from).size()) + ": " + position(ref));
        // Nothing left: an undo does nothing and shows nothing.
        from = game.callCount();
        tap(game, key::undo);
        game.note("empty", std::to_string(commandsSince(game, from).size()));
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_EQ(t.note("moved"), "10 20 105");
    EXPECT_EQ(t.note("undone"), "10 20 100");
    EXPECT_EQ(t.note("moved2"), "11 20 101");
    EXPECT_EQ(t.note("undo1"), "2: 10 20 101");
    EXPECT_EQ(t.note("undo2"), "1: 10 20 100");
    EXPECT_EQ(t.note("empty"), "0");
    EXPECT_THAT(t.messages, IsEmpty());
}

TEST(Undo, KeepsTheTenNewestRecords) {
    sim::Options options;
    options.script = [](sim::Game& game) {
        sim::Ref a = selectNew(game, at(0, 0, 0));
        sim::Ref b = game.createRef(at(0, 0, 0));
        // Twelve changes alternating between two objects: twelve records, of which ten stay.
        for (int i = 0; i < 12; ++i) {
            game.selectRef(i % 2 ? b.handle : a.handle);
            tap(game, key::moveUp);
        }
        int undone = 0;
        for (int i = 0; i < 12; ++i) {
            const std::size_t from = game.callCount();
            tap(game, key::undo);
            undone += commandsSince(game, from).empty() ? 0 : 1;
        }
        game.note("undone", std::to_string(undone));
        // The two oldest records (a at 0, b at 0) are gone: both stay one step up.
        game.note("left", position(a) + " | " + position(b));
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_EQ(t.note("undone"), "10");
    EXPECT_EQ(t.note("left"), "0 0 1 | 0 0 1");
}

TEST(Undo, CopyAllWithABusyScaleWorkerAndItsUndo) {
    sim::Options options;
    options.script = [](sim::Game& game) {
        sim::RefLayout layout = at(1, 2, 3);
        layout.rotation[0] = 0.1f;
        layout.rotation[1] = 0.2f;
        layout.rotation[2] = 0.3f;
        layout.scale = 80;
        selectNew(game, layout);
        tap(game, key::copyState);
        sim::Ref target = selectNew(game, at(7, 8, 9));

        // A scale worker waits for the game (busy): copyAll needs it for its scale, so it
        // changes nothing at all (no half copy without the scale).
        game.setMainLoopTakes(false);
        tap(game, key::scaleUp);
        game.waitUntil([&] { return target.scale() == 110; });
        std::size_t from = game.callCount();
        tap(game, key::copyAll);
        game.note("copyAll while busy", std::to_string(commandsSince(game, from).size()));
        game.setMainLoopTakes(true);
        // The worker's message comes half a second after it let go of its busy byte.
        waitForMessages(game, 2);
        from = game.callCount();
        tap(game, key::copyAll);
        game.waitUntil([&] { return target.scale() == 80; });
        game.note("copyAll", std::to_string(commandsSince(game, from).size()));

        // Undoing the copy writes positions, angles, then (on a worker) the scale before it. Its
        // worker lets go a moment after the game took the object; until then an undo does
        // nothing and is pressed again, as a player would.
        from = game.callCount();
        for (int presses = 0; presses < 50 && commandsSince(game, from).empty(); ++presses) {
            tap(game, key::undo);
            game.waitUntil([&] { return !commandsSince(game, from).empty(); },
                           std::chrono::milliseconds(100));
        }
        game.waitUntil([&] { return commandsSince(game, from).size() == 7; });
        const auto undone = commandsSince(game, from);
        for (const auto& c : undone) game.note("undone", c);
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_EQ(t.note("copyAll while busy"), "0");
    EXPECT_EQ(t.note("copyAll"), "7");
    EXPECT_THAT(t.messages, ElementsAre("Object parameters stored", "Scale set to 110%"));
    EXPECT_THAT(t.notesFor("undone"),
                ElementsAre(moveCall(2, 'X', 7), moveCall(2, 'Y', 8), moveCall(2, 'Z', 9),
                            angleCall(2, 'X', 0), angleCall(2, 'Y', 0), angleCall(2, 'Z', 0),
                            "runAxisCommand(context, 0x113C, ref#2, scale 1.100000023841858)"));
}

TEST(Undo, RotationsAndAngleFixesComeBack) {
    sim::Options options;
    options.script = [](sim::Game& game) {
        sim::RefLayout layout;
        layout.rotation[0] = 0.1f;
        layout.rotation[1] = 0.2f;
        layout.rotation[2] = 0.3f;
        sim::Ref ref = selectNew(game, layout);
        auto angles = [&] {
            char text[96];
            std::snprintf(text, sizeof text, "%.5f %.5f %.5f", ref.rot(0), ref.rot(1), ref.rot(2));
            return std::string(text);
        };
        tap(game, key::rotateRight);  // Z by one degree
        tap(game, key::resetAngles);  // X and Y to 0
        game.note("changed", angles());
        tap(game, key::undo);  // the fix: X and Y come back
        game.note("undo1", angles());
        tap(game, key::undo);  // the rotation
        game.note("undo2", angles());
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_EQ(t.note("changed"), "0.00000 0.00000 0.31745");
    EXPECT_EQ(t.note("undo1"), "0.10000 0.20000 0.31745");
    EXPECT_EQ(t.note("undo2"), "0.10000 0.20000 0.30000");
}

TEST(Undo, AScaleRecordWaitsForABusyScaleWorker) {
    sim::Options options;
    options.script = [](sim::Game& game) {
        sim::Ref ref = selectNew(game);
        tap(game, key::scaleUp);  // record 1: scale 100
        game.waitUntil([&] { return ref.scale() == 110; });
        waitForMessages(game, 1);
        // The next scale worker cannot finish while the game does not take its hand-off.
        game.setMainLoopTakes(false);
        tap(game, key::scaleUp);
        game.waitUntil([&] { return ref.scale() == 120; });
        // The scale record finds the worker busy: nothing changes and it stays on the history...
        tap(game, key::undo);
        game.note("whileBusy", std::to_string(ref.scale()));
        game.setMainLoopTakes(true);
        waitForMessages(game, 2);
        // ...so the next undo applies it.
        tap(game, key::undo);
        game.waitUntil([&] { return ref.scale() == 100; });
        game.note("after", std::to_string(ref.scale()));
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_EQ(t.note("whileBusy"), "120");
    EXPECT_EQ(t.note("after"), "100");
}

TEST(Undo, ObjectsTheGameLetGoOfLeaveNothingToUndo) {
    sim::Options options;
    options.settings = "[dangerous]\ndeleteEnabled = true\n";
    options.script = [](sim::Game& game) {
        sim::Ref a = selectNew(game, at(0, 0, 0));
        tap(game, key::moveUp);
        sim::Ref b = selectNew(game, at(0, 0, 0));
        tap(game, key::moveUp);
        tap(game, key::remove);
        game.waitUntil([&] { return !callsStarting(game.calls(), "refCommandExecute2").empty(); });
        // b's record is gone; the undo goes to a's.
        const std::size_t from = game.callCount();
        tap(game, key::undo);
        const auto undone = commandsSince(game, from);
        game.note("undo", undone.empty() ? "none" : undone[0]);
        (void)b;

        // The game unloads a changed object: its record is dropped by the next undo, which sends
        // nothing (a call on it would crash the session), and the undo after goes on before it.
        sim::Ref c = selectNew(game, at(0, 0, 0));
        tap(game, key::moveUp);
        tap(game, key::rotateRight);  // its record: c's angle
        game.unloadRef(c.handle);
        game.sleep(std::chrono::milliseconds(5));  // well past the moment it was let go of
        std::size_t since = game.callCount();
        tap(game, key::undo);
        game.note("unloaded", std::to_string(commandsSince(game, since).size()));
        since = game.callCount();
        tap(game, key::undo);  // c's move: dropped too
        tap(game, key::undo);  // a's record was undone above: nothing is left
        game.note("after", std::to_string(commandsSince(game, since).size()));
        (void)a;
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_EQ(t.note("undo"), moveCall(1, 'Z', 0));
    EXPECT_EQ(t.note("unloaded"), "0");
    EXPECT_EQ(t.note("after"), "0");
    EXPECT_TRUE(t.errors.empty()) << t.text();
}
