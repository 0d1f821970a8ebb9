// The session child's recorder: every record is written to the event file with one write(2)
// at once, so the parent still gets it when the child dies later.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>

#include "sim/host.h"
#include "sim/internal.h"

namespace sim::detail {
namespace {

std::mutex recordMutex;
int eventFd = -1;
std::vector<std::string> callLines;
std::vector<std::string> messageLines;
std::vector<std::string> consoleLines;
std::vector<std::int64_t> callTimes;
std::vector<std::size_t> callThreads;
std::vector<std::int64_t> messageTimes;
const auto sessionStart = std::chrono::steady_clock::now();

}  // namespace

std::string escapeField(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::vector<std::string> splitRecord(std::string_view line) {
    std::vector<std::string> fields(1);
    for (std::size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '\t') {
            fields.emplace_back();
        } else if (c == '\\' && i + 1 < line.size()) {
            char e = line[++i];
            fields.back() += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

void openRecorder(int fd) { eventFd = fd; }

void emit(char kind, const std::vector<std::string>& fields) {
    std::string line(1, kind);
    for (const auto& f : fields) {
        line += '\t';
        line += escapeField(f);
    }
    line += '\n';
    std::lock_guard lock(recordMutex);
    if (eventFd >= 0) host::writeAll(eventFd, line);
}

std::int64_t sessionMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                 sessionStart)
        .count();
}

void recordCall(const std::string& line) {
    const std::int64_t at = sessionMicros();
    emit(kind::call, {line, std::to_string(at)});
    std::lock_guard lock(recordMutex);
    callLines.push_back(line);
    callTimes.push_back(at);
    callThreads.push_back(std::hash<std::thread::id>{}(std::this_thread::get_id()));
}

void recordMessage(const std::string& text) {
    const std::int64_t at = sessionMicros();
    emit(kind::message, {text, std::to_string(at)});
    std::lock_guard lock(recordMutex);
    messageLines.push_back(text);
    messageTimes.push_back(at);
}

void recordConsole(const std::string& text) {
    emit(kind::console, {text});
    std::lock_guard lock(recordMutex);
    consoleLines.push_back(text);
}

namespace {
std::vector<std::string> tail(const std::vector<std::string>& lines, std::size_t from) {
    return {lines.begin() + static_cast<std::ptrdiff_t>(std::min(from, lines.size())), lines.end()};
}
}  // namespace

std::vector<std::string> recordedCalls(std::size_t from) {
    std::lock_guard lock(recordMutex);
    return tail(callLines, from);
}

std::vector<std::string> recordedMessages(std::size_t from) {
    std::lock_guard lock(recordMutex);
    return tail(messageLines, from);
}

std::size_t recordedCallCount() {
    std::lock_guard lock(recordMutex);
    return callLines.size();
}

std::size_t recordedMessageCount() {
    std::lock_guard lock(recordMutex);
    return messageLines.size();
}

std::vector<Timed> recordedTimedCalls() {
    std::lock_guard lock(recordMutex);
    std::vector<Timed> out;
    for (std::size_t i = 0; i < callLines.size(); ++i)
        out.push_back({callLines[i], callTimes[i], callThreads[i]});
    return out;
}

std::vector<Timed> recordedTimedMessages() {
    std::lock_guard lock(recordMutex);
    std::vector<Timed> out;
    for (std::size_t i = 0; i < messageLines.size(); ++i)
        out.push_back({messageLines[i], messageTimes[i]});
    return out;
}

std::vector<std::string> recordedConsole() {
    std::lock_guard lock(recordMutex);
    return consoleLines;
}

}  // namespace sim::detail
