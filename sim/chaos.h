#pragma once
// Chaos: random sequences of everything a player and the game can do (keys bound and unbound,
// mouse buttons, wheel and moves, selection changes to other objects, actors, nothing and objects
// the game has let go of, unloads, workshop mode ending and starting, ignored input, a busy
// workshop, console toggles on the console thread, main-loop stalls), each played as a scenario
// that ends with "expect settled". A failing sequence is a scenario file anyone can replay.

#include <cstdint>
#include <string>

namespace sim {

// The scenario text of one sequence of about `events` random steps, made from `seed`.
std::string chaosScenario(std::uint64_t seed, int events);

struct ChaosFigures {
    std::uint64_t sequences = 0, events = 0, unloads = 0, failures = 0;
    std::uint64_t compared = 0;  // steps compared with the model of what the player must see
    std::uint64_t inputs = 0;    // key and mouse events whose outcome for the game was compared
    std::uint64_t replays = 0;   // stays the plugin kept beside its log, replayed
    std::uint64_t reports = 0;   // readings of the settings file whose report was compared
};

// What was counted in one sequence's text (its event and unload steps).
ChaosFigures countChaos(const std::string& scenarioText);

}  // namespace sim
