// What the plugin adds to the game's input processing: an unbound key event and a mouse movement
// in workshop mode, each through the game's routine with the plugin's stub and real handler
// linked in, against the same routine as the game has it.
//
// The table gives each of the four on its own, and what starting a worker costs the input thread.
// The figures that matter come after it: the two routines run side by side in alternating batches,
// so the load that other programs put on a shared machine falls on both alike, and the median
// difference per event is the time the plugin adds to an event.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "feedback/workers.h"
#include "game/locations.h"
#include "input/stay.h"
#include "input_game.h"

namespace {

using bench::InputGame;
using bench::Routine;

struct Event {
    const char* name;
    Routine InputGame::*unhooked;
    Routine InputGame::*hooked;
    const std::uint64_t* InputGame::*calleeRuns;
    bool keyboard;
};

const Event kKeyEvent = {"unbound key event in workshop mode", &InputGame::keyboardUnhooked,
                         &InputGame::keyboardHooked, &InputGame::keyboardCalleeRuns, true};
const Event kMouseEvent = {"mouse move in workshop mode", &InputGame::mouseUnhooked,
                           &InputGame::mouseHooked, &InputGame::mouseCalleeRuns, false};

// The record of the event, as the game would hand it over.
struct Record {
    freeplot::RawKeyboard key = bench::unboundKeyPress();
    freeplot::RawMouse mouse = bench::mouseMove();
    void* of(const Event& event) { return event.keyboard ? static_cast<void*>(&key) : &mouse; }
};

void runEvents(benchmark::State& state, const Event& event, bool hooked) {
    const InputGame& game = bench::inputGame();
    if (!game.error.empty()) {
        state.SkipWithError(game.error.c_str());
        return;
    }
    const Routine routine = game.*(hooked ? event.hooked : event.unhooked);
    Record record;
    void* raw = record.of(event);
    const std::uint64_t before = *(game.*event.calleeRuns);
    for (auto _ : state) {
        routine(raw);
        benchmark::ClobberMemory();
    }
    // The handler must have let every event through to the game, or this is not the path meant.
    if (*(game.*event.calleeRuns) - before != static_cast<std::uint64_t>(state.iterations()))
        state.SkipWithError("the game's callee did not run for every event");
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void BM_UnboundKey_Unhooked(benchmark::State& state) { runEvents(state, kKeyEvent, false); }
void BM_UnboundKey_Hooked(benchmark::State& state) { runEvents(state, kKeyEvent, true); }
void BM_MouseMove_Unhooked(benchmark::State& state) { runEvents(state, kMouseEvent, false); }
void BM_MouseMove_Hooked(benchmark::State& state) { runEvents(state, kMouseEvent, true); }

BENCHMARK(BM_UnboundKey_Unhooked);
BENCHMARK(BM_UnboundKey_Hooked);
BENCHMARK(BM_MouseMove_Unhooked);
BENCHMARK(BM_MouseMove_Hooked);

// --- Starting a worker ------------------------------------------------------------------------

// What a starter costs the input thread, without the simulated game around it: the plugin's
// startWorker (claim the busy byte, make and detach the thread), and a bare thread made and
// detached, the floor under any starter that makes a thread. Only the start is timed; the
// benchmark then waits, untimed, for the worker to end, as the busy byte makes the game do, and
// then pauses for the argument's milliseconds: back to back (0) a start is much cheaper than at
// a player's pace (2), when the processor's caches have moved on between two starts.
template <class Start, class Wait>
void timeStarts(benchmark::State& state, Start start, Wait waitForEnd) {
    const auto pause = std::chrono::milliseconds(state.range(0));
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        const bool started = start();
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - begin).count());
        if (!started) {
            state.SkipWithError("no thread started");
            return;
        }
        waitForEnd();
        if (pause.count() > 0) std::this_thread::sleep_for(pause);
    }
}

void BM_StartWorker(benchmark::State& state) {
    freeplot::BusyByte busy;
    timeStarts(
        state,
        [&busy] {
            return freeplot::startWorker(
                busy, "bench", [](freeplot::BusyByte* b) { b->store(0); }, &busy);
        },
        [&busy] {
            while (busy.load() != 0) std::this_thread::yield();
        });
}

void BM_ThreadStart(benchmark::State& state) {
    std::atomic<bool> ended{false};
    timeStarts(
        state,
        [&ended] {
            ended = false;
            std::thread([&ended] { ended = true; }).detach();
            return true;
        },
        [&ended] {
            while (!ended) std::this_thread::yield();
        });
}

// At a player's pace a fixed number of starts, or the pauses would stretch the run to minutes.
BENCHMARK(BM_StartWorker)->Arg(0)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StartWorker)->Arg(2)->Iterations(300)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ThreadStart)->Arg(0)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ThreadStart)->Arg(2)->Iterations(300)->UseManualTime()->Unit(benchmark::kMicrosecond);

// --- Keeping the stay ------------------------------------------------------------------------

// What an event the plugin acts on adds for the stay's replay, on the input thread: the look at
// the game's state (the selection looked up, the heading, the busy and ignore flags) and the
// append to the stay's buffer, here a bound key's press. With `objects` objects seen before, the
// selected one the last of them; every 2048 events a part of the stay begins (each object looked
// up again, the keys that reach the switches' and steps' states found), and beyond 4096 entries
// the older part is dropped: the figure is the mean over many of both.
void BM_StayKeepsAnEvent(benchmark::State& state) {
    if (!bench::inputGame().error.empty()) {
        state.SkipWithError(bench::inputGame().error.c_str());
        return;
    }
    auto* selected = freeplot::ptr<std::uint32_t>(freeplot::Loc::selectedRefHandle);
    const auto objects = static_cast<std::uint32_t>(state.range(0));
    for (std::uint32_t n = 1; n <= objects; ++n) {
        *selected = bench::kSelectedHandle + n;
        freeplot::stayBeforeKey(-1);
        freeplot::stayKeyPressed(0x2E);
    }
    for (auto _ : state) {
        freeplot::stayBeforeKey(-1);
        freeplot::stayKeyPressed(0x2E);
    }
    state.counters["entries kept"] = static_cast<double>(freeplot::stayEntriesKept());
    freeplot::stayEnds();
    *selected = bench::kSelectedHandle;
}
BENCHMARK(BM_StayKeepsAnEvent)->Arg(1)->Arg(500);

// --- Side by side --------------------------------------------------------------------------

constexpr int kBatch = 1000;   // events per timed batch
constexpr int kRounds = 2001;  // one batch of each routine per round
constexpr double kAimNs = 30.0;

double batchNs(Routine routine, void* record) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch; ++i) {
        routine(record);
        benchmark::ClobberMemory();
    }
    const auto end = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::nano>(end - start).count() / kBatch;
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[index];
}

// Returns false when the event did not take the path meant (the game's callee missed events).
bool sideBySide(const Event& event) {
    const InputGame& game = bench::inputGame();
    const Routine unhooked = game.*event.unhooked;
    const Routine hooked = game.*event.hooked;
    Record record;
    void* raw = record.of(event);
    const std::uint64_t before = *(game.*event.calleeRuns);

    std::vector<double> plain, linked, added;
    for (int round = 0; round < kRounds; ++round) {
        // Alternate which goes first, so neither always runs on a warmer machine.
        double a, b;
        if (round % 2 == 0) {
            a = batchNs(unhooked, raw);
            b = batchNs(hooked, raw);
        } else {
            b = batchNs(hooked, raw);
            a = batchNs(unhooked, raw);
        }
        plain.push_back(a);
        linked.push_back(b);
        added.push_back(b - a);
    }
    const std::uint64_t runs = *(game.*event.calleeRuns) - before;
    if (runs != std::uint64_t{2} * kBatch * kRounds) {
        std::printf("%s: the game's callee ran %llu times for %d events; not measured\n",
                    event.name, static_cast<unsigned long long>(runs), 2 * kBatch * kRounds);
        return false;
    }
    const double median = percentile(added, 0.5);
    std::printf(
        "%s: unhooked %.1f ns, hooked %.1f ns, the plugin adds %.1f ns per event "
        "(middle 80%% of rounds: %.1f to %.1f ns) (aim < %.0f ns): %s\n",
        event.name, percentile(plain, 0.5), percentile(linked, 0.5), median, percentile(added, 0.1),
        percentile(added, 0.9), kAimNs, median < kAimNs ? "met" : "missed");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    const InputGame& game = bench::inputGame();
    if (!game.error.empty()) {
        std::fprintf(stderr, "hook_bench: %s\n", game.error.c_str());
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\nSide by side: %d rounds of %d events through each routine, medians\n", kRounds,
                kBatch);
    const bool keyMeasured = sideBySide(kKeyEvent);
    const bool mouseMeasured = sideBySide(kMouseEvent);
    return keyMeasured && mouseMeasured ? 0 : 1;
}
