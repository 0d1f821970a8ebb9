#pragma once
// The five generated stubs that link the game's code to the plugin, and SetHooks, which makes
// them in the trampoline at start-up and links the keyboard and mouse stubs at once.

#include <xbyak/xbyak.h>

#include <cstddef>
#include <cstdint>

#include "common/msabi.h"

namespace freeplot {

// Handlers the stubs call.
using InputHandlerFn = std::int32_t(FREEPLOT_MSABI*)(void* record);
using ScaleHandlerFn = std::uintptr_t(FREEPLOT_MSABI*)(void* reference, std::uint64_t code,
                                                       std::uint64_t scaleBits);

// Entered by `call qword [rip+disp32]` at freeplotEnable: stores 1 into the build-allowed flag
// and returns with al = 1. Changes no other register and no flag.
class FreeplotEnableHook_Code : public Xbyak::CodeGenerator {
public:
    FreeplotEnableHook_Code(void* buffer, std::size_t size, std::uintptr_t buildAllowedFlag);
};

// Entered by the 5-byte jump that replaces the game's call of `callee` at `site`: calls the
// handler with the call's second argument and makes the game's call with rcx, rdx and rax as they
// were unless the handler returns non-zero (in eax); then goes on behind the site. Serves the
// keyboard and the mouse hook alike.
class KeyboardInputHook_Code : public Xbyak::CodeGenerator {
public:
    KeyboardInputHook_Code(void* buffer, std::size_t size, InputHandlerFn handler,
                           std::uintptr_t callee, std::uintptr_t site);
};

class MouseInputHook_Code : public Xbyak::CodeGenerator {
public:
    MouseInputHook_Code(void* buffer, std::size_t size, InputHandlerFn handler,
                        std::uintptr_t callee, std::uintptr_t site);
};

// Entered by an ordinary call with rcx = reference and xmm1 = the scale factor (a double):
// calls the handler with rdx = 0x113C and r8 = the double's bit pattern. Keeps rax.
class CallScale_Code : public Xbyak::CodeGenerator {
public:
    CallScale_Code(void* buffer, std::size_t size, ScaleHandlerFn handler);
};

// Replaces the game's call of `callee` at `site`: makes the call, then turns a false result true
// unless the object in rdi has form type 0x41; goes on behind the site.
class outlineEnable_Code : public Xbyak::CodeGenerator {
public:
    outlineEnable_Code(void* buffer, std::size_t size, std::uintptr_t callee, std::uintptr_t site);
};

// How the scale stub is called: the reference in rcx, the scale factor in xmm1.
using ScaleCallStubFn = void(FREEPLOT_MSABI*)(void* reference, double scale);

// The entries of the stubs that are not linked at start-up; null until SetHooks made them.
extern const void* freeplotEnableStub;
extern ScaleCallStubFn scaleCallStub;
extern const void* outlineStub;

// The console command record named "GetDebugText"; null when none was found.
extern void* debugTextCommand;

// The plugin's handlers that the stubs call; the entry point hands them over, so this layer
// never depends on the layers that implement them.
struct HookHandlers {
    InputHandlerFn keyboard = nullptr;
    InputHandlerFn mouse = nullptr;
    ScaleHandlerFn scale = nullptr;
};

// Makes the trampoline and the five stubs, links the keyboard and mouse stubs, takes over the
// console command and switches freeplot mode on as `togglable` says. Lets Halt through.
void SetHooks(const HookHandlers& handlers);

// Finds the first record named "GetDebugText" among the records numbered below 0x2F9 of the
// command table at `table`; 0 when there is none.
std::uintptr_t findDebugTextCommand(std::uintptr_t table);

}  // namespace freeplot
