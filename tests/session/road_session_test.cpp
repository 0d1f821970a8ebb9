// One key press from the player's hand to the game, kept as an expected transcript: in workshop
// mode with an object selected, numpad 8 (moveUp) is pressed and released. A change in what the
// plugin does along the way shows as a readable diff against the expected file.

#include <gtest/gtest.h>

#include "session_support.h"
#include "sim/build_paths.h"
#include "sim/scenario.h"
#include "sim/sim.h"

using namespace session;

TEST(Road, OneKeyPressFromTheKeyboardToTheGame) {
    sim::Options options;
    options.script = [](sim::Game& game) {
        sim::Ref ref = selectNew(game, at(100, 200, 50));
        // The press is kept from the game; the release moves the object one step up and then
        // goes on to the game.
        const sim::InputResult press = game.keyPress(key::moveUp, 0x48);
        const sim::InputResult release = game.keyRelease(key::moveUp, 0x48);
        game.note("press", press.calleeRan ? "reached the game" : "kept from the game");
        game.note("release", release.calleeRan ? "reached the game" : "kept from the game");
        game.note("position", std::to_string(ref.pos(0)) + " " + std::to_string(ref.pos(1)) + " " +
                                  std::to_string(ref.pos(2)));
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_EQ(
        sim::compareWithGolden(
            t, sim::sourceDirectory() + "/tests/session/golden/road_of_one_key_press.transcript"),
        "");
}

// The demo (sim/demo.scenario) as an expected transcript: the same file is what the Windows build
// of the simulated game must print under Wine with freeplot.dll (scripts/windows-tests.sh).
TEST(Road, TheDemoScenarioPrintsItsExpectedTranscript) {
    const std::string source = sim::sourceDirectory();
    const sim::PlayOutcome outcome =
        sim::playScenario(sim::readScenario(source + "/sim/demo.scenario"));
    ASSERT_TRUE(outcome.passed()) << outcome.failure << "\n" << outcome.transcript.text();
    EXPECT_EQ(sim::compareWithGolden(outcome.transcript,
                                     source + "/tests/session/golden/demo.transcript"),
              "");
}
