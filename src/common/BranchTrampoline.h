#pragma once
// A 2 KiB executable block allocated near the game's image (below it, within a rel32 reach of
// every byte of it): jumps and calls patched into the game's code need their targets that close.
// The stubs are assembled into it, and the indirect call of freeplot mode reads its target from
// an 8-byte slot in it. Nothing handed out is taken back; the block stays until the game exits.
//
// The class keeps the name, the PascalCase methods and the m_ members of the script extender's
// own trampoline, which plugin authors know it by; the rest of the code has its own style.

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
    bool ObtainBlock();
    // The same search below an arbitrary module base (the main module in the plugin).
    bool ObtainBlock(std::uintptr_t moduleBase);

    // Opens a variable-length allocation at the first unused byte and returns its address.
    void* BeginCode();
    // Closes the open allocation; everything up to `end` counts as used.
    void EndCode(const void* end);

    // Hands out the next 8 bytes, or null when fewer than 8 are left.
    void* TakeSlot();

    // Writes at `site` a 6-byte indirect call (FF 15 rel32) through a slot holding `target`.
    // A slot that already holds `target` and is within reach is used again, so calling this
    // any number of times for the same target costs one slot. False when the site could not be
    // made writable (it is then left as it was; the slot keeps the target for a later call).
    bool WriteSlotCall(std::uintptr_t site, std::uintptr_t target);

    std::uint64_t Remain() const { return m_size - m_used; }

    std::uintptr_t m_base = 0;
    std::uint64_t m_size = 0;
    std::uint64_t m_used = 0;
    std::uintptr_t m_curAlloc = 0;

private:
    // Slots handed out by WriteSlotCall, in the order taken (at most m_size / 8 of them).
    static constexpr std::size_t kMaxSlots = kBlockSize / kSlotSize;
    std::uintptr_t m_slots[kMaxSlots] = {};
    std::size_t m_slotCount = 0;
};

// The plugin's one trampoline.
extern BranchTrampoline g_branchTrampoline;

}  // namespace freeplot
