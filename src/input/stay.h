#pragma once
// Each stay in workshop mode kept for a replay. The handlers tell the recorder of every event the
// plugin takes or acts on, on the input thread, and it keeps in a bounded buffer what a replay
// needs (input/stay_record.h). The first event outside workshop mode hands the stay to a worker,
// which writes it beside the log as a scenario file that the simulated game plays.

#include <cstdint>
#include <memory>

namespace freeplot {

struct Reading;

// The reading of the settings file in force (at Load, and at each stay that takes the file
// again): a stay's replay starts with the bytes it read.
void staySettingsRead(std::shared_ptr<const Reading> reading);

// Before a kept key event acts: `row` the dispatch row its release runs, -1 for a press.
void stayBeforeKey(int row);
// A bound key's press kept from the game (its first, not its repeats).
void stayKeyPressed(std::uint16_t code);
// A release that ran the dispatch chain: the actions of its key and the row that ran (-1: none).
void stayKeyReleased(std::uint16_t code, std::uint64_t actions, int row);

// A mouse record holding the wheel or a left or right button change, in workshop mode: before it
// acts, and after.
void stayBeforeMouse();
void stayMouse(std::uint16_t buttons, std::int16_t data);

// The first event outside workshop mode after a stay: the stay goes to the file's worker.
void stayEnds();

// The entries kept of the stay under way (benchmarks and tests).
std::size_t stayEntriesKept();

}  // namespace freeplot
