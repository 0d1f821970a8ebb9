#pragma once
// The console command "ToggleFreeplot" ("tfp"). New commands cannot be registered with the game,
// so an existing, harmless one ("GetDebugText") has its table entry rewritten.

#include <cstdint>

#include "common/msabi.h"

namespace freeplot {

// Records from this number on are not searched for "GetDebugText".
inline constexpr std::uint32_t kFirstForeignCommandNumber = 0x2F9;

// The game's eight command-handler arguments; returns whether the command ran.
bool FREEPLOT_MSABI toggleFreeplotCommand(void* parameterInfo, void* scriptData, void* thisRef,
                                          void* containingRef, void* script, void* locals,
                                          double* result, std::uint32_t* opcodeOffset);

// Finds the first record named "GetDebugText" among the records numbered below 0x2F9 of the
// command table at `table`, looking no further than `end` (the end of the game's module); 0 when
// there is none.
std::uintptr_t findDebugTextCommand(std::uintptr_t table, std::uintptr_t end);

// Finds the "GetDebugText" record in the game's command table and rewrites it into
// "ToggleFreeplot" / "tfp" in one protected write; logs "Hijack command not found!" when there
// is none.
void takeOverCommand();

}  // namespace freeplot
