// The POSIX side of the portable tests' memory and file helpers.

#include "test_memory.h"

#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace testmem {
namespace {

int toProt(Access access) {
    switch (access) {
        case Access::none:
            return PROT_NONE;
        case Access::read:
            return PROT_READ;
        case Access::readWrite:
            return PROT_READ | PROT_WRITE;
        case Access::executeRead:
            return PROT_READ | PROT_EXEC;
        case Access::executeReadWrite:
            return PROT_READ | PROT_WRITE | PROT_EXEC;
    }
    return PROT_NONE;
}

// Address space that is only reserved, never touched, is mapped and given back with the system
// calls themselves. The sanitizers' own mmap and munmap set up and clear their shadow of every
// byte mapped: for the gigabytes the trampoline's search is made to walk, that was a quarter of a
// million page faults a test under ThreadSanitizer.
void* rawMap(void* address, std::size_t size, int prot, int flags) {
    return reinterpret_cast<void*>(::syscall(SYS_mmap, address, size, prot, flags, -1, 0));
}
void rawUnmap(void* address, std::size_t size) { ::syscall(SYS_munmap, address, size); }

bool mapAt(std::uintptr_t address, std::size_t size, int prot, int extraFlags,
           bool untouched = false) {
    const int flags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE | extraFlags;
    void* want = reinterpret_cast<void*>(address);
    void* p = untouched ? rawMap(want, size, prot, flags) : mmap(want, size, prot, flags, -1, 0);
    if (p == MAP_FAILED) return false;
    if (p != want) {
        untouched ? rawUnmap(p, size) : void(munmap(p, size));
        return false;
    }
    return true;
}

}  // namespace

std::uintptr_t freeRange(std::size_t size) {
    // Reserve more than asked, keep a 64 KiB aligned start inside, give it all back.
    const std::size_t padded = size + 0x10000;
    void* p = rawMap(nullptr, padded, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE);
    if (p == MAP_FAILED) return 0;
    rawUnmap(p, padded);
    return (reinterpret_cast<std::uintptr_t>(p) + 0xFFFF) & ~std::uintptr_t{0xFFFF};
}

bool take(std::uintptr_t address, std::size_t size, Access access) {
    return mapAt(address, size, toProt(access), 0);
}

bool reserve(std::uintptr_t address, std::size_t size) {
    return mapAt(address, size, PROT_NONE, MAP_NORESERVE, true);
}

void release(std::uintptr_t address, std::size_t size) {
    munmap(reinterpret_cast<void*>(address), size);
}

void unreserve(std::uintptr_t address, std::size_t size) {
    rawUnmap(reinterpret_cast<void*>(address), size);
}

bool setAccess(std::uintptr_t address, std::size_t size, Access access) {
    const std::uintptr_t page = address & ~std::uintptr_t{0xFFF};
    return mprotect(reinterpret_cast<void*>(page), address + size - page, toProt(access)) == 0;
}

Access accessAt(std::uintptr_t address) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        unsigned long start = 0, end = 0;
        char perms[5] = {};
        if (std::sscanf(line.c_str(), "%lx-%lx %4s", &start, &end, perms) != 3) continue;
        if (address < start || address >= end) continue;
        const bool r = perms[0] == 'r', w = perms[1] == 'w', x = perms[2] == 'x';
        if (x) return w ? Access::executeReadWrite : Access::executeRead;
        if (w) return Access::readWrite;
        return r ? Access::read : Access::none;
    }
    return Access::none;
}

std::string scratchFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/freeplot-test-XXXXXX";
    if (!mkdtemp(pattern.data())) return "";
    return pattern + "/";
}

DocumentsIn::DocumentsIn(const std::string& folder) {
    if (const char* home = std::getenv("HOME")) {
        hadValue_ = true;
        saved_ = home;
    }
    setenv("HOME", folder.c_str(), 1);
}

DocumentsIn::~DocumentsIn() {
    if (hadValue_)
        setenv("HOME", saved_.c_str(), 1);
    else
        unsetenv("HOME");
}

std::string pluginPath(const std::string& nativePath) {
    std::string out = nativePath[0] == '/' ? "Z:" + nativePath : nativePath;
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

void* newCriticalSection() {
    // The game's critical sections are 40 bytes; here they hold a mutex, and zero bytes are an
    // unlocked one.
    static_assert(sizeof(pthread_mutex_t) <= 40);
    return new std::max_align_t[40 / sizeof(std::max_align_t) + 1]{};
}

void deleteCriticalSection(void* section) { delete[] static_cast<std::max_align_t*>(section); }

bool removeFile(const std::string& nativePath) {
    std::remove(nativePath.c_str());
    return access(nativePath.c_str(), F_OK) != 0;
}

std::string readFile(const std::string& nativePath) {
    std::ifstream in(nativePath, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace testmem
