// The branch trampoline: the downward search for a free block below a module, the bookkeeping of
// code allocations and slots, the slot call it writes, and its assertions.

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/BranchTrampoline.h"
#include "common/IDebugLog.h"

using freeplot::BranchTrampoline;

namespace {

// Collects the log lines printed while it lives.
struct LogCapture {
    std::vector<std::string> lines;
    LogCapture() {
        freeplot::setLogObserver(
            [](const char* line, void* self) {
                static_cast<LogCapture*>(self)->lines.emplace_back(line);
            },
            this);
    }
    ~LogCapture() { freeplot::setLogObserver(nullptr, nullptr); }
    bool has(const std::string& prefix) const {
        for (const auto& l : lines)
            if (l.rfind(prefix, 0) == 0) return true;
        return false;
    }
};

// An anonymous mapping at a fixed address that the test owns, unmapped at the end.
struct Mapping {
    std::uintptr_t start = 0;
    std::size_t size = 0;
    Mapping(std::uintptr_t at, std::size_t length, int prot = PROT_NONE) : size(length) {
        void* p = mmap(reinterpret_cast<void*>(at), length, prot,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED_NOREPLACE, -1, 0);
        if (p != MAP_FAILED) start = reinterpret_cast<std::uintptr_t>(p);
    }
    ~Mapping() {
        if (start) munmap(reinterpret_cast<void*>(start), size);
    }
    bool ok(std::uintptr_t at) const { return start == at; }
};

void release(BranchTrampoline& t) {
    if (t.m_base) munmap(reinterpret_cast<void*>(t.m_base), 0x1000);
}

// Module bases far from anything the test process maps; each test takes its own.
constexpr std::uintptr_t kModuleA = 0x500000000000;
constexpr std::uintptr_t kModuleB = 0x510000000000;
constexpr std::uintptr_t kModuleC = 0x520000000000;
constexpr std::uintptr_t kModuleD = 0x530000000000;

}  // namespace

TEST(Trampoline, TakesTheTopOfTheFreeRegionBelowTheModuleRoundedTo64KiB) {
    Mapping module(kModuleA, 0x10000, PROT_READ);
    ASSERT_TRUE(module.ok(kModuleA));
    LogCapture log;
    BranchTrampoline t;
    ASSERT_TRUE(t.ObtainBlock(kModuleA));
    // The top 2 KiB of the free region is asked for; the reservation starts at its 64 KiB
    // boundary, as Windows rounds it.
    EXPECT_EQ(t.m_base, kModuleA - 0x10000);
    EXPECT_EQ(t.m_size, 0x800u);
    EXPECT_EQ(t.Remain(), 0x800u);
    EXPECT_TRUE(log.lines.empty());

    // The block is writable and executable memory.
    std::memset(reinterpret_cast<void*>(t.m_base), 0xC3, 0x800);

    // A second call keeps the block where and as large as it is.
    t.EndCode(static_cast<std::uint8_t*>(t.BeginCode()) + 16);
    ASSERT_TRUE(t.ObtainBlock(kModuleA));
    EXPECT_EQ(t.m_base, kModuleA - 0x10000);
    EXPECT_EQ(t.Remain(), 0x800u - 16);
    release(t);
}

TEST(Trampoline, WalksPastUsedRegionsAndFailedAllocations) {
    // Directly below the module a used region; below it a free gap too small to hold a 64 KiB
    // aligned reservation (the request rounds down into the used region below it); below that
    // a second used region, then free space.
    Mapping module(kModuleB, 0x10000, PROT_READ);
    Mapping used(kModuleB - 0x20000, 0x20000);
    Mapping used2(kModuleB - 0x50000, 0x2C000);
    ASSERT_TRUE(module.ok(kModuleB) && used.ok(kModuleB - 0x20000) && used2.ok(kModuleB - 0x50000));
    LogCapture log;
    BranchTrampoline t;
    ASSERT_TRUE(t.ObtainBlock(kModuleB));
    // Gap [B-0x24000, B-0x20000): its top 2 KiB at B-0x20800 rounds to B-0x30000, inside used2.
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].rfind("trampoline alloc 000050FFFFFDF800x0000000000000800 failed (", 0),
              0u)
        << log.lines[0];
    EXPECT_EQ(t.m_base, kModuleB - 0x60000);
    release(t);
}

TEST(Trampoline, FailsWhenEverythingWithinReachIsUsed) {
    const std::uintptr_t lowest = kModuleC - BranchTrampoline::kMaxDistance;
    Mapping module(kModuleC, 0x10000, PROT_READ);
    Mapping used(lowest, BranchTrampoline::kMaxDistance);
    ASSERT_TRUE(module.ok(kModuleC) && used.ok(lowest));
    LogCapture log;
    BranchTrampoline t;
    EXPECT_FALSE(t.ObtainBlock(kModuleC));
    EXPECT_EQ(t.m_base, 0u);
    EXPECT_EQ(log.lines,
              std::vector<std::string>{"couldn't allocate trampoline, no free space before image"});
}

TEST(Trampoline, CodeAllocationsAndSlotsAreHandedOutUpwards) {
    Mapping module(kModuleD, 0x10000, PROT_READ);
    ASSERT_TRUE(module.ok(kModuleD));
    BranchTrampoline t;
    ASSERT_TRUE(t.ObtainBlock(kModuleD));

    auto* p = static_cast<std::uint8_t*>(t.BeginCode());
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p), t.m_base);
    t.EndCode(p + 37);
    EXPECT_EQ(t.Remain(), 0x800u - 37);
    EXPECT_EQ(t.BeginCode(), p + 37);
    t.EndCode(p + 37);  // an empty allocation is allowed and takes nothing
    EXPECT_EQ(t.Remain(), 0x800u - 37);

    // Use all but 8 bytes, then the last slot fits exactly and the next one does not.
    t.EndCode(static_cast<std::uint8_t*>(t.BeginCode()) + (t.Remain() - 8));
    void* last = t.TakeSlot();
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(last), t.m_base + 0x7F8);
    EXPECT_EQ(t.Remain(), 0u);
    EXPECT_EQ(t.TakeSlot(), nullptr);
    release(t);
}

TEST(Trampoline, SlotCallIsWrittenAndReusedForTheSameTarget) {
    BranchTrampoline t;
    ASSERT_TRUE(t.ObtainBlock());  // below the main module, as in the plugin
    // Within reach below it even where nothing is mapped at the module's address.
    EXPECT_LT(t.m_base, 0x140000000u);
    EXPECT_GE(t.m_base, 0x140000000u - BranchTrampoline::kMaxDistance);
    auto* block = static_cast<std::uint8_t*>(t.BeginCode());
    t.EndCode(block + 0x200);

    // The slot (the next 8 bytes, at +0x200) lies 0x100 above the end of the 6-byte call.
    const std::uintptr_t site = t.m_base + 0x200 - 0x106;
    const std::uint64_t target = 0x1122334455667788;
    t.WriteSlotCall(site, target);
    const std::uint8_t call[] = {0xFF, 0x15, 0x00, 0x01, 0x00, 0x00};
    EXPECT_EQ(std::memcmp(reinterpret_cast<void*>(site), call, 6), 0);
    std::uint64_t held = 0;
    std::memcpy(&held, block + 0x200, 8);
    EXPECT_EQ(held, target);
    EXPECT_EQ(t.Remain(), 0x800u - 0x208);

    // The same target from anywhere within reach goes through the same slot, however often.
    const std::uintptr_t site2 = t.m_base + 0x10;
    for (int i = 0; i < 10000; ++i) t.WriteSlotCall(site2, target);
    const std::uint8_t call2[] = {0xFF, 0x15, 0xEA, 0x01, 0x00, 0x00};  // 0x200 - 0x16
    EXPECT_EQ(std::memcmp(reinterpret_cast<void*>(site2), call2, 6), 0);
    EXPECT_EQ(t.Remain(), 0x800u - 0x208);

    // Another target takes the next slot and leaves the first one as it was.
    t.WriteSlotCall(site2, 0xAABB);
    const std::uint8_t call3[] = {0xFF, 0x15, 0xF2, 0x01, 0x00, 0x00};  // 0x208 - 0x16
    EXPECT_EQ(std::memcmp(reinterpret_cast<void*>(site2), call3, 6), 0);
    std::memcpy(&held, block + 0x208, 8);
    EXPECT_EQ(held, 0xAABBu);
    std::memcpy(&held, block + 0x200, 8);
    EXPECT_EQ(held, target);
    EXPECT_EQ(t.Remain(), 0x800u - 0x210);
    release(t);
}

namespace {
// Runs `step`, which must stop the plugin with the trampoline's assertion on `condition`.
template <class Step>
void expectAssertion(Step step, const std::string& condition) {
    LogCapture log;
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
    expectAssertion([&] { none.BeginCode(); }, "m_base");
    expectAssertion([&] { none.EndCode(nullptr); }, "m_base");
    expectAssertion([&] { none.TakeSlot(); }, "m_base");

    BranchTrampoline t;
    ASSERT_TRUE(t.ObtainBlock());
    auto* p = static_cast<std::uint8_t*>(t.m_base ? reinterpret_cast<void*>(t.m_base) : nullptr);
    expectAssertion([&] { t.EndCode(p); }, "m_curAlloc");
    t.BeginCode();
    expectAssertion([&] { t.BeginCode(); }, "!m_curAlloc");
    expectAssertion([&] { t.EndCode(p + 0x801); }, "len <= Remain()");
    t.EndCode(p + 0x100);

    // A site farther than 2 GiB from the slot cannot reach it.
    static std::uint8_t farSite[6];
    const auto far = reinterpret_cast<std::uintptr_t>(farSite);
    ASSERT_GT(far > t.m_base ? far - t.m_base : t.m_base - far, 0x80000000u);
    expectAssertion([&] { t.WriteSlotCall(far, 1); }, "result");

    // With no room left for a slot, a new target cannot be written.
    t.EndCode(static_cast<std::uint8_t*>(t.BeginCode()) + t.Remain());
    expectAssertion([&] { t.WriteSlotCall(t.m_base, 2); }, "result");
    release(t);
}
