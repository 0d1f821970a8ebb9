// The branch trampoline: the downward search for a free block below a module, the bookkeeping of
// code allocations and slots, the slot call it writes, and its assertions. The layouts below the
// module are made at run time in free address space, so the same tests run against Windows and
// against the POSIX emulation; the block must land where Windows puts it and the log must hold
// the lines the search writes under Windows.

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/branch_trampoline.h"
#include "common/log.h"
#include "log_capture.h"
#include "os/os.h"
#include "test_memory.h"

using freeplot::BranchTrampoline;
using testmem::Access;
using testmem::kUnit;

namespace {

// A module base with `below` bytes of free address space under it, and the module itself (one
// read-only 64 KiB unit) in place.
struct Module {
    std::uintptr_t base;
    testmem::Block image;
    explicit Module(std::size_t below)
        : base(testmem::freeRange(below + kUnit) + below), image(base, kUnit, Access::read) {}
};

// Gives back a block the search obtained. In every layout here the free region's top lies on a
// 64 KiB boundary, so the allocation is the block's whole unit. (A region query cannot tell its
// size on Linux, where the kernel merges neighbouring mappings that Windows keeps apart.)
void release(BranchTrampoline& t) {
    if (t.base) testmem::release(t.base, kUnit);
}

std::string allocFailed(std::uintptr_t at) {
    return testlog::format("trampoline alloc " FREEPLOT_X64 "x0000000000000800 failed (000001E7)",
                           static_cast<std::uint64_t>(at));
}

}  // namespace

TEST(Trampoline, TakesTheTopOfTheFreeRegionBelowTheModuleRoundedTo64KiB) {
    Module module(0x100000);
    ASSERT_TRUE(module.image.ok());
    testlog::Capture log;
    BranchTrampoline t;
    ASSERT_TRUE(t.obtainBlock(module.base));
    // The top 2 KiB below the module is asked for; the reservation starts at its 64 KiB unit and
    // all of it, up to the module, is committed.
    EXPECT_EQ(t.base, module.base - kUnit);
    EXPECT_EQ(t.size, 0x800u);
    EXPECT_EQ(t.remain(), 0x800u);
    EXPECT_TRUE(log.lines.empty());
    freeplot::os::Region block{};
    ASSERT_TRUE(freeplot::os::queryRegion(t.base, block));
    EXPECT_FALSE(block.free);
    EXPECT_EQ(block.base, t.base);
    EXPECT_EQ(block.size, kUnit);
    EXPECT_EQ(testmem::accessAt(t.base), Access::executeReadWrite);

    // The block is writable memory.
    std::memset(reinterpret_cast<void*>(t.base), 0xC3, 0x800);

    // A second call keeps the block where and as large as it is.
    t.endCode(static_cast<std::uint8_t*>(t.beginCode()) + 16);
    ASSERT_TRUE(t.obtainBlock(module.base));
    EXPECT_EQ(t.base, module.base - kUnit);
    EXPECT_EQ(t.remain(), 0x800u - 16);
    release(t);
}

TEST(Trampoline, WalksDownAUsedRegionDirectlyBelowTheModule) {
    // Used: [B - 0x20000, B). A query answers from the page of its address up, so the search
    // steps down the used region one page at a time and reaches the free page below it.
    Module module(0x100000);
    testmem::Block used(module.base - 0x20000, 0x20000, Access::readWrite);
    ASSERT_TRUE(module.image.ok() && used.ok());
    testlog::Capture log;
    BranchTrampoline t;
    ASSERT_TRUE(t.obtainBlock(module.base));
    // The top 2 KiB under the used region, B - 0x20800, reserved from its 64 KiB unit.
    EXPECT_EQ(t.base, module.base - 0x30000);
    EXPECT_TRUE(log.lines.empty());
    release(t);
}

TEST(Trampoline, AFreeGapSmallerThan64KiBCostsOneFailedAllocationPerPage) {
    // Free: [B - 0xF000, B), fifteen pages; used below it down to B - 0x20000. Each query in the
    // gap answers from its page up to the module, so each asks for the same block at B - 0x800,
    // whose 64 KiB unit reaches into the used region: refused fifteen times, once per page.
    Module module(0x100000);
    testmem::Block used(module.base - 0x20000, 0x11000, Access::readWrite);
    ASSERT_TRUE(module.image.ok() && used.ok());
    testlog::Capture log;
    BranchTrampoline t;
    ASSERT_TRUE(t.obtainBlock(module.base));
    EXPECT_EQ(t.base, module.base - 0x30000);
    EXPECT_EQ(log.lines, std::vector<std::string>(15, allocFailed(module.base - 0x800)));
    release(t);
}

TEST(Trampoline, FailsWhenEverythingWithinReachIsUsed) {
    // Reserved in 1 MiB pieces: Wine answers a query in a reservation in time that grows with
    // the rest of it, and the search asks once per page.
    constexpr std::size_t kPiece = 0x100000;
    Module module(BranchTrampoline::kMaxDistance + kUnit);
    ASSERT_TRUE(module.image.ok());
    std::vector<std::unique_ptr<testmem::Reservation>> used;
    for (std::uintptr_t at = module.base - BranchTrampoline::kMaxDistance; at < module.base;
         at += kPiece) {
        used.push_back(std::make_unique<testmem::Reservation>(at, kPiece));
        ASSERT_TRUE(used.back()->ok());
    }
    testlog::Capture log;
    BranchTrampoline t;
    EXPECT_FALSE(t.obtainBlock(module.base));
    EXPECT_EQ(t.base, 0u);
    EXPECT_EQ(log.lines,
              std::vector<std::string>{"couldn't allocate trampoline, no free space before image"});
}

TEST(Trampoline, CodeAllocationsAndSlotsAreHandedOutUpwards) {
    Module module(0x100000);
    ASSERT_TRUE(module.image.ok());
    BranchTrampoline t;
    ASSERT_TRUE(t.obtainBlock(module.base));

    auto* p = static_cast<std::uint8_t*>(t.beginCode());
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p), t.base);
    t.endCode(p + 37);
    EXPECT_EQ(t.remain(), 0x800u - 37);
    EXPECT_EQ(t.beginCode(), p + 37);
    t.endCode(p + 37);  // an empty allocation is allowed and takes nothing
    EXPECT_EQ(t.remain(), 0x800u - 37);

    // Use all but 8 bytes, then the last slot fits exactly and the next one does not.
    t.endCode(static_cast<std::uint8_t*>(t.beginCode()) + (t.remain() - 8));
    void* last = t.takeSlot();
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(last), t.base + 0x7F8);
    EXPECT_EQ(t.remain(), 0u);
    EXPECT_EQ(t.takeSlot(), nullptr);
    release(t);
}

TEST(Trampoline, SlotCallIsWrittenAndReusedForTheSameTarget) {
    BranchTrampoline t;
    ASSERT_TRUE(t.obtainBlock());  // below the main module, as in the plugin
    const std::uintptr_t main = freeplot::os::mainModule();
    EXPECT_LT(t.base, main);
    EXPECT_GE(t.base, main - BranchTrampoline::kMaxDistance);
    auto* block = static_cast<std::uint8_t*>(t.beginCode());
    t.endCode(block + 0x200);

    // The slot (the next 8 bytes, at +0x200) lies 0x100 above the end of the 6-byte call.
    const std::uintptr_t site = t.base + 0x200 - 0x106;
    const std::uint64_t target = 0x1122334455667788;
    EXPECT_TRUE(t.writeSlotCall(site, target));
    const std::uint8_t call[] = {0xFF, 0x15, 0x00, 0x01, 0x00, 0x00};
    EXPECT_EQ(std::memcmp(reinterpret_cast<void*>(site), call, 6), 0);
    std::uint64_t held = 0;
    std::memcpy(&held, block + 0x200, 8);
    EXPECT_EQ(held, target);
    EXPECT_EQ(t.remain(), 0x800u - 0x208);

    // The same target from anywhere within reach goes through the same slot, however often.
    const std::uintptr_t site2 = t.base + 0x10;
    for (int i = 0; i < 10000; ++i) t.writeSlotCall(site2, target);
    const std::uint8_t call2[] = {0xFF, 0x15, 0xEA, 0x01, 0x00, 0x00};  // 0x200 - 0x16
    EXPECT_EQ(std::memcmp(reinterpret_cast<void*>(site2), call2, 6), 0);
    EXPECT_EQ(t.remain(), 0x800u - 0x208);

    // Another target takes the next slot and leaves the first one as it was.
    t.writeSlotCall(site2, 0xAABB);
    const std::uint8_t call3[] = {0xFF, 0x15, 0xF2, 0x01, 0x00, 0x00};  // 0x208 - 0x16
    EXPECT_EQ(std::memcmp(reinterpret_cast<void*>(site2), call3, 6), 0);
    std::memcpy(&held, block + 0x208, 8);
    EXPECT_EQ(held, 0xAABBu);
    std::memcpy(&held, block + 0x200, 8);
    EXPECT_EQ(held, target);
    EXPECT_EQ(t.remain(), 0x800u - 0x210);
    release(t);
}

TEST(Trampoline, SlotCallOnASiteThatCannotBeMadeWritableWritesNothing) {
    // A lone page of code above the module with free space above it; the site's last two bytes
    // would lie on the free page.
    const std::uintptr_t base = testmem::freeRange(0x200000);
    testmem::Block module(base + 0x100000, kUnit, Access::read);
    testmem::Block code(base + 0x180000, 0x1000, Access::executeRead);
    ASSERT_TRUE(module.ok() && code.ok());
    BranchTrampoline t;
    ASSERT_TRUE(t.obtainBlock(base + 0x100000));
    const std::uintptr_t site = base + 0x181000 - 4;
    testlog::Capture log;
    EXPECT_FALSE(t.writeSlotCall(site, 0x1234));
    const std::uint8_t zeros[4] = {};
    EXPECT_EQ(std::memcmp(zeros, reinterpret_cast<const void*>(site), sizeof zeros), 0);
    EXPECT_EQ(testmem::accessAt(site), Access::executeRead);
    EXPECT_EQ(log.lines, std::vector<std::string>{
                             testlog::format("Could not make " FREEPLOT_X64
                                             " (6 bytes) writable (error 00000057), left as it was",
                                             static_cast<std::uint64_t>(site))});
    release(t);
}

namespace {
// Runs `step`, which must stop the plugin with the trampoline's assertion on `condition`.
template <class Step>
void expectAssertion(Step step, const std::string& condition) {
    testlog::Capture log;
    EXPECT_THROW(step(), freeplot::Halt) << condition;
    ASSERT_EQ(log.lines.size(), 1u) << condition;
    const std::string& line = log.lines[0];
    const std::string head = "Assertion failed in BranchTrampoline (";
    const std::string tail = "): " + condition;
    EXPECT_EQ(line.rfind(head, 0), 0u) << line;
    ASSERT_GE(line.size(), head.size() + tail.size() + 1) << line;
    EXPECT_EQ(line.substr(line.size() - tail.size()), tail) << line;
    const std::string number = line.substr(head.size(), line.size() - head.size() - tail.size());
    EXPECT_EQ(number.find_first_not_of("0123456789"), std::string::npos) << line;
}
}  // namespace

TEST(Trampoline, MisuseStopsThePluginWithTheAssertionLine) {
    BranchTrampoline none;
    expectAssertion([&] { none.beginCode(); }, "m_base");
    expectAssertion([&] { none.endCode(nullptr); }, "m_base");
    expectAssertion([&] { none.takeSlot(); }, "m_base");

    Module module(0x100000);
    ASSERT_TRUE(module.image.ok());
    BranchTrampoline t;
    ASSERT_TRUE(t.obtainBlock(module.base));
    auto* p = reinterpret_cast<std::uint8_t*>(t.base);
    expectAssertion([&] { t.endCode(p); }, "m_curAlloc");
    t.beginCode();
    expectAssertion([&] { t.beginCode(); }, "!m_curAlloc");
    expectAssertion([&] { t.endCode(p + 0x801); }, "len <= Remain()");
    t.endCode(p + 0x100);

    // A site farther than 2 GiB from the slot cannot reach it.
    const std::uintptr_t farSite = module.base + 0x100000000;
    expectAssertion([&] { t.writeSlotCall(farSite, 1); }, "result");

    // With no room left for a slot, a new target cannot be written.
    t.endCode(static_cast<std::uint8_t*>(t.beginCode()) + t.remain());
    expectAssertion([&] { t.writeSlotCall(t.base, 2); }, "result");
    release(t);
}
