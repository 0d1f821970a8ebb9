// POSIX emulation of the Windows calls the plugin makes, for the Linux build that runs inside
// a simulated game. The conventions here are a public contract for any host that loads
// freeplot.so: the main module sits at the game's image base, the executable's path comes from
// $FREEPLOT_GAME_EXE (or /proc/self/exe) written as a Windows path on drive Z:, the documents
// folder is $HOME/Documents, and a critical section address holds a pthread mutex.

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
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

constexpr std::uintptr_t kImageBase = 0x140000000;
constexpr std::uintptr_t kAllocationGranularity = 0x10000;
constexpr std::int32_t kHresultFail = static_cast<std::int32_t>(0x80004005u);

thread_local std::uint32_t t_lastError = 0;

std::uint32_t fail(int err) {
    t_lastError = static_cast<std::uint32_t>(err);
    return 0;
}

std::uintptr_t pageSize() {
    static const std::uintptr_t size = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    return size;
}

// "/a/b" -> "Z:\a\b", as Wine shows POSIX paths; a path already on Z: stays as it is.
std::string toWindowsPath(const std::string& path) {
    if (path.size() >= 2 && (path[0] == 'Z' || path[0] == 'z') && path[1] == ':') return path;
    std::string out = path.empty() || path[0] != '/' ? path : "Z:" + path;
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

struct Mapping {
    std::uintptr_t start, end;
    int prot;
};

// Walks /proc/self/maps in address order; `visit` returns false to stop.
template <class Visit>
bool forEachMapping(Visit visit) {
    std::ifstream maps("/proc/self/maps");
    if (!maps) return false;
    std::string line;
    while (std::getline(maps, line)) {
        Mapping m{};
        char perms[5] = {};
        if (std::sscanf(line.c_str(), "%lx-%lx %4s", &m.start, &m.end, perms) != 3) continue;
        m.prot = (perms[0] == 'r' ? PROT_READ : 0) | (perms[1] == 'w' ? PROT_WRITE : 0) |
                 (perms[2] == 'x' ? PROT_EXEC : 0);
        if (!visit(m)) break;
    }
    return true;
}

std::uint32_t toWindowsProtection(int prot) {
    const bool r = prot & PROT_READ, w = prot & PROT_WRITE, x = prot & PROT_EXEC;
    if (x) return w ? 0x40u : r ? 0x20u : 0x10u;  // EXECUTE_READWRITE / EXECUTE_READ / EXECUTE
    if (w) return 0x04u;                          // READWRITE
    return r ? 0x02u : 0x01u;                     // READONLY / NOACCESS
}

int toPosixProtection(std::uint32_t protection) {
    switch (protection & 0xFFu) {
        case 0x01:
            return PROT_NONE;
        case 0x02:
            return PROT_READ;
        case 0x04:
        case 0x08:
            return PROT_READ | PROT_WRITE;
        case 0x10:
            return PROT_EXEC;
        case 0x20:
            return PROT_READ | PROT_EXEC;
        default:
            return PROT_READ | PROT_WRITE | PROT_EXEC;
    }
}

}  // namespace

std::uintptr_t mainModule() { return kImageBase; }

std::uint32_t mainModuleFileName(char* buffer, std::uint32_t size) {
    if (size == 0) return fail(EINVAL);
    std::string path;
    if (const char* exe = std::getenv("FREEPLOT_GAME_EXE"); exe && *exe) {
        path = exe;
    } else {
        char self[4096];
        const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        if (n <= 0) return fail(errno);
        path.assign(self, static_cast<std::size_t>(n));
    }
    path = toWindowsPath(path);
    // Like GetModuleFileNameA: a path that does not fit is cut and still terminated.
    const std::size_t n = path.size() < size ? path.size() : size - 1;
    std::memcpy(buffer, path.data(), n);
    buffer[n] = '\0';
    return static_cast<std::uint32_t>(n);
}

bool queryRegion(std::uintptr_t address, Region& out) {
    // Each mapping is a used region; each gap between mappings (or below the lowest, from 0)
    // is one free region.
    std::uintptr_t previousEnd = 0;
    bool found = false;
    const bool readable = forEachMapping([&](const Mapping& m) {
        if (address < m.start) {
            out = {previousEnd, m.start - previousEnd, true};
            found = true;
            return false;
        }
        if (address < m.end) {
            out = {m.start, m.end - m.start, false};
            found = true;
            return false;
        }
        previousEnd = m.end;
        return true;
    });
    if (!readable) {
        fail(errno);
        return false;
    }
    if (!found) {
        // Above the last mapping: free up to the end of the user address space.
        const std::uintptr_t top = std::uintptr_t{1} << 47;
        if (address >= top) {
            fail(EINVAL);
            return false;
        }
        out = {previousEnd, top - previousEnd, true};
    }
    return true;
}

std::uintptr_t allocateAt(std::uintptr_t address, std::size_t size) {
    const std::uintptr_t base = address & ~(kAllocationGranularity - 1);
    const std::size_t length = (size + pageSize() - 1) & ~(pageSize() - 1);
    void* p = mmap(reinterpret_cast<void*>(base), length, PROT_READ | PROT_WRITE | PROT_EXEC,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (p == MAP_FAILED) return fail(errno);
    if (reinterpret_cast<std::uintptr_t>(p) != base) {  // kernels without FIXED_NOREPLACE
        munmap(p, length);
        return fail(EEXIST);
    }
    return base;
}

bool protect(std::uintptr_t address, std::size_t size, std::uint32_t protection,
             std::uint32_t& oldProtection) {
    const std::uintptr_t first = address & ~(pageSize() - 1);
    const std::uintptr_t last = (address + (size ? size : 1) + pageSize() - 1) & ~(pageSize() - 1);
    int old = -1;
    forEachMapping([&](const Mapping& m) {
        if (first >= m.start && first < m.end) {
            old = m.prot;
            return false;
        }
        return true;
    });
    if (old < 0) {
        fail(ENOMEM);
        return false;
    }
    if (mprotect(reinterpret_cast<void*>(first), last - first, toPosixProtection(protection)) !=
        0) {
        fail(errno);
        return false;
    }
    oldProtection = toWindowsProtection(old);
    return true;
}

std::uint32_t lastError() { return t_lastError; }

std::int32_t documentsFolder(char* buffer) {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        fail(ENOENT);
        buffer[0] = '\0';
        return kHresultFail;
    }
    const std::string path = toWindowsPath(std::string(home) + "/Documents");
    if (path.size() >= kMaxPath) {
        fail(ENAMETOOLONG);
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
        fail(errno);
        return nullptr;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ftruncate(fd, 0) != 0) {
        fail(errno);
        close(fd);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "w");
    if (!file) {
        fail(errno);
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
