#include "game/hooks.h"

#include <cstring>

#include "common/branch_trampoline.h"
#include "common/log.h"
#include "common/write_code.h"
#include "game/codesites.h"
#include "game/locations.h"
#include "game/stubs.h"

namespace freeplot {

StubEntries stubs;

namespace {

const void* at(std::uintptr_t address) { return reinterpret_cast<const void*>(address); }

// mov rax, imm64 in its 10-byte form (48 B8 and the 8-byte value), whatever the value: the stubs
// are the same bytes wherever the plugin and the game are loaded.
void movRaxImm64(Xbyak::CodeGenerator& g, std::uint64_t value) {
    g.db(0x48);
    g.db(0xB8);
    g.dq(value);
}

}  // namespace

FreeplotEnableStub::FreeplotEnableStub(void* buffer, std::size_t size,
                                       std::uintptr_t buildAllowedFlag)
    : Xbyak::CodeGenerator(size, buffer) {
    using namespace Xbyak::util;
    mov(al, 1);
    mov(ptr[static_cast<std::uint64_t>(buildAllowedFlag)], al);  // A2 and a 64-bit address
    ret();
}

InputStub::InputStub(void* buffer, std::size_t size, InputHandlerFn handler, std::uintptr_t callee,
                     std::uintptr_t site)
    : Xbyak::CodeGenerator(size, buffer) {
    using namespace Xbyak::util;
    Xbyak::Label consumed;
    push(rcx);
    push(rdx);
    push(rax);
    mov(rcx, rdx);  // the game call's second argument is the handler's only one
    movRaxImm64(*this, reinterpret_cast<std::uint64_t>(handler));
    sub(rsp, 0x28);  // shadow space, and rsp 16-aligned at the call
    call(rax);
    add(rsp, 0x28);
    test(eax, eax);  // the pops below keep the flags
    pop(rax);
    pop(rdx);
    pop(rcx);
    jnz(consumed, T_SHORT);
    call(at(callee));
    L(consumed);
    jmp(at(site + 5), T_NEAR);
}

ScaleCallStub::ScaleCallStub(void* buffer, std::size_t size, ScaleHandlerFn handler)
    : Xbyak::CodeGenerator(size, buffer) {
    using namespace Xbyak::util;
    push(rax);
    sub(rsp, 0x20);
    mov(edx, 0x113C);
    xorps(xmm4, xmm4);
    movq(r8, xmm1);  // the game reads the double from an integer register
    movRaxImm64(*this, reinterpret_cast<std::uint64_t>(handler));
    call(rax);
    add(rsp, 0x20);
    pop(rax);
    ret();
}

OutlineStub::OutlineStub(void* buffer, std::size_t size, std::uintptr_t callee, std::uintptr_t site)
    : Xbyak::CodeGenerator(size, buffer) {
    using namespace Xbyak::util;
    Xbyak::Label done;
    movRaxImm64(*this, static_cast<std::uint64_t>(callee));
    call(rax);
    test(al, al);
    jnz(done, T_SHORT);
    cmp(byte[rdi + 0x1A], 0x41);
    jz(done, T_SHORT);
    mov(al, 1);
    L(done);
    jmp(at(site + 5), T_NEAR);
}

namespace {

// Generates one stub at the trampoline's first free byte and returns its entry.
template <class Generator, class... Args>
const void* emitStub(const char* line, Args... args) {
    BranchTrampoline& trampoline = branchTrampoline;
    logLine(line, static_cast<int>(trampoline.remain()));
    void* buffer = trampoline.beginCode();
    logLine("Buffer allocated at " FREEPLOT_X64,
            static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(buffer)));
    try {
        const CodeWriterLock lock;
        Generator code(buffer, static_cast<std::size_t>(trampoline.remain()), args...);
        trampoline.endCode(code.getCode() + code.getSize());
        codeWritten(reinterpret_cast<std::uintptr_t>(code.getCode()), code.getSize());
        return code.getCode();
    } catch (const Xbyak::Error& error) {
        // A stub that cannot be made (no room left, a target out of 32-bit reach) leaves the
        // plugin unable to work; stop it like a failed assertion.
        logLine("Stub generation failed: %s", error.what());
        halt();
    }
}

}  // namespace

bool setHooks(const HookHandlers& handlers) {
    if (!branchTrampoline.obtainBlock()) {
        logLine(
            "couldn't create codegen buffer. this is fatal. skipping remainder of init process.");
        return false;
    }

    stubs.freeplotEnable = emitStub<FreeplotEnableStub>(
        "Setting freeplot enable hook, memory remain %d", addr(Loc::buildAllowedFlag));

    const void* keyboardStub =
        emitStub<InputStub>("Setting keyboard input hook, memory remain %d", handlers.keyboard,
                            addr(Loc::keyboardInputCallee), addr(Loc::keyboardInput));
    if (siteWritable(Loc::keyboardInput))
        writeJump5(addr(Loc::keyboardInput), reinterpret_cast<std::uintptr_t>(keyboardStub));

    const void* mouseStub =
        emitStub<InputStub>("Setting mouse input hook, memory remain %d", handlers.mouse,
                            addr(Loc::mouseInputCallee), addr(Loc::mouseInput));
    if (siteWritable(Loc::mouseInput))
        writeJump5(addr(Loc::mouseInput), reinterpret_cast<std::uintptr_t>(mouseStub));

    stubs.scaleCall = reinterpret_cast<ScaleCallStubFn>(const_cast<void*>(
        emitStub<ScaleCallStub>("Setting scale hook, memory remain %d", handlers.scale)));

    stubs.outline = emitStub<OutlineStub>("Setting outline hook, memory remain %d",
                                          addr(Loc::outlineCallee), addr(Loc::outlineUselectable));

    logLine("Hooks set up, memory remain %d", static_cast<int>(branchTrampoline.remain()));

    return true;
}

}  // namespace freeplot
