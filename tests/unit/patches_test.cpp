// The switches of the building rules, byte for byte, on a game image laid out in this process:
// every signed site holds bytes that pass its signature, the message function records what it is
// asked to show, and the time multiplier sits at the end of its pointer chain.

#include "game/patches.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/BranchTrampoline.h"
#include "common/IDebugLog.h"
#include "common/msabi.h"
#include "config/settings.h"
#include "game/hooks.h"
#include "game/locations.h"
#include "game/signatures.h"
#include "os/os.h"

using namespace freeplot;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Where the game image is laid: the main module's address as the OS layer reports it (the game's
// 0x140000000, or elsewhere where a sanitizer needs that address).
const std::uintptr_t kImage = os::mainModule();
constexpr std::size_t kImageSize = 0x6000000;
// Free space at the end of the image for the time manager objects and a fake outline stub.
constexpr std::uint32_t kTimeManager = 0x5F00000;
constexpr std::uint32_t kClock = 0x5F00100;
constexpr std::uint32_t kFakeOutlineStub = 0x5F01000;

std::vector<std::string> shown;
std::vector<std::string> logged;

void FREEPLOT_MSABI recordMessage(const char* text, std::uintptr_t second, std::uintptr_t third) {
    shown.push_back(text);
    EXPECT_EQ(second, 0u);
    EXPECT_EQ(third, 1u);
}

std::uint8_t* at(Loc loc, std::size_t offset = 0) {
    return reinterpret_cast<std::uint8_t*>(addr(loc) + offset);
}
Bytes bytes(Loc loc, std::size_t count, std::size_t offset = 0) {
    return Bytes(at(loc, offset), at(loc, offset) + count);
}
void put(Loc loc, std::size_t offset, const Bytes& b) {
    std::memcpy(at(loc, offset), b.data(), b.size());
}
float& gameFloat(Loc loc) { return *ptr<float>(loc); }
float& multiplier() { return *reinterpret_cast<float*>(kImage + kClock + 48); }

class Patches : public testing::Test {
protected:
    static void SetUpTestSuite() {
        void* p = mmap(reinterpret_cast<void*>(kImage), kImageSize, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED_NOREPLACE, -1, 0);
        ASSERT_EQ(p, reinterpret_cast<void*>(kImage));
        buildEnableJumpOffset = 30;
        resolveLocations();

        layGameCode();

        // hudMessageFunction: mov rax, recordMessage; jmp rax.
        Bytes jump = {0x48, 0xB8};
        const auto target = reinterpret_cast<std::uint64_t>(&recordMessage);
        for (int i = 0; i < 8; ++i) jump.push_back(static_cast<std::uint8_t>(target >> (8 * i)));
        jump.insert(jump.end(), {0xFF, 0xE0});
        put(Loc::hudMessageFunction, 0, jump);
        ASSERT_EQ(mprotect(reinterpret_cast<void*>(addr(Loc::hudMessageFunction) & ~0xFFFul),
                           0x2000, PROT_READ | PROT_WRITE | PROT_EXEC),
                  0);

        *ptr<std::uintptr_t>(Loc::timeManagerPtr) = kImage + kTimeManager;
        *reinterpret_cast<std::uintptr_t*>(kImage + kTimeManager + 48) = kImage + kClock;
        multiplier() = 1.0f;
        gameFloat(Loc::snapDistance) = 48.0f;
        gameFloat(Loc::surfaceSnapValue) = 0.8f;

        verifySignatures();
        for (const Signature& sig : kSignatures) ASSERT_TRUE(siteVerified(sig.site)) << sig.name;

        ASSERT_TRUE(g_branchTrampoline.ObtainBlock());
        freeplotEnableStub = reinterpret_cast<const void*>(g_branchTrampoline.m_base);
        g_branchTrampoline.EndCode(static_cast<std::uint8_t*>(g_branchTrampoline.BeginCode()) + 12);
        outlineStub = reinterpret_cast<const void*>(kImage + kFakeOutlineStub);
    }
    static void TearDownTestSuite() { munmap(reinterpret_cast<void*>(kImage), kImageSize); }

    static void layGameCode() {
        // Each signed site gets its pattern, wildcards filled with made-up operands.
        for (const Signature& s : kSignatures) {
            for (std::size_t i = 0; i < s.length; ++i)
                at(s.site)[i] = s.mask[i] ? s.pattern[i] : static_cast<std::uint8_t>(0x41 + i);
        }
        put(Loc::timeoutFreese, 2, {0x10, 0x00, 0x00, 0x00});  // je +0x10
        put(Loc::lockObject, 2, {0xFF, 0xFF, 0xFF, 0xFF});     // je -1
        put(Loc::buildEnable, 30, {0x74});
        // The sites without a signature.
        put(Loc::mouseInput, 0, {0xE8, 0x10, 0x20, 0x30, 0x00});
        put(Loc::snapJump, 0, {0x74, 0x0C});
        put(Loc::clampedStore, 0, {0x0F, 0x84, 0x34, 0x12, 0x00, 0x00});
    }

    // Every test starts from the game's code and the plugin's start state, so the tests do not
    // depend on their order.
    void SetUp() override {
        layGameCode();
        verifySignatures();
        switches = {};
        savedSnapDistance = 48.0f;
        savedSurfaceSnap = 0.8f;
        savedTimescale = 0.0f;
        savedCopies = SavedCopies{};
        jumpTemplates = JumpTemplates{};
        settings = Settings{};
        multiplier() = 1.0f;
        gameFloat(Loc::snapDistance) = 48.0f;
        gameFloat(Loc::surfaceSnapValue) = 0.8f;
        shown.clear();
        logged.clear();
        setLogObserver([](const char* line, void*) { logged.emplace_back(line); }, nullptr);
    }
    void TearDown() override { setLogObserver(nullptr, nullptr); }
};

// The bytes a switch may touch, taken before it runs, to check that off puts everything back.
struct Snapshot {
    struct Range {
        Loc loc;
        std::size_t offset, count;
        Bytes bytes;
    };
    std::vector<Range> ranges;
    explicit Snapshot(std::initializer_list<std::tuple<Loc, std::size_t, std::size_t>> list) {
        for (auto [loc, offset, count] : list)
            ranges.push_back({loc, offset, count, bytes(loc, count, offset)});
    }
    void expectUnchanged() const {
        for (const Range& r : ranges)
            EXPECT_EQ(bytes(r.loc, r.count, r.offset), r.bytes)
                << info(r.loc).name << "+" << r.offset;
    }
};

Snapshot freeplotSites() {
    return Snapshot{{Loc::freeplotEnable, 0, 6},    {Loc::colorBase, 0, 26},
                    {Loc::selectEnable, 0, 32},     {Loc::buildEnable, 0, 32},
                    {Loc::buildWaterEnable, 0, 23}, {Loc::buildAirEnable, 0, 18},
                    {Loc::collisionSnap, 0, 33}};
}

}  // namespace

TEST_F(Patches, FreeplotModeOnOffOnWritesTheSameBytesAndKeepsTheGameBytes) {
    const Snapshot game = freeplotSites();
    const Bytes collisionCode = {0x48, 0x8D, 0x8D, 0x60, 0x11, 0x00, 0x00, 0xC7, 0x05, 0x75, 0xB7,
                                 0x67, 0x05, 0x00, 0x00, 0x00, 0x00, 0x90, 0x90, 0x90, 0x90};
    auto expectOn = [&] {
        // freeplotEnable calls through a trampoline slot holding the stub's entry.
        const Bytes call = bytes(Loc::freeplotEnable, 6);
        ASSERT_EQ(call[0], 0xFF);
        ASSERT_EQ(call[1], 0x15);
        std::int32_t rel;
        std::memcpy(&rel, call.data() + 2, 4);
        const std::uintptr_t slot = addr(Loc::freeplotEnable) + 6 + static_cast<std::intptr_t>(rel);
        // Slots follow the stubs' code, so a slot need not be 8-byte aligned.
        const void* held = nullptr;
        std::memcpy(&held, reinterpret_cast<const void*>(slot), sizeof held);
        EXPECT_EQ(held, freeplotEnableStub);
        EXPECT_EQ(bytes(Loc::colorBase, 1, 6), Bytes{0x00});
        EXPECT_EQ(bytes(Loc::selectEnable, 3), (Bytes{0x90, 0x90, 0x90}));
        EXPECT_EQ(bytes(Loc::buildEnable, 7), (Bytes{0x31, 0xC0, 0x90, 0x90, 0x90, 0x90, 0x90}));
        EXPECT_EQ(bytes(Loc::buildEnable, 1, 30), Bytes{0xEB});
        EXPECT_EQ(bytes(Loc::buildWaterEnable, 6), (Bytes{0xEB, 0x20, 0x90, 0x90, 0x90, 0x90}));
        EXPECT_EQ(bytes(Loc::buildAirEnable, 1, 6), Bytes{0x00});
        EXPECT_EQ(bytes(Loc::collisionSnap, 21), collisionCode);
    };

    setFreeplotMode(true);
    expectOn();
    const Bytes firstOn = bytes(Loc::freeplotEnable, 6);
    const std::uint64_t remainAfterFirst = g_branchTrampoline.Remain();
    setFreeplotMode(false);
    game.expectUnchanged();

    // A second switch-on writes the same bytes and costs no trampoline space; the copies still
    // hold the game's bytes even when the game's code looked different in between.
    put(Loc::selectEnable, 0, {0x11, 0x22, 0x33});
    setFreeplotMode(true);
    expectOn();
    EXPECT_EQ(bytes(Loc::freeplotEnable, 6), firstOn);
    EXPECT_EQ(g_branchTrampoline.Remain(), remainAfterFirst);
    setFreeplotMode(false);
    game.expectUnchanged();
    EXPECT_TRUE(shown.empty());
    EXPECT_TRUE(logged.empty());
}

TEST_F(Patches, ObjectSnapSavesTheGameValueEachTimeAndTouchesCollisionOnlyInFreeplotMode) {
    const Snapshot game{{Loc::snapJump, 0, 2}, {Loc::collisionSnap, 0, 33}};
    EXPECT_EQ(savedSnapDistance, 48.0f);

    gameFloat(Loc::snapDistance) = 30.0f;
    switches.snapDisabled = true;
    setObjectSnap(true);
    EXPECT_EQ(bytes(Loc::snapJump, 2), (Bytes{0x90, 0x90}));
    EXPECT_EQ(gameFloat(Loc::snapDistance), 0.0f);
    EXPECT_EQ(savedSnapDistance, 30.0f);
    EXPECT_EQ(bytes(Loc::collisionSnap, 33), game.ranges[1].bytes);  // freeplot mode is off
    switches.snapDisabled = false;
    setObjectSnap(true);
    game.expectUnchanged();
    EXPECT_EQ(gameFloat(Loc::snapDistance), 30.0f);

    // In freeplot mode the substitute code's stored value follows the switch.
    switches.freeplotMode = true;
    setFreeplotMode(true);
    gameFloat(Loc::snapDistance) = 48.0f;
    switches.snapDisabled = true;
    setObjectSnap(false);
    EXPECT_EQ(bytes(Loc::collisionSnap, 1, 13), Bytes{0x01});
    EXPECT_EQ(savedSnapDistance, 48.0f);
    switches.snapDisabled = false;
    setObjectSnap(false);
    EXPECT_EQ(bytes(Loc::collisionSnap, 1, 13), Bytes{0x00});
    EXPECT_EQ(gameFloat(Loc::snapDistance), 48.0f);
    switches.freeplotMode = false;
    setFreeplotMode(false);
    game.expectUnchanged();
    EXPECT_EQ(shown, (std::vector<std::string>{"Object snap off", "Object snap on"}));

    // Surface snap: 1.5 while off, the game's value back afterwards.
    gameFloat(Loc::surfaceSnapValue) = 0.6f;
    setSurfaceSnap(true, true);
    EXPECT_EQ(gameFloat(Loc::surfaceSnapValue), 1.5f);
    setSurfaceSnap(false, false);
    EXPECT_EQ(gameFloat(Loc::surfaceSnapValue), 0.6f);
    EXPECT_EQ(shown.back(), "Surface snap off");
}

TEST_F(Patches, ConditionalJumpsBecomeUnconditionalToTheSameTarget) {
    const Snapshot game{
        {Loc::timeoutFreese, 0, 6}, {Loc::lockObject, 0, 6}, {Loc::clampedStore, 0, 6}};

    // Unlocking before anything was locked does nothing at all.
    switches.objectLocked = false;
    setObjectLock();
    EXPECT_TRUE(shown.empty());

    switches.timeoutFrozen = true;
    setTimeoutFrozen(true);
    switches.objectLocked = true;
    setObjectLock();
    switches.clampedStoringDisabled = true;
    setClampedStoring();
    EXPECT_EQ(bytes(Loc::timeoutFreese, 6), (Bytes{0xE9, 0x11, 0x00, 0x00, 0x00, 0x90}));
    EXPECT_EQ(bytes(Loc::lockObject, 6), (Bytes{0xE9, 0x00, 0x00, 0x00, 0x00, 0x90}));
    EXPECT_EQ(bytes(Loc::clampedStore, 6), (Bytes{0xE9, 0x35, 0x12, 0x00, 0x00, 0x90}));

    switches.timeoutFrozen = false;
    setTimeoutFrozen(false);
    switches.objectLocked = false;
    setObjectLock();
    switches.clampedStoringDisabled = false;
    setClampedStoring();
    game.expectUnchanged();

    // Switched on again, the completed template is written as it is.
    switches.timeoutFrozen = true;
    setTimeoutFrozen(false);
    EXPECT_EQ(bytes(Loc::timeoutFreese, 6), (Bytes{0xE9, 0x11, 0x00, 0x00, 0x00, 0x90}));
    switches.timeoutFrozen = false;
    setTimeoutFrozen(false);
    game.expectUnchanged();

    EXPECT_EQ(shown,
              (std::vector<std::string>{"Workshop timeout off", "Object locked",
                                        "Clamped objects storing disabled", "Object unlocked",
                                        "Clamped objects storing enabled"}));
}

TEST_F(Patches, OutlineAndExtraSelection) {
    const Snapshot game{{Loc::outline, 0, 18},
                        {Loc::outlineUselectable, 0, 36},
                        {Loc::selectButtonUnselectable, 0, 9},
                        {Loc::selectActionUnselectable, 0, 31}};
    switches.outlineDisabled = true;
    setOutline(true);
    EXPECT_EQ(bytes(Loc::outline, 1, 6), Bytes{0x00});
    switches.outlineDisabled = false;
    setOutline(true);
    EXPECT_EQ(bytes(Loc::outline, 1, 6), Bytes{0x01});

    switches.extraOutlineEnabled = true;
    setExtraSelection(true);
    const std::uint32_t rel = kFakeOutlineStub - (offsetOf(Loc::outlineUselectable) + 5);
    EXPECT_EQ(bytes(Loc::outlineUselectable, 5),
              (Bytes{0xE9, static_cast<std::uint8_t>(rel), static_cast<std::uint8_t>(rel >> 8),
                     static_cast<std::uint8_t>(rel >> 16), static_cast<std::uint8_t>(rel >> 24)}));
    EXPECT_EQ(bytes(Loc::selectButtonUnselectable, 1), Bytes{0xEB});
    EXPECT_EQ(bytes(Loc::selectActionUnselectable, 10),
              (Bytes{0xB8, 0x01, 0x00, 0x00, 0x00, 0xEB, 0x13, 0x90, 0x90, 0x90}));
    switches.extraOutlineEnabled = false;
    setExtraSelection(true);
    game.expectUnchanged();
    EXPECT_EQ(shown, (std::vector<std::string>{"Object outline off", "Object outline on",
                                               "Extra object selection enabled",
                                               "Extra object selection disabled"}));

    // Outside workshop mode a disabled outline is parked and the game's outline comes back;
    // back in workshop mode the parked state returns.
    *ptr<std::int32_t>(Loc::workshopModeFlag) = 0;
    switches.outlineDisabled = true;
    setOutline(false);
    autoOutline();
    EXPECT_FALSE(switches.outlineDisabled);
    EXPECT_EQ(switches.outlineStash, 1u);
    EXPECT_EQ(bytes(Loc::outline, 1, 6), Bytes{0x01});
    autoOutline();  // nothing more to park
    EXPECT_EQ(switches.outlineStash, 1u);
    *ptr<std::int32_t>(Loc::workshopModeFlag) = 1;
    autoOutline();
    EXPECT_TRUE(switches.outlineDisabled);
    EXPECT_EQ(switches.outlineStash, 0u);
    EXPECT_EQ(bytes(Loc::outline, 1, 6), Bytes{0x00});
    switches.outlineDisabled = false;
    setOutline(false);
    game.expectUnchanged();
    *ptr<std::int32_t>(Loc::workshopModeFlag) = 0;
}

TEST_F(Patches, TimescaleByKeyAndAutomatically) {
    multiplier() = 1.0f;
    settings.buildTimescale = 0.01f;
    toggleTimescale(true);
    EXPECT_EQ(multiplier(), 0.01f);
    EXPECT_EQ(savedTimescale, 1.0f);
    toggleTimescale(true);
    EXPECT_EQ(multiplier(), 1.0f);
    EXPECT_EQ(savedTimescale, 0.0f);
    EXPECT_EQ(shown, (std::vector<std::string>{"Timescale changed", "Timescale set to normal"}));
    shown.clear();

    // In workshop mode the clock is slowed automatically unless the player used the key.
    settings.autoTimescaleEnabled = true;
    *ptr<std::int32_t>(Loc::workshopModeFlag) = 1;
    switches.timescaleKeyFlag = true;
    autoTimescale();
    EXPECT_EQ(multiplier(), 1.0f);
    switches.timescaleKeyFlag = false;
    autoTimescale();
    EXPECT_EQ(multiplier(), 0.01f);
    autoTimescale();  // already slowed: the kept value stays the game's
    EXPECT_EQ(savedTimescale, 1.0f);

    // Leaving workshop mode restores the clock, whoever slowed it, and forgets the key.
    *ptr<std::int32_t>(Loc::workshopModeFlag) = 0;
    switches.timescaleKeyFlag = true;
    autoTimescale();
    EXPECT_EQ(multiplier(), 1.0f);
    EXPECT_EQ(savedTimescale, 0.0f);
    EXPECT_FALSE(switches.timescaleKeyFlag);
    EXPECT_TRUE(shown.empty());

    // Without the game's time manager there is nothing to change.
    *ptr<std::uintptr_t>(Loc::timeManagerPtr) = 0;
    toggleTimescale(true);
    EXPECT_EQ(savedTimescale, 0.0f);
    *ptr<std::uintptr_t>(Loc::timeManagerPtr) = kImage + kTimeManager;
    settings.autoTimescaleEnabled = false;
}

TEST_F(Patches, SiteThatDoesNotMatchIsNeverWrittenAndNamedOnce) {
    const Snapshot game{{Loc::timeoutFreese, 0, 6}, {Loc::lockObject, 0, 6}};
    const std::uint8_t original = *at(Loc::timeoutFreese);
    *at(Loc::timeoutFreese) = 0x0E;
    verifySignatures();
    logged.clear();

    switches.timeoutFrozen = true;
    setTimeoutFrozen(true);
    switches.timeoutFrozen = false;
    setTimeoutFrozen(true);
    switches.timeoutFrozen = true;
    setTimeoutFrozen(false);
    EXPECT_EQ(*at(Loc::timeoutFreese), 0x0E);
    EXPECT_EQ(bytes(Loc::timeoutFreese, 5, 1),
              Bytes(game.ranges[0].bytes.begin() + 1, game.ranges[0].bytes.end()));
    EXPECT_EQ(logged, (std::vector<std::string>{
                          "Site timeoutFreese does not match the game's code, left unpatched"}));
    // The switch still reports as usual, and the other sites are still switched.
    EXPECT_EQ(shown, (std::vector<std::string>{"Workshop timeout off", "Workshop timeout on"}));
    switches.objectLocked = true;
    setObjectLock();
    EXPECT_EQ(bytes(Loc::lockObject, 1), Bytes{0xE9});
    switches.objectLocked = false;
    setObjectLock();

    switches.timeoutFrozen = false;
    *at(Loc::timeoutFreese) = original;
    verifySignatures();
    game.expectUnchanged();
}

TEST_F(Patches, StartupPatchesFollowTheSettingsSilently) {
    const Snapshot game{{Loc::timeoutFreese, 0, 6},
                        {Loc::snapJump, 0, 2},
                        {Loc::outline, 0, 18},
                        {Loc::outlineUselectable, 0, 5}};
    gameFloat(Loc::surfaceSnapValue) = 0.8f;
    switches.timeoutFrozen = switches.snapDisabled = true;
    settings.groundDisabled = true;
    switches.outlineDisabled = switches.extraOutlineEnabled = true;
    applyStartupPatches();
    EXPECT_EQ(bytes(Loc::timeoutFreese, 1), Bytes{0xE9});
    EXPECT_EQ(bytes(Loc::snapJump, 2), (Bytes{0x90, 0x90}));
    EXPECT_EQ(gameFloat(Loc::surfaceSnapValue), 1.5f);
    EXPECT_EQ(bytes(Loc::outline, 1, 6), Bytes{0x00});
    EXPECT_EQ(bytes(Loc::outlineUselectable, 1), Bytes{0xE9});
    EXPECT_TRUE(shown.empty());

    switches = {};
    settings = Settings{};
    setTimeoutFrozen(false);
    setObjectSnap(false);
    setSurfaceSnap(false, false);
    setOutline(false);
    setExtraSelection(false);
    game.expectUnchanged();
    EXPECT_EQ(gameFloat(Loc::surfaceSnapValue), 0.8f);
}

TEST(JumpTemplate, IsTheUnconditionalJumpToTheSameTarget) {
    const std::uint8_t je10[6] = {0x0F, 0x84, 0x10, 0x00, 0x00, 0x00};
    EXPECT_EQ(completeJumpTemplate(je10), (JumpTemplate{0xE9, 0x11, 0x00, 0x00, 0x00, 0x90}));
    // Backward jumps and the carry into the upper bytes.
    const std::uint8_t jeBack[6] = {0x0F, 0x84, 0xF0, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(completeJumpTemplate(jeBack), (JumpTemplate{0xE9, 0xF1, 0xFF, 0xFF, 0xFF, 0x90}));
    const std::uint8_t jeCarry[6] = {0x0F, 0x84, 0xFF, 0xFF, 0x00, 0x00};
    EXPECT_EQ(completeJumpTemplate(jeCarry), (JumpTemplate{0xE9, 0x00, 0x00, 0x01, 0x00, 0x90}));
}

TEST(WriteJump5, RefusesTargetsOutOfReach) {
    static std::uint8_t site[8];
    const auto s = reinterpret_cast<std::uintptr_t>(site);
    std::memset(site, 0xCC, sizeof site);
    EXPECT_FALSE(writeJump5(s, s + 5 + 0x80000000ull));
    EXPECT_FALSE(writeJump5(s, s + 5 - 0x80000001ull));
    EXPECT_EQ(site[0], 0xCC);
    EXPECT_TRUE(writeJump5(s, s + 5 - 0x80000000ull));
    EXPECT_EQ(Bytes(site, site + 5), (Bytes{0xE9, 0x00, 0x00, 0x00, 0x80}));
    EXPECT_TRUE(writeJump5(s, s + 5 + 0x7FFFFFFF));
    EXPECT_EQ(Bytes(site, site + 5), (Bytes{0xE9, 0xFF, 0xFF, 0xFF, 0x7F}));
}
