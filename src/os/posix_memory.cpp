// The memory half of the POSIX emulation: querying, allocating and protecting regions, answered
// as Windows answers them (see posix.cpp), and the per-thread last error.

#include <fcntl.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <string>

#include "os/os.h"
#include "os/posix_internal.h"

namespace freeplot::os {
namespace posix {

namespace {
thread_local std::uint32_t lastErrorCode = 0;
}  // namespace

std::uint32_t fail(std::uint32_t windowsError) {
    lastErrorCode = windowsError;
    return 0;
}

namespace {

// The kernel's PROCMAP_QUERY request on /proc/self/maps (Linux 6.11 on): the mapping that holds
// an address, or the next one above it, in one call. Declared here because the C library's
// kernel headers may be older than the kernel.
struct ProcmapQuery {
    std::uint64_t size, queryFlags, queryAddr;
    std::uint64_t vmaStart, vmaEnd, vmaFlags, vmaPageSize, vmaOffset, inode;
    std::uint32_t devMajor, devMinor, vmaNameSize, buildIdSize;
    std::uint64_t vmaNameAddr, buildIdAddr;
};
static_assert(sizeof(ProcmapQuery) == 104);
constexpr unsigned long kProcmapQuery = _IOWR('f', 17, ProcmapQuery);
constexpr std::uint64_t kQueryReadable = 0x01, kQueryWritable = 0x02, kQueryExecutable = 0x04;
constexpr std::uint64_t kQueryCoveringOrNext = 0x10;

// Counts the forks this process is a child of: a child's first query then opens its own maps
// file. Asking the pid at every query would cost a system call each time.
std::atomic<unsigned> forkGeneration{0};
const bool forkCounted = [] {
    pthread_atfork(nullptr, nullptr, [] { forkGeneration.fetch_add(1, std::memory_order_relaxed); });
    return true;
}();

// /proc/self/maps kept open per thread. The file stands for the process that opened it, so a
// child forked after the first query opens its own.
struct MapsFile {
    int fd = -1;
    unsigned generation = 0;
    bool queryWorks = true;
    ~MapsFile() {
        if (fd >= 0) close(fd);
    }
    int get() {
        const unsigned now = forkGeneration.load(std::memory_order_relaxed);
        if (fd >= 0 && generation == now) return fd;
        if (fd >= 0) close(fd);
        fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
        generation = now;
        return fd;
    }
};
thread_local MapsFile mapsFile;

// The text of /proc/self/maps, line by line, for kernels without PROCMAP_QUERY.
bool findInMapsText(std::uintptr_t address, Mapping& out, bool& found) {
    std::ifstream maps("/proc/self/maps");
    if (!maps) return false;
    std::string line;
    found = false;
    while (std::getline(maps, line)) {
        // "start-end rwxp ...", the addresses in hexadecimal; a line that is not is skipped.
        Mapping m{};
        const char* const last = line.data() + line.size();
        const auto [dash, startError] = std::from_chars(line.data(), last, m.start, 16);
        if (startError != std::errc() || dash == last || *dash != '-') continue;
        const auto [perms, endError] = std::from_chars(dash + 1, last, m.end, 16);
        if (endError != std::errc() || last - perms < 4 || *perms != ' ') continue;
        if (m.end <= address) continue;
        m.prot = (perms[1] == 'r' ? PROT_READ : 0) | (perms[2] == 'w' ? PROT_WRITE : 0) |
                 (perms[3] == 'x' ? PROT_EXEC : 0);
        out = m;
        found = true;
        break;
    }
    return true;
}

}  // namespace

bool mappingAtOrAbove(std::uintptr_t address, Mapping& out, bool& found) {
    const int fd = mapsFile.get();
    if (fd >= 0 && mapsFile.queryWorks) {
        ProcmapQuery q{};
        q.size = sizeof q;
        q.queryFlags = kQueryCoveringOrNext;
        q.queryAddr = address;
        if (ioctl(fd, kProcmapQuery, &q) == 0) {
            out = {q.vmaStart, q.vmaEnd,
                   ((q.vmaFlags & kQueryReadable) ? PROT_READ : 0) |
                       ((q.vmaFlags & kQueryWritable) ? PROT_WRITE : 0) |
                       ((q.vmaFlags & kQueryExecutable) ? PROT_EXEC : 0)};
            found = true;
            return true;
        }
        if (errno == ENOENT) {
            found = false;
            return true;
        }
        mapsFile.queryWorks = false;  // an older kernel: read the text from now on
    }
    return findInMapsText(address, out, found);
}

namespace {
std::uint32_t toWindowsProtection(int prot) {
    const bool r = prot & PROT_READ, w = prot & PROT_WRITE, x = prot & PROT_EXEC;
    if (x) return w ? 0x40u : r ? 0x20u : 0x10u;  // EXECUTE_READWRITE / EXECUTE_READ / EXECUTE
    if (w) return 0x04u;                          // READWRITE
    return r ? 0x02u : 0x01u;                     // READONLY / NOACCESS
}

// The PROT_ bits for a Windows protection value; false for a value Windows refuses.
bool toPosixProtection(std::uint32_t protection, int& prot) {
    switch (protection) {
        case 0x01:
            prot = PROT_NONE;
            return true;
        case 0x02:
            prot = PROT_READ;
            return true;
        case 0x04:
        case 0x08:
            prot = PROT_READ | PROT_WRITE;
            return true;
        case 0x10:
            prot = PROT_EXEC;
            return true;
        case 0x20:
            prot = PROT_READ | PROT_EXEC;
            return true;
        case 0x40:
        case 0x80:
            prot = PROT_READ | PROT_WRITE | PROT_EXEC;
            return true;
        default:
            return false;
    }
}

}  // namespace
}  // namespace posix

using namespace posix;

bool queryRegion(std::uintptr_t address, Region& out) {
    // As VirtualQuery: the region starts at the page holding the address and runs upward while
    // the pages stay alike. In a mapping that is to the mapping's end; in a gap, up to the next
    // mapping (or the end of the user address space).
    if (address >= kUserTop) {
        fail(kErrorInvalidParameter);
        return false;
    }
    const std::uintptr_t page = pageDown(address);
    Mapping m{};
    bool found = false;
    if (!mappingAtOrAbove(page, m, found)) {
        fail(kErrorInvalidParameter);
        return false;
    }
    if (found && m.start <= page) {
        out = {page, m.end - page, false};
    } else {
        const std::uintptr_t end = found && m.start < kUserTop ? m.start : kUserTop;
        out = {page, end - page, true};
    }
    return true;
}

std::uintptr_t allocateAt(std::uintptr_t address, std::size_t size) {
    // As VirtualAlloc with MEM_RESERVE | MEM_COMMIT: the reservation starts at the address
    // rounded down to 64 KiB and ends with the page holding the request's last byte; all of it
    // is committed. Nothing of it may be in use already.
    const std::uintptr_t base = address & ~(kAllocationGranularity - 1);
    if (size == 0 || base < kLowestAddress || address + size > kUserTop || address + size < address)
        return fail(kErrorInvalidParameter);
    const std::size_t length = pageUp(address + size) - base;
    void* p = mmap(reinterpret_cast<void*>(base), length, PROT_READ | PROT_WRITE | PROT_EXEC,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (p == MAP_FAILED)
        return fail(errno == EEXIST ? kErrorInvalidAddress : kErrorNotEnoughMemory);
    if (reinterpret_cast<std::uintptr_t>(p) != base) {  // kernels without FIXED_NOREPLACE
        munmap(p, length);
        return fail(kErrorInvalidAddress);
    }
    return base;
}

bool protect(std::uintptr_t address, std::size_t size, std::uint32_t protection,
             std::uint32_t& oldProtection) {
    // As VirtualProtect: every page of the range must be in use, else nothing changes (mprotect
    // alone would change the pages before a hole and then fail). The old protection reported is
    // that of the first page. A size of 0 means the page holding the address.
    int prot = 0;
    if (!toPosixProtection(protection, prot)) {
        fail(kErrorInvalidParameter);
        return false;
    }
    const std::uintptr_t first = pageDown(address);
    const std::uintptr_t last = pageUp(address + (size ? size : 1));
    int old = -1;
    for (std::uintptr_t at = first; at < last;) {
        Mapping m{};
        bool found = false;
        if (!mappingAtOrAbove(at, m, found) || !found || m.start > at) {
            fail(kErrorInvalidParameter);
            return false;
        }
        if (old < 0) old = m.prot;
        at = m.end;
    }
    if (mprotect(reinterpret_cast<void*>(first), last - first, prot) != 0) {
        fail(errno == EACCES ? kErrorAccessDenied : kErrorInvalidParameter);
        return false;
    }
    oldProtection = toWindowsProtection(old);
    return true;
}

void flushInstructionCache(std::uintptr_t address, std::size_t size) {
    auto* begin = reinterpret_cast<char*>(address);
    __builtin___clear_cache(begin, begin + size);
}

std::uint32_t lastError() { return posix::lastErrorCode; }

}  // namespace freeplot::os
