#pragma once
// A 2 KiB executable block allocated near the game's image (below it, within a rel32 reach of
// every byte of it): jumps and calls patched into the game's code need their targets that close.
// The stubs are assembled into it, and the indirect call of freeplot mode reads its target from
// an 8-byte slot in it. Nothing handed out is taken back; the block stays until the game exits.

#include <cstddef>
#include <cstdint>

namespace freeplot {

class BranchTrampoline {
public:
    static constexpr std::uint64_t kBlockSize = 0x800;
    // The block must lie no farther below the module than this, so that every part of the
    // module can reach every part of the block with a signed 32-bit displacement.
    static constexpr std::uintptr_t kMaxDistance = 0x78000000;
    static constexpr std::size_t kSlotSize = 8;
    static constexpr std::size_t kSlotCallSize = 6;

    // Obtains the block below the process's main module; true at once if it already exists.
    bool obtainBlock();
    // The same search below an arbitrary module base (the main module in the plugin).
    bool obtainBlock(std::uintptr_t moduleBase);

    // Opens a variable-length allocation at the first unused byte and returns its address.
    void* beginCode();
    // Closes the open allocation; everything up to `end` counts as used.
    void endCode(const void* end);

    // Hands out the next 8 bytes, or null when fewer than 8 are left.
    void* takeSlot();

    // Writes at `site` a 6-byte indirect call (FF 15 rel32) through a slot holding `target`.
    // A slot that already holds `target` and is within reach is used again, so calling this
    // any number of times for the same target costs one slot. False when the site could not be
    // made writable (it is then left as it was; the slot keeps the target for a later call).
    bool writeSlotCall(std::uintptr_t site, std::uintptr_t target);

    std::uint64_t remain() const { return size - used; }

    std::uintptr_t base = 0;
    std::uint64_t size = 0;
    std::uint64_t used = 0;
    std::uintptr_t openStart = 0;  // the allocation beginCode opened; 0 while none is open

private:
    // Slots handed out by writeSlotCall, in the order taken (at most size / 8 of them).
    static constexpr std::size_t kMaxSlots = kBlockSize / kSlotSize;
    std::uintptr_t slots_[kMaxSlots] = {};
    std::size_t slotCount_ = 0;
};

// The plugin's one trampoline.
extern BranchTrampoline branchTrampoline;

}  // namespace freeplot
