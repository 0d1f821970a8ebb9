#include "common/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "os/os.h"

namespace freeplot {
namespace {

constexpr const char* kLogName = "\\My Games\\Fallout4\\F4SE\\freeplot_plugin.log";
constexpr int kFallbackNames = 5;

// The open log file, closed by the destructor when the process exits.
struct LogFile {
    std::FILE* handle = nullptr;
    ~LogFile() {
        if (handle) std::fclose(handle);
    }
};

struct Log {
    LogFile file;
    // Held while a line is written, so lines of different threads never interleave.
    std::mutex writeMutex;
    LogObserver observer = nullptr;
    void* observerContext = nullptr;
    std::string folder;  // where the log file is, or would be had it opened
};
Log logState;
constexpr std::size_t kLineCapacity = 8192;

// Appends `text` to the NUL-terminated `buffer` of `size` characters, cutting what does not fit.
void appendBounded(char* buffer, std::size_t size, const char* text) {
    std::size_t used = std::strlen(buffer);
    while (*text && used + 1 < size) buffer[used++] = *text++;
    buffer[used] = '\0';
}

// Creates every folder on the way to `path`: at each separator, the folder named by everything
// before it. Existing folders and a drive prefix such as "C:" fail harmlessly.
void createDirectories(const char* path) {
    char partial[os::kMaxPathUtf8];
    for (std::size_t i = 0; path[i] && i < sizeof partial; ++i) {
        if (path[i] == '\\' || path[i] == '/') {
            std::memcpy(partial, path, i);
            partial[i] = '\0';
            os::makeDirectory(partial);
        }
    }
}

void writeLine(const char* text) {
    const std::lock_guard lock(logState.writeMutex);
    if (logState.file.handle) {
        std::fputs(text, logState.file.handle);
        std::fflush(logState.file.handle);
        std::fputc('\n', logState.file.handle);
        std::fflush(logState.file.handle);
    }
    std::printf("%s\n", text);
    std::fflush(stdout);
    if (logState.observer) logState.observer(text, logState.observerContext);
}

}  // namespace

void logOpen() {
    char path[os::kMaxPathUtf8] = {};
    const std::int32_t err = os::documentsFolder(path);
    if (err < 0) {
        logLine("SHGetFolderPath %08X failed (result = %08X lasterr = %08X)", 5u,
                static_cast<std::uint32_t>(err), os::lastError());
        assertionFailedCode("IDebugLog", __LINE__, "SUCCEEDED(err)", err);
    }
    appendBounded(path, sizeof path, kLogName);
    createDirectories(path);
    {
        // The folder holds what goes beside the log, whether or not the log itself opens.
        const std::lock_guard lock(logState.writeMutex);
        const std::string named(path);
        logState.folder = named.substr(0, named.find_last_of('\\') + 1);
    }

    std::FILE* file = os::openShareDenyWrite(path);
    for (int i = 0; !file && i < kFallbackNames; ++i) {
        char fallback[1024];
        std::snprintf(fallback, sizeof fallback, "%s%d", path, i);
        file = os::openShareDenyWrite(fallback);
    }
    const std::lock_guard lock(logState.writeMutex);
    logState.file.handle = file;
}

void logLine(const char* format, ...) {
    char line[kLineCapacity];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    writeLine(line);
}

void setLogObserver(LogObserver observer, void* context) {
    const std::lock_guard lock(logState.writeMutex);
    logState.observer = observer;
    logState.observerContext = context;
}

std::pair<LogObserver, void*> logObserver() {
    const std::lock_guard lock(logState.writeMutex);
    return {logState.observer, logState.observerContext};
}

std::string logFolder() {
    const std::lock_guard lock(logState.writeMutex);
    return logState.folder;
}

namespace detail {
std::atomic<bool> haltedFlag{false};
}  // namespace detail

void halt() {
    detail::haltedFlag.store(true);
    throw Halt{};
}

void assertionFailed(const char* where, int sourceLine, const char* condition) {
    logLine("Assertion failed in %s (%d): %s", where, sourceLine, condition);
    halt();
}

void assertionFailedCode(const char* where, int sourceLine, const char* condition,
                         std::int64_t code) {
    const auto bits = static_cast<std::uint64_t>(code);
    if (bits >> 32) {
        logLine("Assertion failed in %s (%d): %s (code = %16" PRIX64 " (%" PRId64 "))", where,
                sourceLine, condition, bits, code);
    } else {
        logLine("Assertion failed in %s (%d): %s (code = %08X (%d))", where, sourceLine, condition,
                static_cast<std::uint32_t>(bits), static_cast<std::int32_t>(bits));
    }
    halt();
}

}  // namespace freeplot
