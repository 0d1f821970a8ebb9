// freeplot-sim: runs the plugin in the simulated game and prints the session's transcript.

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "sim/sim.h"

namespace {

void usage() {
    std::puts(
        "usage: freeplot-sim demo [--settings FILE] [--plugin PATH] [--keep-root]\n"
        "\n"
        "  demo         one session with the plugin: workshop mode on, an object selected,\n"
        "               a few key presses and the console command if the game has it;\n"
        "               prints the transcript, log lines first\n"
        "  --settings   use FILE as Data\\F4SE\\Plugins\\freeplot.ini (default: no file)\n"
        "  --plugin     load PATH instead of this build's freeplot.so ($FREEPLOT_PLUGIN)\n"
        "  --keep-root  keep the session's folder (its path is printed)\n"
        "\n"
        "Exit status 0 when the session ran to its end.");
}

// A short session: the game in workshop mode with one object selected.
void demoScript(sim::Game& game) {
    sim::RefSpec layout;
    layout.position[0] = 100.0f;
    layout.position[1] = 200.0f;
    layout.position[2] = 50.0f;
    sim::Ref ref = game.createRef(layout);
    game.selectRef(ref.handle);
    game.setWorkshopMode(true);

    struct Key {
        std::uint16_t vkey;
        const char* name;
    };
    for (Key key : {Key{0x70, "F1"}, Key{0x68, "numpad 8"}}) {
        sim::InputResult down = game.keyPress(key.vkey);
        sim::InputResult up = game.keyRelease(key.vkey);
        game.note(std::string("key ") + key.name,
                  std::string("press ") + (down.calleeRan ? "reached the game" : "consumed") +
                      ", release " + (up.calleeRan ? "reached the game" : "consumed"));
    }
    game.note("object position", std::to_string(ref.pos(0)) + " " + std::to_string(ref.pos(1)) +
                                     " " + std::to_string(ref.pos(2)));

    for (const char* name : {"ToggleFreeplot", "ToggleFreeplot"}) {
        if (!game.findCommand(name)) {
            game.note("console", std::string(name) + " is not in the command table");
            break;
        }
        sim::ConsoleResult r = game.runConsoleCommand(name);
        game.note("console", std::string(name) + " returned " + (r.returned ? "true" : "false"));
    }
    // Messages may be shown by a worker after a quiet period.
    game.sleep(std::chrono::milliseconds(700));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "demo") != 0) {
        usage();
        return argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)
                   ? 0
                   : 2;
    }
    sim::Options options;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--settings" && i + 1 < argc) {
            std::ifstream in(argv[++i], std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "freeplot-sim: cannot read %s\n", argv[i]);
                return 2;
            }
            std::stringstream ss;
            ss << in.rdbuf();
            options.settings = ss.str();
        } else if (arg == "--plugin" && i + 1 < argc) {
            options.plugin = argv[++i];
        } else if (arg == "--keep-root") {
            options.keepRoot = true;
        } else {
            usage();
            return 2;
        }
    }
    options.script = demoScript;
    sim::Transcript t = sim::run(options);
    std::cout << t.text();
    if (options.keepRoot) std::cout << "== root: " << t.root << "\n";
    return t.completed ? 0 : 1;
}
