#include "game/patches.h"

#include <atomic>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <optional>

#include "common/BranchTrampoline.h"
#include "common/IDebugLog.h"
#include "common/WriteCode.h"
#include "config/messages.h"
#include "config/settings.h"
#include "game/gamefunctions.h"
#include "game/hooks.h"
#include "game/signatures.h"

namespace freeplot {

SwitchStates switches;

float savedSnapDistance = 48.0f;
float savedSurfaceSnap = 0.8f;
float savedTimescale = 0.0f;

SavedCopies savedCopies;
JumpTemplates jumpTemplates;

namespace {

// Sites already reported as left unpatched, so each is named once (whichever thread asks first).
std::atomic<bool> reportedSites[static_cast<std::size_t>(Loc::count)] = {};

// The substitute code at collisionSnap while freeplot mode is on: lea rcx, [rbp+0x1160];
// mov dword [rip+0x0567B775], 0 (the store into snapOverrideValue, whose low byte is at +13);
// four NOPs.
constexpr std::uint8_t kCollisionSnapCode[21] = {0x48, 0x8D, 0x8D, 0x60, 0x11, 0x00, 0x00,
                                                 0xC7, 0x05, 0x75, 0xB7, 0x67, 0x05, 0x00,
                                                 0x00, 0x00, 0x00, 0x90, 0x90, 0x90, 0x90};
constexpr std::size_t kCollisionSnapValueByte = 13;
// Offset of the immediate of the byte stores at colorBase, buildAirEnable and outline.
constexpr std::size_t kStoreImmediate = 6;

void show(Msg message) { showOnScreen(messageText(message)); }

// The writes below report false only when the system refused the write; a site left alone
// because its signature did not match counts as done (it is reported once, by siteWritable).
bool write(Loc site, std::size_t offset, std::initializer_list<std::uint8_t> bytes) {
    if (!siteWritable(site)) return true;
    return writeCode(addr(site) + offset, bytes.begin(), bytes.size());
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
bool restore(Loc site, const SavedBytes<N>& copy) {
    if (!copy.filled || !siteWritable(site)) return true;
    return writeCode(addr(site), copy.bytes.data(), N);
}

// Turns the 6-byte jump-if-equal at `site` into an unconditional jump to the same target.
bool writeJumpTemplate(Loc site, SavedBytes<6>& copy, JumpTemplate& jump) {
    if (!siteWritable(site)) return true;
    if (!copy.filled) {
        keep(site, copy);
        std::uint8_t original[6];
        std::memcpy(original, copy.bytes.data(), sizeof original);
        jump = completeJumpTemplate(original);
    }
    return writeCode(addr(site), jump.data(), jump.size());
}

// What a switch did: whether its writes went in, and the message it has to show.
struct Outcome {
    bool written = true;
    std::optional<Msg> message;
};

bool report(const Outcome& outcome, bool showMessage) {
    if (outcome.written && outcome.message && showMessage) show(*outcome.message);
    return outcome.written;
}

}  // namespace

JumpTemplate completeJumpTemplate(const std::uint8_t (&conditionalJump)[6]) {
    std::uint32_t rel = 0;
    std::memcpy(&rel, conditionalJump + 2, sizeof rel);
    rel += 1;  // wraps like the processor's 32-bit displacement does
    JumpTemplate jump{0xE9, 0, 0, 0, 0, 0x90};
    std::memcpy(jump.data() + 1, &rel, sizeof rel);
    return jump;
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
    return writeCode(site, code, sizeof code);
}

bool siteWritable(Loc site) {
    if (siteVerified(site)) return true;
    if (!reportedSites[static_cast<std::size_t>(site)].exchange(true))
        print("Site %s does not match the game's code, left unpatched", info(site).name);
    return false;
}

namespace {

// The bytes of each switch, for its state as it is now. Called with the code writer's lock held;
// none shows anything (the lock is never held while calling into the game).

Outcome writeFreeplotMode(bool on) {
    bool ok = true;
    if (on) {
        keep(Loc::freeplotEnable, savedCopies.freeplotEnable);
        // Without a stub there is nothing to call; the game's own result then stands.
        if (freeplotEnableStub && siteWritable(Loc::freeplotEnable))
            ok &= g_branchTrampoline.WriteSlotCall(
                addr(Loc::freeplotEnable), reinterpret_cast<std::uintptr_t>(freeplotEnableStub));
        ok &= write(Loc::colorBase, kStoreImmediate, {0x00});
        keep(Loc::selectEnable, savedCopies.selectEnable);
        ok &= write(Loc::selectEnable, 0, {0x90, 0x90, 0x90});
        keep(Loc::buildEnable, savedCopies.buildEnable);
        ok &= write(Loc::buildEnable, 0, {0x31, 0xC0, 0x90, 0x90, 0x90, 0x90, 0x90});
        ok &= write(Loc::buildEnable, buildEnableJumpOffset, {0xEB});
        keep(Loc::buildWaterEnable, savedCopies.buildWaterEnable);
        ok &= write(Loc::buildWaterEnable, 0, {0xEB, 0x20, 0x90, 0x90, 0x90, 0x90});
        ok &= write(Loc::buildAirEnable, kStoreImmediate, {0x00});
        keep(Loc::collisionSnap, savedCopies.collisionSnap);
        if (siteWritable(Loc::collisionSnap))
            ok &=
                writeCode(addr(Loc::collisionSnap), kCollisionSnapCode, sizeof kCollisionSnapCode);
    } else {
        ok &= write(Loc::colorBase, kStoreImmediate, {0x01});
        ok &= write(Loc::buildAirEnable, kStoreImmediate, {0x01});
        ok &= restore(Loc::selectEnable, savedCopies.selectEnable);
        ok &= restore(Loc::freeplotEnable, savedCopies.freeplotEnable);
        ok &= restore(Loc::buildEnable, savedCopies.buildEnable);
        ok &= write(Loc::buildEnable, buildEnableJumpOffset, {0x74});
        ok &= restore(Loc::buildWaterEnable, savedCopies.buildWaterEnable);
        ok &= restore(Loc::collisionSnap, savedCopies.collisionSnap);
    }
    return {ok, on ? Msg::freeplotOn : Msg::freeplotOff};
}

Outcome writeFreeplotModeState() { return writeFreeplotMode(switches.freeplotMode); }

Outcome writeObjectSnap() {
    Outcome outcome;
    if (switches.snapDisabled) {
        if (switches.freeplotMode)
            outcome.written &= write(Loc::collisionSnap, kCollisionSnapValueByte, {0x01});
        keep(Loc::snapJump, savedCopies.snapJump);
        outcome.written &= write(Loc::snapJump, 0, {0x90, 0x90});
        savedSnapDistance = readGame<float>(Loc::snapDistance);
        writeGame<float>(Loc::snapDistance, 0.0f);
        outcome.message = Msg::snapOff;
    } else {
        if (switches.freeplotMode)
            outcome.written &= write(Loc::collisionSnap, kCollisionSnapValueByte, {0x00});
        outcome.written &= restore(Loc::snapJump, savedCopies.snapJump);
        writeGame<float>(Loc::snapDistance, savedSnapDistance);
        outcome.message = Msg::snapOn;
    }
    return outcome;
}

Outcome writeTimeoutFrozen() {
    if (switches.timeoutFrozen)
        return {writeJumpTemplate(Loc::timeoutFreese, savedCopies.timeoutFreese,
                                  jumpTemplates.timeoutFreese),
                Msg::freezeOn};
    return {restore(Loc::timeoutFreese, savedCopies.timeoutFreese), Msg::freezeOff};
}

Outcome writeObjectLock() {
    if (switches.objectLocked)
        return {
            writeJumpTemplate(Loc::lockObject, savedCopies.lockObject, jumpTemplates.lockObject),
            Msg::lockObjectOn};
    // Never locked: nothing to write back and nothing to say.
    if (!savedCopies.lockObject.filled) return {};
    return {restore(Loc::lockObject, savedCopies.lockObject), Msg::lockObjectOff};
}

Outcome writeOutline() {
    if (switches.outlineDisabled)
        return {write(Loc::outline, kStoreImmediate, {0x00}), Msg::outlineOff};
    return {write(Loc::outline, kStoreImmediate, {0x01}), Msg::outlineOn};
}

Outcome writeClampedStoring() {
    if (switches.clampedStoringDisabled)
        return {writeJumpTemplate(Loc::clampedStore, savedCopies.clampedStore,
                                  jumpTemplates.clampedStore),
                Msg::clampedStoreOff};
    return {restore(Loc::clampedStore, savedCopies.clampedStore), Msg::clampedStoreOn};
}

Outcome writeExtraSelection() {
    Outcome outcome;
    if (switches.extraOutlineEnabled) {
        keep(Loc::outlineUselectable, savedCopies.outlineUselectable);
        // Without the outline stub the game's call stays in place.
        if (outlineStub && siteWritable(Loc::outlineUselectable))
            outcome.written &= writeJump5(addr(Loc::outlineUselectable),
                                          reinterpret_cast<std::uintptr_t>(outlineStub));
        keep(Loc::selectButtonUnselectable, savedCopies.selectButtonUnselectable);
        outcome.written &= write(Loc::selectButtonUnselectable, 0, {0xEB});
        keep(Loc::selectActionUnselectable, savedCopies.selectActionUnselectable);
        // mov eax, 1; jmp short to the routine's epilogue at site + 26; three NOPs.
        outcome.written &= write(Loc::selectActionUnselectable, 0,
                                 {0xB8, 0x01, 0x00, 0x00, 0x00, 0xEB, 0x13, 0x90, 0x90, 0x90});
        outcome.message = Msg::extraOutlineOn;
    } else {
        outcome.written &= restore(Loc::outlineUselectable, savedCopies.outlineUselectable);
        outcome.written &=
            restore(Loc::selectButtonUnselectable, savedCopies.selectButtonUnselectable);
        outcome.written &=
            restore(Loc::selectActionUnselectable, savedCopies.selectActionUnselectable);
        outcome.message = Msg::extraOutlineOff;
    }
    return outcome;
}

// A switch: the state it follows and the writes that put its bytes in line with that state.
struct SwitchRow {
    Shared<bool> SwitchStates::*state;
    Outcome (*write)();
};

constexpr SwitchRow kSwitchRows[] = {
    {&SwitchStates::freeplotMode, writeFreeplotModeState},
    {&SwitchStates::snapDisabled, writeObjectSnap},
    {&SwitchStates::timeoutFrozen, writeTimeoutFrozen},
    {&SwitchStates::objectLocked, writeObjectLock},
    {&SwitchStates::outlineDisabled, writeOutline},
    {&SwitchStates::clampedStoringDisabled, writeClampedStoring},
    {&SwitchStates::extraOutlineEnabled, writeExtraSelection},
};

const SwitchRow& row(Switch which) { return kSwitchRows[static_cast<std::size_t>(which)]; }

// Writes a switch's bytes for its state as it is, then shows its message when asked.
bool apply(Switch which, bool showMessage) {
    Outcome outcome;
    {
        const CodeWriterLock lock;
        outcome = row(which).write();
    }
    return report(outcome, showMessage);
}

}  // namespace

void startSwitchStates(const Settings& from) {
    switches = {};
    switches.snapDisabled = from.snapDisabled;
    switches.timeoutFrozen = from.timeoutFrozen;
    switches.outlineDisabled = from.outlineDisabled;
    switches.extraOutlineEnabled = from.extraOutlineEnabled;
}

bool toggle(Switch which, bool showMessage) {
    const SwitchRow& r = row(which);
    Shared<bool>& state = switches.*r.state;
    Outcome outcome;
    {
        const CodeWriterLock lock;
        state = !state;
        outcome = r.write();
        if (!outcome.written) {
            state = !state;
            // Half switched on is worse than off: put back what went in.
            if (which == Switch::freeplotMode && !state) r.write();
        }
    }
    return report(outcome, showMessage);
}

bool setFreeplotMode(bool on) {
    const CodeWriterLock lock;
    return writeFreeplotMode(on).written;
}

bool toggleFreeplotMode() { return toggle(Switch::freeplotMode, false); }

bool setObjectSnap(bool showMessage) { return apply(Switch::objectSnap, showMessage); }

void setSurfaceSnap(bool disable, bool showMessage) {
    {
        const CodeWriterLock lock;
        if (disable) {
            savedSurfaceSnap = readGame<float>(Loc::surfaceSnapValue);
            writeGame<float>(Loc::surfaceSnapValue, kSurfaceSnapOff);
        } else {
            writeGame<float>(Loc::surfaceSnapValue, savedSurfaceSnap);
        }
    }
    if (showMessage) show(disable ? Msg::groundOff : Msg::groundOn);
}

bool setTimeoutFrozen(bool showMessage) { return apply(Switch::timeoutFrozen, showMessage); }

bool setObjectLock() { return apply(Switch::objectLock, true); }

void toggleObjectLock() { toggle(Switch::objectLock); }

bool releaseObjectLock() {
    Outcome outcome;
    {
        const CodeWriterLock lock;
        if (!switches.objectLocked) return false;
        switches.objectLocked = false;
        outcome = writeObjectLock();
        if (!outcome.written) switches.objectLocked = true;
    }
    report(outcome, true);
    return outcome.written;
}

bool setOutline(bool showMessage) { return apply(Switch::outline, showMessage); }

bool setClampedStoring() { return apply(Switch::clampedStoring, true); }

bool setExtraSelection(bool showMessage) { return apply(Switch::extraSelection, showMessage); }

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
    {
        const CodeWriterLock lock;
        if (savedTimescale == 0.0f)
            slowClock(*multiplier);
        else
            restoreClock(*multiplier);
    }
    if (showMessage) show(savedTimescale != 0.0f ? Msg::timescaleOn : Msg::timescaleOff);
}

void autoTimescale() {
    const bool inWorkshop = readGame<std::int32_t>(Loc::workshopModeFlag) != 0;
    if (autoTimescaleIdle(inWorkshop)) return;
    const CodeWriterLock lock;
    if (!inWorkshop) {
        if (savedTimescale != 0.0f) {
            if (float* multiplier = timeMultiplier()) restoreClock(*multiplier);
        }
        switches.timescaleKeyFlag = false;
    } else if (savedTimescale == 0.0f && settings.autoTimescaleEnabled &&
               !switches.timescaleKeyFlag) {
        if (float* multiplier = timeMultiplier()) slowClock(*multiplier);
    }
}

void autoOutline() {
    const bool inWorkshop = readGame<std::int32_t>(Loc::workshopModeFlag) != 0;
    if (autoOutlineIdle(inWorkshop)) return;
    const CodeWriterLock lock;
    if (!inWorkshop) {
        if (switches.outlineDisabled) {
            switches.outlineStash = 1;
            switches.outlineDisabled = false;
            write(Loc::outline, kStoreImmediate, {0x01});
        }
    } else if (switches.outlineStash != 0) {
        switches.outlineDisabled = true;
        switches.outlineStash = 0;
        write(Loc::outline, kStoreImmediate, {0x00});
    }
}

void applyStartupPatches() {
    if (switches.timeoutFrozen) setTimeoutFrozen(false);
    if (switches.snapDisabled) setObjectSnap(false);
    if (settings.groundDisabled) setSurfaceSnap(true, false);
    if (switches.outlineDisabled) setOutline(false);
    if (switches.extraOutlineEnabled) setExtraSelection(false);
}

}  // namespace freeplot
