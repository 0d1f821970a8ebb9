#include "input_game.h"

#include <sys/mman.h>
#include <xbyak/xbyak.h>

#include <cstring>

#include "game/codesites.h"
#include "game/hooks.h"
#include "game/locations.h"
#include "game/stubs.h"
#include "input/handlers.h"
#include "os/os.h"

namespace bench {
namespace {

using freeplot::Loc;

constexpr std::size_t kImageSize = 0x6000000;
// Free space near the end of the image for the routines and the stubs.
constexpr std::uint32_t kCode = 0x5F80000;
constexpr std::uint32_t kStubs = 0x5F81000;
// The one reference every handle names.
constexpr std::uint32_t kReference = 0x5F82000;

std::uint8_t* at(std::uint32_t offset) {
    return reinterpret_cast<std::uint8_t*>(freeplot::gameBase() + offset);
}

template <class T>
void put(Loc loc, T value) {
    std::memcpy(freeplot::ptr<void>(loc), &value, sizeof value);
}

struct CalleeRuns {
    std::uint64_t keyboard = 0;
    std::uint64_t mouse = 0;
};
CalleeRuns calleeRuns;

// The game's raw-input processing behind the hooked call: counts the event and reads one field
// of the record it got in rdx.
struct Callee : Xbyak::CodeGenerator {
    Callee(void* buffer, std::uint64_t* runs, int field) : Xbyak::CodeGenerator(0x100, buffer) {
        using namespace Xbyak::util;
        mov(rax, reinterpret_cast<std::uint64_t>(runs));
        add(qword[rax], 1);
        movzx(eax, word[rdx + field]);
        ret();
    }
};

// The game's handle lookup (Microsoft convention: the handle's address in rcx, the slot in rdx):
// leaves the one reference in the slot.
struct Lookup : Xbyak::CodeGenerator {
    Lookup(void* buffer, std::uintptr_t reference) : Xbyak::CodeGenerator(0x40, buffer) {
        using namespace Xbyak::util;
        mov(rax, reference);
        mov(qword[rdx], rax);
        mov(eax, 1);
        ret();
    }
};

// The game's routine around the input call, entered from C++ with the record in rdi. It keeps
// the registers the game keeps, has rsp 16-byte aligned at the call (as the stubs expect of the
// game's site), and passes the record in rdx.
struct GameRoutine : Xbyak::CodeGenerator {
    std::uintptr_t site = 0;
    GameRoutine(void* buffer, std::uintptr_t callee) : Xbyak::CodeGenerator(0x100, buffer) {
        using namespace Xbyak::util;
        push(rbx);
        push(rbp);
        push(rsi);
        sub(rsp, 0x20);
        mov(rbx, rdi);
        mov(rdx, rdi);
        mov(rcx, rdi);
        xor_(eax, eax);
        site = reinterpret_cast<std::uintptr_t>(getCurr());
        call(reinterpret_cast<const void*>(callee));
        add(rsp, 0x20);
        pop(rsi);
        pop(rbp);
        pop(rbx);
        ret();
    }
};

template <class Stub>
bool layRoutines(std::uint32_t offset, std::uint32_t stubOffset, Loc calleeLoc,
                 freeplot::InputHandlerFn handler, Routine& unhooked, Routine& hooked) {
    const std::uintptr_t callee = freeplot::addr(calleeLoc);
    // Both copies start on the same alignment, so they are the same code to the processor
    // apart from the call that the hook replaces.
    GameRoutine plain(at(offset), callee);
    GameRoutine linked(at(offset + 0x100), callee);
    Stub stub(at(stubOffset), 0x100, handler, callee, linked.site);
    if (!freeplot::writeJump5(linked.site, reinterpret_cast<std::uintptr_t>(stub.getCode())))
        return false;
    unhooked = plain.getCode<Routine>();
    hooked = linked.getCode<Routine>();
    return true;
}

InputGame lay() {
    InputGame game;
    void* want = reinterpret_cast<void*>(freeplot::gameBase());
    void* got = mmap(want, kImageSize, PROT_READ | PROT_WRITE | PROT_EXEC,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED_NOREPLACE, -1, 0);
    if (got != want) {
        if (got != MAP_FAILED) munmap(got, kImageSize);
        game.error = "cannot map the game image at the main module's address";
        return game;
    }
    freeplot::resolveLocations();

    // In workshop mode, input not ignored, the workshop idle, an object selected.
    put<std::int32_t>(Loc::workshopModeFlag, 1);
    put<std::uint8_t>(Loc::inputIgnoreFlag, 0);
    put<std::uint8_t>(Loc::workshopStateByte, 0);
    put<std::uint32_t>(Loc::selectedRefHandle, kSelectedHandle);
    auto* reference = reinterpret_cast<freeplot::GameReference*>(at(kReference));
    reference->formType = 0x20;
    reference->scalePercent = 100;
    reference->position[2] = 100.0f;
    put<freeplot::GameReference*>(Loc::rotationBasePtr, reference);
    freeplot::prepareKeyLookup();

    try {
        Lookup lookup(freeplot::ptr<void>(Loc::lookupRefByHandle),
                      reinterpret_cast<std::uintptr_t>(reference));
        Callee keyboardCallee(freeplot::ptr<void>(Loc::keyboardInputCallee), &calleeRuns.keyboard,
                              offsetof(freeplot::RawKeyboard, vkey));
        Callee mouseCallee(freeplot::ptr<void>(Loc::mouseInputCallee), &calleeRuns.mouse,
                           offsetof(freeplot::RawMouse, buttonFlags));
        const bool linked = layRoutines<freeplot::InputStub>(
                                kCode, kStubs, Loc::keyboardInputCallee, freeplot::onKeyboardInput,
                                game.keyboardUnhooked, game.keyboardHooked) &&
                            layRoutines<freeplot::InputStub>(
                                kCode + 0x200, kStubs + 0x100, Loc::mouseInputCallee,
                                freeplot::onMouseInput, game.mouseUnhooked, game.mouseHooked);
        if (!linked) {
            game.error = "cannot link a stub into its game routine";
            return game;
        }
    } catch (const Xbyak::Error& error) {
        game.error = std::string("cannot assemble the game's code: ") + error.what();
        return game;
    }
    game.keyboardCalleeRuns = &calleeRuns.keyboard;
    game.mouseCalleeRuns = &calleeRuns.mouse;
    return game;
}

}  // namespace

const InputGame& inputGame() {
    static const InputGame game = lay();
    return game;
}

freeplot::RawKeyboard unboundKeyPress() {
    freeplot::RawKeyboard record{};
    record.header.type = 1;  // RIM_TYPEKEYBOARD
    record.header.size = sizeof record;
    record.makeCode = 0x11;  // the scan code of W
    record.flags = 0;        // pressed
    record.vkey = kUnboundKey;
    record.message = 0x0100;  // WM_KEYDOWN
    return record;
}

freeplot::RawMouse mouseMove() {
    freeplot::RawMouse record{};
    record.header.type = 0;  // RIM_TYPEMOUSE
    record.header.size = sizeof record;
    record.lastX = 3;
    record.lastY = -2;
    return record;
}

}  // namespace bench
