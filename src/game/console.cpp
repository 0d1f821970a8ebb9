#include "game/console.h"

#include <cstring>

#include "common/Guard.h"
#include "common/IDebugLog.h"
#include "common/WriteCode.h"
#include "game/gamefunctions.h"
#include "game/hooks.h"
#include "game/locations.h"
#include "game/patches.h"

namespace freeplot {

namespace {
constexpr const char* kLongName = "ToggleFreeplot";
constexpr const char* kShortName = "tfp";
constexpr const char* kHelpText = "";
}  // namespace

void takeOverCommand() {
    if (!debugTextCommand) {
        print("Hijack command not found!");
        return;
    }
    const auto address = reinterpret_cast<std::uintptr_t>(debugTextCommand);

    ConsoleCommandRecord record;
    std::memcpy(&record, debugTextCommand, sizeof record);
    record.longName = kLongName;
    record.shortName = kShortName;
    record.helpText = kHelpText;
    record.needsReference = 0;
    record.parameterCount = 0;
    record.execute = reinterpret_cast<void*>(&toggleFreeplotCommand);
    record.flags = 0;

    // The record is written in one piece, or (when the table cannot be made writable) not at
    // all and the game keeps its command.
    writeCode(address, &record, sizeof record);
}

bool FREEPLOT_MSABI toggleFreeplotCommand(void*, void*, void*, void*, void*, void*, double* result,
                                          std::uint32_t*) {
    return guarded("ToggleFreeplot", false, [&] {
        if (result) *result = 1.0;
        toggleFreeplotMode();
        consolePrint("Freeplot-> %s", switches.freeplotMode ? "On" : "Off");
        return true;
    });
}

void FREEPLOT_MSABI consolePrint(const char* format, ...) {
    void* console = *ptr<void*>(Loc::consoleManagerPtr);
    if (!console) return;
    // Resolved afresh on every call, like the game's own callers do.
    const auto print =
        reinterpret_cast<ConsolePrintFn>(resolve(offsetOf(Loc::consolePrintFunction)));
#if defined(_WIN32)
    va_list args;
    va_start(args, format);
    print(console, format, args);
    va_end(args);
#else
    __builtin_ms_va_list args;
    __builtin_ms_va_start(args, format);
    print(console, format, args);
    __builtin_ms_va_end(args);
#endif
}

}  // namespace freeplot
