#include "rules/switches.h"

#include <array>
#include <cstring>
#include <optional>
#include <span>

#include "common/branch_trampoline.h"
#include "common/write_code.h"
#include "config/messages.h"
#include "feedback/notify.h"
#include "game/codesites.h"
#include "game/gamefunctions.h"
#include "game/hooks.h"

namespace freeplot {

SwitchStates switches;

namespace {

// How one write of a switch puts its site in line with the switch's state.
enum class Kind : std::uint8_t {
    code,        // `on` while on; the game's own bytes (kept at the first switch-on) while off
    value,       // `on` or `off`, nothing kept: a store's immediate, a jump's opcode
    alwaysJump,  // the site's 6-byte jump-if-equal made unconditional while on
    slotCall,    // a call through the trampoline to the freeplot-enable stub while on
    stubJump,    // a 5-byte jump to the outline stub while on
    gameFloat,   // a game variable: `onValue` while on, the value it had before while off
    // The snap override value inside freeplot mode's collision code: 01 while object snap is
    // off, 00 while it is on. Going off writes nothing: the code write before it puts the game's
    // bytes back whole.
    snapOverride,
};

struct SiteWrite {
    Loc site;
    Kind kind;
    std::uint8_t offset = 0;
    std::span<const std::uint8_t> on = {};
    std::span<const std::uint8_t> off = {};
    float onValue = 0.0f;
    float offUntilKept = 0.0f;  // gameFloat: written when going off before any switch-on
    bool onlyInFreeplotMode = false;
};

struct SwitchRow {
    Shared<bool> SwitchStates::*state;  // null: the state is the game's own value
    std::span<const SiteWrite> writes;
    Msg onMessage;
    Msg offMessage;
    bool Settings::*startsOn;  // null: never on at start-up
    // Going off before the first switch-on writes nothing and says nothing.
    bool quietUntilFirstOn = false;
    // When the writes to go on fail, the ones that went in are taken back.
    bool allOrNothing = false;
    // Its bit in dueInside while it is parked outside workshop mode; 0: never parked.
    std::uint8_t parkBit = 0;
};

template <std::size_t N>
constexpr std::span<const std::uint8_t> bytes(const std::uint8_t (&b)[N]) {
    return {b, N};
}

constexpr std::uint8_t kNop3[] = {0x90, 0x90, 0x90};
constexpr std::uint8_t kNop2[] = {0x90, 0x90};
constexpr std::uint8_t kZero[] = {0x00};
constexpr std::uint8_t kOne[] = {0x01};
constexpr std::uint8_t kShortJump[] = {0xEB};
constexpr std::uint8_t kJumpIfEqual[] = {0x74};
// xor eax, eax and five NOPs: the build check always passes.
constexpr std::uint8_t kBuildAlways[] = {0x31, 0xC0, 0x90, 0x90, 0x90, 0x90, 0x90};
// jmp short +0x20 over the water check, four NOPs.
constexpr std::uint8_t kSkipWater[] = {0xEB, 0x20, 0x90, 0x90, 0x90, 0x90};
// lea rcx, [rbp+0x1160]; mov dword [rip+0x0567B775], 0 (the store into the snap override
// value, whose low byte is at +13); four NOPs.
constexpr std::uint8_t kCollisionSnapCode[] = {0x48, 0x8D, 0x8D, 0x60, 0x11, 0x00, 0x00,
                                               0xC7, 0x05, 0x75, 0xB7, 0x67, 0x05, 0x00,
                                               0x00, 0x00, 0x00, 0x90, 0x90, 0x90, 0x90};
// mov eax, 1, then a short jump (+0x13) past the checks to the epilogue, padded with NOPs.
constexpr std::uint8_t kSelectActionAlways[] = {0xB8, 0x01, 0x00, 0x00, 0x00,
                                                0xEB, 0x13, 0x90, 0x90, 0x90};

// The immediate of the byte stores at colorBase, buildAirEnable and outline.
constexpr std::uint8_t kStoreImmediate = 6;
// The conditional jump after the build check, turned into a short jump.
constexpr std::uint8_t kBuildEnableJump = 30;
constexpr std::uint8_t kCollisionSnapValue = 13;
// Surface snap's value while it is off.
constexpr float kSurfaceSnapOff = 1.5f;

constexpr SiteWrite kFreeplotWrites[] = {
    {Loc::freeplotEnable, Kind::slotCall},
    {Loc::colorBase, Kind::value, kStoreImmediate, bytes(kZero), bytes(kOne)},
    {Loc::selectEnable, Kind::code, 0, bytes(kNop3)},
    {Loc::buildEnable, Kind::code, 0, bytes(kBuildAlways)},
    {Loc::buildEnable, Kind::value, kBuildEnableJump, bytes(kShortJump), bytes(kJumpIfEqual)},
    {Loc::buildWaterEnable, Kind::code, 0, bytes(kSkipWater)},
    {Loc::buildAirEnable, Kind::value, kStoreImmediate, bytes(kZero), bytes(kOne)},
    {Loc::collisionSnap, Kind::code, 0, bytes(kCollisionSnapCode)},
    // The code above stores 00 (snap on); object snap may be off.
    {Loc::collisionSnap, Kind::snapOverride, kCollisionSnapValue},
};
constexpr SiteWrite kObjectSnapWrites[] = {
    {.site = Loc::collisionSnap,
     .kind = Kind::value,
     .offset = kCollisionSnapValue,
     .on = bytes(kOne),
     .off = bytes(kZero),
     .onlyInFreeplotMode = true},
    {Loc::snapJump, Kind::code, 0, bytes(kNop2)},
    {.site = Loc::snapDistance, .kind = Kind::gameFloat, .onValue = 0.0f, .offUntilKept = 48.0f},
};
constexpr SiteWrite kSurfaceSnapWrites[] = {
    {.site = Loc::surfaceSnapValue,
     .kind = Kind::gameFloat,
     .onValue = kSurfaceSnapOff,
     .offUntilKept = 0.8f},
};
constexpr SiteWrite kTimeoutWrites[] = {{Loc::timeoutFreese, Kind::alwaysJump}};
constexpr SiteWrite kLockWrites[] = {{Loc::lockObject, Kind::alwaysJump}};
constexpr SiteWrite kOutlineWrites[] = {
    {Loc::outline, Kind::value, kStoreImmediate, bytes(kZero), bytes(kOne)},
};
constexpr SiteWrite kClampedWrites[] = {{Loc::clampedStore, Kind::alwaysJump}};
constexpr SiteWrite kExtraSelectionWrites[] = {
    {Loc::outlineUselectable, Kind::stubJump},
    {Loc::selectButtonUnselectable, Kind::code, 0, bytes(kShortJump)},
    {Loc::selectActionUnselectable, Kind::code, 0, bytes(kSelectActionAlways)},
};

// In the order of Switch.
constexpr SwitchRow kRows[] = {
    {.state = &SwitchStates::freeplotMode,
     .writes = kFreeplotWrites,
     .onMessage = Msg::freeplotOn,
     .offMessage = Msg::freeplotOff,
     .startsOn = nullptr,
     .allOrNothing = true},
    {&SwitchStates::snapDisabled, kObjectSnapWrites, Msg::snapOff, Msg::snapOn,
     &Settings::snapDisabled},
    {nullptr, kSurfaceSnapWrites, Msg::groundOff, Msg::groundOn, &Settings::groundDisabled},
    {&SwitchStates::timeoutFrozen, kTimeoutWrites, Msg::freezeOn, Msg::freezeOff,
     &Settings::timeoutFrozen},
    {.state = &SwitchStates::objectLocked,
     .writes = kLockWrites,
     .onMessage = Msg::lockObjectOn,
     .offMessage = Msg::lockObjectOff,
     .startsOn = nullptr,
     .quietUntilFirstOn = true},
    {.state = &SwitchStates::outlineDisabled,
     .writes = kOutlineWrites,
     .onMessage = Msg::outlineOff,
     .offMessage = Msg::outlineOn,
     .startsOn = &Settings::outlineDisabled,
     .parkBit = kParkedOutline},
    {&SwitchStates::clampedStoringDisabled, kClampedWrites, Msg::clampedStoreOff,
     Msg::clampedStoreOn, nullptr},
    {.state = &SwitchStates::extraOutlineEnabled,
     .writes = kExtraSelectionWrites,
     .onMessage = Msg::extraOutlineOn,
     .offMessage = Msg::extraOutlineOff,
     .startsOn = &Settings::extraOutlineEnabled,
     .parkBit = kParkedExtraSelection},
};
static_assert(std::size(kRows) == kSwitchCount);

const SwitchRow& row(Switch which) { return kRows[index(which)]; }

// What the game had at a site before the plugin's first write there: its code bytes (kept once,
// never refreshed) or its variable's value (kept at every switch-on).
struct Kept {
    std::array<std::uint8_t, sizeof kCollisionSnapCode> bytes{};
    float value = 0.0f;
    bool filled = false;
};
struct KeptGameState {
    Kept sites[static_cast<std::size_t>(Loc::count)];
};
KeptGameState keptGameState;

Kept& kept(Loc site) { return keptGameState.sites[static_cast<std::size_t>(site)]; }

// The length of the game's code a write replaces at its site.
std::size_t replacedLength(const SiteWrite& w) {
    switch (w.kind) {
        case Kind::code:
            return w.on.size();
        case Kind::alwaysJump:
        case Kind::slotCall:
            return 6;
        case Kind::stubJump:
            return 5;
        default:
            return 0;
    }
}

void keep(const SiteWrite& w) {
    Kept& copy = kept(w.site);
    if (copy.filled) return;
    std::memcpy(copy.bytes.data(), reinterpret_cast<const void*>(addr(w.site)), replacedLength(w));
    copy.filled = true;
}

// Writes the game's kept bytes back; without a kept copy there is nothing to write.
bool restore(const SiteWrite& w) {
    const Kept& copy = kept(w.site);
    return !copy.filled || writeCode(addr(w.site), copy.bytes.data(), replacedLength(w));
}

bool writeOn(const SiteWrite& w) {
    const std::uintptr_t at = addr(w.site);
    switch (w.kind) {
        case Kind::code:
            keep(w);
            return writeCode(at, w.on.data(), w.on.size());
        case Kind::value:
            return writeCode(at + w.offset, w.on.data(), w.on.size());
        case Kind::alwaysJump: {
            keep(w);
            std::uint8_t original[6];
            std::memcpy(original, kept(w.site).bytes.data(), sizeof original);
            const JumpTemplate jump = completeJumpTemplate(original);
            return writeCode(at, jump.data(), jump.size());
        }
        case Kind::slotCall:
            keep(w);
            // Without the stub there is nothing to call; the game's own result then stands.
            return !stubs.freeplotEnable ||
                   branchTrampoline.writeSlotCall(
                       at, reinterpret_cast<std::uintptr_t>(stubs.freeplotEnable));
        case Kind::stubJump:
            keep(w);
            // Without the stub the game's call stays in place.
            return !stubs.outline ||
                   writeJump5(at, reinterpret_cast<std::uintptr_t>(stubs.outline));
        case Kind::gameFloat:
            kept(w.site).value = readGame<float>(w.site);
            kept(w.site).filled = true;
            writeGame<float>(w.site, w.onValue);
            return true;
        case Kind::snapOverride: {
            const std::uint8_t value = switches.snapDisabled ? 1 : 0;
            return writeCode(at + w.offset, &value, 1);
        }
    }
    return false;
}

bool writeOff(const SiteWrite& w) {
    switch (w.kind) {
        case Kind::value:
            return writeCode(addr(w.site) + w.offset, w.off.data(), w.off.size());
        case Kind::gameFloat: {
            const Kept& copy = kept(w.site);
            writeGame<float>(w.site, copy.filled ? copy.value : w.offUntilKept);
            return true;
        }
        case Kind::snapOverride:
            return true;
        default:
            return restore(w);
    }
}

// Puts a switch's sites in line with `on`. Called with the code writer's lock held; shows
// nothing (the lock is never held while calling into the game). Returns whether every write
// went in.
bool writeSwitch(const SwitchRow& r, bool on) {
    bool written = true;
    for (const SiteWrite& w : r.writes) {
        if (w.onlyInFreeplotMode && !switches.freeplotMode) continue;
        // Game variables have no code to check; code sites are written only when they match.
        if (w.kind != Kind::gameFloat && !siteWritable(w.site)) continue;
        written &= on ? writeOn(w) : writeOff(w);
    }
    return written;
}

bool currentState(const SwitchRow& r) {
    return r.state ? bool{switches.*r.state} : readGame<float>(r.writes[0].site) == kSurfaceSnapOff;
}

void setState(const SwitchRow& r, bool on) {
    if (r.state) switches.*r.state = on;
}

bool neverOn(const SwitchRow& r) {
    for (const SiteWrite& w : r.writes)
        if (kept(w.site).filled) return false;
    return true;
}

// Changes a switch to `on` under the lock; the message to show afterwards, if any.
struct Change {
    bool written = true;
    std::optional<Msg> message;
};

Change change(const SwitchRow& r, bool on) {
    if (!on && r.quietUntilFirstOn && neverOn(r)) {
        setState(r, false);
        return {};
    }
    setState(r, on);
    if (writeSwitch(r, on)) return {true, on ? r.onMessage : r.offMessage};
    setState(r, !on);
    // Half switched on is worse than off: put back what went in.
    if (on && r.allOrNothing) writeSwitch(r, false);
    return {false, std::nullopt};
}

bool report(const Change& done, bool show) {
    if (done.message && show) showNow(*done.message);
    return done.written;
}

}  // namespace

void startSwitchStates(const Settings& from) {
    switches = {};
    for (const SwitchRow& r : kRows)
        if (r.state && r.startsOn) switches.*r.state = from.*r.startsOn;
}

void applyStartupPatches() {
    for (const SwitchRow& r : kRows) {
        if (!r.startsOn || !(settings.*r.startsOn)) continue;
        const CodeWriterLock lock;
        change(r, true);
    }
}

bool switchOn(Switch which) {
    const CodeWriterLock lock;
    return currentState(row(which));
}

bool setSwitch(Switch which, bool on, bool show) {
    const SwitchRow& r = row(which);
    Change done;
    {
        const CodeWriterLock lock;
        if (currentState(r) == on) return false;
        done = change(r, on);
    }
    return report(done, show);
}

bool toggle(Switch which, bool show) {
    const SwitchRow& r = row(which);
    Change done;
    {
        const CodeWriterLock lock;
        done = change(r, !currentState(r));
    }
    return report(done, show);
}

void parkOutsideWorkshop(Switch which, bool inWorkshop) {
    const SwitchRow& r = row(which);
    std::uint8_t& due = switches.dueInside;
    const CodeWriterLock lock;
    if (!inWorkshop && currentState(r)) {
        due = static_cast<std::uint8_t>(due | r.parkBit);
        setState(r, false);
        writeSwitch(r, false);
    } else if (inWorkshop && (due & r.parkBit) != 0) {
        due = static_cast<std::uint8_t>(due & ~r.parkBit);
        setState(r, true);
        writeSwitch(r, true);
    }
}

void forgetKeptGameBytes() { keptGameState = {}; }

}  // namespace freeplot
