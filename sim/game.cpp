// The scripts' view of the game: image access, references, game state, and feeding events
// through the game's own code.

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "sim/host.h"
#include "sim/internal.h"

namespace sim {

using namespace detail;

namespace {

using loc::abs;

constexpr std::uint32_t keyboardRecord = loc::inputRecords;
constexpr std::uint32_t mouseRecord = loc::inputRecords + 0x100;
constexpr std::uint32_t commandScratch = obj::commandParams + 0x1000;

// The Windows raw-input records, as the game receives them from the system.
struct RawInputHeader {
    std::uint32_t dwType;
    std::uint32_t dwSize;
    std::uint64_t hDevice;
    std::uint64_t wParam;
};
struct RawKeyboard {
    RawInputHeader header;
    std::uint16_t MakeCode;
    std::uint16_t Flags;
    std::uint16_t Reserved;
    std::uint16_t VKey;
    std::uint32_t Message;
    std::uint32_t ExtraInformation;
};
static_assert(offsetof(RawKeyboard, MakeCode) == 0x18);
static_assert(offsetof(RawKeyboard, Flags) == 0x1A);
static_assert(offsetof(RawKeyboard, VKey) == 0x1E);
static_assert(sizeof(RawKeyboard) == 40);
struct RawMouse {
    RawInputHeader header;
    std::uint16_t usFlags;
    std::uint16_t padding;
    std::uint16_t usButtonFlags;
    std::uint16_t usButtonData;
    std::uint32_t ulRawButtons;
    std::int32_t lLastX;
    std::int32_t lLastY;
    std::uint32_t ulExtraInformation;
};
static_assert(offsetof(RawMouse, usButtonFlags) == 0x1C);
static_assert(offsetof(RawMouse, usButtonData) == 0x1E);
static_assert(sizeof(RawMouse) == 48);

using InputRoutine = std::uint64_t SIM_MSABI (*)(void* record);
using EnableRoutine = std::uint64_t SIM_MSABI (*)(std::uint64_t gameResult);
using OutlineRoutine = std::uint64_t SIM_MSABI (*)(std::uintptr_t reference);
using CommandHandler = bool SIM_MSABI (*)(void* params, void* scriptData, void* thisRef,
                                          void* containing, void* script, void* locals,
                                          double* result, std::uint32_t* offset);

std::string resolvePath(const std::string& root, const std::string& path) {
    return host::filePath(path).is_absolute() ? path : root + "/" + path;
}

}  // namespace

bool Game::codePagesAsLaid(std::string& why) { return detail::codePagesAsLaid(why); }

void Game::patchCode(std::uint32_t offset, const std::vector<std::uint8_t>& bytes) {
    const auto address = reinterpret_cast<std::uintptr_t>(at(offset));
    host::protect(address, bytes.size(), host::Access::readWriteExecute);
    std::memcpy(at(offset), bytes.data(), bytes.size());
    host::protect(address, bytes.size(), host::Access::readExecute);
}

std::vector<std::uint8_t> Game::bytes(std::uint32_t offset, std::size_t count) {
    return std::vector<std::uint8_t>(at(offset), at(offset) + count);
}

std::string Game::documentsDir() const { return host::documentsFolder(root_); }

std::optional<std::string> Game::readFile(const std::string& path) const {
    return host::readShared(resolvePath(root_, path));
}

void Game::writeFile(const std::string& path, const std::string& content) const {
    const std::filesystem::path p = host::filePath(resolvePath(root_, path));
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
}

bool Game::holdFileLock(const std::string& path) {
    const std::string resolved = resolvePath(root_, path);
    std::filesystem::create_directories(host::filePath(resolved).parent_path());
    return host::holdFileLock(resolved);
}

void Game::note(const std::string& key, const std::string& value) {
    emit(kind::note, {key, value});
}

void Game::noteFile(const std::string& key, const std::string& path) {
    if (auto content = readFile(path)) note(key, *content);
}

Ref Game::createRef(const RefLayout& layout) { return addReference(layout); }
std::optional<Ref> Game::refByHandle(std::uint32_t handle) const { return findReference(handle); }
void Game::forgetRef(std::uint32_t handle) { dropReference(handle); }
void Game::unloadRef(std::uint32_t handle) { unloadReference(handle); }
std::optional<RefLayout> Game::readRef(std::uint32_t handle) const { return readReference(handle); }

void Game::setHeading(float radians) { set<float>(obj::heading + 0xC8, radians); }

void Game::setConsole(bool exists) {
    set<std::uint64_t>(loc::consoleManagerPtr, exists ? abs(obj::console) : 0);
}

void Game::setOutlineCalleeResult(std::uint8_t result) { callees().outlineResult = result; }

float Game::timeMultiplier() const {
    auto p = value<std::uint64_t>(loc::timeManagerPtr);
    auto q = *reinterpret_cast<const std::uint64_t*>(p + 48);
    return *reinterpret_cast<const float*>(q + 48);
}

void Game::setTimeMultiplier(float v) {
    auto p = value<std::uint64_t>(loc::timeManagerPtr);
    auto q = *reinterpret_cast<const std::uint64_t*>(p + 48);
    *reinterpret_cast<float*>(q + 48) = v;
}

std::uintptr_t Game::consoleObject() const { return abs(obj::console); }
std::uintptr_t Game::scriptContext() const { return abs(obj::scriptContext); }
std::uintptr_t Game::headingReference() const { return abs(obj::heading); }

// Hands the record at `record` to the game's input routine around a diverted site and reports
// whether the site's callee ran and with which registers.
static InputResult runInputRoutine(std::uintptr_t routineAddress, Probe& probe,
                                   std::uint32_t record, const std::atomic<int>& calleeRuns) {
    probe = {};
    const int before = calleeRuns;
    auto routine = reinterpret_cast<InputRoutine>(routineAddress);
    InputResult r;
    r.record = abs(record);
    r.path = static_cast<int>(routine(Game::at(record)));
    r.calleeRan = calleeRuns != before;
    r.rcx = probe.rcx;
    r.rdx = probe.rdx;
    r.rax = probe.rax;
    return r;
}

InputResult Game::keyboardEvent(std::uint16_t vkey, std::uint16_t scanCode, std::uint16_t flags) {
    RawKeyboard rec{};
    rec.header = {1, sizeof(RawKeyboard), 0x0000000000010041, 0};
    rec.MakeCode = scanCode;
    rec.Flags = flags;
    rec.VKey = vkey;
    rec.Message = (flags & 1) ? 0x101 : 0x100;  // WM_KEYUP / WM_KEYDOWN
    std::memcpy(at(keyboardRecord), &rec, sizeof rec);

    return runInputRoutine(routines().keyboard, *routines().keyboardProbe, keyboardRecord,
                           callees().keyboardRuns);
}

InputResult Game::mouseEvent(std::uint16_t buttonFlags, std::int16_t buttonData) {
    RawMouse rec{};
    rec.header = {0, sizeof(RawMouse), 0x0000000000010043, 0};
    rec.usButtonFlags = buttonFlags;
    rec.usButtonData = static_cast<std::uint16_t>(buttonData);
    std::memcpy(at(mouseRecord), &rec, sizeof rec);

    callees().mouseSeenFlags = callees().mouseSeenData = 0;
    InputResult r =
        runInputRoutine(routines().mouse, *routines().mouseProbe, mouseRecord, callees().mouseRuns);
    r.seenButtonFlags = callees().mouseSeenFlags;
    r.seenButtonData = callees().mouseSeenData;
    std::memcpy(&rec, at(mouseRecord), sizeof rec);
    r.buttonFlags = rec.usButtonFlags;
    r.buttonData = rec.usButtonData;
    return r;
}

FreeplotEnableResult Game::runFreeplotEnableSite(std::uint8_t gameResult) {
    auto routine = reinterpret_cast<EnableRoutine>(routines().freeplotEnable);
    std::uint64_t v = routine(gameResult);
    return {static_cast<std::uint8_t>(v & 0xFF), static_cast<std::uint8_t>((v >> 8) & 0xFF)};
}

OutlineResult Game::runOutlineSite(std::uintptr_t reference) {
    auto routine = reinterpret_cast<OutlineRoutine>(routines().outline);
    int before = callees().outlineRuns;
    std::uint64_t v = routine(reference);
    OutlineResult r;
    r.al = static_cast<std::uint8_t>(v & 0xFF);
    r.selectable = (v & 0x100) != 0;
    r.calleeRan = callees().outlineRuns != before;
    return r;
}

std::uintptr_t Game::findCommand(const std::string& name) const {
    for (std::uint32_t rec = loc::commandTable;; rec += 80) {
        auto longName = reinterpret_cast<const char*>(value<std::uint64_t>(rec));
        if (!longName) return 0;
        auto shortName = reinterpret_cast<const char*>(value<std::uint64_t>(rec + 8));
        if (name == longName || (shortName && *shortName && name == shortName)) return abs(rec);
    }
}

ConsoleResult Game::runConsoleCommand(const std::string& name) {
    ConsoleResult r;
    std::uintptr_t rec = findCommand(name);
    if (!rec) return r;
    r.found = true;
    auto handler = *reinterpret_cast<CommandHandler*>(rec + 48);
    auto params = *reinterpret_cast<void**>(rec + 40);
    double result = 0.0;
    std::uint32_t offset = 4;
    std::memset(at(commandScratch), 0, 0x40);
    r.returned =
        handler(params, at(commandScratch), nullptr, nullptr, nullptr, nullptr, &result, &offset);
    r.result = result;
    return r;
}

namespace {
// The game's console thread: runs the commands handed to it in order.
struct ConsoleThread {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::string> commands;
    std::size_t pending = 0;  // handed over and not yet finished
    bool started = false;
};
ConsoleThread& consoleThread() {
    static auto* console = new ConsoleThread;  // the thread may outlive static destruction
    return *console;
}
}  // namespace

void Game::runConsoleCommandOnConsoleThread(const std::string& name) {
    ConsoleThread& c = consoleThread();
    std::lock_guard lock(c.mutex);
    c.commands.push_back(name);
    ++c.pending;
    if (!c.started) {
        c.started = true;
        std::thread([this, &c] {
            for (;;) {
                std::string command;
                {
                    std::unique_lock wait(c.mutex);
                    c.wake.wait(wait, [&] { return !c.commands.empty(); });
                    command = c.commands.front();
                    c.commands.pop_front();
                }
                runConsoleCommand(command);
                std::lock_guard done(c.mutex);
                --c.pending;
            }
        }).detach();
    }
    c.wake.notify_one();
}

bool Game::consoleIdle() const {
    ConsoleThread& c = consoleThread();
    std::lock_guard lock(c.mutex);
    return c.pending == 0;
}

bool Game::waitForConsole(std::chrono::milliseconds timeout) {
    ConsoleThread& c = consoleThread();
    return waitUntil(
        [&] {
            std::lock_guard lock(c.mutex);
            return c.pending == 0;
        },
        timeout);
}

std::vector<std::string> Game::calls(std::size_t from) const { return recordedCalls(from); }
std::vector<std::string> Game::messages(std::size_t from) const { return recordedMessages(from); }
std::size_t Game::callCount() const { return recordedCallCount(); }
std::size_t Game::messageCount() const { return recordedMessageCount(); }
std::vector<Timed> Game::timedCalls() const { return recordedTimedCalls(); }
std::vector<Timed> Game::timedMessages() const { return recordedTimedMessages(); }
std::int64_t Game::now() { return sessionMicros(); }
std::vector<std::string> Game::consoleLines() const { return recordedConsole(); }

std::vector<std::string> Game::logLines() const {
    std::fflush(stdout);
    std::vector<std::string> lines;
    std::ifstream in(host::filePath(root_ + "/.sim/stdout"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::size_t Game::refQueueTakes() const { return callees().refQueueTakes; }
void Game::setMainLoopTakes(bool takes) { callees().mainLoopTakes = takes; }
std::size_t Game::keyboardCalleeRuns() const {
    return static_cast<std::size_t>(callees().keyboardRuns.load());
}
std::size_t Game::mouseCalleeRuns() const {
    return static_cast<std::size_t>(callees().mouseRuns.load());
}

bool Game::waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void Game::sleep(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

}  // namespace sim
