#pragma once
// The five stub generators: small pieces of machine code, assembled with Xbyak straight into the
// trampoline, that link the game's code to the plugin. Only the code that makes stubs includes
// this header (Xbyak's headers are large).

#include <xbyak/xbyak.h>

#include <cstddef>
#include <cstdint>

#include "game/handlertypes.h"

namespace freeplot {

// Entered by `call qword [rip+disp32]` at freeplotEnable: stores 1 into the build-allowed flag
// and returns with al = 1. Changes no other register and no flag.
class FreeplotEnableStub : public Xbyak::CodeGenerator {
public:
    FreeplotEnableStub(void* buffer, std::size_t size, std::uintptr_t buildAllowedFlag);
};

// Entered by the 5-byte jump that replaces the game's call of `callee` at `site`: calls the
// handler with the call's second argument and makes the game's call with rcx, rdx and rax as they
// were unless the handler returns non-zero (in eax); then goes on behind the site. Serves the
// keyboard and the mouse hook alike.
class InputStub : public Xbyak::CodeGenerator {
public:
    InputStub(void* buffer, std::size_t size, InputHandlerFn handler, std::uintptr_t callee,
              std::uintptr_t site);
};

// Entered by an ordinary call with rcx = reference and xmm1 = the scale factor (a double):
// calls the handler with rdx = 0x113C and r8 = the double's bit pattern. Keeps rax.
class ScaleCallStub : public Xbyak::CodeGenerator {
public:
    ScaleCallStub(void* buffer, std::size_t size, ScaleHandlerFn handler);
};

// Replaces the game's call of `callee` at `site`: makes the call, then turns a false result true
// unless the object in rdi has form type 0x41; goes on behind the site.
class OutlineStub : public Xbyak::CodeGenerator {
public:
    OutlineStub(void* buffer, std::size_t size, std::uintptr_t callee, std::uintptr_t site);
};

}  // namespace freeplot
