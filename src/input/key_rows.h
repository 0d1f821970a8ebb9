#pragma once
// The dispatch chain of a released key: its rows in the order of config/dispatch_order.h, each
// with the gate it needs besides its key and the effect it has.

#include <cstdint>

#include "config/actions.h"

namespace freeplot {

// Runs the first row whose actions include one of `actions` and whose gate holds, on the input
// thread (with the workshop state byte as read once for the event); returns the row's number in
// dispatch order, or -1 when no row ran.
int runKeyRows(std::uint64_t actions, bool workshopBusy);

// The row runKeyRows would run now for a key bound to `actions`, without running it.
int keyRow(std::uint64_t actions, bool workshopBusy);

// The number of the row that holds `action`.
int rowOfAction(Action action);

// A bound key whose release runs `action`'s row the way `action` goes (a row of two opposite
// actions goes one way for a key bound to both), with the workshop not busy; 0 when no bound key
// does.
std::uint16_t keyRunning(Action action);

}  // namespace freeplot
