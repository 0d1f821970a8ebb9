#pragma once
// The scale and delete keys. Both go through the game's own script machinery and then hand the
// reference to the game's main loop (objects/handoff.h), which has to take it before the change
// shows; so they run on worker threads, never on the game's input thread.

#include <cstdint>

#include "game/gamefunctions.h"
#include "game/records.h"

namespace freeplot {

inline constexpr std::uint16_t kMinScalePercent = 10;
inline constexpr std::uint16_t kMaxScalePercent = 0xFFFF;

enum class ScaleChange : std::uint8_t { up, down, reset };

// The percent a scale key leaves on an object at `current` percent: 100 for a reset, else the
// current percent plus or less the step; never below 10 and never above 65535.
std::uint16_t scaledPercent(std::uint16_t current, std::int32_t step, ScaleChange change);

// A scale key, on the input thread when it is released: acts on the object selected then. Claims
// the scale worker (a busy one: the key is ignored), switches the object lock off, takes the undo
// record and works out the new percent from the object's scale, all before a later key can run;
// the worker then only writes it. Nothing when nothing is selected.
void scaleSelected(ScaleChange change);

// Thread body of the scale keys: gives the held object `percent` and shows "Scale set to" through
// the notifier (nothing when the game has let go of the object meanwhile, as when a delete
// before it took the object). Clears scaleBusy at its end.
void scaleByKeyWorker(const HeldRef& held, std::uint16_t percent);

// The delete key, on the input thread: claims the delete worker (a busy one: the key is ignored)
// for the object selected now and drops that object's undo records at once, so that an undo
// pressed while the deletion waits never turns to it.
void deleteSelected();

// Thread body of the delete key: hands the reference to the game and deletes it (nothing when
// the game has let go of it), then drops the undo records made for it while it waited. Clears
// deleteBusy at its end.
void deleteWorker(const HeldRef& held);

}  // namespace freeplot
