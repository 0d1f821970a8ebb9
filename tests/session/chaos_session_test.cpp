// Chaos with a fixed seed: random sequences of what a player and the game do, each ending with the
// settled checks (no crash, nothing called on a reference the game let go of, no turn after the
// last release, every worker free again, the game's code as its switches say) and replays of the
// stays the plugin kept beside its log. Long runs: scripts/chaos.sh SECONDS.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "sim/chaos.h"
#include "sim/scenario.h"

TEST(Chaos, FixedSeedSequencesLeaveTheGameSettled) {
    constexpr std::uint64_t kSeed = 20261208;
    constexpr int kSequences = 4, kEvents = 150;
    sim::ChaosFigures total;
    for (int n = 0; n < kSequences; ++n) {
        const std::string name = "chaos-" + std::to_string(kSeed + n) + ".scenario";
        const std::string text = sim::chaosScenario(kSeed + n, kEvents);
        // Under ThreadSanitizer, beside the other test runs, a sequence may take longer than the
        // minute after which a session counts as hung (12 s alone).
        sim::Options slow;
        slow.timeout = std::chrono::minutes(5);
        const sim::PlayOutcome outcome = sim::playScenario(sim::parseScenario(text, name), slow);
        const sim::ChaosFigures figures = sim::countChaos(text);
        total.sequences += 1;
        total.events += figures.events;
        total.unloads += figures.unloads;
        total.compared += outcome.modelSteps();
        total.replays += static_cast<std::uint64_t>(outcome.replays);
        total.reports += outcome.reportsCompared();
        total.failures += !outcome.passed();
        EXPECT_TRUE(outcome.passed()) << outcome.failure << "\n" << name << ":\n"
                                      << text << outcome.replayedFile;
    }
    const std::string figures =
        std::to_string(total.sequences) + " sequences, " + std::to_string(total.events) +
        " events, " + std::to_string(total.unloads) + " unloads, " +
        std::to_string(total.compared) + " steps compared with the model, " +
        std::to_string(total.reports) + " readings compared with the settings report, " +
        std::to_string(total.replays) + " stays replayed, " + std::to_string(total.failures) +
        " failures";
    std::printf("chaos: %s\n", figures.c_str());
    RecordProperty("figures", figures);
    EXPECT_GE(total.compared, total.events);
    EXPECT_GE(total.reports, total.sequences);
    // Every sequence ends its last stay, which the plugin kept and which replays as it ended.
    EXPECT_GE(total.replays, total.sequences);
}
