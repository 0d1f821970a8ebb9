// The timing of the plugin's workers, measured in sessions of the simulated game: the notifier's
// quiet period, the hand-off to the game's main loop, the time a starter spends on the game's
// input thread, and the held-button worker's turns per second. Each benchmark plays one session
// with fixed pauses (a benchmark may wait; a test may not) and reads the times that the sim
// recorded for every game call and message. The table's time column is the session's length;
// the figures are its counters, and a summary with the aims follows the table.

#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sim/sim.h"

namespace {

using namespace std::chrono_literals;

// Default bindings: numpad 3 scales up, Delete deletes, "W" is bound to nothing.
constexpr std::uint16_t kScaleUp = 99;
constexpr std::uint16_t kDelete = 46;
constexpr std::uint16_t kUnbound = 0x57;
constexpr std::uint16_t kLeftDown = 0x0001, kLeftUp = 0x0002;

// The closing lines, printed after the table.
std::vector<std::string> summary;

template <class... Args>
std::string format(const char* text, Args... args) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, text, args...);
    return buffer;
}

struct Stats {
    double median = 0, p90 = 0, p99 = 0, min = 0, max = 0;
    std::size_t count = 0;
};

Stats statsOf(std::vector<double> values) {
    Stats s;
    s.count = values.size();
    if (values.empty()) return s;
    std::sort(values.begin(), values.end());
    const auto at = [&](double p) {
        return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5)];
    };
    s.median = at(0.5);
    s.p90 = at(0.9);
    s.p99 = at(0.99);
    s.min = values.front();
    s.max = values.back();
    return s;
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}
bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::size_t countCalls(const sim::Game& game, const std::string& prefix, const std::string& part) {
    std::size_t n = 0;
    for (const std::string& call : game.calls())
        if (startsWith(call, prefix) && contains(call, part)) ++n;
    return n;
}

// The recorded calls with the text given, and when each was made (microseconds).
struct TimedCall {
    std::string text;
    std::int64_t micros;
};
std::vector<TimedCall> callsWith(const sim::Transcript& t, const std::string& prefix,
                                 const std::string& part = "") {
    std::vector<TimedCall> found;
    for (std::size_t i = 0; i < t.calls.size() && i < t.callTimes.size(); ++i)
        if (startsWith(t.calls[i], prefix) && contains(t.calls[i], part))
            found.push_back({t.calls[i], t.callTimes[i]});
    return found;
}

std::vector<std::int64_t> noted(const sim::Transcript& t, const std::string& key) {
    std::vector<std::int64_t> values;
    for (const std::string& v : t.notesFor(key)) values.push_back(std::stoll(v));
    return values;
}

// Processor time the calling thread has used, in nanoseconds.
std::int64_t threadCpuNanos() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

void note(sim::Game& game, const std::string& key, std::int64_t value) {
    game.note(key, std::to_string(value));
}

// Plays one session; false (and the benchmark skipped with the reason) when it did not run to
// its end.
bool play(benchmark::State& state, const std::string& settings,
          std::function<void(sim::Game&)> script, std::chrono::milliseconds timeout,
          sim::Transcript& t) {
    sim::Options o;
    o.settings = settings;
    o.timeout = timeout;
    o.script = std::move(script);
    t = sim::run(o);
    std::string failure;
    if (!t.completed) failure = "session ended: " + t.ending;
    if (failure.empty() && !t.errors.empty()) failure = "sim error: " + t.errors.front();
    if (failure.empty() && t.notes.empty()) failure = "the script noted nothing";
    for (const std::string& e : t.notesFor("error")) failure = "script: " + e;
    if (!failure.empty()) {
        state.SkipWithError(failure.c_str());
        summary.push_back(failure);
        return false;
    }
    return true;
}

// A selected object in workshop mode; an actor when asked (the scale worker hands no actor to
// the game's main loop, so its message follows its scale call at once).
sim::Ref selectObject(sim::Game& game, bool actor = false) {
    sim::RefLayout layout;
    if (actor) layout.formType = 0x41;
    const sim::Ref ref = game.createRef(layout);
    game.selectRef(ref.handle);
    game.setWorkshopMode(true);
    return ref;
}

// --- The notifier ----------------------------------------------------------------------------

constexpr int kBursts = 50;
constexpr int kPressesPerBurst = 3;

// Bursts of three scale-key releases 100 ms apart; each burst ends in one message 500 ms after
// the last hand-over. The hand-over follows the worker's scale call within microseconds (the
// object is an actor, so nothing is handed to the main loop in between); the release is when the
// player let go of the key.
void BM_NotifierDelay(benchmark::State& state) {
    for (auto _ : state) {
        sim::Transcript t;
        const auto script = [](sim::Game& game) {
            selectObject(game, true);
            std::size_t scaled = 0;
            for (int burst = 0; burst < kBursts; ++burst) {
                for (int press = 0; press < kPressesPerBurst; ++press) {
                    if (press > 0) sim::Game::sleep(100ms);
                    game.keyPress(kScaleUp);
                    note(game, "release", sim::Game::now());
                    game.keyRelease(kScaleUp);
                    ++scaled;
                    if (!game.waitUntil([&] {
                            return countCalls(game, "runAxisCommand(", ", scale ") == scaled;
                        })) {
                        game.note("error", "no scale call after a release");
                        return;
                    }
                }
                if (!game.waitUntil(
                        [&] {
                            return game.messages().size() == static_cast<std::size_t>(burst + 1);
                        },
                        3000ms)) {
                    game.note("error", "no message after a burst");
                    return;
                }
                sim::Game::sleep(50ms);
            }
        };
        if (!play(state, "", script, 120s, t)) return;

        // The time of a call is taken as the stand-in is entered, before the sim writes its
        // record, so a slow write cannot make the message look late.
        const auto scales = callsWith(t, "runAxisCommand(", ", scale ");
        const auto shownAt = callsWith(t, "hudMessageFunction(");
        const auto releases = noted(t, "release");
        const std::size_t expected = kBursts * kPressesPerBurst;
        if (scales.size() != expected || releases.size() != expected ||
            t.messages.size() != static_cast<std::size_t>(kBursts) ||
            shownAt.size() != t.messages.size()) {
            state.SkipWithError("not one message per burst");
            summary.push_back("notifier: not one message per burst");
            return;
        }
        std::vector<double> fromHandOver, fromRelease;
        int wrongText = 0;
        for (int b = 0; b < kBursts; ++b) {
            const std::size_t last = static_cast<std::size_t>(b * kPressesPerBurst + 2);
            const std::int64_t shown = shownAt[static_cast<std::size_t>(b)].micros;
            fromHandOver.push_back(static_cast<double>(shown - scales[last].micros) / 1000.0);
            fromRelease.push_back(static_cast<double>(shown - releases[last]) / 1000.0);
            // The message carries the burst's last value: "scale 1.3" -> "Scale set to 130%".
            const std::string factor = scales[last].text.substr(scales[last].text.rfind(' ') + 1);
            const long percent = std::lround(std::stod(factor) * 100.0);
            if (t.messages[static_cast<std::size_t>(b)] != format("Scale set to %ld%%", percent))
                ++wrongText;
        }
        const Stats h = statsOf(fromHandOver), r = statsOf(fromRelease);
        std::string outside;
        for (int b = 0; b < kBursts; ++b) {
            const double d = fromHandOver[static_cast<std::size_t>(b)];
            if (d < 495.0 || d > 505.0) outside += format(" burst %d: %.2f ms;", b + 1, d);
        }
        state.counters["median_ms"] = h.median;
        state.counters["max_ms"] = h.max;
        state.counters["min_ms"] = h.min;
        state.counters["wrong_texts"] = wrongText;
        const bool met = h.min >= 495.0 && h.max <= 505.0 && wrongText == 0;
        summary.push_back(format(
            "notifier delay from the last hand-over to the message, %d bursts: median %.2f ms, "
            "min %.2f ms, max %.2f ms (aim 500 +/- 5 ms): %s",
            kBursts, h.median, h.min, h.max, met ? "met" : "missed"));
        summary.push_back(format(
            "    from the last key release: median %.2f ms, max %.2f ms; messages with a value "
            "other than the burst's last: %d",
            r.median, r.max, wrongText));
        if (!outside.empty()) summary.push_back("    outside the aim:" + outside);
    }
}

// --- The hand-off ------------------------------------------------------------------------------

constexpr int kDeletes = 50;

// Deletes 50 objects; the worker hands each to the main loop and calls the game's delete
// command as soon as it sees the slot cleared. The main loop records its take just before it
// clears the slot.
void BM_HandOff(benchmark::State& state) {
    for (auto _ : state) {
        sim::Transcript t;
        const auto script = [](sim::Game& game) {
            game.setWorkshopMode(true);
            for (int i = 0; i < kDeletes; ++i) {
                selectObject(game);
                game.keyPress(kDelete);
                game.keyRelease(kDelete);
                if (!game.waitUntil([&] {
                        return countCalls(game, "refCommandExecute2(", "") ==
                               static_cast<std::size_t>(i + 1);
                    })) {
                    game.note("error", "no delete command after a delete key");
                    return;
                }
                // Vary where in the main loop's millisecond the next delete begins.
                sim::Game::sleep(std::chrono::milliseconds(1 + i % 4));
            }
            game.note("done", "1");
        };
        if (!play(state, "[dangerous]\ndeleteEnabled=true\n", script, 60s, t)) return;

        const auto takes = callsWith(t, "main loop took ");
        const auto deletes = callsWith(t, "refCommandExecute2(");
        std::vector<double> latencies;
        for (const TimedCall& d : deletes) {
            // "refCommandExecute2(0, 0, ref#7, ..." pairs with "main loop took ref#7 from ...".
            const std::size_t from = d.text.find("ref#");
            const std::string ref = d.text.substr(from, d.text.find(',', from) - from);
            for (const TimedCall& take : takes)
                if (take.text == "main loop took " + ref + " from refQueueSlot")
                    latencies.push_back(static_cast<double>(d.micros - take.micros) / 1000.0);
        }
        if (latencies.size() != static_cast<std::size_t>(kDeletes)) {
            state.SkipWithError("a delete without its take");
            summary.push_back("hand-off: a delete without its take");
            return;
        }
        const Stats s = statsOf(latencies);
        state.counters["median_ms"] = s.median;
        state.counters["p90_ms"] = s.p90;
        state.counters["max_ms"] = s.max;
        summary.push_back(format(
            "hand-off, from the game clearing the slot to the worker's next call, %d deletes: "
            "median %.3f ms, 90th percentile %.3f ms, max %.3f ms (aim <= 2 ms): %s",
            kDeletes, s.median, s.p90, s.max, s.max <= 2.0 ? "met" : "missed"));
    }
}

// --- The starter -----------------------------------------------------------------------------

constexpr int kStarts = 100;

// How long the game's input thread spends in the release of a scale key, which starts the scale
// worker, against the release of a key bound to nothing. Both releases go on to the game's
// callee. The callee's record is timed as it is entered, before the sim writes it, so the time
// from the start of a release to that record is the game's routine, the stub and the handler,
// free of the sim's own writing (which the new worker, recording its first call at the same
// moment, can hold up); the whole release is reported beside it, and the processor time the
// input thread used, which leaves out the time it waited while the new worker had its core.
void BM_StarterTime(benchmark::State& state) {
    for (auto _ : state) {
        sim::Transcript t;
        const auto script = [](sim::Game& game) {
            selectObject(game);
            const auto release = [&](std::uint16_t key, const char* name) {
                game.keyPress(key);
                const std::int64_t cpu = threadCpuNanos();
                const std::int64_t start = sim::Game::now();
                game.keyRelease(key);
                const std::int64_t end = sim::Game::now();
                note(game, std::string(name) + " cpu", threadCpuNanos() - cpu);
                note(game, std::string(name) + " start", start);
                note(game, std::string(name) + " end", end);
            };
            for (int i = 0; i < kStarts; ++i) {
                const std::size_t taken = game.refQueueTakes();
                release(kScaleUp, "scale");
                // The worker is done a moment after the main loop took its object.
                if (!game.waitUntil([&] { return game.refQueueTakes() > taken; })) {
                    game.note("error", "the scale worker's object was never taken");
                    return;
                }
                sim::Game::sleep(5ms);
                release(kUnbound, "unbound");
                sim::Game::sleep(5ms);
            }
        };
        if (!play(state, "", script, 60s, t)) return;

        const auto callees = callsWith(t, "keyboardInputCallee(");
        // Microseconds from each start to its end, and to the first callee record after it.
        const auto measure = [&](const std::string& name, std::vector<double>& whole,
                                 std::vector<double>& toCallee) {
            const auto starts = noted(t, name + " start"), ends = noted(t, name + " end");
            for (std::size_t i = 0; i < starts.size() && i < ends.size(); ++i) {
                whole.push_back(static_cast<double>(ends[i] - starts[i]));
                for (const TimedCall& c : callees)
                    if (c.micros >= starts[i]) {
                        if (c.micros <= ends[i])
                            toCallee.push_back(static_cast<double>(c.micros - starts[i]));
                        break;
                    }
            }
        };
        std::vector<double> scaleWhole, scaleToCallee, unboundWhole, unboundToCallee;
        measure("scale", scaleWhole, scaleToCallee);
        measure("unbound", unboundWhole, unboundToCallee);
        std::vector<double> scaleCpu, unboundCpu;
        for (std::int64_t v : noted(t, "scale cpu"))
            scaleCpu.push_back(static_cast<double>(v) / 1e3);
        for (std::int64_t v : noted(t, "unbound cpu"))
            unboundCpu.push_back(static_cast<double>(v) / 1e3);
        if (scaleToCallee.size() != static_cast<std::size_t>(kStarts) ||
            unboundToCallee.size() != static_cast<std::size_t>(kStarts)) {
            state.SkipWithError("a release did not reach the game's callee");
            summary.push_back("starter: a release did not reach the game's callee");
            return;
        }
        const Stats s = statsOf(scaleToCallee), u = statsOf(unboundToCallee);
        const Stats sw = statsOf(scaleWhole), uw = statsOf(unboundWhole);
        const Stats sc = statsOf(scaleCpu), uc = statsOf(unboundCpu);
        const double starter = s.median - u.median;
        state.counters["starter_us"] = starter;
        state.counters["starter_cpu_us"] = sc.median - uc.median;
        state.counters["scale_release_us"] = sw.median;
        state.counters["unbound_release_us"] = uw.median;
        summary.push_back(format(
            "starter on the input thread, %d scale-key releases: median %.0f us (release to the "
            "game's callee: scale key %.0f us, unbound key %.0f us) (aim <= 50 us): %s",
            kStarts, starter, s.median, u.median, starter <= 50.0 ? "met" : "missed"));
        summary.push_back(format(
            "    scale key to the callee: 90th percentile %.0f us, max %.0f us; whole release: "
            "scale key %.0f us (max %.0f us), unbound key %.0f us (max %.0f us)",
            s.p90, s.max, sw.median, sw.max, uw.median, uw.max));
        summary.push_back(format(
            "    processor time the input thread used for it: median %.0f us (whole release: "
            "scale key %.0f us, max %.0f us; unbound key %.0f us)",
            sc.median - uc.median, sc.median, sc.max, uc.median));
    }
}

// --- The input thread's waits ----------------------------------------------------------------

constexpr int kLoadRounds = 200;
constexpr std::uint16_t kSnapKey = 112;  // F1: object snap, a switch that rewrites game code
constexpr std::uint16_t kWheel = 0x0400;

// How long the game's input thread can be held up by the plugin's locks. Each round deletes a
// fresh object (the deletion holds every other use of a reference off while the game's delete
// command runs) and then sends ten wheel turns of another object (each holds a reference use)
// and ten object-snap key releases (each takes the code writer's lock), while the console
// thread switches freeplot mode over and over (rewriting its sites under that lock). The same
// events run once more with no deletion and no console command, as the measure of the work
// itself. Each event is timed on the input thread from the call of the game's routine to its
// return.
void BM_InputThreadWaits(benchmark::State& state) {
    for (auto _ : state) {
        sim::Transcript t;
        const auto script = [](sim::Game& game) {
            const sim::Ref turned = selectObject(game);
            auto events = [&](bool load, std::vector<double>& micros) {
                for (int round = 0; round < kLoadRounds; ++round) {
                    if (load) {
                        selectObject(game);
                        game.keyPress(kDelete);
                        game.keyRelease(kDelete);
                        game.selectRef(turned.handle);
                        game.runConsoleCommandOnConsoleThread("tfp");
                    }
                    for (int i = 0; i < 20; ++i) {
                        const auto from = std::chrono::steady_clock::now();
                        if (i % 2)
                            game.mouseEvent(kWheel, 120);
                        else
                            game.keyRelease(kSnapKey);
                        micros.push_back(std::chrono::duration<double, std::micro>(
                                             std::chrono::steady_clock::now() - from)
                                             .count());
                    }
                }
            };
            std::vector<double> loaded, quiet;
            events(true, loaded);
            if (!game.waitForConsole(std::chrono::seconds(30))) {
                game.note("error", "the console thread did not finish");
                return;
            }
            events(false, quiet);
            for (const auto& [key, values] : {std::pair{"loaded", &loaded}, {"quiet", &quiet}}) {
                const Stats st = statsOf(*values);
                game.note(key, format("median %.1f us, 99th percentile %.1f us, max %.1f us",
                                      st.median, st.p99, st.max));
                note(game, std::string(key) + " max ns", static_cast<std::int64_t>(st.max * 1000));
            }
            note(game, "deletes",
                 static_cast<std::int64_t>(countCalls(game, "refCommandExecute2(", "")));
        };
        if (!play(state, "[main]\nwheelRotation=true\n[dangerous]\ndeleteEnabled=true\n", script,
                  120s, t))
            return;
        state.counters["loaded_max_us"] =
            static_cast<double>(noted(t, "loaded max ns").at(0)) / 1000.0;
        state.counters["quiet_max_us"] =
            static_cast<double>(noted(t, "quiet max ns").at(0)) / 1000.0;
        summary.push_back(
            format("input thread, %d wheel turns and snap key releases beside %s deletions and %d "
                   "freeplot switches on the console thread: %s; the same events alone: %s",
                   kLoadRounds * 20, t.note("deletes").value_or("?").c_str(), kLoadRounds,
                   t.note("loaded").value_or("?").c_str(), t.note("quiet").value_or("?").c_str()));
    }
}

// --- The held-button worker ------------------------------------------------------------------

constexpr int kHolds = 3;
constexpr auto kHold = 2000ms;

// The left button held for two seconds, three times; each turn is one angle command.
void BM_HeldButtonTurns(benchmark::State& state) {
    for (auto _ : state) {
        sim::Transcript t;
        const auto script = [](sim::Game& game) {
            selectObject(game);
            for (int i = 0; i < kHolds; ++i) {
                note(game, "down", sim::Game::now());
                game.mouseEvent(kLeftDown);
                sim::Game::sleep(kHold);
                note(game, "up", sim::Game::now());
                game.mouseEvent(kLeftUp);
                sim::Game::sleep(200ms);  // the worker stops before its next turn
            }
        };
        if (!play(state, "[main]\nwheelRotation=false\n", script, 60s, t)) return;

        const auto turns = callsWith(t, "runAxisCommand(", ", 0x1009, ");
        const auto downs = noted(t, "down"), ups = noted(t, "up");
        if (downs.size() != static_cast<std::size_t>(kHolds) || ups.size() != downs.size()) {
            state.SkipWithError("the holds were not all noted");
            return;
        }
        std::vector<double> perSecond, steady, intervals;
        std::string each;
        for (std::size_t i = 0; i < downs.size(); ++i) {
            std::vector<std::int64_t> times;
            for (const TimedCall& turn : turns)
                if (turn.micros >= downs[i] && turn.micros <= ups[i]) times.push_back(turn.micros);
            const double seconds = static_cast<double>(ups[i] - downs[i]) / 1e6;
            perSecond.push_back(static_cast<double>(times.size()) / seconds);
            // The rate between the first and the last turn, free of where the window cuts.
            if (times.size() >= 2)
                steady.push_back(static_cast<double>(times.size() - 1) * 1e6 /
                                 static_cast<double>(times.back() - times.front()));
            for (std::size_t k = 1; k < times.size(); ++k)
                intervals.push_back(static_cast<double>(times[k] - times[k - 1]) / 1000.0);
            each += format("%s%zu turns in %.3f s", i ? ", " : "", times.size(), seconds);
        }
        const Stats p = statsOf(perSecond), s = statsOf(steady), gap = statsOf(intervals);
        state.counters["turns_per_s"] = p.median;
        state.counters["steady_turns_per_s"] = s.median;
        const bool met = p.min >= 39.0 && p.max <= 41.0;
        summary.push_back(
            format("held-button worker, %d holds of 2 s: %.2f turns per second (median; "
                   "%.2f to %.2f) (aim 40 +/- 1): %s",
                   kHolds, p.median, p.min, p.max, met ? "met" : "missed"));
        summary.push_back(format("    %s; from first to last turn %.2f turns per second (median)",
                                 each.c_str(), s.median));
        summary.push_back(format(
            "    time from one turn to the next: median %.3f ms, 90th percentile %.3f ms, max "
            "%.3f ms",
            gap.median, gap.p90, gap.max));
    }
}

BENCHMARK(BM_NotifierDelay)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_HandOff)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_StarterTime)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_HeldButtonTurns)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_InputThreadWaits)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("\n");
    for (const std::string& line : summary) std::printf("%s\n", line.c_str());
    return 0;
}
