// Real machine code of the game around the sites the plugin diverts: each routine sets up the
// registers and stack the game has there, jumps to the site (so whatever the plugin wrote there
// runs), and the code laid after the site jumps back here. Also the entry code of the three
// callees, which notes the registers they got before their C++ part runs.
//
// All routines follow the Microsoft x64 convention: rbx, rbp, rdi, rsi and r12-r15 are kept,
// and rsp is 16-byte aligned at every call made from the site.

#include <xbyak/xbyak.h>

#include "sim/internal.h"

namespace sim::detail {
namespace {

Routines laid;

std::uintptr_t addr(std::uint32_t offset) { return loc::imageBase + offset; }
const void* target(std::uint32_t offset) { return reinterpret_cast<const void*>(addr(offset)); }
std::uintptr_t cur(const Xbyak::CodeGenerator& c) {
    return reinterpret_cast<std::uintptr_t>(c.getCurr());
}

// The entry of an input routine: keeps the callee-saved registers it uses, puts the raw-input
// record (its argument) in rdx and in rbx, known values in rcx and rax, points rbp at the
// frame the site's code compares against, and jumps to the site. Returns the entry address.
std::uintptr_t enterInputSite(Xbyak::CodeGenerator& c, std::uint32_t site) {
    using namespace Xbyak::util;
    c.align(16);
    const std::uintptr_t entry = cur(c);
    c.push(rbx);
    c.push(rbp);
    c.push(rsi);
    c.sub(rsp, 0x20);  // rsp is 16-byte aligned from here to the site's call
    c.mov(rbx, rcx);   // the record, for "mov rcx, rbx" after the keyboard site
    c.mov(rdx, rcx);
    c.mov(rbp, addr(loc::inputFrame));
    c.mov(rcx, loc::inputRcxValue);
    c.mov(rax, loc::inputRaxValue);
    c.jmp(target(site), Xbyak::CodeGenerator::T_NEAR);
    return entry;
}

// The matching exit, with the routine's result already in eax.
void leaveInputRoutine(Xbyak::CodeGenerator& c) {
    using namespace Xbyak::util;
    c.add(rsp, 0x20);
    c.pop(rsi);
    c.pop(rbp);
    c.pop(rbx);
    c.ret();
}

void keyboardRoutine(Xbyak::CodeGenerator& c) {
    using namespace Xbyak::util;
    Xbyak::Label out, bad;
    laid.keyboard = enterInputSite(c, loc::keyboardInput);

    laid.keyboardAfter = cur(c);  // after the site's last instruction
    c.mov(eax, 1);
    c.cmp(rcx, rbx);
    c.je(out);
    c.mov(eax, 3);  // "mov rcx, rbx" did not run as laid
    c.jmp(out);

    laid.keyboardBelow = cur(c);  // target of the site's jbe
    c.mov(eax, 2);
    c.L(out);
    leaveInputRoutine(c);
}

void mouseRoutine(Xbyak::CodeGenerator& c) {
    using namespace Xbyak::util;
    laid.mouse = enterInputSite(c, loc::mouseInput);

    laid.mouseAfter = cur(c);
    c.mov(eax, 1);
    leaveInputRoutine(c);
}

// (gameResult in cl) -> al as stored at [rsp+0x70] | buildAllowedFlag << 8
void freeplotEnableRoutine(Xbyak::CodeGenerator& c) {
    using namespace Xbyak::util;
    c.align(16);
    laid.freeplotEnable = cur(c);
    c.push(rbx);
    c.sub(rsp, 0x80);  // aligned; [rsp+0x70] is the site's local
    c.mov(byte[rsp + 0x70], 0xCC);
    c.movzx(eax, cl);
    c.jmp(target(loc::freeplotEnable), Xbyak::CodeGenerator::T_NEAR);

    laid.freeplotEnableAfter = cur(c);
    c.movzx(eax, byte[rsp + 0x70]);
    c.mov(rcx, addr(loc::buildAllowedFlag));
    c.movzx(ecx, byte[rcx]);
    c.shl(ecx, 8);
    c.or_(eax, ecx);
    c.add(rsp, 0x80);
    c.pop(rbx);
    c.ret();
}

// (reference in rcx) -> al after the call | 0x100 selectable path | 0x200 unselectable path
void outlineRoutine(Xbyak::CodeGenerator& c) {
    using namespace Xbyak::util;
    Xbyak::Label out;
    c.align(16);
    laid.outline = cur(c);
    c.push(rbx);
    c.push(rbp);
    c.push(rdi);
    c.push(r12);
    c.push(r15);
    c.sub(rsp, 0x20);  // 5 pushes + 0x20: aligned at the site's call
    c.mov(rdi, rcx);   // the game holds the reference in rdi here
    c.mov(r15, addr(obj::alignedData));
    c.xor_(r12d, r12d);
    c.mov(rbp, addr(loc::inputFrame));
    c.jmp(target(loc::outlineUselectable), Xbyak::CodeGenerator::T_NEAR);

    laid.outlineAfter = cur(c);
    c.movzx(eax, al);
    c.or_(eax, 0x100);
    c.jmp(out);

    laid.outlineUnselectable = cur(c);
    c.movzx(eax, al);
    c.or_(eax, 0x200);
    c.L(out);
    c.add(rsp, 0x20);
    c.pop(r15);
    c.pop(r12);
    c.pop(rdi);
    c.pop(rbp);
    c.pop(rbx);
    c.ret();
}

// Entry of a game callee: note rax, rcx, rdx, rdi, then go on in C++ with rcx and rdx intact.
void calleeEntry(std::uint32_t offset, Probe* probe, const void* body) {
    using namespace Xbyak::util;
    Xbyak::CodeGenerator c(64, Game::at(offset));
    c.mov(ptr[rip + &probe->rax], rax);
    c.mov(ptr[rip + &probe->rcx], rcx);
    c.mov(ptr[rip + &probe->rdx], rdx);
    c.mov(ptr[rip + &probe->rdi], rdi);
    c.mov(rax, reinterpret_cast<std::uintptr_t>(body));
    c.jmp(rax);
}

}  // namespace

const Routines& routines() { return laid; }

void assembleRoutines() {
    Xbyak::CodeGenerator c(loc::simCodeSize, Game::at(loc::simCode));
    keyboardRoutine(c);
    mouseRoutine(c);
    freeplotEnableRoutine(c);
    outlineRoutine(c);

    auto* probes = reinterpret_cast<Probe*>(addr(obj::probes));
    laid.keyboardProbe = &probes[0];
    laid.mouseProbe = &probes[1];
    laid.outlineProbe = &probes[2];
    calleeEntry(loc::keyboardInputCallee, laid.keyboardProbe,
                reinterpret_cast<const void*>(&keyboardCalleeBody));
    calleeEntry(loc::mouseInputCallee, laid.mouseProbe,
                reinterpret_cast<const void*>(&mouseCalleeBody));
    calleeEntry(loc::outlineCallee, laid.outlineProbe,
                reinterpret_cast<const void*>(&outlineCalleeBody));
}

}  // namespace sim::detail
