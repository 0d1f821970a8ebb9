// Chaos with a fixed seed: random sequences of what a player and the game do, each ending with the
// settled checks (no crash, nothing called on a reference the game let go of, no turn after the
// last release, every worker free again, the game's code as its switches say) and replays of the
// stays the plugin kept beside its log. Each sequence is a test of its own, so that they run side
// by side; most of a sequence's time is the game's and the plugin's timers. Long runs:
// scripts/chaos.sh SECONDS.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "sim/chaos.h"
#include "sim/scenario.h"

namespace {

class Chaos : public testing::TestWithParam<int> {};

TEST_P(Chaos, FixedSeedSequencesLeaveTheGameSettled) {
    constexpr std::uint64_t kSeed = 20261208;
    constexpr int kEvents = 150;
    const std::uint64_t seed = kSeed + static_cast<std::uint64_t>(GetParam());
    const std::string name = "chaos-" + std::to_string(seed) + ".scenario";
    const std::string text = sim::chaosScenario(seed, kEvents);
    // Under ThreadSanitizer, beside the other test runs, a sequence may take longer than the
    // minute after which a session counts as hung (12 s alone).
    sim::Options slow;
    slow.timeout = std::chrono::minutes(5);
    const sim::PlayOutcome outcome = sim::playScenario(sim::parseScenario(text, name), slow);
    const sim::ChaosFigures figures = sim::countChaos(text);
    EXPECT_TRUE(outcome.passed()) << outcome.failure << "\n" << name << ":\n"
                                  << text << outcome.replayedFile;
    // The same words as scripts/chaos.sh's summary; the test command adds up the sequences' lines.
    const std::string line =
        "1 sequences, " + std::to_string(figures.events) + " events, " +
        std::to_string(figures.unloads) + " unloads, " + std::to_string(outcome.modelSteps()) +
        " steps compared with the model, " + std::to_string(outcome.reportsCompared()) +
        " readings compared with the settings report, " + std::to_string(outcome.replays) +
        " stays replayed, " + std::to_string(outcome.passed() ? 0 : 1) + " failures";
    std::printf("chaos: %s\n", line.c_str());
    RecordProperty("figures", line);
    EXPECT_GE(outcome.modelSteps(), figures.events);
    EXPECT_GE(outcome.reportsCompared(), 1u);
    // The sequence ends its last stay, which the plugin kept and which replays as it ended.
    EXPECT_GE(outcome.replays, 1);
}

INSTANTIATE_TEST_SUITE_P(Part, Chaos, testing::Range(0, 4));

}  // namespace
