// The thread calls of the C++ runtime, for the programs Windows players run (freeplot.dll and
// freeplot-check.exe). mingw-w64's C++ runtime is built on the POSIX thread interface, and the
// library that usually answers it (winpthreads) carries, in the same objects as what is needed,
// calls a plugin never makes (setting the system time, suspending and rewriting other threads,
// opening other processes), which antivirus heuristics weigh against a DLL loaded into a game.
// This file answers the few POSIX calls the runtime and the plugin make, each on the plain
// Windows primitive that does the same (critical sections, condition variables, slim reader/writer
// locks, fiber-local storage, _beginthreadex), with winpthreads' types, so the linker takes these
// and never pulls winpthreads in. The DLL's import check names every Windows call left.

#include <errno.h>
#include <pthread.h>
#include <process.h>
#include <time.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>

namespace {

// The slot of a mutex, condition variable or lock holds one of winpthreads' static markers (-1 to
// -3, as the runtime initialises it, or -1 after a destroy) until its object is made on first
// use, then a pointer to that object.
bool made(std::intptr_t value) { return value > 0; }

template <typename T, typename Init, typename Release>
T* objectIn(std::intptr_t* slot, Init init, Release release) {
    const std::intptr_t seen = *slot;
    if (made(seen)) return reinterpret_cast<T*>(seen);
    auto* fresh = static_cast<T*>(std::calloc(1, sizeof(T)));
    if (!fresh) return nullptr;
    init(fresh);
    // Another thread may have made one first: its object is kept and this one given back.
    const LONG64 before = InterlockedCompareExchange64(reinterpret_cast<volatile LONG64*>(slot),
                                                       reinterpret_cast<LONG64>(fresh), seen);
    if (before == seen) return fresh;
    release(fresh);
    std::free(fresh);
    return reinterpret_cast<T*>(before);
}

void noRelease(void*) {}

CRITICAL_SECTION* sectionOf(pthread_mutex_t* m) {
    // A critical section may be entered again by its owner: it serves the recursive mutexes too.
    return objectIn<CRITICAL_SECTION>(
        m, [](CRITICAL_SECTION* s) { InitializeCriticalSection(s); },
        [](CRITICAL_SECTION* s) { DeleteCriticalSection(s); });
}

CONDITION_VARIABLE* conditionOf(pthread_cond_t* c) {
    return objectIn<CONDITION_VARIABLE>(
        c, [](CONDITION_VARIABLE* v) { InitializeConditionVariable(v); }, noRelease);
}

struct ReadWriteLock {
    SRWLOCK lock;
    volatile LONG writer;  // the thread holding it exclusively; 0 while none does
};

ReadWriteLock* lockOf(pthread_rwlock_t* l) {
    return objectIn<ReadWriteLock>(
        l, [](ReadWriteLock* r) { InitializeSRWLock(&r->lock); }, noRelease);
}

// Calls `use` on an object made for its slot; ENOMEM when none could be made.
template <typename T, typename Use>
int withObject(T* object, Use use) {
    if (!object) return ENOMEM;
    use(object);
    return 0;
}

// Takes a made object out of its slot and gives it back; the slot reads as a fresh default one.
template <typename T, typename Release>
void destroyIn(std::intptr_t* slot, Release release) {
    const std::intptr_t value = *slot;
    *slot = -1;
    if (!made(value)) return;
    release(reinterpret_cast<T*>(value));
    std::free(reinterpret_cast<T*>(value));
}

// The threads this file started and not yet joined or detached: a thread's id is its pthread_t
// (what pthread_self answers on it), and its handle is kept here until then.
struct StartedThread {
    DWORD id;
    HANDLE handle;
    StartedThread* next;
};
SRWLOCK startedLock = SRWLOCK_INIT;
StartedThread* started = nullptr;

HANDLE takeStarted(pthread_t t) {
    AcquireSRWLockExclusive(&startedLock);
    HANDLE handle = nullptr;
    for (StartedThread** link = &started; *link; link = &(*link)->next) {
        if ((*link)->id != t) continue;
        StartedThread* found = *link;
        *link = found->next;
        handle = found->handle;
        std::free(found);
        break;
    }
    ReleaseSRWLockExclusive(&startedLock);
    return handle;
}

struct StartBlock {
    void* (*function)(void*);
    void* argument;
};

unsigned __stdcall runStarted(void* block) {
    const StartBlock start = *static_cast<StartBlock*>(block);
    std::free(block);
    start.function(start.argument);
    return 0;
}

// The storage keys handed out, freed when the module is unloaded: a key's clean-up function
// lives in this module, and Windows calls it at each thread's exit.
constexpr int kMostKeys = 64;
DWORD keys[kMostKeys];
volatile LONG keyCount = 0;
struct KeysFreedAtUnload {
    ~KeysFreedAtUnload() {
        for (LONG i = 0; i < keyCount; ++i)
            if (keys[i] != FLS_OUT_OF_INDEXES) FlsFree(keys[i]);
    }
} keysFreedAtUnload;

constexpr std::int64_t kNanosecondsPerSecond = 1000000000;
// Longer than one wait or sleep of Windows (about 49 days), and far from overflowing as
// nanoseconds.
constexpr std::int64_t kLongestSpan = std::int64_t{50} * 24 * 3600;

// The nanoseconds from `now` to `until`, at most kLongestSpan seconds.
std::int64_t nanosecondsBetween(const timespec& now, const timespec& until) {
    const std::int64_t seconds = until.tv_sec - now.tv_sec;
    if (seconds > kLongestSpan) return kLongestSpan * kNanosecondsPerSecond;
    return seconds * kNanosecondsPerSecond + (until.tv_nsec - now.tv_nsec);
}

// Milliseconds to wait for `nanoseconds`, rounded up so that a wait never ends early.
DWORD millisecondsFor(std::int64_t nanoseconds) {
    if (nanoseconds <= 0) return 0;
    const std::int64_t ms = (nanoseconds + 999999) / 1000000;
    return ms >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(ms);
}

}  // namespace

// This file is the thread library: it reads and writes the inside of the POSIX types other code
// may only point to, and a made object lives on in its slot (the analyser does not follow the
// interlocked store that puts it there).
// NOLINTBEGIN(cert-fio38-c, clang-analyzer-unix.Malloc)
extern "C" {

int pthread_mutex_init(pthread_mutex_t* m, const pthread_mutexattr_t* /*attributes*/) {
    *m = -1;
    return sectionOf(m) ? 0 : ENOMEM;
}

int pthread_mutex_destroy(pthread_mutex_t* m) {
    destroyIn<CRITICAL_SECTION>(m, [](CRITICAL_SECTION* s) { DeleteCriticalSection(s); });
    return 0;
}

int pthread_mutex_lock(pthread_mutex_t* m) { return withObject(sectionOf(m), EnterCriticalSection); }

int pthread_mutex_trylock(pthread_mutex_t* m) {
    CRITICAL_SECTION* section = sectionOf(m);
    if (!section) return ENOMEM;
    return TryEnterCriticalSection(section) ? 0 : EBUSY;
}

int pthread_mutex_unlock(pthread_mutex_t* m) {
    LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(*m));
    return 0;
}

int pthread_cond_init(pthread_cond_t* c, const pthread_condattr_t* /*attributes*/) {
    *c = -1;
    return conditionOf(c) ? 0 : ENOMEM;
}

int pthread_cond_destroy(pthread_cond_t* c) {
    destroyIn<CONDITION_VARIABLE>(c, noRelease);
    return 0;
}

int pthread_cond_signal(pthread_cond_t* c) {
    return withObject(conditionOf(c), WakeConditionVariable);
}

int pthread_cond_broadcast(pthread_cond_t* c) {
    return withObject(conditionOf(c), WakeAllConditionVariable);
}

int pthread_cond_wait(pthread_cond_t* c, pthread_mutex_t* m) {
    return withObject(conditionOf(c), [m](CONDITION_VARIABLE* condition) {
        SleepConditionVariableCS(condition, reinterpret_cast<CRITICAL_SECTION*>(*m), INFINITE);
    });
}

// `until` is a time of the system clock (CLOCK_REALTIME), as POSIX has it.
int pthread_cond_timedwait(pthread_cond_t* c, pthread_mutex_t* m, const struct timespec* until) {
    CONDITION_VARIABLE* condition = conditionOf(c);
    if (!condition) return ENOMEM;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const std::int64_t left = nanosecondsBetween(now, *until);
    if (left <= 0) return ETIMEDOUT;
    if (SleepConditionVariableCS(condition, reinterpret_cast<CRITICAL_SECTION*>(*m),
                                 millisecondsFor(left)))
        return 0;
    return GetLastError() == ERROR_TIMEOUT ? ETIMEDOUT : EINVAL;
}

int pthread_rwlock_rdlock(pthread_rwlock_t* l) {
    return withObject(lockOf(l), [](ReadWriteLock* lock) { AcquireSRWLockShared(&lock->lock); });
}

int pthread_rwlock_wrlock(pthread_rwlock_t* l) {
    return withObject(lockOf(l), [](ReadWriteLock* lock) {
        AcquireSRWLockExclusive(&lock->lock);
        InterlockedExchange(&lock->writer, static_cast<LONG>(GetCurrentThreadId()));
    });
}

// The caller holds the lock one way or the other; only the exclusive holder finds its own id.
int pthread_rwlock_unlock(pthread_rwlock_t* l) {
    auto* lock = reinterpret_cast<ReadWriteLock*>(*l);
    const LONG self = static_cast<LONG>(GetCurrentThreadId());
    if (InterlockedCompareExchange(&lock->writer, 0, self) == self)
        ReleaseSRWLockExclusive(&lock->lock);
    else
        ReleaseSRWLockShared(&lock->lock);
    return 0;
}

int pthread_rwlock_destroy(pthread_rwlock_t* l) {
    destroyIn<ReadWriteLock>(l, noRelease);
    return 0;
}

// 0: not run; 1: running on one thread, the others wait; 2: done.
int pthread_once(pthread_once_t* once, void (*function)(void)) {
    auto* state = reinterpret_cast<volatile LONG*>(once);
    if (InterlockedCompareExchange(state, 1, 0) == 0) {
        function();
        InterlockedExchange(state, 2);
        return 0;
    }
    while (InterlockedCompareExchange(state, 2, 2) != 2) SwitchToThread();
    return 0;
}

int pthread_key_create(pthread_key_t* key, void (*cleanUp)(void*)) {
    const LONG slot = InterlockedIncrement(&keyCount) - 1;
    if (slot >= kMostKeys) {
        InterlockedDecrement(&keyCount);
        return EAGAIN;
    }
    // Windows calls the clean-up at each thread's exit with the thread's non-null value, as
    // POSIX calls a key's destructor; both take one pointer and return nothing.
    const DWORD index = FlsAlloc(reinterpret_cast<PFLS_CALLBACK_FUNCTION>(cleanUp));
    keys[slot] = index;
    if (index == FLS_OUT_OF_INDEXES) return EAGAIN;
    *key = index;
    return 0;
}

int pthread_key_delete(pthread_key_t key) {
    for (LONG i = 0; i < keyCount; ++i)
        if (keys[i] == key) keys[i] = FLS_OUT_OF_INDEXES;
    return FlsFree(key) ? 0 : EINVAL;
}

// Reading a thread's value leaves its last error as it was: the runtime reads its own
// thread-local data between a Windows call and the caller's look at GetLastError.
void* pthread_getspecific(pthread_key_t key) {
    const DWORD error = GetLastError();
    void* value = FlsGetValue(key);
    SetLastError(error);
    return value;
}

int pthread_setspecific(pthread_key_t key, const void* value) {
    return FlsSetValue(key, const_cast<void*>(value)) ? 0 : EINVAL;
}

pthread_t pthread_self(void) { return GetCurrentThreadId(); }

int pthread_create(pthread_t* thread, const pthread_attr_t* /*attributes*/,
                   void* (*function)(void*), void* argument) {
    auto* block = static_cast<StartBlock*>(std::malloc(sizeof(StartBlock)));
    auto* entry = static_cast<StartedThread*>(std::malloc(sizeof(StartedThread)));
    if (!block || !entry) {
        std::free(block);
        std::free(entry);
        return EAGAIN;
    }
    *block = {function, argument};
    // Suspended until its handle is registered, so that a join from any thread finds it.
    unsigned id = 0;
    const auto handle = reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, &runStarted, block, CREATE_SUSPENDED, &id));
    if (!handle) {
        std::free(block);
        std::free(entry);
        return EAGAIN;
    }
    *entry = {id, handle, nullptr};
    AcquireSRWLockExclusive(&startedLock);
    entry->next = started;
    started = entry;
    ReleaseSRWLockExclusive(&startedLock);
    *thread = id;
    ResumeThread(handle);
    return 0;
}

// The thread's result is not kept: the C++ runtime's threads return nothing.
int pthread_join(pthread_t thread, void** result) {
    const HANDLE handle = takeStarted(thread);
    if (!handle) return ESRCH;
    WaitForSingleObject(handle, INFINITE);
    CloseHandle(handle);
    if (result) *result = nullptr;
    return 0;
}

int pthread_detach(pthread_t thread) {
    const HANDLE handle = takeStarted(thread);
    if (!handle) return ESRCH;
    CloseHandle(handle);
    return 0;
}

int pthread_num_processors_np(void) {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return static_cast<int>(info.dwNumberOfProcessors);
}

int sched_yield(void) {
    SwitchToThread();
    return 0;
}

// The system clock (for the runtime's system_clock) and the performance counter (steady_clock).
int clock_gettime(clockid_t clock, struct timespec* out) {
    if (clock == CLOCK_REALTIME) {
        FILETIME file{};
        GetSystemTimeAsFileTime(&file);
        // 100-nanosecond units since 1601; the Unix epoch is 11644473600 seconds later.
        const std::int64_t units =
            static_cast<std::int64_t>((std::uint64_t{file.dwHighDateTime} << 32) |
                                      file.dwLowDateTime) -
            116444736000000000LL;
        out->tv_sec = units / 10000000;
        out->tv_nsec = static_cast<long>((units % 10000000) * 100);
        return 0;
    }
    if (clock == CLOCK_MONOTONIC) {
        LARGE_INTEGER count{}, frequency{};
        QueryPerformanceCounter(&count);
        QueryPerformanceFrequency(&frequency);
        out->tv_sec = count.QuadPart / frequency.QuadPart;
        out->tv_nsec = static_cast<long>((count.QuadPart % frequency.QuadPart) *
                                         kNanosecondsPerSecond / frequency.QuadPart);
        return 0;
    }
    errno = EINVAL;
    return -1;
}

int nanosleep(const struct timespec* request, struct timespec* remain) {
    if (request->tv_sec < 0 || request->tv_nsec < 0 || request->tv_nsec >= kNanosecondsPerSecond) {
        errno = EINVAL;
        return -1;
    }
    // A sleep beyond kLongestSpan (about 50 days) ends there.
    std::int64_t left = nanosecondsBetween({}, *request);
    while (left > 0) {
        const DWORD ms = millisecondsFor(left);
        Sleep(ms);
        left -= std::int64_t{ms} * 1000000;
    }
    if (remain) *remain = {};
    return 0;
}

}  // extern "C"
// NOLINTEND(cert-fio38-c, clang-analyzer-unix.Malloc)
