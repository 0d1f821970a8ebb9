// The keyboard dispatcher in the simulated game, events fed through the game's own input routine
// and the executed keyboard stub: which events reach the game, which actions run, and the
// messages they show.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session_support.h"
#include "sim/sim.h"

using ::testing::ElementsAre;

using namespace session;

namespace {

// "press repeat release" as what reached the game: "g" the game's call ran, "-" it was skipped.
std::string reached(sim::Game& game, std::uint16_t vkey, std::uint16_t scanCode = 0,
                    std::uint16_t flags = 0) {
    std::string out;
    out += game.keyboardEvent(vkey, scanCode, flags).calleeRan ? "g" : "-";
    out += game.keyboardEvent(vkey, scanCode, flags).calleeRan ? "g" : "-";
    out += game.keyboardEvent(vkey, scanCode, static_cast<std::uint16_t>(flags | 1)).calleeRan
               ? "g"
               : "-";
    return out;
}

}  // namespace

TEST(Keyboard, BoundKeysAreKeptFromTheGameOnlyInWorkshopMode) {
    sim::Options options;
    options.settings = "[main]\nautoTimescaleEnabled = true\n";
    options.script = [](sim::Game& game) {
        sim::Ref ref = selectNew(game, at(0, 0, 0));
        game.note("bound", reached(game, key::moveUp));
        game.note("unbound", reached(game, 'Q'));
        game.note("z", std::to_string(ref.pos(2)));
        // The clock is slowed on the first event in workshop mode, whatever the key.
        game.note("clockIn", std::to_string(game.timeMultiplier()));

        game.setInputIgnore(true);
        game.note("ignored", reached(game, key::moveUp));
        game.setInputIgnore(false);

        game.setWorkshopMode(false);
        game.note("outside", reached(game, key::moveUp));
        // Outside workshop mode the clock is given back on the next key, bound or not.
        game.note("clockOut", std::to_string(game.timeMultiplier()));
        game.note("zAfter", std::to_string(ref.pos(2)));
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_EQ(t.note("bound"), "--g");  // press and auto-repeat kept, release goes on
    EXPECT_EQ(t.note("unbound"), "ggg");
    EXPECT_EQ(t.note("ignored"), "ggg");
    EXPECT_EQ(t.note("outside"), "ggg");
    EXPECT_EQ(t.note("z"), "1.000000");  // the action ran once, on the release
    EXPECT_EQ(t.note("zAfter"), "1.000000");
    EXPECT_EQ(t.note("clockIn"), "0.010000");
    EXPECT_EQ(t.note("clockOut"), "1.000000");
}

TEST(Keyboard, GatesLetAKeyFallThroughToALaterRow) {
    sim::Options options;
    // F8 is both the mode key (shut with togglable 0) and the extra selection key; numpad 8 is
    // both moveUp and physicsOn.
    options.settings = "[keys]\nphysicsOn = 104\nextraOutlineToggle = 119\n";
    options.script = [](sim::Game& game) {
        selectNew(game, at(0, 0, 0));
        game.note("duplicate", reached(game, key::duplicate));
        tap(game, key::mode);    // the mode row is shut: the extra selection toggles instead
        tap(game, key::moveUp);  // moves
        game.setWorkshopState(1);
        tap(game, key::moveUp);   // moving waits while the workshop is busy: physics on
        tap(game, key::copyAll);  // nothing stored, and busy anyway: nothing
        tap(game, key::undo);
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_EQ(t.note("duplicate"), "--g");  // consumed, but duplicating is switched off
    EXPECT_EQ(t.countCalls("refCommandExecute("), 0u);
    EXPECT_THAT(t.messages, ElementsAre("Extra object selection enabled", "Object physics on"));
    EXPECT_THAT(axisCommands(t.calls), ElementsAre(moveCall(1, 'Z', 1)));
}

TEST(Keyboard, StepKeysCycleWithWrapAroundAndShowTheNewStep) {
    sim::Options options;
    options.script = [](sim::Game& game) {
        game.setWorkshopMode(true);
        tap(game, key::rotateStepPlus);  // 1 -> 5
        tap(game, key::moveStepMinus);   // 1 -> 0.5
        tap(game, key::scaleStepMinus);  // 10 -> 25 (the scale list runs the other way)
        for (int i = 0; i < 4; ++i) tap(game, key::rotateStepPlus);  // ... 90, then 0.1
        tap(game, key::rotateStepMinus);                             // back to 90
        tap(game, key::scaleStepPlus);                               // 25 -> 10
        for (int i = 0; i < 3; ++i) tap(game, key::scaleStepPlus);   // 5, 1, then 50
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_THAT(t.messages,
                ElementsAre("Rotation step changed to 5.0", "Movement step changed to 0.5",
                            "Scale step changed to 25%", "Rotation step changed to 15.0",
                            "Rotation step changed to 45.0", "Rotation step changed to 90.0",
                            "Rotation step changed to 0.1", "Rotation step changed to 90.0",
                            "Scale step changed to 10%", "Scale step changed to 5%",
                            "Scale step changed to 1%", "Scale step changed to 50%"));
}

TEST(Keyboard, TiesInsideARowAndModifierKeys) {
    sim::Options options;
    // One key for both directions of each pair; the axis key on right Shift only.
    options.settings =
        "[keys]\nrotateLeft = 65\nrotateRight = 65\nphysicsOn = 66\nphysicsOff = 66\n"
        "rotateStepMinus = 67\nrotateStepPlus = 67\nscaleStepMinus = 68\nscaleStepPlus = 68\n"
        "changeRotateAxis = 161\nmoveUp = 69\nmoveLeft = 69\n";
    options.script = [](sim::Game& game) {
        selectNew(game);
        tap(game, 'A');       // rotateLeft wins: -1 step
        tap(game, 'B');       // physicsOn wins
        tap(game, 'C');       // plus wins: 1 -> 5
        tap(game, 'D');       // scaleStepMinus wins: 10 -> 25
        tap(game, 'E');       // up and down before sideways, and left goes backwards: Z - 1
        tap(game, 16, 0x2A);  // left Shift: no binding now
        tap(game, 16, 0x36);  // right Shift: the axis key
        // Right Ctrl (Ctrl with the E0 flag) and left Ctrl are the default axis key's codes no
        // more; a Shift whose scan code maps to no key is code 0, which no binding matches,
        // although most alternates are 0.
        game.note("ctrl", reached(game, 17, 0, 2));
        game.note("noKey", reached(game, 16, 0x10));
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_THAT(axisCommands(t.calls), ElementsAre(angleCall(1, 'Z', -1), moveCall(1, 'Z', -1)));
    EXPECT_THAT(callsStarting(t.calls, "physicsToggleFunction("),
                ElementsAre("physicsToggleFunction({0, 1, 0x00F00001, 1, 0, 1}, out=0)"));
    EXPECT_THAT(t.messages, ElementsAre("Object physics on", "Rotation step changed to 5.0",
                                        "Scale step changed to 25%", "Axis changed to X"));
    EXPECT_EQ(t.note("ctrl"), "ggg");
    EXPECT_EQ(t.note("noKey"), "ggg");
}

TEST(Keyboard, AxisKeyCyclesThroughXYZWithEitherCtrl) {
    sim::Options options;
    options.settings = "[messages]\naxisChange = Axis: %c\n";
    options.script = [](sim::Game& game) {
        game.setWorkshopMode(true);
        tap(game, 17);        // left Ctrl
        tap(game, 17, 0, 2);  // right Ctrl
        tap(game, key::leftCtrl);
        tap(game, 163);
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_THAT(t.messages, ElementsAre("Axis: X", "Axis: Y", "Axis: Z", "Axis: X"));
}

TEST(Keyboard, EveryToggleShowsItsMessageAndSwitchesBack) {
    sim::Options options;
    options.settings = "[main]\ntogglable = 1\n";
    options.script = [](sim::Game& game) {
        game.setWorkshopMode(true);
        game.setTimeMultiplier(1.0f);
        const std::uint16_t toggles[] = {key::mode,     key::snap,           key::ground,
                                         key::gridSnap, key::timeout,        key::outline,
                                         key::clamped,  key::extraSelection, key::timescale};
        for (std::uint16_t k : toggles) tap(game, k);
        game.note("ground", std::to_string(game.value<float>(sim::loc::surfaceSnapValue)));
        game.note("grid", std::to_string(game.value<std::uint8_t>(sim::loc::gridSnapSetting)));
        game.note("clock", std::to_string(game.timeMultiplier()));
        for (std::uint16_t k : toggles) tap(game, k);
        game.note("ground", std::to_string(game.value<float>(sim::loc::surfaceSnapValue)));
        game.note("grid", std::to_string(game.value<std::uint8_t>(sim::loc::gridSnapSetting)));
        game.note("clock", std::to_string(game.timeMultiplier()));
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_THAT(t.messages,
                ElementsAre("Freeplot mode off", "Object snap off", "Surface snap off",
                            "Workshop grid snap off", "Workshop timeout off", "Object outline off",
                            "Clamped objects storing disabled", "Extra object selection enabled",
                            "Timescale changed", "Freeplot mode on", "Object snap on",
                            "Surface snap on", "Workshop grid snap on", "Workshop timeout on",
                            "Object outline on", "Clamped objects storing enabled",
                            "Extra object selection disabled", "Timescale set to normal"));
    EXPECT_THAT(t.notesFor("ground"), ElementsAre("1.500000", "0.800000"));
    EXPECT_THAT(t.notesFor("grid"), ElementsAre("0", "1"));  // the game starts with it on
    EXPECT_THAT(t.notesFor("clock"), ElementsAre("0.010000", "1.000000"));
    // Every site the toggles switched is back at the game's bytes.
    for (const char* site :
         {"snapJump", "timeoutFreese", "outline", "clampedStore", "outlineUselectable",
          "selectButtonUnselectable", "selectActionUnselectable"})
        EXPECT_EQ(t.site(site), nullptr) << site;
}

TEST(Keyboard, TheLockGoesOffOnTheFirstEventWithNothingSelected) {
    sim::Options options;
    options.script = [](sim::Game& game) {
        selectNew(game);
        tap(game, key::lock);
        game.selectRef(0);
        game.note("unbound", reached(game, 'Q'));
        tap(game, key::lock);  // nothing selected: no lock
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_EQ(t.note("unbound"), "ggg");
    EXPECT_THAT(t.messages, ElementsAre("Object locked", "Object unlocked"));
}
