#pragma once
// The one guard around every entry that the game or a thread calls: the two exports, the
// console command handler, the three handlers behind the generated stubs and every worker
// body. An exception must never unwind through a stub, a game frame or the top of a thread
// (the game would go down with it), so the guard catches everything, logs one line and gives
// the entry's neutral result.

#include <exception>

#include "common/log.h"

namespace freeplot {

namespace detail {
// Logs what stopped an entry; called from inside its catch block.
inline void reportStop(const char* entry) noexcept {
    try {
        throw;
    } catch (const Halt&) {
        // The assertion line is in the log and halt() marked the plugin halted.
    } catch (const std::exception& error) {
        logLine("%s stopped by an error: %s", entry, error.what());
    } catch (...) {
        logLine("%s stopped by an unknown error", entry);
    }
}
}  // namespace detail

// Runs `body` unless the plugin is halted and returns its result; gives `neutral` when the
// plugin is halted or `body` raised anything. A Halt has logged its own line already; any other
// error is logged as "<entry> stopped by an error: <what>".
template <class Result, class Body>
Result guarded(const char* entry, Result neutral, Body&& body) noexcept {
    if (halted()) return neutral;
    try {
        return body();
    } catch (...) {
        detail::reportStop(entry);
    }
    return neutral;
}

// The form for entries without a result (worker bodies): true when `body` ran to its end.
template <class Body>
bool guardedRun(const char* entry, Body&& body) noexcept {
    if (halted()) return false;
    try {
        body();
        return true;
    } catch (...) {
        detail::reportStop(entry);
    }
    return false;
}

}  // namespace freeplot
