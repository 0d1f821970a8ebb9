#pragma once
// Where things live in the simulated game image. The game's own locations are the offsets of
// runtime 1.9.4; the sim's private areas lie above the game's highest data location, in memory
// the game leaves unused.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace sim::loc {

// The game executable's image base. A host that cannot map memory there (AddressSanitizer keeps
// that range for itself) moves the image with FREEPLOT_IMAGE_BASE (hex), which the plugin's
// POSIX layer reads as well.
inline constexpr std::uintptr_t defaultImageBase = 0x140000000;
inline std::uintptr_t imageBaseFromEnvironment() {
    const char* text = std::getenv("FREEPLOT_IMAGE_BASE");
    if (!text || !*text) return defaultImageBase;
    const auto value = static_cast<std::uintptr_t>(std::strtoull(text, nullptr, 16));
    return value ? value : defaultImageBase;
}
inline const std::uintptr_t imageBase = imageBaseFromEnvironment();
inline constexpr std::size_t imageSize = 0x6000000;
// The address of an offset into the image.
inline std::uintptr_t abs(std::uint32_t offset) { return imageBase + offset; }

// Code sites.
inline constexpr std::uint32_t freeplotEnable = 0x1F0DAB;
inline constexpr std::uint32_t colorBase = 0x27E5AC8;
inline constexpr std::uint32_t selectEnable = 0x1F2BD3;
inline constexpr std::uint32_t buildEnable = 0x1F0962;
inline constexpr std::uint32_t buildAirEnable = 0x1F0A63;
inline constexpr std::uint32_t buildWaterEnable = 0x20735D;
inline constexpr std::uint32_t collisionSnap = 0x1EF89E;
inline constexpr std::uint32_t keyboardInput = 0xD2678D;
inline constexpr std::uint32_t timeoutFreese = 0x21556A;
inline constexpr std::uint32_t outline = 0x1E64A0;
inline constexpr std::uint32_t outlineUselectable = 0x22ABA3;
inline constexpr std::uint32_t selectButtonUnselectable = 0xBD8952;
inline constexpr std::uint32_t selectActionUnselectable = 0x1F2964;
inline constexpr std::uint32_t lockObject = 0x20595C;
inline constexpr std::uint32_t mouseInput = 0xD2676B;
inline constexpr std::uint32_t snapJump = 0x249C61;
inline constexpr std::uint32_t clampedStore = 0x20DDE2;

// Game functions.
inline constexpr std::uint32_t keyboardInputCallee = 0x1B11580;
inline constexpr std::uint32_t mouseInputCallee = 0x1B11900;
inline constexpr std::uint32_t outlineCallee = 0x242E30;
inline constexpr std::uint32_t hudMessageFunction = 0xADFBC0;
inline constexpr std::uint32_t lookupRefByHandle = 0xAB60;
inline constexpr std::uint32_t runAxisCommand = 0xD3E600;
inline constexpr std::uint32_t physicsToggleFunction = 0x140F550;
inline constexpr std::uint32_t refCommandExecute = 0x52A190;
inline constexpr std::uint32_t refCommandExecute2 = 0x504C00;
inline constexpr std::uint32_t consolePrintFunction = 0x1249110;

// Game data.
inline constexpr std::uint32_t buildAllowedFlag = 0x586B02A;
inline constexpr std::uint32_t snapOverrideValue = 0x586B024;
inline constexpr std::uint32_t selectedRefHandle = 0x586B37C;
inline constexpr std::uint32_t workshopModeFlag = 0x586B7CC;
inline constexpr std::uint32_t workshopStateByte = 0x586B92A;
inline constexpr std::uint32_t inputIgnoreFlag = 0x5A305C0;
inline constexpr std::uint32_t scriptContextPtr = 0x5A51A00;
inline constexpr std::uint32_t refQueueLock = 0x5965948;
inline constexpr std::uint32_t refQueueSlot = 0x5965970;
inline constexpr std::uint32_t refQueueSlot2 = 0x5965980;
inline constexpr std::uint32_t snapDistance = 0x366CDA0;
inline constexpr std::uint32_t surfaceSnapValue = 0x366D1F0;
inline constexpr std::uint32_t gridSnapSetting = 0x366D2E0;
inline constexpr std::uint32_t timeManagerPtr = 0x585BD40;
inline constexpr std::uint32_t rotationBasePtr = 0x5A2F8B8;
inline constexpr std::uint32_t consoleManagerPtr = 0x586C4C0;
inline constexpr std::uint32_t commandTable = 0x3695DA0;

// Small game routines that the laid code calls (each returns 0).
inline constexpr std::uint32_t helperFunctions = 0x1000;

// Data the laid code refers to with RIP-relative operands (all zero).
inline constexpr std::uint32_t codeOperands = 0x5870000;

// The sim's own areas.
inline constexpr std::uint32_t simCode = 0x5C00000;  // assembled routines and probes
inline constexpr std::size_t simCodeSize = 0x10000;
inline constexpr std::uint32_t simObjects = 0x5D00000;  // time manager, console, strings...
inline constexpr std::uint32_t references = 0x5E00000;  // simulated references, 0x1000 each
inline constexpr std::size_t referenceStride = 0x1000;
inline constexpr std::size_t maxReferences = 256;
inline constexpr std::uint32_t inputRecords = 0x5F00000;  // raw-input records handed to the game
inline constexpr std::uint32_t inputFrame = 0x5F01000;    // what rbp points at in the input routine
inline constexpr std::uint32_t inputFrameCompare =
    0x80;  // the dword at rbp+0x80 compared with 0x100

}  // namespace sim::loc

namespace sim::loc {
// Register values the input routines hold at the hooked call sites (besides rdx, the record).
inline const std::uint64_t inputRcxValue = imageBase + inputRecords + 0x800;
inline constexpr std::uint64_t inputRaxValue = 0x1122334455667788;
}  // namespace sim::loc
