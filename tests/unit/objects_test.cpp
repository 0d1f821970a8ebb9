// The arithmetic of the object actions, checked without the game: move directions, the degree
// factor, the scale limits, and the turret test over base-form data laid out in memory.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "config/settings.h"
#include "feedback/workers.h"
#include "game/hooks.h"
#include "input/handlers.h"
#include "objects/handoff.h"
#include "objects/scale.h"
#include "objects/transforms.h"

using namespace freeplot;

namespace {

constexpr double kHalfPi = std::numbers::pi / 2;

}  // namespace

TEST(MoveDirections, ForthAndRightTurnWithTheHeading) {
    // Facing 0: forth is +Y, right is +X.
    EXPECT_EQ(forthOffset(0, 2).x, 0.0);
    EXPECT_EQ(forthOffset(0, 2).y, 2.0);
    EXPECT_EQ(rightOffset(0, 2).x, 2.0);
    EXPECT_EQ(rightOffset(0, 2).y, -0.0);
    // Facing pi/2: forth is +X, right is -Y (up to rounding of pi/2).
    EXPECT_DOUBLE_EQ(forthOffset(kHalfPi, 3).x, 3.0);
    EXPECT_NEAR(forthOffset(kHalfPi, 3).y, 0.0, 1e-15);
    EXPECT_NEAR(rightOffset(kHalfPi, 3).x, 0.0, 1e-15);
    EXPECT_DOUBLE_EQ(rightOffset(kHalfPi, 3).y, -3.0);
    // A negative distance (down, left, back) is the opposite direction.
    EXPECT_EQ(forthOffset(kHalfPi, -1).x, -forthOffset(kHalfPi, 1).x);
}

TEST(MoveDirections, DegreeFactorIsTheDoubleNearest180OverPi) {
    EXPECT_EQ(kDegreesPerRadian, 180.0 / std::numbers::pi);
    EXPECT_EQ(degrees(0.5f), 0.5 * 57.29577951308232);
    // A float's radians are widened before the product, not rounded after it.
    const float third = 1.0f / 3.0f;
    EXPECT_EQ(degrees(third), static_cast<double>(third) * kDegreesPerRadian);
}

TEST(ScalePercent, StepsWithinTenAndTheSixteenBitTop) {
    const ScaleChange down = ScaleChange::down, up = ScaleChange::up, reset = ScaleChange::reset;
    EXPECT_EQ(scaledPercent(12, 5, down), 10);  // 7 is below the floor
    EXPECT_EQ(scaledPercent(10, 1, down), 10);  // 9 is below the floor
    EXPECT_EQ(scaledPercent(15, 5, down), 10);  // exactly the floor
    EXPECT_EQ(scaledPercent(5, 1, down), 5);    // below the floor already: never raised
    EXPECT_EQ(scaledPercent(5, 1, up), 10);     // an increase is lifted to the floor
    EXPECT_EQ(scaledPercent(5, 0, up), 5);      // a step of 0 changes nothing
    EXPECT_EQ(scaledPercent(100, 25, up), 125);
    EXPECT_EQ(scaledPercent(250, 50, reset), 100);
    EXPECT_EQ(scaledPercent(65500, 50, up), 65535);  // kept at the top, not wrapped
    // Steps from the settings file may be negative or huge; the sum never overflows, and a
    // negative step never turns a key around.
    EXPECT_EQ(scaledPercent(100, -50, up), 100);
    EXPECT_EQ(scaledPercent(100, -50, down), 100);
    EXPECT_EQ(scaledPercent(100, 2147483647, up), 65535);
    EXPECT_EQ(scaledPercent(100, 2147483647, down), 10);
    EXPECT_EQ(scaledPercent(100, -2147483647 - 1, down), 100);
}

TEST(ApplyScale, WithoutHooksChangesNothingAndStillClearsBusyWhenAsked) {
    ASSERT_EQ(stubs.scaleCall, nullptr);
    alignas(16) std::uint8_t object[0x200] = {};
    const HeldRef held{0x00F00001, reinterpret_cast<GameReference*>(object)};
    workers.scaleBusy = 1;
    applyScale(held, 2.0, false);
    EXPECT_EQ(workers.scaleBusy, 1);
    applyScale(held, 2.0, true);
    EXPECT_EQ(workers.scaleBusy, 0);
    EXPECT_EQ(std::memcmp(object, std::vector<std::uint8_t>(sizeof object).data(), sizeof object),
              0);
}

namespace {

// A reference with its base form and the chain of nodes that leads to the base form's name.
struct ActorLayout {
    alignas(16) std::uint8_t reference[0x200] = {};
    alignas(16) std::uint8_t baseForm[0x200] = {};
    alignas(16) std::uint8_t names[0x40] = {};
    alignas(16) std::uint8_t nodes[4][0x100] = {};

    template <class T>
    static void put(std::uint8_t* at, T value) {
        std::memcpy(at, &value, sizeof value);
    }

    // An actor whose name node comes after `links` flagged nodes.
    ActorLayout(const char* name, int links) {
        reference[0x1A] = 0x41;
        put(reference + 0xE0, static_cast<void*>(baseForm));
        put(baseForm + 0x1B8, static_cast<void*>(names));
        put(names + 0x28, static_cast<void*>(nodes[0]));
        for (int i = 0; i < links; ++i) {
            put(nodes[i] + 8, std::uint32_t{0x4001});
            put(nodes[i] + 0x10, static_cast<void*>(nodes[i + 1]));
        }
        std::strcpy(reinterpret_cast<char*>(nodes[links] + 0x18), name);
    }
    const GameReference* ref() const { return reinterpret_cast<const GameReference*>(reference); }
};

}  // namespace

TEST(Turret, NameHoldsTurretInAnyCaseBehindItsLinks) {
    EXPECT_TRUE(isTurret(ActorLayout("turret", 0).ref()));
    EXPECT_TRUE(isTurret(ActorLayout("Heavy MachineGun TURRET", 3).ref()));
    EXPECT_FALSE(isTurret(ActorLayout("Settler", 2).ref()));
    EXPECT_FALSE(isTurret(ActorLayout("turre", 0).ref()));
    EXPECT_FALSE(isTurret(nullptr));

    // No actor: no turret, whatever its name says.
    ActorLayout object("turret", 0);
    object.reference[0x1A] = 0x20;
    EXPECT_FALSE(isTurret(object.ref()));
    EXPECT_TRUE(mayTransform(object.ref()));
    EXPECT_FALSE(mayTransform(ActorLayout("Settler", 0).ref()));
}

TEST(Turret, ANullOrLoopingChainAnywhereIsNoTurret) {
    ActorLayout noBase("turret", 0);
    ActorLayout::put(noBase.reference + 0xE0, static_cast<void*>(nullptr));
    EXPECT_FALSE(isTurret(noBase.ref()));

    ActorLayout noNames("turret", 0);
    ActorLayout::put(noNames.baseForm + 0x1B8, static_cast<void*>(nullptr));
    EXPECT_FALSE(isTurret(noNames.ref()));

    ActorLayout noFirstNode("turret", 0);
    ActorLayout::put(noFirstNode.names + 0x28, static_cast<void*>(nullptr));
    EXPECT_FALSE(isTurret(noFirstNode.ref()));

    ActorLayout brokenLink("turret", 2);
    ActorLayout::put(brokenLink.nodes[0] + 0x10, static_cast<void*>(nullptr));
    EXPECT_FALSE(isTurret(brokenLink.ref()));

    // A chain that loops back on itself ends, as no turret.
    ActorLayout loop("turret", 2);
    ActorLayout::put(loop.nodes[1] + 0x10, static_cast<void*>(loop.nodes[0]));
    EXPECT_FALSE(isTurret(loop.ref()));
}

TEST(KeyLookup, CodesMatchTheirActionsAndZeroMatchesNothing) {
    restoreDefaultSettings();
    prepareKeyLookup();
    auto has = [](std::uint16_t code, Action a) {
        return (actionsOf(code) >> static_cast<unsigned>(a)) & 1;
    };
    EXPECT_TRUE(has(104, Action::moveUp));
    EXPECT_TRUE(has(162, Action::changeRotateAxis) && has(163, Action::changeRotateAxis));
    // Most actions have no alternate (stored as 0): the code 0 is still no key.
    EXPECT_EQ(actionsOf(0), 0u);
    EXPECT_EQ(actionsOf('Q'), 0u);
    // Codes above 255 come only from a settings file and are looked up too.
    binding(Action::snap) = bindingForCode(0x1234);
    prepareKeyLookup();
    EXPECT_TRUE(has(0x1234, Action::snap));
    EXPECT_EQ(actionsOf(112), 0u);
    // Normalisation: Shift by scan code, Ctrl and Alt by the E0 flag.
    EXPECT_EQ(normalisedKey(16, 0x2A, 0), 160);
    EXPECT_EQ(normalisedKey(16, 0x36, 0), 161);
    EXPECT_EQ(normalisedKey(16, 0x10, 0), 0);
    EXPECT_EQ(normalisedKey(17, 0, 0), 162);
    EXPECT_EQ(normalisedKey(17, 0, 2), 163);
    EXPECT_EQ(normalisedKey(18, 0, 2), 165);
    EXPECT_EQ(normalisedKey(104, 0x48, 2), 104);
    restoreDefaultSettings();
    prepareKeyLookup();
}
