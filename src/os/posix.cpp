// POSIX emulation of the Windows calls the plugin makes, for the Linux build that runs inside
// a simulated game. The conventions here are a public contract for any host that loads
// freeplot.so: the main module sits at the game's image base (or at $FREEPLOT_IMAGE_BASE), the
// executable's path comes from $FREEPLOT_GAME_EXE (or /proc/self/exe) written as a Windows path
// on drive Z:, the documents folder is $HOME/Documents, and a critical section address holds a
// pthread mutex.
//
// The memory calls answer as Windows answers, down to the error codes that GetLastError would
// give: the same tests run against this file and against the real calls (under Wine), and
// where the two disagree Windows is right.

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "os/os.h"

namespace freeplot::os {
namespace {

constexpr std::uintptr_t kDefaultImageBase = 0x140000000;
constexpr std::uintptr_t kAllocationGranularity = 0x10000;
// Windows hands out nothing below 64 KiB; the user address space ends at 128 TiB.
constexpr std::uintptr_t kLowestAddress = 0x10000;
constexpr std::uintptr_t kUserTop = std::uintptr_t{1} << 47;
constexpr std::int32_t kHresultFail = static_cast<std::int32_t>(0x80004005u);

// The Windows error codes this emulation reports through lastError().
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorPathNotFound = 3;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorNotEnoughMemory = 8;
constexpr std::uint32_t kErrorSharingViolation = 32;
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorInsufficientBuffer = 122;
constexpr std::uint32_t kErrorFilenameTooLong = 206;
constexpr std::uint32_t kErrorInvalidAddress = 487;

thread_local std::uint32_t lastErrorCode = 0;

std::uint32_t fail(std::uint32_t windowsError) {
    lastErrorCode = windowsError;
    return 0;
}

// The Windows code for a failed file operation.
std::uint32_t fileError(int err) {
    switch (err) {
        case ENOENT:
            return kErrorFileNotFound;
        case ENOTDIR:
            return kErrorPathNotFound;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
            return kErrorAccessDenied;
        case ENAMETOOLONG:
            return kErrorFilenameTooLong;
        case EWOULDBLOCK:
            return kErrorSharingViolation;
        default:
            return kErrorInvalidParameter;
    }
}

std::uintptr_t pageSize() {
    static const std::uintptr_t size = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    return size;
}
std::uintptr_t pageDown(std::uintptr_t address) { return address & ~(pageSize() - 1); }
std::uintptr_t pageUp(std::uintptr_t address) { return pageDown(address + pageSize() - 1); }

// "/a/b" -> "Z:\a\b", as Wine shows POSIX paths; a path already on Z: stays as it is.
std::string toWindowsPath(const std::string& path) {
    if (path.size() >= 2 && (path[0] == 'Z' || path[0] == 'z') && path[1] == ':') return path;
    std::string out = path.empty() || path[0] != '/' ? path : "Z:" + path;
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

// One mapping of the process, [start, end), with its PROT_ bits.
struct Mapping {
    std::uintptr_t start, end;
    int prot;
};

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

// /proc/self/maps kept open per thread. The file stands for the process that opened it, so a
// child forked after the first query opens its own.
struct MapsFile {
    int fd = -1;
    pid_t owner = 0;
    bool queryWorks = true;
    ~MapsFile() {
        if (fd >= 0) close(fd);
    }
    int get() {
        const pid_t self = getpid();
        if (fd >= 0 && owner == self) return fd;
        if (fd >= 0) close(fd);
        fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
        owner = self;
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
        Mapping m{};
        char perms[5] = {};
        if (std::sscanf(line.c_str(), "%lx-%lx %4s", &m.start, &m.end, perms) != 3) continue;
        if (m.end <= address) continue;
        m.prot = (perms[0] == 'r' ? PROT_READ : 0) | (perms[1] == 'w' ? PROT_WRITE : 0) |
                 (perms[2] == 'x' ? PROT_EXEC : 0);
        out = m;
        found = true;
        break;
    }
    return true;
}

// The mapping that holds `address`, else the lowest one above it. `found` is false when nothing
// is mapped at or above the address. False when the process's mappings cannot be read.
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

std::uintptr_t imageBaseFromEnvironment() {
    const char* text = std::getenv("FREEPLOT_IMAGE_BASE");
    if (!text || !*text) return kDefaultImageBase;
    const auto value = static_cast<std::uintptr_t>(std::strtoull(text, nullptr, 16));
    return value ? value : kDefaultImageBase;
}

}  // namespace

std::uintptr_t mainModule() {
    static const std::uintptr_t base = imageBaseFromEnvironment();
    return base;
}

std::size_t mainModuleSize() {
    // The mappings that follow one another without a gap from the image base on.
    const std::uintptr_t base = mainModule();
    std::uintptr_t end = base;
    for (;;) {
        Mapping m{};
        bool found = false;
        if (!mappingAtOrAbove(end, m, found) || !found || m.start > end) break;
        end = m.end;
    }
    return end - base;
}

std::uint32_t mainModuleFileName(char* buffer, std::uint32_t size) {
    if (size == 0) return fail(kErrorInsufficientBuffer);
    std::string path;
    if (const char* exe = std::getenv("FREEPLOT_GAME_EXE"); exe && *exe) {
        path = exe;
    } else {
        char self[4096];
        const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        if (n <= 0) return fail(fileError(errno));
        path.assign(self, static_cast<std::size_t>(n));
    }
    path = toWindowsPath(path);
    if (path.size() < size) {
        std::memcpy(buffer, path.c_str(), path.size() + 1);
        return static_cast<std::uint32_t>(path.size());
    }
    // Like GetModuleFileNameA: a path that does not fit is cut to the buffer (here still
    // terminated), the whole size is returned and the error says the buffer was too small.
    std::memcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = '\0';
    lastErrorCode = kErrorInsufficientBuffer;
    return size;
}

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

std::uint32_t lastError() { return lastErrorCode; }

std::int32_t documentsFolder(char* buffer) {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        fail(kErrorFileNotFound);
        buffer[0] = '\0';
        return kHresultFail;
    }
    const std::string path = toWindowsPath(std::string(home) + "/Documents");
    if (path.size() >= kMaxPath) {
        fail(kErrorFilenameTooLong);
        buffer[0] = '\0';
        return kHresultFail;
    }
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return 0;
}

std::string nativePath(const char* path) {
    std::string out(path);
    if (out.size() >= 2 && (out[0] == 'Z' || out[0] == 'z') && out[1] == ':') out.erase(0, 2);
    for (char& c : out)
        if (c == '\\') c = '/';
    return out;
}

void makeDirectory(const char* path) {
    const std::string native = nativePath(path);
    if (!native.empty()) mkdir(native.c_str(), 0777);
}

std::FILE* openShareDenyWrite(const char* path) {
    // Open without truncating, take the exclusive lock, and only then truncate: a file held by
    // another opener is left exactly as it was.
    const std::string native = nativePath(path);
    const int fd = open(native.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        fail(fileError(errno));
        return nullptr;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ftruncate(fd, 0) != 0) {
        fail(fileError(errno));
        close(fd);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "w");
    if (!file) {
        fail(fileError(errno));
        close(fd);
    }
    return file;
}

std::uint32_t scanCodeToVirtualKey(std::uint32_t scanCode) {
    // The US layout's answer for the two Shift keys, the only codes the plugin asks about.
    switch (scanCode) {
        case 0x2A:
            return 160;  // VK_LSHIFT
        case 0x36:
            return 161;  // VK_RSHIFT
        default:
            return 0;
    }
}

void enterCriticalSection(void* section) {
    pthread_mutex_lock(static_cast<pthread_mutex_t*>(section));
}

void leaveCriticalSection(void* section) {
    pthread_mutex_unlock(static_cast<pthread_mutex_t*>(section));
}

}  // namespace freeplot::os
