// What the keyboard hook costs one raw keyboard event: the game's routine around the hooked call,
// once with the 5-byte jump into the keyboard stub (which calls a handler that lets the event
// through, then makes the game's call) and once as the game has it. After the table the ratio of
// the two times is printed.

#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <xbyak/xbyak.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "game/hooks.h"
#include "game/patches.h"

namespace {

using Routine = void (*)(void* record);

// The game's side: a routine that makes the input call with the record in rdx, the callee the
// call reaches, and a handler that returns 0 at once.
struct GameCode {
    std::uint8_t* block = nullptr;
    Routine unhooked = nullptr;
    Routine hooked = nullptr;
    std::uint64_t calleeRuns = 0;

    GameCode() {
        void* p = mmap(nullptr, 0x10000, PROT_READ | PROT_WRITE | PROT_EXEC,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return;
        block = static_cast<std::uint8_t*>(p);

        struct Callee : Xbyak::CodeGenerator {
            Callee(void* b, std::uint64_t* runs) : Xbyak::CodeGenerator(0x100, b) {
                using namespace Xbyak::util;
                mov(rax, reinterpret_cast<std::uint64_t>(runs));
                add(qword[rax], 1);
                ret();
            }
        } callee(block + 0x3000, &calleeRuns);
        struct Handler : Xbyak::CodeGenerator {
            explicit Handler(void* b) : Xbyak::CodeGenerator(0x100, b) {
                using namespace Xbyak::util;
                xor_(eax, eax);
                ret();
            }
        } handler(block + 0x3100);
        struct GameRoutine : Xbyak::CodeGenerator {
            std::uintptr_t site = 0;
            GameRoutine(void* b, const void* target) : Xbyak::CodeGenerator(0x100, b) {
                using namespace Xbyak::util;
                push(rbx);
                mov(rdx, rdi);
                mov(rcx, rdi);
                site = reinterpret_cast<std::uintptr_t>(getCurr());
                call(target);
                pop(rbx);
                ret();
            }
        };
        GameRoutine plain(block + 0x1000, callee.getCode());
        GameRoutine linked(block + 0x2000, callee.getCode());
        freeplot::KeyboardInputHook_Code stub(block + 0x4000, 0x100,
                                              reinterpret_cast<freeplot::InputHandlerFn>(
                                                  const_cast<std::uint8_t*>(handler.getCode())),
                                              reinterpret_cast<std::uintptr_t>(callee.getCode()),
                                              linked.site);
        freeplot::writeJump5(linked.site, reinterpret_cast<std::uintptr_t>(stub.getCode()));
        unhooked = plain.getCode<Routine>();
        hooked = linked.getCode<Routine>();
    }
};

GameCode& game() {
    static GameCode code;
    return code;
}

void runEvents(benchmark::State& state, Routine routine) {
    if (!routine) {
        state.SkipWithError("no executable memory");
        return;
    }
    std::uint8_t record[40] = {};
    for (auto _ : state) {
        routine(record);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void BM_KeyboardEventUnhooked(benchmark::State& state) { runEvents(state, game().unhooked); }
void BM_KeyboardEventHooked(benchmark::State& state) { runEvents(state, game().hooked); }

BENCHMARK(BM_KeyboardEventUnhooked);
BENCHMARK(BM_KeyboardEventHooked);

// The console table, then the hooked time as a multiple of the unhooked one.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                times_[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const auto plain = times_.find("BM_KeyboardEventUnhooked");
        const auto hooked = times_.find("BM_KeyboardEventHooked");
        if (plain != times_.end() && hooked != times_.end() && plain->second > 0)
            std::printf("keyboard event hooked / unhooked: %.2f\n", hooked->second / plain->second);
    }

private:
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
