// Runs N raw-input events of one kind through one game routine, for counting instructions under
// valgrind's callgrind: count_instructions.sh collects only inside counted_events and compares
// the routine with the plugin's hook linked in against the routine as the game has it.
//
//   hook_count key|mouse hooked|unhooked N
//
// Prints how often the game's callee ran, so the script can tell that every event went through
// to the game (the path measured is the one where the plugin lets the event pass).

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "game/locations.h"
#include "input_game.h"

// The only code callgrind counts: N events, one routine.
extern "C" __attribute__((noinline)) void counted_events(bench::Routine routine, void* record,
                                                         long count) {
    for (long i = 0; i < count; ++i) routine(record);
}

int main(int argc, char** argv) {
    if (argc != 4 || (std::strcmp(argv[1], "key") != 0 && std::strcmp(argv[1], "mouse") != 0) ||
        (std::strcmp(argv[2], "hooked") != 0 && std::strcmp(argv[2], "unhooked") != 0)) {
        std::fprintf(stderr, "usage: hook_count key|mouse hooked|unhooked N\n");
        return 2;
    }
    const bool key = std::strcmp(argv[1], "key") == 0;
    const bool hooked = std::strcmp(argv[2], "hooked") == 0;
    const long count = std::strtol(argv[3], nullptr, 10);
    if (count <= 0) {
        std::fprintf(stderr, "hook_count: N must be a positive number\n");
        return 2;
    }

    const bench::InputGame& game = bench::inputGame();
    if (!game.error.empty()) {
        std::fprintf(stderr, "hook_count: %s\n", game.error.c_str());
        return 1;
    }
    freeplot::RawKeyboard keyRecord = bench::unboundKeyPress();
    freeplot::RawMouse mouseRecord = bench::mouseMove();
    void* record = key ? static_cast<void*>(&keyRecord) : &mouseRecord;
    const bench::Routine routine = key ? (hooked ? game.keyboardHooked : game.keyboardUnhooked)
                                       : (hooked ? game.mouseHooked : game.mouseUnhooked);
    const std::uint64_t* runs = key ? game.keyboardCalleeRuns : game.mouseCalleeRuns;

    routine(record);  // one event first, outside the count, so every counted event is alike
    const std::uint64_t before = *runs;
    counted_events(routine, record, count);
    std::printf("callee runs: %llu of %ld\n", static_cast<unsigned long long>(*runs - before),
                count);
    // Generated code has no symbols; callgrind names it by address.
    std::printf(
        "routine: %p\ncallee: %p\n", reinterpret_cast<void*>(routine),
        reinterpret_cast<const void*>(key ? freeplot::addr(freeplot::Loc::keyboardInputCallee)
                                          : freeplot::addr(freeplot::Loc::mouseInputCallee)));
    return 0;
}
