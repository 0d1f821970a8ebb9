#include "feedback/notify.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "feedback/workers.h"
#include "game/gamefunctions.h"

namespace freeplot {
namespace {

// The hand-over between showAfterQuiet and the notifier thread. `generation` counts hand-overs,
// so the notifier can tell a new text from the one it waits on.
struct Notifier {
    std::mutex mutex;
    std::condition_variable handedOver;
    std::string text;
    std::uint64_t generation = 0;
    // When the last text was handed over: the quiet period runs from there, however late the
    // notifier thread wakes up to it.
    std::chrono::steady_clock::time_point handedAt;
    bool running = false;
};
Notifier notifier;

// The notifier thread: waits for a quiet period, shows the last text handed over, and ends
// unless another text arrived while it was showing (which then gets a quiet period of its own).
void messageNotifier() {
    Notifier& n = notifier;
    // However the thread ends, the next hand-over must find no notifier and start one.
    struct Ending {
        bool done = false;
        ~Ending() {
            if (done) return;
            const std::lock_guard lock(notifier.mutex);
            notifier.running = false;
        }
    } ending;
    std::unique_lock lock(n.mutex);
    std::uint64_t seen = n.generation;
    for (;;) {
        while (n.handedOver.wait_until(lock, n.handedAt + kQuietPeriod,
                                       [&] { return n.generation != seen; }))
            seen = n.generation;
        const std::string text = n.text;
        lock.unlock();  // never held while calling into the game
        if (!text.empty()) showHudMessage(text.c_str());
        lock.lock();
        if (n.generation == seen) {
            n.running = false;
            ending.done = true;
            return;
        }
        seen = n.generation;
    }
}

}  // namespace

void showAfterQuiet(const FormattedText& text) {
    Notifier& n = notifier;
    {
        const std::lock_guard lock(n.mutex);
        n.text = text.c_str();
        ++n.generation;
        n.handedAt = std::chrono::steady_clock::now();
        if (n.running) {
            n.handedOver.notify_one();
            return;
        }
        n.running = true;
    }
    const bool started = startThread("notifier", [] { messageNotifier(); });
    const std::lock_guard lock(n.mutex);
    if (!started) n.running = false;
}

void withdrawQuiet() {
    // An empty text is what the thread finds when its quiet period ends, and it shows nothing.
    const std::lock_guard lock(notifier.mutex);
    notifier.text.clear();
}

bool notifierRunning() {
    const std::lock_guard lock(notifier.mutex);
    return notifier.running;
}

}  // namespace freeplot
