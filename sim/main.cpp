// freeplot-sim: plays scenario files in the simulated game with the plugin loaded and prints each
// session's transcript; runs the chaos sequences.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#include "sim/build_paths.h"
#include "sim/chaos.h"
#include "sim/host.h"
#include "sim/scenario.h"
#include "sim/sim.h"

namespace {

void usage(std::FILE* out) {
    std::fputs(
        "usage: freeplot-sim play FILE [--settings FILE] [--plugin PATH] [--keep-root]\n"
        "                          [--blank-image] [--session-timeout S]\n"
        "       freeplot-sim demo [--settings FILE] [--plugin PATH] [--keep-root]\n"
        "       freeplot-sim chaos [--seed N] [--sequences K | --seconds S] [--events E]\n"
        "                          [--plugin PATH] [--session-timeout S]\n"
        "\n"
        "  play       plays the scenario FILE (its format: sim/README.md) in one session with the\n"
        "             plugin and prints the transcript, log lines first, ending with one note per\n"
        "             key, button, wheel or console step: what it showed and what it did to the\n"
        "             selected object. Exit 0 when every expectation held, 1 when one did not "
        "(the\n"
        "             last line names it), 2 when the file cannot be played as written (or\n"
        "             holds more than 16 MiB, as may the --settings FILE).\n"
        "  demo       plays sim/demo.scenario of this checkout\n"
        "  --settings use FILE as Data\\F4SE\\Plugins\\freeplot.ini instead of the scenario's\n"
        "             \"setting\" lines\n"
        "  --plugin   load PATH instead of this build's freeplot.so ($FREEPLOT_PLUGIN)\n"
        "  --keep-root keep the session's folder (its path is printed)\n"
        "  --blank-image an image of zeros, none of the game's code: the transcript says how many\n"
        "             bytes of it Query and Load changed\n"
        "  --session-timeout a session still running after S seconds (default 60) is ended and\n"
        "             fails; a slower host (Wine on a busy machine) may need more\n"
        "  chaos      random sequences (default 1000 events each; seed: the time), each ending "
        "with\n"
        "             \"expect settled\"; prints its figures, and for a failing sequence its "
        "seed,\n"
        "             what failed and the sequence as a scenario file (kept in the current\n"
        "             folder). Exit 0 when every sequence held.\n",
        out);
}

// The value of --session-timeout: whole seconds above zero, else nullopt.
std::optional<std::chrono::milliseconds> sessionTimeout(const char* text) {
    char* end = nullptr;
    const long seconds = std::strtol(text, &end, 10);
    if (end == text || *end || seconds <= 0 || seconds > 86400) return std::nullopt;
    return std::chrono::milliseconds(seconds * 1000);
}

int play(const std::string& path, int argc, char** argv, int first) {
    sim::Options options;
    std::optional<std::string> settings;
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--settings" && i + 1 == argc) {
            std::fprintf(stderr, "freeplot-sim: --settings needs a FILE\n");
            return 2;
        }
        if (arg == "--settings") {
            std::string text, why;
            if (!sim::readPlayable(argv[++i], text, why)) {
                std::fprintf(stderr, "freeplot-sim: %s: %s\n", argv[i], why.c_str());
                return 2;
            }
            settings = text;
        } else if (arg == "--plugin" && i + 1 < argc) {
            options.plugin = argv[++i];
        } else if (arg == "--keep-root") {
            options.keepRoot = true;
        } else if (arg == "--blank-image") {
            options.blankImage = true;
            options.countImageChanges = true;
        } else if (arg == "--session-timeout" && i + 1 < argc && sessionTimeout(argv[i + 1])) {
            options.timeout = *sessionTimeout(argv[++i]);
        } else {
            usage(stderr);
            return 2;
        }
    }
    sim::Scenario scenario;
    try {
        scenario = sim::readScenario(path);
    } catch (const sim::ScenarioError& error) {
        std::fprintf(stderr, "freeplot-sim: %s\n", error.what());
        return 2;
    }
    if (settings) {
        // A file of the player's own stands in for the scenario's setting lines.
        scenario.settings.clear();
        options.settings = *settings;
    }
    const sim::PlayOutcome outcome = sim::playScenario(scenario, options);
    std::cout << outcome.transcript.text();
    if (options.keepRoot) std::cout << "== root: " << outcome.transcript.root << "\n";
    if (!outcome.passed()) {
        std::cout << "== failed: " << outcome.failure << "\n";
        std::fprintf(stderr, "freeplot-sim: %s\n", outcome.failure.c_str());
    }
    return outcome.passed() ? 0 : 1;
}

int chaos(int argc, char** argv) {
    std::uint64_t seed = static_cast<std::uint64_t>(std::time(nullptr));
    std::uint64_t sequences = 0;
    double seconds = 0;
    int events = 1000;
    sim::Options options;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
        if (arg == "--seed") {
            seed = std::strtoull(value().c_str(), nullptr, 0);
        } else if (arg == "--sequences") {
            sequences = std::strtoull(value().c_str(), nullptr, 0);
        } else if (arg == "--seconds") {
            seconds = std::strtod(value().c_str(), nullptr);
        } else if (arg == "--events") {
            events = std::atoi(value().c_str());
        } else if (arg == "--plugin" && i + 1 < argc) {
            options.plugin = argv[++i];
        } else if (arg == "--session-timeout" && i + 1 < argc && sessionTimeout(argv[i + 1])) {
            options.timeout = *sessionTimeout(argv[++i]);
        } else {
            usage(stderr);
            return 2;
        }
    }
    if (!sequences && seconds <= 0) sequences = 1;
    std::printf("chaos: seed %llu, %d events a sequence\n", static_cast<unsigned long long>(seed),
                events);
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    sim::ChaosFigures total;
    for (std::uint64_t n = 0;; ++n) {
        if (sequences
                ? n >= sequences
                : std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >=
                      seconds)
            break;
        const std::uint64_t sequenceSeed = seed + n;
        const std::string name = "chaos-" + std::to_string(sequenceSeed) + ".scenario";
        const std::string text = sim::chaosScenario(sequenceSeed, events);
        const sim::PlayOutcome outcome = sim::playScenario(sim::parseScenario(text, name), options);
        const sim::ChaosFigures figures = sim::countChaos(text);
        total.sequences += 1;
        total.events += figures.events;
        total.unloads += figures.unloads;
        total.compared += outcome.modelSteps();
        total.inputs += outcome.inputsCompared();
        total.replays += static_cast<std::uint64_t>(outcome.replays);
        total.reports += outcome.reportsCompared();
        if (!outcome.passed()) {
            ++total.failures;
            std::ofstream(name) << text;
            // A stay that did not replay as it ended is kept beside it.
            if (!outcome.replayedFile.empty())
                std::ofstream(name.substr(0, name.size() - 9) + ".stay.scenario") << outcome.replayedFile;
            std::printf(
                "chaos: sequence %llu (seed %llu) FAILED: %s\n  kept as %s; replay: "
                "freeplot-sim play %s\n",
                static_cast<unsigned long long>(n), static_cast<unsigned long long>(sequenceSeed),
                outcome.failure.c_str(), name.c_str(), name.c_str());
            std::fflush(stdout);
        }
    }
    std::printf(
        "chaos: %llu sequences, %llu events, %llu unloads, %llu steps compared with the model, "
        "%llu input records compared, %llu readings compared with the settings report, "
        "%llu stays replayed, %llu failures\n",
        static_cast<unsigned long long>(total.sequences),
        static_cast<unsigned long long>(total.events),
        static_cast<unsigned long long>(total.unloads),
        static_cast<unsigned long long>(total.compared),
        static_cast<unsigned long long>(total.inputs),
        static_cast<unsigned long long>(total.reports),
        static_cast<unsigned long long>(total.replays),
        static_cast<unsigned long long>(total.failures));
    return total.failures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    // A session's child where sessions are not forked (host.h).
    if (argc == 3 && std::strcmp(argv[1], "--session") == 0)
        return sim::host::childProcessMain(argv[2]);
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        usage(stdout);
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "play") == 0) return play(argv[2], argc, argv, 3);
    if (argc >= 2 && std::strcmp(argv[1], "demo") == 0) {
        const std::string source = sim::sourceDirectory();
        if (source.empty()) {
            std::fprintf(stderr,
                         "freeplot-sim: cannot tell this build's checkout; use play FILE\n");
            return 2;
        }
        return play(source + "/sim/demo.scenario", argc, argv, 2);
    }
    if (argc >= 2 && std::strcmp(argv[1], "chaos") == 0) return chaos(argc, argv);
    usage(stderr);
    return 2;
}
