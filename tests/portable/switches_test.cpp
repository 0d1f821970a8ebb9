// The switches' byte writes on a game image laid at the game's base in real address space: code
// pages are execute-read as in the game, so every write goes through a real protection change
// (VirtualProtect under Windows, the emulation on Linux) and must leave the protection as it was.
// A 64 KiB unit of the image can be given back to make the system refuse a write.

#include "rules/switches.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstring>
#include <string>
#include <vector>

#include "common/branch_trampoline.h"
#include "common/log.h"
#include "common/msabi.h"
#include "config/settings.h"
#include "game/codesites.h"
#include "game/hooks.h"
#include "game/locations.h"
#include "game/signatures.h"
#include "game/stubs.h"
#include "log_capture.h"
#include "test_memory.h"

using namespace freeplot;
using testmem::Access;
using testmem::kUnit;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr std::size_t kImageSize = 0x6000000;
// Below this offset the game's code (execute-read), above it its data (read-write).
constexpr std::uint32_t kDataStart = 0x3000000;
// Free space at the end of the image that stands for the outline stub.
constexpr std::uint32_t kFakeOutlineStub = 0x5F01000;

std::vector<std::string> shown;

void FREEPLOT_MSABI recordMessage(const char* text, std::uintptr_t, std::uintptr_t) {
    shown.push_back(text);
}

std::uintptr_t unitOf(std::uintptr_t address) { return address & ~(kUnit - 1); }
Access accessFor(std::uintptr_t unit) {
    return unit - gameBase() < kDataStart ? Access::executeRead : Access::readWrite;
}

// Writes into the image whatever its protection, as the game's loader would have.
void lay(std::uintptr_t address, const Bytes& bytes) {
    const std::uintptr_t unit = unitOf(address);
    ASSERT_TRUE(testmem::setAccess(unit, kUnit, Access::readWrite));
    std::memcpy(reinterpret_cast<void*>(address), bytes.data(), bytes.size());
    ASSERT_TRUE(testmem::setAccess(unit, kUnit, accessFor(unit)));
}
void lay(Loc loc, std::size_t offset, const Bytes& bytes) { lay(addr(loc) + offset, bytes); }

Bytes bytes(Loc loc, std::size_t count, std::size_t offset = 0) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(addr(loc) + offset);
    return Bytes(p, p + count);
}

std::string refusedLine(std::uintptr_t address, unsigned length) {
    return testlog::format("Could not make " FREEPLOT_X64
                           " (%u bytes) writable (error 00000057), left as it was",
                           static_cast<std::uint64_t>(address), length);
}

class Switches : public testing::Test {
protected:
    // The image, one allocation per 64 KiB unit so that one unit can be given back alone.
    static bool takeUnit(std::uintptr_t unit) {
        return testmem::take(unit, kUnit, accessFor(unit));
    }

    static void SetUpTestSuite() {
        for (std::uintptr_t unit = gameBase(); unit < gameBase() + kImageSize; unit += kUnit)
            ASSERT_TRUE(takeUnit(unit)) << std::hex << unit;
        resolveLocations();
        layGameCode();

        // hudMessageFunction: mov rax, recordMessage; jmp rax.
        Bytes jump = {0x48, 0xB8};
        const auto target = reinterpret_cast<std::uint64_t>(&recordMessage);
        for (int i = 0; i < 8; ++i) jump.push_back(static_cast<std::uint8_t>(target >> (8 * i)));
        jump.insert(jump.end(), {0xFF, 0xE0});
        lay(Loc::hudMessageFunction, 0, jump);

        // The trampoline below the image, and the freeplot stub in it as setHooks makes it.
        ASSERT_TRUE(branchTrampoline.obtainBlock(gameBase()));
        void* p = branchTrampoline.beginCode();
        FreeplotEnableStub stub(p, static_cast<std::size_t>(branchTrampoline.remain()),
                                addr(Loc::buildAllowedFlag));
        branchTrampoline.endCode(stub.getCode() + stub.getSize());
        stubs.freeplotEnable = p;
        stubs.outline = reinterpret_cast<const void*>(gameBase() + kFakeOutlineStub);
    }

    static void TearDownTestSuite() {
        for (std::uintptr_t unit = gameBase(); unit < gameBase() + kImageSize; unit += kUnit)
            testmem::release(unit, kUnit);
    }

    static void layGameCode() {
        // Each signed site gets its pattern, wildcards filled with made-up operands.
        for (const Signature& s : kSignatures) {
            Bytes b(s.length);
            for (std::size_t i = 0; i < s.length; ++i)
                b[i] = s.mask[i] ? s.pattern[i] : static_cast<std::uint8_t>(0x41 + i);
            lay(s.site, 0, b);
        }
        lay(Loc::timeoutFreese, 2, {0x10, 0x00, 0x00, 0x00});  // je +0x10
        lay(Loc::lockObject, 2, {0xFF, 0xFF, 0xFF, 0xFF});     // je -1
        lay(Loc::buildEnable, 30, {0x74});
    }

    void SetUp() override {
        layGameCode();
        verifySignatures();
        for (const Signature& sig : kSignatures) ASSERT_TRUE(siteVerified(sig.site)) << sig.name;
        // Behind the freeplotEnable call, a return, so the site can be run as a routine.
        lay(Loc::freeplotEnable, 6, {0xC3});
        switches = {};
        forgetKeptGameBytes();
        settings = Settings{};
        shown.clear();
    }

    // Gives back the 64 KiB unit holding `loc`, so that no protection change there can succeed,
    // and takes it again when the test is done with it.
    struct DroppedUnit {
        std::uintptr_t unit;
        explicit DroppedUnit(Loc loc) : unit(unitOf(addr(loc))) { testmem::release(unit, kUnit); }
        ~DroppedUnit() {
            EXPECT_TRUE(takeUnit(unit));
            layGameCode();
        }
    };
};

// The sites freeplot mode writes, with the bytes around them, and the protection of their pages.
struct FreeplotSites {
    struct Range {
        Loc loc;
        std::size_t count;
        Bytes bytes;
    };
    std::vector<Range> ranges;
    FreeplotSites() {
        for (auto [loc, count] : {std::pair{Loc::freeplotEnable, 6},
                                  {Loc::colorBase, 26},
                                  {Loc::selectEnable, 32},
                                  {Loc::buildEnable, 32},
                                  {Loc::buildWaterEnable, 23},
                                  {Loc::buildAirEnable, 18},
                                  {Loc::collisionSnap, 33}})
            ranges.push_back({loc, static_cast<std::size_t>(count), bytes(loc, count)});
    }
    void expectAsTheGameHasThem(bool skipDropped = false, std::uintptr_t dropped = 0) const {
        for (const Range& r : ranges) {
            if (skipDropped && unitOf(addr(r.loc)) == dropped) continue;
            EXPECT_EQ(bytes(r.loc, r.count), r.bytes) << info(r.loc).name;
        }
        expectCodeProtection(skipDropped, dropped);
    }
    void expectCodeProtection(bool skipDropped = false, std::uintptr_t dropped = 0) const {
        for (const Range& r : ranges) {
            if (skipDropped && unitOf(addr(r.loc)) == dropped) continue;
            EXPECT_EQ(testmem::accessAt(addr(r.loc)), Access::executeRead) << info(r.loc).name;
        }
    }
};

// The tests stay in this file's own namespace with their fixture: the unity build compiles this
// file together with others, and the fixture's type must stay private to it.
TEST_F(Switches, FreeplotModeCallsTheStubThroughATrampolineSlotAndKeepsCodeExecuteRead) {
    const FreeplotSites game;
    testlog::Capture log;

    ASSERT_TRUE(toggle(Switch::freeplotMode, false));
    EXPECT_TRUE(switches.freeplotMode);
    const Bytes call = bytes(Loc::freeplotEnable, 6);
    ASSERT_EQ(call[0], 0xFF);
    ASSERT_EQ(call[1], 0x15);
    EXPECT_EQ(bytes(Loc::buildWaterEnable, 6), (Bytes{0xEB, 0x20, 0x90, 0x90, 0x90, 0x90}));
    EXPECT_EQ(bytes(Loc::collisionSnap, 1, 13), Bytes{0x00});
    game.expectCodeProtection();

    // Run the site: the indirect call reaches the stub, which sets the build-allowed flag and
    // returns 1 in al; the return laid behind the site comes back here.
    auto* flag = reinterpret_cast<volatile std::uint8_t*>(addr(Loc::buildAllowedFlag));
    *flag = 0;
    const auto site = reinterpret_cast<std::uint8_t (*)()>(addr(Loc::freeplotEnable));
    EXPECT_EQ(site(), 1u);
    EXPECT_EQ(*flag, 1u);

    ASSERT_TRUE(toggle(Switch::freeplotMode, false));
    EXPECT_FALSE(switches.freeplotMode);
    game.expectAsTheGameHasThem();
    EXPECT_TRUE(shown.empty());
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(Switches, ExtraSelectionJumpsToTheOutlineStub) {
    const Bytes before = bytes(Loc::outlineUselectable, 5);
    ASSERT_TRUE(setSwitch(Switch::extraSelection, true));
    Bytes jump = {0xE9};
    const auto rel = static_cast<std::uint32_t>(gameBase() + kFakeOutlineStub -
                                                (addr(Loc::outlineUselectable) + 5));
    for (int i = 0; i < 4; ++i) jump.push_back(static_cast<std::uint8_t>(rel >> (8 * i)));
    EXPECT_EQ(bytes(Loc::outlineUselectable, 5), jump);
    EXPECT_EQ(bytes(Loc::selectButtonUnselectable, 1), Bytes{0xEB});
    EXPECT_EQ(testmem::accessAt(addr(Loc::outlineUselectable)), Access::executeRead);
    ASSERT_TRUE(setSwitch(Switch::extraSelection, false));
    EXPECT_EQ(bytes(Loc::outlineUselectable, 5), before);
    EXPECT_EQ(shown, (std::vector<std::string>{"Extra object selection enabled",
                                               "Extra object selection disabled"}));
}

TEST_F(Switches, AWriteTheSystemRefusesLeavesTheSwitchAsItWas) {
    // Unlocking before anything was locked (a scale does so) tries no write at all: with the
    // lock site's unit gone, any write would be refused and logged.
    {
        DroppedUnit gone(Loc::lockObject);
        testlog::Capture log;
        EXPECT_FALSE(setSwitch(Switch::objectLock, false));
        EXPECT_FALSE(switches.objectLocked);
        EXPECT_TRUE(shown.empty());
        EXPECT_TRUE(log.lines.empty());
    }
    const Bytes gameLock = bytes(Loc::lockObject, 6);
    EXPECT_FALSE(setSwitch(Switch::objectLock, false));
    EXPECT_EQ(bytes(Loc::lockObject, 6), gameLock);

    // Lock, then lose the unit holding the lock site: unlocking cannot be written, so the lock
    // stays on, nothing is shown and one line says why.
    toggle(Switch::objectLock);
    ASSERT_TRUE(switches.objectLocked);
    ASSERT_EQ(shown, std::vector<std::string>{"Object locked"});
    {
        DroppedUnit gone(Loc::lockObject);
        testlog::Capture log;
        toggle(Switch::objectLock);
        EXPECT_TRUE(switches.objectLocked);
        EXPECT_EQ(shown, std::vector<std::string>{"Object locked"});
        EXPECT_EQ(log.lines, std::vector<std::string>{refusedLine(addr(Loc::lockObject), 6)});
    }

    // Freeplot mode, its copies kept by an earlier on and off, cannot be switched on while one
    // of its sites cannot be written: the mode stays off and every site that could be written
    // holds the game's bytes again. The refused site is named twice, once going on and once
    // going back.
    const FreeplotSites game;
    ASSERT_TRUE(toggle(Switch::freeplotMode, false));
    ASSERT_TRUE(toggle(Switch::freeplotMode, false));
    DroppedUnit gone(Loc::buildWaterEnable);
    testlog::Capture log;
    EXPECT_FALSE(toggle(Switch::freeplotMode, false));
    EXPECT_FALSE(switches.freeplotMode);
    game.expectAsTheGameHasThem(true, gone.unit);
    EXPECT_EQ(log.lines, std::vector<std::string>(2, refusedLine(addr(Loc::buildWaterEnable), 6)));
}

}  // namespace

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
