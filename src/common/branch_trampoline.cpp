#include "common/branch_trampoline.h"

#include <cstring>
#include <limits>

#include "common/log.h"
#include "common/write_code.h"
#include "os/os.h"

namespace freeplot {

BranchTrampoline branchTrampoline;

namespace {
constexpr const char* kSource = "BranchTrampoline";

// Stops the plugin as a failed assertion unless `holds`, logging the condition in the words its
// line has always had (tools that watch the log match whole lines).
void check(bool holds, int line, const char* condition) {
    if (!holds) assertionFailed(kSource, line, condition);
}

bool fitsInt32(std::int64_t value) {
    return value >= std::numeric_limits<std::int32_t>::min() &&
           value <= std::numeric_limits<std::int32_t>::max();
}
}  // namespace

bool BranchTrampoline::obtainBlock() { return obtainBlock(os::mainModule()); }

bool BranchTrampoline::obtainBlock(std::uintptr_t moduleBase) {
    if (base) return true;

    // Region by region from the module's base towards lower addresses: the first free 2 KiB met
    // is the one nearest the module.
    const std::uintptr_t lowest = moduleBase > kMaxDistance ? moduleBase - kMaxDistance : 0;
    std::uintptr_t address = moduleBase - 1;
    while (!base) {
        os::Region region{};
        if (!os::queryRegion(address, region)) {
            logLine("VirtualQuery failed: %08X", os::lastError());
            break;
        }
        // Only the part of a free region below the module counts (the region reaches above it
        // only where the module itself is not mapped).
        const std::uintptr_t top =
            region.base + region.size < moduleBase ? region.base + region.size : moduleBase;
        if (region.free && top - region.base >= kBlockSize) {
            const std::uintptr_t wanted = top - kBlockSize;
            const std::uintptr_t block = os::allocateAt(wanted, kBlockSize);
            if (block) {
                base = block;
                size = kBlockSize;
                used = 0;
                break;
            }
            logLine("trampoline alloc " FREEPLOT_X64 "x" FREEPLOT_X64 " failed (%08X)",
                    static_cast<std::uint64_t>(wanted), static_cast<std::uint64_t>(kBlockSize),
                    os::lastError());
        }
        // The next address to look at is the last byte of the region below; below the lowest
        // acceptable address (or below address 0) the search has failed.
        if (region.base <= lowest) {
            logLine("couldn't allocate trampoline, no free space before image");
            break;
        }
        address = region.base - 1;
    }
    return base != 0;
}

void* BranchTrampoline::beginCode() {
    check(base != 0, __LINE__, "m_base");
    check(openStart == 0, __LINE__, "!m_curAlloc");
    openStart = base + used;
    return reinterpret_cast<void*>(openStart);
}

void BranchTrampoline::endCode(const void* end) {
    check(base != 0, __LINE__, "m_base");
    check(openStart != 0, __LINE__, "m_curAlloc");
    const auto endAddress = reinterpret_cast<std::uintptr_t>(end);
    // An end below the start would wrap to a huge length and fail the check as it should.
    const std::uint64_t len = endAddress - openStart;
    check(len <= remain(), __LINE__, "len <= Remain()");
    used += len;
    openStart = 0;
}

void* BranchTrampoline::takeSlot() {
    check(base != 0, __LINE__, "m_base");
    if (remain() < kSlotSize) return nullptr;
    void* slot = reinterpret_cast<void*>(base + used);
    used += kSlotSize;
    return slot;
}

bool BranchTrampoline::writeSlotCall(std::uintptr_t site, std::uintptr_t target) {
    // The console thread and the input thread both switch freeplot mode, which takes slots.
    const CodeWriterLock lock;
    const std::uintptr_t next = site + kSlotCallSize;

    // A slot that already holds this target serves every further call to it.
    std::uintptr_t slot = 0;
    for (std::size_t i = 0; i < slotCount_; ++i) {
        std::uintptr_t held = 0;
        std::memcpy(&held, reinterpret_cast<const void*>(slots_[i]), sizeof held);
        const auto distance =
            static_cast<std::int64_t>(slots_[i]) - static_cast<std::int64_t>(next);
        if (held == target && fitsInt32(distance)) {
            slot = slots_[i];
            break;
        }
    }
    const bool reused = slot != 0;
    if (!reused) slot = reinterpret_cast<std::uintptr_t>(takeSlot());

    const auto distance = static_cast<std::int64_t>(slot) - static_cast<std::int64_t>(next);
    const bool result = slot != 0 && fitsInt32(distance);
    FREEPLOT_ASSERT(kSource, result);

    if (!reused) {
        if (!writeCode(slot, &target, sizeof target)) return false;
        if (slotCount_ < kMaxSlots) slots_[slotCount_++] = slot;
    }

    std::uint8_t code[kSlotCallSize] = {0xFF, 0x15};
    const auto rel = static_cast<std::int32_t>(distance);
    std::memcpy(code + 2, &rel, sizeof rel);

    return writeCode(site, code, sizeof code);
}

}  // namespace freeplot
