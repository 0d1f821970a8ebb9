// The five stub generators: their bytes against the instruction tables, the same bytes read back
// by an independent disassembler (binutils' objdump), the sizes a fresh trampoline ends up with,
// and the stubs executed around small routines that play the game's side of each hook.

#include "game/stubs.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>
#include <xbyak/xbyak.h>

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/branch_trampoline.h"
#include "game/codesites.h"
#include "game/hooks.h"
#include "input/handlers.h"
#include "os/os.h"

using namespace freeplot;
using Bytes = std::vector<std::uint8_t>;

namespace {

// One block of read/write/execute memory holding the stubs and everything they call.
struct CodeBlock {
    static constexpr std::size_t kSize = 0x10000;
    std::uint8_t* base = nullptr;
    CodeBlock() {
        void* p = mmap(nullptr, kSize, PROT_READ | PROT_WRITE | PROT_EXEC,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        base = p == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(p);
        if (base) std::memset(base, 0xCC, kSize);
    }
    ~CodeBlock() {
        if (base) munmap(base, kSize);
    }
    std::uintptr_t at(std::size_t offset) const {
        return reinterpret_cast<std::uintptr_t>(base) + offset;
    }
};

// Builds the expected bytes of a stub at a known address.
struct Expect {
    std::uintptr_t start;
    Bytes bytes;
    Expect& b(std::initializer_list<std::uint8_t> list) {
        bytes.insert(bytes.end(), list);
        return *this;
    }
    Expect& imm64(std::uint64_t v) {
        for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        return *this;
    }
    // A 32-bit offset from the end of this field to `target`.
    Expect& rel32(std::uintptr_t target) {
        const auto rel = static_cast<std::uint32_t>(target - (start + bytes.size() + 4));
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(rel >> (8 * i)));
        return *this;
    }
};

Bytes emitted(const Xbyak::CodeGenerator& code) {
    return Bytes(code.getCode(), code.getCode() + code.getSize());
}

// The instructions objdump reads from `bytes` placed at `address`, one "mnemonic operands" text
// per instruction with the spacing collapsed.
std::vector<std::string> disassemble(const Bytes& bytes, std::uintptr_t address) {
    char path[] = "/tmp/freeplot_stub_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return {"mkstemp failed"};
    if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) return {};
    close(fd);
    char command[512];
    std::snprintf(command, sizeof command,
                  "objdump -D -b binary -m i386:x86-64 -M intel --adjust-vma=0x%llx %s",
                  static_cast<unsigned long long>(address), path);
    std::vector<std::string> result;
    if (FILE* pipe = popen(command, "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, pipe)) {
            // "    addr:\tbytes\tmnemonic operands"; continuation lines carry bytes only.
            std::string text(line);
            const auto first = text.find('\t');
            if (first == std::string::npos) continue;
            const auto second = text.find('\t', first + 1);
            if (second == std::string::npos) continue;
            std::istringstream words(text.substr(second + 1));
            std::string word, joined;
            while (words >> word) joined += (joined.empty() ? "" : " ") + word;
            result.push_back(joined);
        }
        pclose(pipe);
    }
    std::remove(path);
    return result;
}

std::string hex(std::uint64_t v) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(v));
    return text;
}

// Addresses above 4 GiB (the test below also takes handlers below it).
constexpr std::uint64_t kHandler = 0x00007FF612345678;
constexpr std::uint64_t kBuildAllowedFlag = 0x14586B02A;

InputHandlerFn fakeHandler() { return reinterpret_cast<InputHandlerFn>(kHandler); }

}  // namespace

TEST(Stubs, FreeplotEnableAndCallScaleBytesMatchTheTables) {
    CodeBlock block;
    ASSERT_NE(block.base, nullptr);

    const std::uintptr_t p = block.at(0x1000);
    FreeplotEnableStub enable(reinterpret_cast<void*>(p), 0x100, kBuildAllowedFlag);
    Expect e{p, {}};
    e.b({0xB0, 0x01, 0xA2}).imm64(kBuildAllowedFlag).b({0xC3});
    EXPECT_EQ(emitted(enable), e.bytes);
    EXPECT_EQ(enable.getSize(), 12u);
    EXPECT_EQ(disassemble(emitted(enable), p),
              (std::vector<std::string>{"mov al,0x1", "movabs ds:0x14586b02a,al", "ret"}));

    const std::uintptr_t q = block.at(0x1100);
    ScaleCallStub scale(reinterpret_cast<void*>(q), 0x100,
                        reinterpret_cast<ScaleHandlerFn>(kHandler));
    Expect s{q, {}};
    s.b({0x50, 0x48, 0x83, 0xEC, 0x20, 0xBA, 0x3C, 0x11, 0x00, 0x00,
         0x0F, 0x57, 0xE4, 0x66, 0x49, 0x0F, 0x7E, 0xC8, 0x48, 0xB8})
        .imm64(kHandler)
        .b({0xFF, 0xD0, 0x48, 0x83, 0xC4, 0x20, 0x58, 0xC3});
    EXPECT_EQ(emitted(scale), s.bytes);
    EXPECT_EQ(scale.getSize(), 36u);
    EXPECT_EQ(disassemble(emitted(scale), q),
              (std::vector<std::string>{
                  "push rax", "sub rsp,0x20", "mov edx,0x113c", "xorps xmm4,xmm4", "movq r8,xmm1",
                  "movabs rax," + hex(kHandler), "call rax", "add rsp,0x20", "pop rax", "ret"}));
}

TEST(Stubs, InputAndOutlineBytesMatchTheTables) {
    CodeBlock block;
    ASSERT_NE(block.base, nullptr);
    const std::uintptr_t callee = block.at(0x8000);
    const std::uintptr_t site = block.at(0x9000);

    // The keyboard and the mouse stub are the same fifteen instructions.
    for (int mouse = 0; mouse < 2; ++mouse) {
        const std::uintptr_t p = block.at(0x1000 + 0x100 * static_cast<std::size_t>(mouse));
        Bytes got;
        if (mouse) {
            InputStub code(reinterpret_cast<void*>(p), 0x100, fakeHandler(), callee, site);
            got = emitted(code);
        } else {
            InputStub code(reinterpret_cast<void*>(p), 0x100, fakeHandler(), callee, site);
            got = emitted(code);
        }
        Expect e{p, {}};
        e.b({0x51, 0x52, 0x50, 0x48, 0x89, 0xD1, 0x48, 0xB8})
            .imm64(kHandler)
            .b({0x48, 0x83, 0xEC, 0x28, 0xFF, 0xD0, 0x48, 0x83, 0xC4, 0x28, 0x85, 0xC0, 0x58, 0x5A,
                0x59, 0x75, 0x05, 0xE8})
            .rel32(callee)
            .b({0xE9})
            .rel32(site + 5);
        EXPECT_EQ(got, e.bytes) << "mouse " << mouse;
        EXPECT_EQ(got.size(), 43u);
        EXPECT_EQ(
            disassemble(got, p),
            (std::vector<std::string>{
                "push rcx", "push rdx", "push rax", "mov rcx,rdx", "movabs rax," + hex(kHandler),
                "sub rsp,0x28", "call rax", "add rsp,0x28", "test eax,eax", "pop rax", "pop rdx",
                "pop rcx", "jne " + hex(p + 38), "call " + hex(callee), "jmp " + hex(site + 5)}))
            << "mouse " << mouse;
    }

    const std::uint64_t outlineCallee = 0x140242E30;
    const std::uintptr_t p = block.at(0x1200);
    OutlineStub outline(reinterpret_cast<void*>(p), 0x100, outlineCallee, site);
    Expect e{p, {}};
    e.b({0x48, 0xB8})
        .imm64(outlineCallee)
        .b({0xFF, 0xD0, 0x84, 0xC0, 0x75, 0x08, 0x80, 0x7F, 0x1A, 0x41, 0x74, 0x02, 0xB0, 0x01,
            0xE9})
        .rel32(site + 5);
    EXPECT_EQ(emitted(outline), e.bytes);
    EXPECT_EQ(outline.getSize(), 29u);
    EXPECT_EQ(
        disassemble(emitted(outline), p),
        (std::vector<std::string>{"movabs rax,0x140242e30", "call rax", "test al,al",
                                  "jne " + hex(p + 24), "cmp BYTE PTR [rdi+0x1a],0x41",
                                  "je " + hex(p + 24), "mov al,0x1", "jmp " + hex(site + 5)}));
}

TEST(Stubs, FiveStubsLeave1885BytesOfAFreshTrampolineWhereverTheHandlersLie) {
    // The stubs in the order and with the targets setHooks gives them: the game's addresses lie
    // just above the trampoline. The handlers lie in the plugin, which may be loaded above or
    // below 4 GiB: the handler's address always takes the 10-byte mov rax, imm64, so the stubs
    // are the same bytes and sizes either way.
    struct Handlers {
        const char* where;
        InputHandlerFn keyboard, mouse;
        ScaleHandlerFn scale;
    };
    const Handlers cases[] = {
        {"the plugin's own", &onKeyboardInput, &onMouseInput,
         reinterpret_cast<ScaleHandlerFn>(kHandler)},
        {"below 4 GiB", reinterpret_cast<InputHandlerFn>(0x00401000),
         reinterpret_cast<InputHandlerFn>(0x00402000),
         reinterpret_cast<ScaleHandlerFn>(0x00403000)},
    };
    const std::uintptr_t game = os::mainModule();
    for (const Handlers& h : cases) {
        SCOPED_TRACE(h.where);
        BranchTrampoline t;
        ASSERT_TRUE(t.obtainBlock());
        std::vector<Bytes> code;
        auto emit = [&](auto make) {
            void* p = t.beginCode();
            auto generated = make(p, static_cast<std::size_t>(t.remain()));
            t.endCode(generated.getCode() + generated.getSize());
            code.push_back(emitted(generated));
        };
        emit([&](void* p, std::size_t n) { return FreeplotEnableStub(p, n, game + 0x586B02A); });
        emit([&](void* p, std::size_t n) {
            return InputStub(p, n, h.keyboard, game + 0x1B11580, game + 0xD2678D);
        });
        emit([&](void* p, std::size_t n) {
            return InputStub(p, n, h.mouse, game + 0x1B11900, game + 0xD2676B);
        });
        emit([&](void* p, std::size_t n) { return ScaleCallStub(p, n, h.scale); });
        emit([&](void* p, std::size_t n) {
            return OutlineStub(p, n, game + 0x242E30, game + 0x22ABA3);
        });
        ASSERT_EQ(code.size(), 5u);
        EXPECT_EQ(code[0].size(), 12u);
        EXPECT_EQ(code[1].size(), 43u);
        EXPECT_EQ(code[2].size(), 43u);
        EXPECT_EQ(code[3].size(), 36u);
        EXPECT_EQ(code[4].size(), 29u);
        EXPECT_EQ(t.remain(), 1885u);

        // Each handler's address sits in a mov rax, imm64 at the place the tables give it.
        auto movRax = [](const Bytes& b, std::size_t at, auto handler) {
            Bytes expected = {0x48, 0xB8};
            const auto v = reinterpret_cast<std::uint64_t>(handler);
            for (int i = 0; i < 8; ++i) expected.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
            return Bytes(b.begin() + static_cast<std::ptrdiff_t>(at),
                         b.begin() + static_cast<std::ptrdiff_t>(at + 10)) == expected;
        };
        EXPECT_TRUE(movRax(code[1], 6, h.keyboard));
        EXPECT_TRUE(movRax(code[2], 6, h.mouse));
        EXPECT_TRUE(movRax(code[3], 18, h.scale));
    }
}

namespace {

// What the game's side of the input hook saw.
struct InputState {
    std::uint64_t calleeRcx, calleeRdx, calleeRax, calleeRuns;
    std::uint64_t handlerArg, handlerAlignment, handlerResult, handlerRuns;
    std::uint64_t after;
};
InputState inputState;

constexpr std::uint64_t kRcx = 0x1111222233334444;
constexpr std::uint64_t kRax = 0x5555666677778888;

// The game's routine around the hooked call: the raw-input record goes in rdx; after the site
// it counts that execution went on behind it.
struct InputRoutine : Xbyak::CodeGenerator {
    std::uintptr_t site = 0;
    InputRoutine(void* buffer, std::uintptr_t callee) : Xbyak::CodeGenerator(0x100, buffer) {
        using namespace Xbyak::util;
        push(rbx);  // rsp is 16-aligned at the call, as at the game's site
        mov(rdx, rdi);
        mov(rcx, kRcx);
        mov(rax, kRax);
        site = reinterpret_cast<std::uintptr_t>(getCurr());
        call(reinterpret_cast<const void*>(callee));
        mov(r11, reinterpret_cast<std::uint64_t>(&inputState.after));
        add(qword[r11], 1);
        pop(rbx);
        ret();
    }
};

// The game's callee: keeps the registers it was called with.
struct InputCallee : Xbyak::CodeGenerator {
    explicit InputCallee(void* buffer) : Xbyak::CodeGenerator(0x100, buffer) {
        using namespace Xbyak::util;
        mov(r11, reinterpret_cast<std::uint64_t>(&inputState));
        mov(ptr[r11], rcx);
        mov(ptr[r11 + 8], rdx);
        mov(ptr[r11 + 16], rax);
        add(qword[r11 + 24], 1);
        ret();
    }
};

// A handler with a chosen 64-bit result; keeps its argument and rsp modulo 16 at entry.
struct TestHandler : Xbyak::CodeGenerator {
    explicit TestHandler(void* buffer) : Xbyak::CodeGenerator(0x100, buffer) {
        using namespace Xbyak::util;
        mov(r11, reinterpret_cast<std::uint64_t>(&inputState.handlerArg));
        mov(ptr[r11], rcx);
        mov(rax, rsp);
        and_(rax, 15);
        mov(ptr[r11 + 8], rax);
        add(qword[r11 + 24], 1);
        mov(rax, ptr[r11 + 16]);
        ret();
    }
};

}  // namespace

std::int32_t FREEPLOT_MSABI compiledPassThrough(void* record) { return record ? 0 : 1; }

TEST(Stubs, InputStubsCallTheHandlerAndTheGameUnlessConsumed) {
    CodeBlock block;
    ASSERT_NE(block.base, nullptr);
    InputCallee callee(block.base + 0x3000);
    TestHandler handler(block.base + 0x3100);
    const auto testHandler = handler.getCode<InputHandlerFn>();

    struct Case {
        std::uint64_t result;
        bool gameCallRuns;
    };
    // Only eax counts: a value in the upper half of rax alone is a zero result.
    const Case cases[] = {{0, true},           {1, false},          {0x80000000, false},
                          {0xFFFFFFFF, false}, {0x100000000, true}, {0xFFFFFFFF00000000, true}};

    for (int mouse = 0; mouse < 2; ++mouse) {
        InputRoutine routine(block.base + 0x2000 + 0x100 * mouse,
                             reinterpret_cast<std::uintptr_t>(callee.getCode()));
        void* stub = block.base + 0x4000 + 0x100 * mouse;
        if (mouse)
            InputStub(stub, 0x100, testHandler, reinterpret_cast<std::uintptr_t>(callee.getCode()),
                      routine.site);
        else
            InputStub(stub, 0x100, testHandler, reinterpret_cast<std::uintptr_t>(callee.getCode()),
                      routine.site);
        ASSERT_TRUE(writeJump5(routine.site, reinterpret_cast<std::uintptr_t>(stub)));
        const auto run = routine.getCode<void (*)(void*)>();

        for (const Case& c : cases) {
            inputState = {};
            inputState.handlerResult = c.result;
            std::uint8_t record[32] = {};
            run(record);
            SCOPED_TRACE(testing::Message() << "mouse " << mouse << " result " << c.result);
            EXPECT_EQ(inputState.handlerRuns, 1u);
            EXPECT_EQ(inputState.handlerArg, reinterpret_cast<std::uint64_t>(record));
            EXPECT_EQ(inputState.handlerAlignment, 8u);  // as after a call from aligned code
            EXPECT_EQ(inputState.calleeRuns, c.gameCallRuns ? 1u : 0u);
            if (c.gameCallRuns) {
                EXPECT_EQ(inputState.calleeRcx, kRcx);
                EXPECT_EQ(inputState.calleeRdx, reinterpret_cast<std::uint64_t>(record));
                EXPECT_EQ(inputState.calleeRax, kRax);
            }
            EXPECT_EQ(inputState.after, 1u);
        }
    }

    // A compiled handler with the Microsoft convention (as the plugin's are) lets events through.
    InputRoutine routine(block.base + 0x2800, reinterpret_cast<std::uintptr_t>(callee.getCode()));
    InputStub(block.base + 0x4800, 0x100, &compiledPassThrough,
              reinterpret_cast<std::uintptr_t>(callee.getCode()), routine.site);
    ASSERT_TRUE(writeJump5(routine.site, block.at(0x4800)));
    inputState = {};
    std::uint8_t record[32] = {};
    routine.getCode<void (*)(void*)>()(record);
    EXPECT_EQ(inputState.calleeRuns, 1u);
    EXPECT_EQ(inputState.calleeRdx, reinterpret_cast<std::uint64_t>(record));
    EXPECT_EQ(inputState.after, 1u);
}

namespace {
struct OutlineState {
    std::uint64_t calleeResult, calleeRuns;
} outlineState;
}  // namespace

TEST(Stubs, OutlineStubMakesUnselectableObjectsSelectableExceptActors) {
    CodeBlock block;
    ASSERT_NE(block.base, nullptr);
    struct Callee : Xbyak::CodeGenerator {
        explicit Callee(void* b) : Xbyak::CodeGenerator(0x100, b) {
            using namespace Xbyak::util;
            mov(r11, reinterpret_cast<std::uint64_t>(&outlineState));
            mov(rax, 0x1234567812345600);  // only al carries the result
            mov(al, byte[r11]);
            add(qword[r11 + 8], 1);
            ret();
        }
    } callee(block.base + 0x3000);
    // The game's routine: the object in rdi, the callee's byte result tested after the site.
    struct Routine : Xbyak::CodeGenerator {
        std::uintptr_t site = 0;
        Routine(void* b, const void* target) : Xbyak::CodeGenerator(0x100, b) {
            using namespace Xbyak::util;
            push(rbx);
            site = reinterpret_cast<std::uintptr_t>(getCurr());
            call(target);
            movzx(eax, al);
            pop(rbx);
            ret();
        }
    } routine(block.base + 0x2000, callee.getCode());
    OutlineStub(block.base + 0x4000, 0x100, reinterpret_cast<std::uintptr_t>(callee.getCode()),
                routine.site);
    ASSERT_TRUE(writeJump5(routine.site, block.at(0x4000)));
    const auto run = routine.getCode<std::uint32_t (*)(void*)>();

    struct Case {
        std::uint8_t calleeResult, formType;
        std::uint32_t seen;
    };
    const Case cases[] = {{1, 0x41, 1}, {2, 0x20, 2}, {0, 0x41, 0}, {0, 0x20, 1}, {0, 0x42, 1}};
    for (const Case& c : cases) {
        outlineState = {c.calleeResult, 0};
        std::uint8_t object[0x40] = {};
        object[0x1A] = c.formType;
        EXPECT_EQ(run(object), c.seen) << int(c.calleeResult) << " " << int(c.formType);
        EXPECT_EQ(outlineState.calleeRuns, 1u);
    }
}

TEST(Stubs, FreeplotEnableStubStoresOneAndKeepsTheFlags) {
    CodeBlock block;
    ASSERT_NE(block.base, nullptr);
    std::uint8_t* flag = block.base + 0x6000;
    FreeplotEnableStub stub(block.base + 0x4000, 0x100, reinterpret_cast<std::uintptr_t>(flag));
    // The game's routine: al holds its own result, the carry flag is set across the site, which
    // is a call through a pointer slot; it returns al | carry << 8.
    struct Routine : Xbyak::CodeGenerator {
        Routine(void* b, const void* stubEntry) : Xbyak::CodeGenerator(0x100, b) {
            using namespace Xbyak::util;
            Xbyak::Label slot;
            mov(eax, edi);
            stc();
            call(ptr[rip + slot]);
            setc(cl);
            movzx(ecx, cl);
            shl(ecx, 8);
            movzx(eax, al);
            or_(eax, ecx);
            ret();
            align(8);
            L(slot);
            dq(reinterpret_cast<std::uint64_t>(stubEntry));
        }
    } routine(block.base + 0x2000, stub.getCode());
    const auto run = routine.getCode<std::uint32_t (*)(std::uint32_t)>();
    for (std::uint32_t gameResult : {0u, 1u}) {
        *flag = 0;
        EXPECT_EQ(run(gameResult), 0x101u);
        EXPECT_EQ(*flag, 1u);
    }
}

namespace {
struct ScaleCall {
    void* reference;
    std::uint64_t code, bits, runs;
} scaleCall;
std::uintptr_t FREEPLOT_MSABI recordScale(void* reference, std::uint64_t code, std::uint64_t bits) {
    scaleCall = {reference, code, bits, scaleCall.runs + 1};
    return 7;
}
}  // namespace

TEST(Stubs, CallScaleStubHandsTheDoubleOverInAnIntegerRegister) {
    CodeBlock block;
    ASSERT_NE(block.base, nullptr);
    ScaleCallStub stub(block.base + 0x4000, 0x100, &recordScale);
    const auto call = reinterpret_cast<ScaleCallStubFn>(const_cast<std::uint8_t*>(stub.getCode()));
    int reference = 0;
    for (double factor : {0.35, 1.0, 2.5}) {
        scaleCall.runs = 0;
        call(&reference, factor);
        EXPECT_EQ(scaleCall.runs, 1u);
        EXPECT_EQ(scaleCall.reference, &reference);
        EXPECT_EQ(scaleCall.code, 0x113Cu);
        EXPECT_EQ(scaleCall.bits, std::bit_cast<std::uint64_t>(factor));
    }
}
