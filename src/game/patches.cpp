#include "game/patches.h"

#include <cstring>
#include <initializer_list>
#include <limits>

#include "common/BranchTrampoline.h"
#include "common/IDebugLog.h"
#include "config/messages.h"
#include "config/settings.h"
#include "game/gamefunctions.h"
#include "game/hooks.h"
#include "game/signatures.h"
#include "os/os.h"

namespace freeplot {

bool freeplotMode = false;
bool objectLocked = false;
bool clampedStoringDisabled = false;
bool timescaleKeyFlag = false;
std::uint8_t outlineStash = 0;

float savedSnapDistance = 48.0f;
float savedSurfaceSnap = 0.8f;
float savedTimescale = 0.0f;

SavedCopies savedCopies;
JumpTemplates jumpTemplates;

namespace {

// Sites already reported as left unpatched, so each is named once.
bool reportedSites[static_cast<std::size_t>(Loc::count)] = {};

// The substitute code at collisionSnap while freeplot mode is on: lea rcx, [rbp+0x1160];
// mov dword [rip+0x0567B775], 0 (the store into snapOverrideValue, whose low byte is at +13);
// four NOPs.
constexpr std::uint8_t kCollisionSnapCode[21] = {0x48, 0x8D, 0x8D, 0x60, 0x11, 0x00, 0x00,
                                                 0xC7, 0x05, 0x75, 0xB7, 0x67, 0x05, 0x00,
                                                 0x00, 0x00, 0x00, 0x90, 0x90, 0x90, 0x90};
constexpr std::size_t kCollisionSnapValueByte = 13;
// Offset of the immediate of the byte stores at colorBase, buildAirEnable and outline.
constexpr std::size_t kStoreImmediate = 6;

void show(Msg message) {
    gameFunction<HudMessageFn>(Loc::hudMessageFunction)(messageText(message), 0, 1);
}

void write(Loc site, std::size_t offset, std::initializer_list<std::uint8_t> bytes) {
    if (!siteWritable(site)) return;
    writeCode(addr(site) + offset, bytes.begin(), bytes.size());
}

// Keeps the game's bytes at `site` the first time; later calls leave the copy as it is.
template <std::size_t N>
void keep(Loc site, SavedBytes<N>& copy) {
    if (copy.filled || !siteWritable(site)) return;
    std::memcpy(copy.bytes.data(), reinterpret_cast<const void*>(addr(site)), N);
    copy.filled = true;
}

// Writes the game's bytes back. Without a kept copy there is nothing that could be written.
template <std::size_t N>
void restore(Loc site, const SavedBytes<N>& copy) {
    if (!copy.filled || !siteWritable(site)) return;
    writeCode(addr(site), copy.bytes.data(), N);
}

// Turns the 6-byte jump-if-equal at `site` into an unconditional jump to the same target.
void writeJumpTemplate(Loc site, SavedBytes<6>& copy, JumpTemplate& jump) {
    if (!siteWritable(site)) return;
    if (!copy.filled) {
        keep(site, copy);
        std::uint8_t original[6];
        std::memcpy(original, copy.bytes.data(), sizeof original);
        jump = completeJumpTemplate(original);
    }
    writeCode(addr(site), jump.data(), jump.size());
}

float& gameFloat(Loc loc) { return *ptr<float>(loc); }

}  // namespace

JumpTemplate completeJumpTemplate(const std::uint8_t (&conditionalJump)[6]) {
    std::uint32_t rel = 0;
    std::memcpy(&rel, conditionalJump + 2, sizeof rel);
    rel += 1;  // wraps like the processor's 32-bit displacement does
    JumpTemplate jump{0xE9, 0, 0, 0, 0, 0x90};
    std::memcpy(jump.data() + 1, &rel, sizeof rel);
    return jump;
}

void writeCode(std::uintptr_t address, const void* bytes, std::size_t length) {
    std::uint32_t oldProtection = 0;
    os::protect(address, length, os::kPageExecuteReadWrite, oldProtection);
    std::memcpy(reinterpret_cast<void*>(address), bytes, length);
    os::protect(address, length, oldProtection, oldProtection);
}

bool writeJump5(std::uintptr_t site, std::uintptr_t target) {
    const std::int64_t rel =
        static_cast<std::int64_t>(target) - static_cast<std::int64_t>(site + 5);
    if (rel < std::numeric_limits<std::int32_t>::min() ||
        rel > std::numeric_limits<std::int32_t>::max())
        return false;
    std::uint8_t code[5] = {0xE9};
    const auto rel32 = static_cast<std::int32_t>(rel);
    std::memcpy(code + 1, &rel32, sizeof rel32);
    writeCode(site, code, sizeof code);
    return true;
}

bool siteWritable(Loc site) {
    if (siteVerified(site)) return true;
    bool& reported = reportedSites[static_cast<std::size_t>(site)];
    if (!reported) {
        reported = true;
        print("Site %s does not match the game's code, left unpatched", info(site).name);
    }
    return false;
}

void setFreeplotMode(bool on) {
    if (on) {
        keep(Loc::freeplotEnable, savedCopies.freeplotEnable);
        // Without a stub there is nothing to call; the game's own result then stands.
        if (freeplotEnableStub && siteWritable(Loc::freeplotEnable))
            g_branchTrampoline.WriteSlotCall(addr(Loc::freeplotEnable),
                                             reinterpret_cast<std::uintptr_t>(freeplotEnableStub));
        write(Loc::colorBase, kStoreImmediate, {0x00});
        keep(Loc::selectEnable, savedCopies.selectEnable);
        write(Loc::selectEnable, 0, {0x90, 0x90, 0x90});
        keep(Loc::buildEnable, savedCopies.buildEnable);
        write(Loc::buildEnable, 0, {0x31, 0xC0, 0x90, 0x90, 0x90, 0x90, 0x90});
        write(Loc::buildEnable, buildEnableJumpOffset, {0xEB});
        keep(Loc::buildWaterEnable, savedCopies.buildWaterEnable);
        write(Loc::buildWaterEnable, 0, {0xEB, 0x20, 0x90, 0x90, 0x90, 0x90});
        write(Loc::buildAirEnable, kStoreImmediate, {0x00});
        keep(Loc::collisionSnap, savedCopies.collisionSnap);
        if (siteWritable(Loc::collisionSnap))
            writeCode(addr(Loc::collisionSnap), kCollisionSnapCode, sizeof kCollisionSnapCode);
    } else {
        write(Loc::colorBase, kStoreImmediate, {0x01});
        write(Loc::buildAirEnable, kStoreImmediate, {0x01});
        restore(Loc::selectEnable, savedCopies.selectEnable);
        restore(Loc::freeplotEnable, savedCopies.freeplotEnable);
        restore(Loc::buildEnable, savedCopies.buildEnable);
        write(Loc::buildEnable, buildEnableJumpOffset, {0x74});
        restore(Loc::buildWaterEnable, savedCopies.buildWaterEnable);
        restore(Loc::collisionSnap, savedCopies.collisionSnap);
    }
}

void setObjectSnap(bool showMessage) {
    float& snapDistance = gameFloat(Loc::snapDistance);
    if (settings.snapDisabled) {
        if (freeplotMode) write(Loc::collisionSnap, kCollisionSnapValueByte, {0x01});
        keep(Loc::snapJump, savedCopies.snapJump);
        write(Loc::snapJump, 0, {0x90, 0x90});
        savedSnapDistance = snapDistance;
        snapDistance = 0.0f;
        if (showMessage) show(Msg::snapOff);
    } else {
        if (freeplotMode) write(Loc::collisionSnap, kCollisionSnapValueByte, {0x00});
        restore(Loc::snapJump, savedCopies.snapJump);
        snapDistance = savedSnapDistance;
        if (showMessage) show(Msg::snapOn);
    }
}

void setSurfaceSnap(bool disable, bool showMessage) {
    float& surfaceSnap = gameFloat(Loc::surfaceSnapValue);
    if (disable) {
        savedSurfaceSnap = surfaceSnap;
        surfaceSnap = kSurfaceSnapOff;
        if (showMessage) show(Msg::groundOff);
    } else {
        surfaceSnap = savedSurfaceSnap;
        if (showMessage) show(Msg::groundOn);
    }
}

void setTimeoutFrozen(bool showMessage) {
    if (settings.timeoutFrozen) {
        writeJumpTemplate(Loc::timeoutFreese, savedCopies.timeoutFreese,
                          jumpTemplates.timeoutFreese);
        if (showMessage) show(Msg::freezeOn);
    } else {
        restore(Loc::timeoutFreese, savedCopies.timeoutFreese);
        if (showMessage) show(Msg::freezeOff);
    }
}

void setObjectLock() {
    if (objectLocked) {
        writeJumpTemplate(Loc::lockObject, savedCopies.lockObject, jumpTemplates.lockObject);
        show(Msg::lockObjectOn);
    } else if (savedCopies.lockObject.filled) {
        restore(Loc::lockObject, savedCopies.lockObject);
        show(Msg::lockObjectOff);
    }
}

void setOutline(bool showMessage) {
    if (settings.outlineDisabled) {
        write(Loc::outline, kStoreImmediate, {0x00});
        if (showMessage) show(Msg::outlineOff);
    } else {
        write(Loc::outline, kStoreImmediate, {0x01});
        if (showMessage) show(Msg::outlineOn);
    }
}

void setClampedStoring() {
    if (clampedStoringDisabled) {
        writeJumpTemplate(Loc::clampedStore, savedCopies.clampedStore, jumpTemplates.clampedStore);
        show(Msg::clampedStoreOff);
    } else {
        restore(Loc::clampedStore, savedCopies.clampedStore);
        show(Msg::clampedStoreOn);
    }
}

void setExtraSelection(bool showMessage) {
    if (settings.extraOutlineEnabled) {
        keep(Loc::outlineUselectable, savedCopies.outlineUselectable);
        // Without the outline stub the game's call stays in place.
        if (outlineStub && siteWritable(Loc::outlineUselectable))
            writeJump5(addr(Loc::outlineUselectable),
                       reinterpret_cast<std::uintptr_t>(outlineStub));
        keep(Loc::selectButtonUnselectable, savedCopies.selectButtonUnselectable);
        write(Loc::selectButtonUnselectable, 0, {0xEB});
        keep(Loc::selectActionUnselectable, savedCopies.selectActionUnselectable);
        // mov eax, 1; jmp short to the routine's epilogue at site + 26; three NOPs.
        write(Loc::selectActionUnselectable, 0,
              {0xB8, 0x01, 0x00, 0x00, 0x00, 0xEB, 0x13, 0x90, 0x90, 0x90});
        if (showMessage) show(Msg::extraOutlineOn);
    } else {
        restore(Loc::outlineUselectable, savedCopies.outlineUselectable);
        restore(Loc::selectButtonUnselectable, savedCopies.selectButtonUnselectable);
        restore(Loc::selectActionUnselectable, savedCopies.selectActionUnselectable);
        if (showMessage) show(Msg::extraOutlineOff);
    }
}

float* timeMultiplier() {
    const auto manager = *ptr<std::uintptr_t>(Loc::timeManagerPtr);
    if (!manager) return nullptr;
    const auto clock = *reinterpret_cast<const std::uintptr_t*>(manager + 48);
    if (!clock) return nullptr;
    return reinterpret_cast<float*>(clock + 48);
}

namespace {
// Slows the clock to buildTimescale, keeping the current multiplier.
void slowClock(float& multiplier) {
    savedTimescale = multiplier;
    multiplier = settings.buildTimescale;
}
// Puts the kept multiplier back.
void restoreClock(float& multiplier) {
    multiplier = savedTimescale;
    savedTimescale = 0.0f;
}
}  // namespace

void toggleTimescale(bool showMessage) {
    float* multiplier = timeMultiplier();
    if (!multiplier) return;
    if (savedTimescale == 0.0f)
        slowClock(*multiplier);
    else
        restoreClock(*multiplier);
    if (showMessage) show(savedTimescale != 0.0f ? Msg::timescaleOn : Msg::timescaleOff);
}

void autoTimescale() {
    const bool inWorkshop = *ptr<std::int32_t>(Loc::workshopModeFlag) != 0;
    if (!inWorkshop) {
        if (savedTimescale != 0.0f) {
            if (float* multiplier = timeMultiplier()) restoreClock(*multiplier);
        }
        timescaleKeyFlag = false;
    } else if (savedTimescale == 0.0f && settings.autoTimescaleEnabled && !timescaleKeyFlag) {
        if (float* multiplier = timeMultiplier()) slowClock(*multiplier);
    }
}

void autoOutline() {
    const bool inWorkshop = *ptr<std::int32_t>(Loc::workshopModeFlag) != 0;
    if (!inWorkshop) {
        if (settings.outlineDisabled) {
            outlineStash = 1;
            settings.outlineDisabled = false;
            write(Loc::outline, kStoreImmediate, {0x01});
        }
    } else if (outlineStash != 0) {
        settings.outlineDisabled = true;
        outlineStash = 0;
        write(Loc::outline, kStoreImmediate, {0x00});
    }
}

void applyStartupPatches() {
    if (settings.timeoutFrozen) setTimeoutFrozen(false);
    if (settings.snapDisabled) setObjectSnap(false);
    if (settings.groundDisabled) setSurfaceSnap(true, false);
    if (settings.outlineDisabled) setOutline(false);
    if (settings.extraOutlineEnabled) setExtraSelection(false);
}

}  // namespace freeplot
