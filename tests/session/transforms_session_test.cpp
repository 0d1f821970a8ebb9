// What the object keys do to the selected object in the simulated game: the axis commands they
// send, in order and with which values, and which objects they leave alone.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "session_support.h"
#include "sim/sim.h"

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

using namespace session;

namespace {

constexpr double kHalfPi = 1.5707963267948966;

std::vector<std::string> commandsOf(const sim::Transcript& t) { return axisCommands(t.calls); }

}  // namespace

TEST(Moves, FollowTheHeadingInTheirOrder) {
    sim::Options options;
    options.settings = "[steps]\nmoveSteps = 1 10\nmoveStepIdx = 1\n";
    options.script = [](sim::Game& game) {
        game.setHeading(0.0f);
        selectNew(game, at(5, 7, 100));
        tap(game, key::moveForth);  // Y first, then X
        tap(game, key::moveRight);  // X first, then Y
        tap(game, key::moveBack);
        tap(game, key::moveLeft);
        game.setHeading(static_cast<float>(kHalfPi));
        tap(game, key::moveForth);  // now along X
        tap(game, key::moveStepPlus);
        tap(game, key::moveUp);  // world Z, step 10
        tap(game, key::moveDown);
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    const std::vector<std::string> c = commandsOf(t);
    ASSERT_EQ(c.size(), 12u) << t.text();
    EXPECT_EQ(c[0], moveCall(1, 'Y', 8));
    EXPECT_EQ(c[1], moveCall(1, 'X', 5));
    EXPECT_EQ(c[2], moveCall(1, 'X', 6));
    EXPECT_EQ(c[3], moveCall(1, 'Y', 8));
    EXPECT_EQ(c[4], moveCall(1, 'Y', 7));
    EXPECT_EQ(c[5], moveCall(1, 'X', 6));
    EXPECT_EQ(c[6], moveCall(1, 'X', 5));
    EXPECT_EQ(c[7], moveCall(1, 'Y', 7));
    // Heading pi/2 (as the game's float holds it): forth is +X; Y changes only by rounding.
    const double h = static_cast<float>(kHalfPi);
    EXPECT_EQ(c[8], moveCall(1, 'Y', std::cos(h) + 7));
    EXPECT_EQ(c[9], moveCall(1, 'X', std::sin(h) + 5));
    EXPECT_NEAR(std::cos(h), 0.0, 1e-7);
    EXPECT_EQ(c[10], moveCall(1, 'Z', 110));
    EXPECT_EQ(c[11], moveCall(1, 'Z', 100));
    EXPECT_THAT(t.messages, ElementsAre("Movement step changed to 10.0"));
}

TEST(Moves, NeedAHeadingOnlyToMoveSideways) {
    sim::Options options;
    options.script = [](sim::Game& game) {
        game.set<std::uint64_t>(sim::loc::rotationBasePtr, 0);  // no player yet
        selectNew(game, at(0, 0, 0));
        tap(game, key::moveForth);
        tap(game, key::moveRight);
        tap(game, key::moveUp);
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_THAT(commandsOf(t), ElementsAre(moveCall(1, 'Z', 1)));
}

TEST(Angles, LevelRemoveTremorAndRotateAboutTheChosenAxis) {
    sim::Options options;
    options.settings = "[steps]\nrotateSteps = 15\n";
    options.script = [](sim::Game& game) {
        sim::RefLayout layout;
        layout.rotation[0] = static_cast<float>(10 / kDegrees);
        layout.rotation[1] = static_cast<float>(20 / kDegrees);
        layout.rotation[2] = static_cast<float>(30 / kDegrees);
        selectNew(game, layout);
        tap(game, key::removeTremor);  // writes the X angle back as it is
        tap(game, key::resetAngles);   // X and Y to 0, Z kept

        layout.rotation[1] = 0.5f;
        selectNew(game, layout);
        tap(game, key::leftCtrl);  // axis X
        tap(game, key::leftCtrl);  // axis Y
        tap(game, key::rotateLeft);
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    const double x = static_cast<double>(static_cast<float>(10 / kDegrees)) * kDegrees;
    EXPECT_THAT(commandsOf(t),
                ElementsAre(angleCall(1, 'X', x), angleCall(1, 'X', 0), angleCall(1, 'Y', 0),
                            angleCall(2, 'Y', 0.5 * kDegrees - 15)));
    EXPECT_THAT(t.messages, ElementsAre("Axis changed to X", "Axis changed to Y"));
}

TEST(StoredParameters, CopyOntoAnotherObjectAxisByAxis) {
    sim::Options options;
    options.script = [](sim::Game& game) {
        sim::RefLayout layout = at(1, 2, 3);
        layout.rotation[2] = 0.25f;
        layout.scale = 150;
        sim::Ref source = game.createRef(layout);
        sim::Ref target = selectNew(game, at(9, 9, 9));
        // Nothing stored yet: the copy keys do nothing.
        tap(game, key::copyAngleZ);
        tap(game, key::copyAll);
        // Nothing selected: nothing is stored, and no message says it was.
        game.selectRef(0);
        tap(game, key::copyState);
        game.selectRef(target.handle);
        tap(game, key::copyPosX);
        game.selectRef(source.handle);
        tap(game, key::copyState);
        game.selectRef(target.handle);
        tap(game, key::copyAngleZ);
        tap(game, key::copyScale);
        game.waitUntil([&] { return target.scale() == 150; });
        // An actor takes no stored parameters.
        sim::RefLayout actor;
        actor.formType = 0x41;
        actor.baseText = "Turret";
        selectNew(game, actor);
        tap(game, key::copyPosX);
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_THAT(t.messages, ElementsAre("Object parameters stored"));
    const double z = static_cast<double>(static_cast<float>(0.25 * kDegrees));
    EXPECT_THAT(commandsOf(t), ElementsAre(angleCall(2, 'Z', z),
                                           "runAxisCommand(context, 0x113C, ref#2, scale 1.5)"));
}

TEST(StoredParameters, CopyAllSendsSixCommandsThenTheScale) {
    sim::Options options;
    options.script = [](sim::Game& game) {
        sim::RefLayout layout = at(1, 2, 3);
        layout.rotation[0] = 0.5f;
        layout.scale = 50;
        selectNew(game, layout);
        tap(game, key::copyState);
        sim::Ref target = selectNew(game);
        tap(game, key::copyAll);
        game.waitUntil([&] { return target.scale() == 50; });
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    const double x = static_cast<double>(static_cast<float>(0.5 * kDegrees));
    EXPECT_THAT(commandsOf(t),
                ElementsAre(moveCall(2, 'X', 1), moveCall(2, 'Y', 2), moveCall(2, 'Z', 3),
                            angleCall(2, 'X', x), angleCall(2, 'Y', 0), angleCall(2, 'Z', 0),
                            "runAxisCommand(context, 0x113C, ref#2, scale 0.5)"));
}

TEST(ActorGate, OnlyTurretsAmongActorsAreMovedTurnedOrLocked) {
    struct Case {
        const char* name;
        std::uint8_t formType;
        std::optional<std::string> baseText;
        int links;
        bool baseForm;
        bool acted;
    };
    const Case cases[] = {
        {"object", 0x20, std::nullopt, 0, true, true},
        {"turret", 0x41, "Machinegun TURRET mk2", 3, true, true},
        {"settler", 0x41, "Settler", 0, true, false},
        {"actor without a name", 0x41, std::nullopt, 0, true, false},
        {"actor without a base form", 0x41, std::nullopt, 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Options options;
        options.script = [&c](sim::Game& game) {
            sim::RefLayout layout;
            layout.formType = c.formType;
            layout.baseText = c.baseText;
            layout.baseLinks = c.links;
            layout.baseForm = c.baseForm;
            selectNew(game, layout);
            tap(game, key::moveUp);
            tap(game, key::rotateRight);
            tap(game, key::resetAngles);
            tap(game, key::lock);
            tap(game, key::physicsOff);
        };
        const sim::Transcript t = sim::run(options);
        ASSERT_TRUE(t.completed) << t.text();
        EXPECT_EQ(commandsOf(t).size(), c.acted ? 4u : 0u);
        EXPECT_EQ(t.countCalls("hudMessageFunction(\"Object locked\""), c.acted ? 1u : 0u);
        // Physics refuses every actor.
        EXPECT_EQ(t.countCalls("physicsToggleFunction("), c.formType == 0x41 ? 0u : 1u);
    }
}

TEST(PhysicsAndDuplicate, SendTheirRequests) {
    sim::Options options;
    options.settings = "[cheats]\nduplicateEnabled = true\n";
    options.script = [](sim::Game& game) {
        selectNew(game);
        tap(game, key::physicsOff);
        tap(game, key::physicsOn);
        tap(game, key::duplicate);
        game.selectRef(0);
        tap(game, key::physicsOn);
        tap(game, key::duplicate);
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_THAT(t.messages, ElementsAre("Object physics off", "Object physics on"));
    EXPECT_THAT(callsStarting(t.calls, "physicsToggleFunction("),
                ElementsAre("physicsToggleFunction({0, 1, 0x00F00001, 2, 0, 1}, out=0)",
                            "physicsToggleFunction({0, 1, 0x00F00001, 1, 0, 1}, out=0)"));
    EXPECT_THAT(callsStarting(t.calls, "refCommandExecute("),
                ElementsAre("refCommandExecute(0, 0, ref#1, 0, 0, 0, &0, 0)"));
}
