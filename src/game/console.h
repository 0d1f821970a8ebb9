#pragma once
// The console command "ToggleFreeplot" ("tfp"). New commands cannot be registered with the game,
// so an existing, harmless one ("GetDebugText") has its table entry rewritten.

#include <cstddef>
#include <cstdint>

#include "common/msabi.h"

namespace freeplot {

// One entry of the game's console command table (80 bytes).
struct ConsoleCommandRecord {
    const char* longName;
    const char* shortName;
    std::uint32_t number;
    std::uint32_t unknown14;
    const char* helpText;
    std::uint8_t needsReference;
    std::uint8_t unknown21;
    std::uint16_t parameterCount;
    std::uint32_t unknown24;
    void* parameters;
    void* execute;
    void* unknown38;
    void* unknown40;
    std::uint32_t flags;
    std::uint32_t unknown4C;
};
static_assert(sizeof(ConsoleCommandRecord) == 80);
static_assert(offsetof(ConsoleCommandRecord, shortName) == 8);
static_assert(offsetof(ConsoleCommandRecord, number) == 16);
static_assert(offsetof(ConsoleCommandRecord, helpText) == 24);
static_assert(offsetof(ConsoleCommandRecord, needsReference) == 32);
static_assert(offsetof(ConsoleCommandRecord, parameterCount) == 34);
static_assert(offsetof(ConsoleCommandRecord, parameters) == 40);
static_assert(offsetof(ConsoleCommandRecord, execute) == 48);
static_assert(offsetof(ConsoleCommandRecord, flags) == 72);

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

// printf-style line on the game console; does nothing while the console does not exist.
void FREEPLOT_MSABI consolePrint(const char* format, ...);

}  // namespace freeplot
