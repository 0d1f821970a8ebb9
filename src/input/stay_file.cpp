// A kept stay written beside the log by a worker of its own: whole or not at all, the file there
// before kept as the previous one.

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "common/log.h"
#include "feedback/workers.h"
#include "input/stay_record.h"
#include "os/os.h"

namespace freeplot::stay {
namespace {

constexpr const char* kFileName = "freeplot_session.txt";
constexpr const char* kPreviousName = "freeplot_session_previous.txt";
// A bigger file there before is no file of ours: it is not kept as the previous one.
constexpr std::size_t kMostPrevious = std::size_t{32} << 20;

}  // namespace

void write(const Kept& kept) {
    const std::string folder = logFolder();
    if (folder.empty()) return;
    std::string bytes;
    for (const char c : render(kept)) {
        if (c == '\n')
            bytes += os::kLineEnd;
        else
            bytes += c;
    }
    const std::string current = folder + kFileName, previous = folder + kPreviousName;
    // The file there before becomes the previous one, once the new one is in.
    std::string before;
    bool had = false;
    if (std::FILE* in = os::openNative(os::nativePath(current.c_str()), "rb")) {
        char piece[1 << 16];
        had = true;
        for (std::size_t n; (n = std::fread(piece, 1, sizeof piece, in)) > 0;) {
            before.append(piece, n);
            if (before.size() > kMostPrevious) had = false;
            if (!had) break;
        }
        std::fclose(in);
    }
    if (!os::replaceFileWhole(current.c_str(), bytes)) {
        logLine("Stay file %s could not be written: the one before stays", current.c_str());
        return;
    }
    if (had && !os::replaceFileWhole(previous.c_str(), before))
        logLine("Stay file %s could not be written: the one before stays", previous.c_str());
}

namespace {

struct Waiting {
    std::mutex mutex;
    std::shared_ptr<const Kept> next;
    bool writing = false;
};
Waiting waiting;

void writeWaiting() {
    // A write that does not end (no memory) leaves the next stay a worker of its own.
    struct Done {
        bool finished = false;
        ~Done() {
            if (finished) return;
            const std::lock_guard lock(waiting.mutex);
            waiting.writing = false;
        }
    } done;
    for (;;) {
        std::shared_ptr<const Kept> kept;
        {
            const std::lock_guard lock(waiting.mutex);
            kept = std::move(waiting.next);
            waiting.next = nullptr;
            if (!kept) {
                waiting.writing = false;
                done.finished = true;
                return;
            }
        }
        write(*kept);
    }
}

}  // namespace

void hand(std::shared_ptr<const Kept> kept) {
    {
        const std::lock_guard lock(waiting.mutex);
        waiting.next = std::move(kept);
        if (waiting.writing) return;
        waiting.writing = true;
    }
    if (!startThread("stay file", writeWaiting)) {
        const std::lock_guard lock(waiting.mutex);
        waiting.writing = false;
    }
}

}  // namespace freeplot::stay
