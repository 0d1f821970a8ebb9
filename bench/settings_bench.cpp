// What reading the settings file costs the game, measured in sessions of the simulated game: the
// game's start (Query and Load) with a file, and the first event of a stay in workshop mode that
// reads a changed file (the input thread's share of a reload). Then the settings checker's
// processor time on the same files. Three files: the shipped one, one of 4 MiB (the most the
// plugin reads) of names no action has, and the shipped one padded to 4 MiB with empty lines. Files
// named on the command line are measured instead. A benchmark may wait and time; a test never does.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/build_paths.h"
#include "sim/sim.h"

namespace {

constexpr int kStarts = 5;
constexpr int kReloads = 9;

std::string shipped() {
    std::ifstream in(sim::sourceDirectory() + "/data/freeplot.ini", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// 4 MiB of names in [keys] that no action has, each with a code: every one is read, taken up by
// no reader, and a finding of the report.
std::string unknownNames() {
    std::string text = "[keys]\n";
    char line[64];
    for (int i = 0;; ++i) {
        const int n = std::snprintf(line, sizeof line, "moveUpp%07d = 5\n", i);
        if (text.size() + static_cast<std::size_t>(n) > (4u << 20)) break;
        text.append(line, static_cast<std::size_t>(n));
    }
    return text;
}

// The shipped file padded with empty lines to near 4 MiB: a file with nothing to find, whose every
// line the input thread's question "has the report findings?" would otherwise look at.
std::string shippedPadded() {
    std::string text = shipped();
    // Room left for the reloads' added line breaks, so every reload reads the file.
    text.resize((4u << 20) - 64, '\n');
    return text;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Query and Load, in milliseconds, over kStarts sessions.
std::vector<double> starts(const std::string& settings) {
    std::vector<double> times;
    for (int i = 0; i < kStarts; ++i) {
        sim::Options options;
        options.settings = settings;
        std::int64_t before = 0;
        options.beforeQuery = [&](sim::Game&) { before = sim::Game::now(); };
        options.script = [&](sim::Game& game) {
            game.note("start", std::to_string(sim::Game::now() - before));
        };
        const sim::Transcript t = sim::run(options);
        if (auto v = t.note("start")) times.push_back(std::stod(*v) / 1000.0);
    }
    return times;
}

// The first event of each stay, in milliseconds: after the file changed (the input thread's share
// of a reload), or with the file as it was (what the first event costs anyway).
std::vector<double> reloads(const std::string& settings, bool changed = true) {
    sim::Options options;
    options.settings = settings;
    options.script = [&](sim::Game& game) {
        for (int i = 0; i < kReloads; ++i) {
            // Another size each time, so the change is seen whatever the file system's clock.
            if (changed)
                game.writeFile(game.settingsPath(),
                               settings + std::string(static_cast<std::size_t>(i + 1), '\n'));
            game.setWorkshopMode(false);
            game.mouseEvent(0);
            game.setWorkshopMode(true);
            const std::int64_t before = sim::Game::now();
            game.mouseEvent(0);
            game.note("reload", std::to_string(sim::Game::now() - before));
        }
    };
    const sim::Transcript t = sim::run(options);
    std::vector<double> times;
    for (const std::string& v : t.notesFor("reload")) times.push_back(std::stod(v) / 1000.0);
    return times;
}

// The settings checker's processor time on the file, in seconds (user and system).
double checkerSeconds(const std::string& settings) {
    char path[] = "/tmp/freeplot-settings-bench-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return -1;
    if (write(fd, settings.data(), settings.size()) != static_cast<ssize_t>(settings.size())) return -1;
    close(fd);
    const pid_t child = fork();
    if (child == 0) {
        std::freopen("/dev/null", "w", stdout);
        const std::string checker = sim::buildDirectory() + "/tools/freeplot-check";
        execl(checker.c_str(), checker.c_str(), path, static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    unlink(path);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void report(const char* name, const std::string& settings) {
    const std::vector<double> start = starts(settings);
    const std::vector<double> reload = reloads(settings);
    const std::vector<double> unchanged = reloads(settings, false);
    const double checker = checkerSeconds(settings);
    std::printf("%s (%zu bytes):\n", name, settings.size());
    std::printf("  the game's start (Query and Load): median %.2f ms of %zu\n", median(start),
                start.size());
    std::printf("  a reload, on the input thread: median %.3f ms, longest %.3f ms of %zu\n",
                median(reload), reload.empty() ? 0.0 : *std::max_element(reload.begin(), reload.end()),
                reload.size());
    std::printf("  the first event of a stay with the file unchanged: median %.3f ms\n",
                median(unchanged));
    std::printf("  freeplot-check: %.2f s of processor time\n", checker);
}

}  // namespace

// With files named on the command line, measures those instead (a file a player sent, or one
// written to find what costs the game most).
int main(int argc, char** argv) {
    if (argc > 1) {
        for (int i = 1; i < argc; ++i) {
            std::ifstream in(argv[i], std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "settings_bench: cannot read %s\n", argv[i]);
                return 2;
            }
            report(argv[i], std::string(std::istreambuf_iterator<char>(in), {}));
        }
        return 0;
    }
    report("the shipped freeplot.ini", shipped());
    report("4 MiB of names no action has", unknownNames());
    report("the shipped freeplot.ini and empty lines to 4 MiB", shippedPadded());
    return 0;
}
