// Stand-ins for the game functions the plugin calls. Each game function's offset holds an
// absolute jump (FF 25 00000000, then the 8-byte address) into a C++ function with the
// Microsoft x64 convention that records the call and does the least the plugin relies on.
// Also the simulated references and the game's main loop.

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

#include "sim/host.h"
#include "sim/internal.h"

namespace sim::detail {
namespace {

using loc::abs;

std::string hex64(std::uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%016" PRIX64, v);
    return buf;
}

std::string hex32(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", v);
    return buf;
}

std::string hexShort(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", v);
    return buf;
}

// Shortest text that reads back as the same double.
std::string number(double v) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string quoted(const char* text) {
    if (!text) return "null";
    return "\"" + std::string(text) + "\"";
}

// --- References --------------------------------------------------------------------------------

struct RefEntry {
    Ref ref;
    bool alive = true;             // its handle resolves
    std::int64_t unloadedAt = -1;  // when the game let go of it (session microseconds)
    bool freed = false;            // its page is unreadable
};
std::mutex refMutex;
std::vector<RefEntry> refs;

constexpr std::uint32_t firstHandle = 0x00F00001;

// The game frees what it let go of at the end of a frame: a little later than the moment its handle
// stops resolving. A lookup and the call right after it are one action (the thread's first call on
// a reference after its lookup returned it, however long the system kept the thread waiting in
// between); a reference kept past that is stale: a game function handed one unloaded more than
// kStaleMicros ago, or the main loop finding one in the hand-over slot once it is freed, is a
// crash in the game.
constexpr std::int64_t kStaleMicros = 2000;
constexpr std::int64_t kFreeDelayMicros = 50000;

CalleeState calleeState;

// --- Stand-ins ---------------------------------------------------------------------------------

void SIM_MSABI hudMessage(const char* text, std::uint64_t a2, std::uint64_t a3) {
    recordCall("hudMessageFunction(" + quoted(text) + ", " +
               std::to_string(static_cast<std::uint32_t>(a2)) + ", " +
               std::to_string(static_cast<std::uint32_t>(a3)) + ")");
    recordMessage(text ? text : "");
}

// The reference this thread's last lookup returned, when, and whether a call on a reference came
// since (the first one is the lookup's own action).
thread_local std::int64_t lastLookupMicros = -1;
thread_local std::uintptr_t lastLookedUp = 0;
thread_local bool calledSinceLookup = true;

std::uint64_t SIM_MSABI lookupRef(const std::uint32_t* handle, void** out) {
    if (!handle) {
        recordCall("lookupRefByHandle(null, " +
                   describePointer(reinterpret_cast<std::uintptr_t>(out)) + ")");
        return 0;
    }
    // The game selects objects on its own threads while workers look them up.
    std::uint32_t h = std::atomic_ref<std::uint32_t>(*const_cast<std::uint32_t*>(handle))
                          .load(std::memory_order_relaxed);
    // The plugin asks either through the game's own variable or with a handle it kept.
    const auto where = reinterpret_cast<std::uintptr_t>(handle);
    const std::string asked = where == abs(loc::selectedRefHandle)
                                  ? "&selectedRefHandle=" + hex32(h)
                                  : "kept handle " + hex32(h);
    // The handle is resolved and the call recorded under the references' lock, so the game lets
    // go of nothing between its answer and the return: the time the sim takes to record is its
    // own, not counted against the caller's use of the reference.
    const std::lock_guard lock(refMutex);
    const auto found = std::find_if(refs.begin(), refs.end(), [&](const RefEntry& e) {
        return e.alive && e.ref.handle == h;
    });
    const bool resolved = found != refs.end();
    if (resolved && out) *out = reinterpret_cast<void*>(found->ref.address);
    recordCall("lookupRefByHandle(" + asked + ") -> " +
               (resolved ? "ref#" + std::to_string(found->ref.index) : std::string("none")));
    lastLookedUp = resolved ? found->ref.address : 0;
    lastLookupMicros = sessionMicros();
    calledSinceLookup = false;
    return resolved ? 1 : 0;
}

// The game changes a reference's fields on whichever thread runs its command, while the plugin
// may read them on another: Game::set stores them whole.
template <typename T>
void storeField(std::uintptr_t address, T value) {
    Game::set<T>(static_cast<std::uint32_t>(address - loc::imageBase), value);
}

// A reference the game still has: a command on one it let go of changes nothing (its page may be
// gone by now, when the system kept the caller waiting since its lookup).
bool knownRef(std::uintptr_t p) {
    std::lock_guard lock(refMutex);
    for (const auto& e : refs)
        if (e.ref.address == p) return e.unloadedAt < 0;
    return false;
}

// The stand-ins that act on a reference first make sure the game still has it, before they do
// anything of their own (recording takes time that is not the caller's).
void checkLoaded(void* ref, const std::function<std::string()>& call) {
    const auto p = reinterpret_cast<std::uintptr_t>(ref);
    const std::int64_t now = sessionMicros();
    const bool rightAfterLookup = p == lastLookedUp && !calledSinceLookup;
    calledSinceLookup = true;
    if (rightAfterLookup || !isStaleReference(p)) return;
    std::int64_t unloadedAt = -1;
    {
        std::lock_guard lock(refMutex);
        for (const auto& e : refs)
            if (e.ref.address == p) unloadedAt = e.unloadedAt;
    }
    // How long the caller held the reference: since the game let go of it, and since this
    // thread's last lookup of it returned.
    std::string held = "; let go of " + std::to_string((now - unloadedAt) / 1000) + " ms before";
    if (lastLookedUp == p)
        held += ", looked up by this thread " + std::to_string((now - lastLookupMicros) / 1000) +
                " ms before";
    calledOnUnloaded(call() + held);
}

std::uint64_t SIM_MSABI runAxisCommand(void* ctx, std::uint64_t codeArg, void* refArg,
                                       std::uint64_t a4, double a5) {
    auto code = static_cast<std::uint32_t>(codeArg);
    auto ref = reinterpret_cast<std::uintptr_t>(refArg);
    auto line = [&] {
        return "runAxisCommand(" + describePointer(reinterpret_cast<std::uintptr_t>(ctx)) + ", " +
               hexShort(code) + ", " + describePointer(ref) + ", ";
    };
    checkLoaded(refArg, [&] { return line() + "...)"; });
    const std::string head = line();
    if (const std::int64_t micros = calleeState.axisCommandMicros; micros > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(micros));
    bool valid = knownRef(ref);
    if (code == 0x1007 || code == 0x1009) {
        char axis = static_cast<char>(a4 & 0xFF);
        recordCall(head + "'" + std::string(1, axis) + "', " + number(a5) + ")");
        if (!valid || axis < 'X' || axis > 'Z') return 0;
        auto field = static_cast<std::uintptr_t>((code == 0x1007 ? 0xD0 : 0xC0) + 4 * (axis - 'X'));
        float v =
            code == 0x1007 ? static_cast<float>(a5) : static_cast<float>(a5 * 0.017453292519943295);
        storeField(ref + field, v);
        return 1;
    }
    if (code == 0x113C) {
        double factor;
        std::memcpy(&factor, &a4, sizeof factor);
        recordCall(head + "scale " + number(factor) + ")");
        if (!valid) return 0;
        double percent = std::round(factor * 100.0);
        percent = percent < 0 ? 0 : percent > 65535 ? 65535 : percent;
        storeField(ref + 0x108, static_cast<std::uint16_t>(percent));
        return 1;
    }
    recordCall(head + hex64(a4) + ", " + number(a5) + ")");
    return 0;
}

std::uint64_t SIM_MSABI physicsToggle(const std::uint8_t* request, std::uint64_t* out) {
    std::uint64_t a, b, e;
    std::uint32_t handle, mode, f;
    std::memcpy(&a, request + 0, 8);
    std::memcpy(&b, request + 8, 8);
    std::memcpy(&handle, request + 16, 4);
    std::memcpy(&mode, request + 20, 4);
    std::memcpy(&e, request + 24, 8);
    std::memcpy(&f, request + 32, 4);
    recordCall("physicsToggleFunction({" + std::to_string(a) + ", " + std::to_string(b) + ", " +
               hex32(handle) + ", " + std::to_string(mode) + ", " + std::to_string(e) + ", " +
               std::to_string(f) + "}, out=" + (out ? std::to_string(*out) : std::string("null")) +
               ")");
    return 1;
}

std::string refCommandLine(const char* name, std::uint64_t a1, std::uint64_t a2, void* ref,
                           std::uint64_t a4, std::uint64_t a5, std::uint64_t a6, double* result,
                           std::uint64_t a8) {
    return std::string(name) + "(" + std::to_string(a1) + ", " + std::to_string(a2) + ", " +
           describePointer(reinterpret_cast<std::uintptr_t>(ref)) + ", " + std::to_string(a4) +
           ", " + std::to_string(a5) + ", " + std::to_string(a6) + ", " +
           (result ? "&" + number(*result) : std::string("null")) + ", " + std::to_string(a8) + ")";
}

std::uint64_t SIM_MSABI refCommand(std::uint64_t a1, std::uint64_t a2, void* ref, std::uint64_t a4,
                                   std::uint64_t a5, std::uint64_t a6, double* result,
                                   std::uint64_t a8) {
    auto line = [&] {
        return refCommandLine("refCommandExecute", a1, a2, ref, a4, a5, a6, result, a8);
    };
    checkLoaded(ref, line);
    recordCall(line());
    return 1;
}

std::uint64_t SIM_MSABI refCommand2(std::uint64_t a1, std::uint64_t a2, void* ref, std::uint64_t a4,
                                    std::uint64_t a5, std::uint64_t a6, double* result,
                                    std::uint64_t a8) {
    auto line = [&] {
        return refCommandLine("refCommandExecute2", a1, a2, ref, a4, a5, a6, result, a8);
    };
    checkLoaded(ref, line);
    recordCall(line());
    // The plugin runs this command to delete the reference: the game lets go of it.
    std::uint32_t handle = 0;
    {
        std::lock_guard lock(refMutex);
        for (const auto& e : refs)
            if (e.ref.address == reinterpret_cast<std::uintptr_t>(ref)) handle = e.ref.handle;
    }
    if (handle) unloadReference(handle);
    return 1;
}

void SIM_MSABI consolePrint(void* console, const char* format, const char* args) {
    std::string line = format ? formatMsVaList(format, args) : std::string();
    recordCall("consolePrintFunction(" +
               describePointer(reinterpret_cast<std::uintptr_t>(console)) + ", " + quoted(format) +
               ")");
    recordConsole(line);
}

// Handler of the table's own commands; the parameter block holds the record's index.
std::uint64_t SIM_MSABI commandHandler(const std::uint32_t* params, void*, void*, void*, void*,
                                       void*, double*, void*) {
    std::uint32_t index = params ? *params : 0xFFFFFFFF;
    auto rec = abs(loc::commandTable) + 80 * static_cast<std::uintptr_t>(index);
    const char* name = params ? *reinterpret_cast<const char* const*>(rec) : "?";
    recordCall(std::string("game command handler of ") + (name ? name : "?"));
    return 1;
}

void writeAbsoluteJump(std::uint32_t offset, const void* target) {
    std::uint8_t code[14] = {0xFF, 0x25, 0, 0, 0, 0};
    auto t = reinterpret_cast<std::uint64_t>(target);
    std::memcpy(code + 6, &t, 8);
    std::memcpy(Game::at(offset), code, sizeof code);
}

}  // namespace

// --- Callee bodies -------------------------------------------------------------------------------

std::uint64_t SIM_MSABI keyboardCalleeBody(std::uint64_t rcx, std::uint64_t rdx) {
    const Probe& p = *routines().keyboardProbe;
    calleeState.keyboardRuns++;
    if (!calleeState.recordInputCallees) return 0;
    recordCall("keyboardInputCallee(rcx=" + hex64(rcx) + ", rdx=" + describePointer(rdx) +
               ", rax=" + hex64(p.rax) + ")");
    return 0;
}

std::uint64_t SIM_MSABI mouseCalleeBody(std::uint64_t rcx, std::uint64_t rdx) {
    const Probe& p = *routines().mouseProbe;
    std::string fields;
    if (rdx == abs(loc::inputRecords + 0x100)) {
        std::memcpy(&calleeState.mouseSeenFlags, reinterpret_cast<void*>(rdx + 0x1C), 2);
        std::memcpy(&calleeState.mouseSeenData, reinterpret_cast<void*>(rdx + 0x1E), 2);
        char buf[64];
        std::snprintf(buf, sizeof buf, " buttons=0x%04X data=%d", calleeState.mouseSeenFlags,
                      static_cast<std::int16_t>(calleeState.mouseSeenData));
        fields = buf;
    }
    calleeState.mouseRuns++;
    if (!calleeState.recordInputCallees) return 0;
    recordCall("mouseInputCallee(rcx=" + hex64(rcx) + ", rdx=" + describePointer(rdx) +
               ", rax=" + hex64(p.rax) + ")" + fields);
    return 0;
}

std::uint64_t SIM_MSABI outlineCalleeBody(std::uint64_t rcx) {
    const Probe& p = *routines().outlineProbe;
    std::uint8_t result = calleeState.outlineResult.load();
    recordCall("outlineCallee(rcx=" + describePointer(rcx) + ", rdi=" + describePointer(p.rdi) +
               ") -> " + std::to_string(result));
    calleeState.outlineRuns++;
    // A byte result; the upper bytes of rax hold whatever the routine left there.
    return 0x12345600u | result;
}

CalleeState& callees() { return calleeState; }

std::uintptr_t commandHandlerAddress() { return reinterpret_cast<std::uintptr_t>(&commandHandler); }

void installStandIns() {
    writeAbsoluteJump(loc::hudMessageFunction, reinterpret_cast<const void*>(&hudMessage));
    writeAbsoluteJump(loc::lookupRefByHandle, reinterpret_cast<const void*>(&lookupRef));
    writeAbsoluteJump(loc::runAxisCommand, reinterpret_cast<const void*>(&runAxisCommand));
    writeAbsoluteJump(loc::physicsToggleFunction, reinterpret_cast<const void*>(&physicsToggle));
    writeAbsoluteJump(loc::refCommandExecute, reinterpret_cast<const void*>(&refCommand));
    writeAbsoluteJump(loc::refCommandExecute2, reinterpret_cast<const void*>(&refCommand2));
    writeAbsoluteJump(loc::consolePrintFunction, reinterpret_cast<const void*>(&consolePrint));
}

// --- References --------------------------------------------------------------------------------

std::string describePointer(std::uintptr_t p) {
    if (p == 0) return "null";
    {
        std::lock_guard lock(refMutex);
        for (const auto& e : refs)
            if (e.ref.address == p)
                return "ref#" + std::to_string(e.ref.index) +
                       (e.unloadedAt >= 0 ? " (unloaded)" : "");
    }
    if (p == abs(obj::scriptContext)) return "context";
    if (p == abs(obj::console)) return "console";
    if (p == abs(obj::heading)) return "headingReference";
    if (p == abs(loc::selectedRefHandle)) return "&selectedRefHandle";
    if (p == abs(loc::inputRecords)) return "keyboardRecord";
    if (p == abs(loc::inputRecords + 0x100)) return "mouseRecord";
    return hex64(p);
}

Ref addReference(const RefLayout& layout) {
    std::lock_guard lock(refMutex);
    if (refs.size() >= loc::maxReferences) throw std::runtime_error("too many references");
    auto index = static_cast<int>(refs.size()) + 1;
    auto slot = loc::references + static_cast<std::uint32_t>(refs.size() * loc::referenceStride);
    std::memset(Game::at(slot), 0, loc::referenceStride);
    auto put = [](std::uint32_t at, const auto& v) { std::memcpy(Game::at(at), &v, sizeof v); };
    put(slot + 0x10, layout.flags);
    put(slot + 0x1A, layout.formType);
    for (std::uint32_t i = 0; i < 3; ++i) {
        put(slot + 0xC0 + 4 * i, layout.rotation[i]);
        put(slot + 0xD0 + 4 * i, layout.position[i]);
    }
    put(slot + 0x108, layout.scale);
    // Base form at +0x200; its pointer at 0x1B8 leads to a node whose pointer at 0x28 starts a
    // chain: nodes flagged 0x4000 at +8 link on through +0x10; the last holds text at +0x18.
    std::uint32_t baseForm = slot + 0x200;
    put(slot + 0xE0, layout.baseForm ? abs(baseForm) : std::uintptr_t{0});
    if (layout.baseText) {
        std::uint32_t q = slot + 0x400;
        put(baseForm + 0x1B8, abs(q));
        std::uint32_t node = slot + 0x500;
        put(q + 0x28, abs(node));
        int links = layout.baseLinks < 0 ? 0 : layout.baseLinks > 6 ? 6 : layout.baseLinks;
        for (int i = 0; i < links; ++i) {
            put(node + 8, std::uint32_t{0x4000});
            put(node + 0x10, abs(node + 0x100));
            node += 0x100;
        }
        put(node + 8, std::uint32_t{0x0001});
        std::size_t n = std::min<std::size_t>(layout.baseText->size(), 0xE0);
        std::memcpy(Game::at(node + 0x18), layout.baseText->data(), n);
    }
    Ref ref{firstHandle + static_cast<std::uint32_t>(refs.size()), abs(slot), index};
    refs.push_back({ref, true});
    return ref;
}

std::optional<Ref> findReference(std::uint32_t handle) {
    std::lock_guard lock(refMutex);
    for (const auto& e : refs)
        if (e.alive && e.ref.handle == handle) return e.ref;
    return std::nullopt;
}

void dropReference(std::uint32_t handle) {
    std::lock_guard lock(refMutex);
    for (auto& e : refs)
        if (e.ref.handle == handle) e.alive = false;
}

std::optional<RefLayout> readReference(std::uint32_t handle) {
    std::lock_guard lock(refMutex);
    for (const auto& e : refs) {
        if (e.ref.handle != handle || !e.alive) continue;
        RefLayout layout;
        for (int axis = 0; axis < 3; ++axis) {
            layout.position[axis] = e.ref.pos(axis);
            layout.rotation[axis] = e.ref.rot(axis);
        }
        layout.scale = e.ref.scale();
        layout.formType = e.ref.formType();
        layout.flags = e.ref.flags();
        return layout;
    }
    return std::nullopt;
}

void unloadReference(std::uint32_t handle) {
    std::lock_guard lock(refMutex);
    for (auto& e : refs) {
        if (e.ref.handle != handle || e.unloadedAt >= 0) continue;
        e.alive = false;
        e.unloadedAt = sessionMicros();
    }
}

void freeUnloadedReferences() {
    const std::int64_t now = sessionMicros();
    std::lock_guard lock(refMutex);
    for (auto& e : refs) {
        if (e.freed || e.unloadedAt < 0 || now - e.unloadedAt < kFreeDelayMicros) continue;
        e.freed = true;
        // Each reference lies on a page of its own (see loc::referenceStride).
        host::protect(e.ref.address, loc::referenceStride, host::Access::none);
    }
}

bool isUnloadedReference(std::uintptr_t p) {
    std::lock_guard lock(refMutex);
    for (const auto& e : refs)
        if (e.ref.address == p) return e.freed;
    return false;
}

bool isStaleReference(std::uintptr_t p) {
    const std::int64_t now = sessionMicros();
    std::lock_guard lock(refMutex);
    for (const auto& e : refs)
        if (e.ref.address == p) return e.unloadedAt >= 0 && now - e.unloadedAt >= kStaleMicros;
    return false;
}

void calledOnUnloaded(const std::string& call) {
    emit(kind::error,
         {"a game function was called on a reference the game has let go of: " + call});
    std::fflush(nullptr);
    host::crash();
}

// --- Console formatting --------------------------------------------------------------------------

std::string formatMsVaList(const char* format, const char* args) {
    std::string out;
    auto next = [&args]() {
        std::uint64_t v;
        std::memcpy(&v, args, 8);
        args += 8;
        return v;
    };
    for (const char* p = format; *p; ++p) {
        if (*p != '%') {
            out += *p;
            continue;
        }
        if (p[1] == '%') {
            out += '%';
            ++p;
            continue;
        }
        // %[flags][width][.precision][length]conversion
        std::string layout = "%";
        const char* q = p + 1;
        while (*q && std::strchr("-+ #0", *q)) layout += *q++;
        auto digitsOrStar = [&]() {
            if (*q == '*') {
                layout += std::to_string(static_cast<std::int32_t>(next()));
                ++q;
            } else {
                while (*q >= '0' && *q <= '9') layout += *q++;
            }
        };
        digitsOrStar();
        if (*q == '.') {
            layout += *q++;
            digitsOrStar();
        }
        bool wide = false;  // a 64-bit integer argument
        if (q[0] == 'I' && q[1] == '6' && q[2] == '4') {
            wide = true;
            q += 3;
        } else if (q[0] == 'l' && q[1] == 'l') {
            wide = true;
            q += 2;
        } else if (*q == 'z' || *q == 'I') {
            wide = true;
            ++q;
        } else {
            while (*q == 'h' || *q == 'l') ++q;  // long is 32 bits in this convention
        }
        char conv = *q;
        if (!conv) break;
        char buf[512];
        switch (conv) {
            case 'd':
            case 'i': {
                std::uint64_t v = next();
                long long s = wide ? static_cast<long long>(v) : static_cast<std::int32_t>(v);
                std::snprintf(buf, sizeof buf, (layout + "lld").c_str(), s);
                break;
            }
            case 'u':
            case 'x':
            case 'X':
            case 'o': {
                std::uint64_t v = next();
                unsigned long long u = wide ? v : static_cast<std::uint32_t>(v);
                std::snprintf(buf, sizeof buf, (layout + "ll" + conv).c_str(), u);
                break;
            }
            case 'c':
                std::snprintf(buf, sizeof buf, (layout + "c").c_str(),
                              static_cast<int>(static_cast<char>(next())));
                break;
            case 'f':
            case 'F':
            case 'e':
            case 'E':
            case 'g':
            case 'G': {
                std::uint64_t bits = next();
                double d;
                std::memcpy(&d, &bits, sizeof d);
                std::snprintf(buf, sizeof buf, (layout + conv).c_str(), d);
                break;
            }
            case 's': {
                const char* s = reinterpret_cast<const char*>(next());
                std::snprintf(buf, sizeof buf, (layout + "s").c_str(), s ? s : "(null)");
                break;
            }
            case 'p':
                std::snprintf(buf, sizeof buf, "%016" PRIX64, next());
                break;
            default:  // not a conversion this formatter knows: keep the text
                std::snprintf(buf, sizeof buf, "%s%c", layout.c_str(), conv);
        }
        out += buf;
        p = q;
    }
    return out;
}

// --- Main loop
// --------------------------------------------------------------------------------------

void startMainLoop() {
    std::thread([] {
        void* lock = reinterpret_cast<void*>(abs(loc::refQueueLock));
        // The slots are read and written whole: the plugin polls them without the lock.
        std::atomic_ref<std::uintptr_t> slot(
            *reinterpret_cast<std::uintptr_t*>(abs(loc::refQueueSlot)));
        std::atomic_ref<std::uintptr_t> slot2(
            *reinterpret_cast<std::uintptr_t*>(abs(loc::refQueueSlot2)));
        std::uintptr_t seen2 = 0;
        for (;;) {
            host::lockGame(lock);
            std::uintptr_t taken = calleeState.mainLoopTakes ? slot.load() : 0;
            if (taken && isUnloadedReference(taken))
                calledOnUnloaded("the main loop took " + describePointer(taken) +
                                 " from refQueueSlot");
            if (taken) {
                // Recorded before the slot is seen empty, so whoever waits for the slot to
                // clear also finds the take in the record.
                recordCall("main loop took " + describePointer(taken) + " from refQueueSlot");
                calleeState.refQueueTakes++;
                slot.store(0);
            }
            std::uintptr_t now2 = slot2.load();
            host::unlockGame(lock);
            freeUnloadedReferences();
            if (now2 != seen2 && now2 && isUnloadedReference(now2))
                calledOnUnloaded("the main loop found " + describePointer(now2) +
                                 " in refQueueSlot2");
            if (now2 != seen2) {
                recordCall("main loop sees " + describePointer(now2) + " in refQueueSlot2");
                seen2 = now2;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }).detach();
}

}  // namespace sim::detail
