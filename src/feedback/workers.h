#pragma once
// Work that has to wait (for the game, for a quiet period, between the turns of a held mouse
// button) runs off the game's input thread, so that thread never waits. A busy byte per kind
// keeps it to one job of that kind at once: starting sets the byte, the job's end resets it.
//
// Each kind also has one thread of its own (scaling and deleting share theirs), made the first
// time the kind is started and woken for every later start: making a thread costs the input
// thread some 50 to 100 microseconds, waking one that waits a few. The thread lives, idle between
// jobs, until the process ends.

#include <cstdint>
#include <exception>
#include <functional>
#include <utility>

#include "common/guard.h"
#include "common/log.h"
#include "common/shared.h"

namespace freeplot {

using BusyByte = Shared<std::uint8_t>;

struct WorkerBusy {
    BusyByte scaleBusy;   // a scale worker or an applyScale job runs
    BusyByte deleteBusy;  // a delete worker runs
    BusyByte rotateBusy;  // the held-mouse-button rotation worker runs
};
extern WorkerBusy workers;

// Whether a worker of any kind runs.
inline bool anyWorkerBusy() {
    return workers.scaleBusy != 0 || workers.deleteBusy != 0 || workers.rotateBusy != 0;
}

namespace detail {
// The thread a kind runs on. Scaling and deleting both hand references to the game, and share
// one thread: one job after the other, so that no object is handed over while it is deleted.
inline const void* threadOf(const BusyByte* busy) {
    return busy == &workers.deleteBusy ? &workers.scaleBusy : busy;
}
// Runs `job` on the thread of the kind named by `kind` (its busy byte, or another address that
// stands for it), making the thread on the kind's first job. Throws when no thread can be made.
void post(const void* kind, std::function<void()> job);
}  // namespace detail

// Runs `work` on the thread of its kind (`busy`, or `name` for a kind without a busy byte). The
// work runs under the guard; when it does not run to its end (an error, a halted plugin) the busy
// byte is cleared for it. False when the work could not be handed over (no thread could be made,
// no memory): then one line is logged and the busy byte cleared. Never throws: it runs on the
// game's input thread.
template <class Work>
bool startThread(const char* name, Work work, BusyByte* busy = nullptr) noexcept {
    try {
        detail::post(busy ? detail::threadOf(busy) : name,
                     [name, busy, work = std::move(work)]() mutable {
                         if (!guardedRun(name, work) && busy) busy->store(0);
                     });
        return true;
    } catch (const std::exception& error) {
        logLine("Could not start the %s thread: %s", name, error.what());
    } catch (...) {
        logLine("Could not start the %s thread", name);
    }
    if (busy) busy->store(0);
    return false;
}

// Claims `busy` for the caller: true when the kind was free and is now the caller's, to be handed
// to startClaimedWorker (or stored back as 0 when the caller changes its mind).
inline bool claimWorker(BusyByte& busy) { return busy.exchange(1) == 0; }

// Runs body(args...) on the kind's thread with copies of the arguments, for a caller that has
// claimed `busy` already: so it can make its own changes only once it knows the worker is its to
// start. False when the work could not be handed over (the byte is then cleared). The body
// clears `busy` at its end.
template <class Body, class... Args>
bool startClaimedWorker(BusyByte& busy, const char* name, Body body, Args... args) noexcept {
    return startThread(
        name, [body, args...] { body(args...); }, &busy);
}

// Claims `busy` and runs body(args...) on the kind's thread with copies of the arguments. False,
// with nothing started, when the kind is busy already or the work could not be handed over. The
// body clears `busy` at its end.
template <class Body, class... Args>
bool startWorker(BusyByte& busy, const char* name, Body body, Args... args) noexcept {
    if (!claimWorker(busy)) return false;
    return startClaimedWorker(busy, name, body, args...);
}

}  // namespace freeplot
