#include "rules/console.h"

#include <cstring>

#include "common/guard.h"
#include "common/log.h"
#include "common/write_code.h"
#include "game/gamefunctions.h"
#include "game/locations.h"
#include "game/records.h"
#include "os/os.h"
#include "rules/switches.h"

namespace freeplot {

namespace {
constexpr const char* kLongName = "ToggleFreeplot";
constexpr const char* kShortName = "tfp";
constexpr const char* kHelpText = "";
}  // namespace

std::uintptr_t findDebugTextCommand(std::uintptr_t table, std::uintptr_t end) {
    // The game's command names are texts of its own module; anything else is not read.
    static constexpr char kName[] = "GetDebugText";
    const std::uintptr_t module = gameBase();
    for (std::uintptr_t record = table; record + sizeof(ConsoleCommandRecord) <= end;
         record += sizeof(ConsoleCommandRecord)) {
        const auto& command = *reinterpret_cast<const ConsoleCommandRecord*>(record);
        if (command.number >= kFirstForeignCommandNumber) return 0;
        const auto name = reinterpret_cast<std::uintptr_t>(command.longName);
        if (name >= module && name + sizeof kName <= end &&
            std::memcmp(command.longName, kName, sizeof kName) == 0)
            return record;
    }
    return 0;
}

void takeOverCommand() {
    const std::uintptr_t address =
        findDebugTextCommand(addr(Loc::commandTable), gameBase() + os::mainModuleSize());
    if (!address) {
        logLine("Hijack command not found!");
        return;
    }
    logLine("Command found at " FREEPLOT_X64, static_cast<std::uint64_t>(address));

    ConsoleCommandRecord record;
    std::memcpy(&record, reinterpret_cast<const void*>(address), sizeof record);
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
        toggle(Switch::freeplotMode, false);
        consolePrint("Freeplot-> %s", switches.freeplotMode ? "On" : "Off");
        return true;
    });
}

}  // namespace freeplot
