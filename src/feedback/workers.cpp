#include "feedback/workers.h"

#include <array>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace freeplot {

WorkerBusy workers;

namespace {

// One kind's thread and the jobs waiting for it.
class WorkerLine {
public:
    void post(std::function<void()> job) {
        std::unique_lock lock(mutex_);
        jobs_.push_back(std::move(job));
        if (!started_) {
            try {
                std::thread([this] { serve(); }).detach();
            } catch (...) {
                jobs_.pop_back();
                throw;
            }
            started_ = true;
        }
        lock.unlock();
        ready_.notify_one();
    }

private:
    // The thread: runs each job as it comes (the jobs carry their own guard).
    [[noreturn]] void serve() {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock lock(mutex_);
                ready_.wait(lock, [this] { return !jobs_.empty(); });
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            job();
        }
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> jobs_;
    bool started_ = false;
};

// The lines by kind. A line and its thread are never taken down: the thread may be waiting on the
// line when the process ends, so the line must outlive every destructor run at exit.
struct Lines {
    std::mutex mutex;
    std::array<std::pair<const void*, WorkerLine*>, 8> byKind{};
};
Lines workerLines;

WorkerLine& lineOf(const void* kind) {
    const std::lock_guard lock(workerLines.mutex);
    for (auto& [key, line] : workerLines.byKind) {
        if (key == kind) return *line;
        if (!key) {
            key = kind;
            line = new WorkerLine;
            return *line;
        }
    }
    throw std::length_error("more kinds of worker than lines");
}

}  // namespace

void detail::post(const void* kind, std::function<void()> job) {
    lineOf(kind).post(std::move(job));
}

}  // namespace freeplot
