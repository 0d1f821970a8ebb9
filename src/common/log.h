#pragma once
// The plugin's one diagnostic channel: a log file under the user's documents folder, with a
// copy of every line on standard output.

#include <atomic>
#include <cinttypes>
#include <cstdint>
#include <string>
#include <utility>

namespace freeplot {

// Opens "\My Games\Fallout4\F4SE\freeplot_plugin.log" under the documents folder, creating
// the folders on the way; falls back to the same name with 0..4 appended when the file is
// held by another opener. Without a documents folder it logs two lines and halts the plugin
// (throws Halt, see below).
void logOpen();

// printf-style; one line per call, to the file (if open) and to standard output. Safe to call
// from any thread: each call formats into a buffer of its own and writes its line whole.
void logLine(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Raised by halt() after an assertion line has been logged: the plugin cannot go on. Every way
// into the plugin (the two entry points, the hook handlers, the console command, the worker
// threads) runs under guarded() (common/guard.h), which catches it and returns to the game
// without touching anything further.
struct Halt {};

// Every printed line is also handed to the observer, if one is set (tests use this to see the
// log of code they drive directly). Null removes it.
using LogObserver = void (*)(const char* line, void* context);
void setLogObserver(LogObserver observer, void* context);
// The observer set now and its context.
std::pair<LogObserver, void*> logObserver();

// The folder of the log file, as a Windows path ending in a separator, whether or not the file
// itself could be opened; empty before logOpen found the documents folder.
std::string logFolder();

namespace detail {
extern std::atomic<bool> haltedFlag;
}  // namespace detail

// True once an assertion has stopped the plugin. Inline: every event asks.
inline bool halted() { return detail::haltedFlag.load(std::memory_order_relaxed); }

// Marks the plugin halted and raises Halt. Every stop of the plugin goes through here.
[[noreturn]] void halt();

// Logs "Assertion failed in %s (%d): %s" and throws Halt.
[[noreturn]] void assertionFailed(const char* source, int line, const char* condition);
// The result-code forms of the assertion line.
[[noreturn]] void assertionFailedCode(const char* source, int line, const char* condition,
                                      std::int64_t code);

}  // namespace freeplot

// Checks a condition; on failure logs the assertion line naming `source` (a file name without
// extension) and halts the plugin.
#define FREEPLOT_ASSERT(source, cond)                                      \
    do {                                                                   \
        if (!(cond)) ::freeplot::assertionFailed(source, __LINE__, #cond); \
    } while (0)

// Format for a 64-bit address or value printed as 16 upper-case hex digits, the same on every
// C runtime (the Microsoft spelling is %016I64X).
#define FREEPLOT_X64 "%016" PRIX64
