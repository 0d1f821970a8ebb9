#pragma once
// Work that has to wait (for the game, for a quiet period, between the turns of a held mouse
// button) runs on a plain detached thread, so the game's input thread never waits. Each kind of
// worker has a busy byte: the starter claims it, the worker clears it at its end, so at most one
// worker of a kind runs at a time.

#include <cstdint>
#include <exception>
#include <thread>
#include <utility>

#include "common/Guard.h"
#include "common/IDebugLog.h"
#include "common/Shared.h"

namespace freeplot {

using BusyByte = Shared<std::uint8_t>;

struct WorkerBusy {
    BusyByte scaleBusy;   // a scale worker or an applyScale thread runs
    BusyByte deleteBusy;  // a delete worker runs
    BusyByte rotateBusy;  // the held-mouse-button rotation worker runs
};
extern WorkerBusy workers;

// Runs `work` on a new thread that is detached at once. The thread body runs under the guard;
// when it does not run to its end (an error, a halted plugin) the optional busy byte is cleared
// for it. False when no thread could be made: then one line is logged and the busy byte cleared.
// Never throws: it runs on the game's input thread.
template <class Work>
bool startThread(const char* name, Work work, BusyByte* busy = nullptr) noexcept {
    try {
        std::thread([name, busy, work = std::move(work)]() mutable {
            if (!guardedRun(name, work) && busy) busy->store(0);
        }).detach();
        return true;
    } catch (const std::exception& error) {
        print("Could not start the %s thread: %s", name, error.what());
    } catch (...) {
        print("Could not start the %s thread", name);
    }
    if (busy) busy->store(0);
    return false;
}

// Claims `busy` and runs body(args...) on a new detached thread with copies of the arguments.
// False, with nothing started, when the kind is busy already or no thread could be made. The
// body clears `busy` at its end.
template <class Body, class... Args>
bool startWorker(BusyByte& busy, const char* name, Body body, Args... args) noexcept {
    if (busy.exchange(1) != 0) return false;
    return startThread(
        name, [body, args...] { body(args...); }, &busy);
}

}  // namespace freeplot
