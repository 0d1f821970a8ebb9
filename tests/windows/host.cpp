// The Windows test host. It plays the game's process for the plugin's code: the plugin takes the
// game's base from the main module (GetModuleHandleA(NULL)) while its static data is set up, and
// the game's image lies at 0x140000000. This program is linked away from that address
// (--image-base), so the tests can lay the game image there with VirtualAlloc; for the time of
// the static set-up the process environment block names 0x140000000 as the main module, and
// main() puts the program's own base back, so that GetModuleFileNameA and the rest of Windows
// see this program again. Then the portable tests run against the real Windows calls.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>

#include "game/locations.h"

namespace {

constexpr std::uintptr_t kGameImageBase = 0x140000000;

// ImageBaseAddress in the x64 process environment block, which gs:[0x60] points to.
void** imageBaseSlot() {
    unsigned char* peb = nullptr;
    asm("movq %%gs:0x60, %0" : "=r"(peb));
    return reinterpret_cast<void**>(peb + 0x10);
}

void* g_ownBase = nullptr;

// Runs before every other static initialiser of the program (the plugin's among them).
struct PlayTheGame {
    PlayTheGame() {
        g_ownBase = *imageBaseSlot();
        *imageBaseSlot() = reinterpret_cast<void*>(kGameImageBase);
    }
};
__attribute__((init_priority(101))) PlayTheGame g_playTheGame;

}  // namespace

int main(int argc, char** argv) {
    *imageBaseSlot() = g_ownBase;
    if (freeplot::gameBase() != kGameImageBase) {
        std::fprintf(stderr, "the plugin took %p as the game's base, not 0x140000000\n",
                     reinterpret_cast<void*>(freeplot::gameBase()));
        return 2;
    }
    if (GetModuleHandleA(nullptr) != g_ownBase) {
        std::fprintf(stderr, "the program's own base was not put back\n");
        return 2;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
