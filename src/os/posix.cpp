// POSIX emulation of the Windows calls the plugin makes, for the Linux build that runs inside
// a simulated game. The conventions here are a public contract for any host that loads
// freeplot.so: the main module sits at the game's image base (or at $FREEPLOT_IMAGE_BASE), the
// executable's path comes from $FREEPLOT_GAME_EXE (or /proc/self/exe) written as a Windows path
// on drive Z:, the documents folder is $HOME/Documents, and a critical section address holds a
// pthread mutex. Names are UTF-8 on both sides, as the Windows backend hands them over; where
// Windows counts a name's length it counts UTF-16 units, and so does this file.
//
// The memory calls answer as Windows answers, down to the error codes that GetLastError would
// give: the same tests run against this file and against the real calls (under Wine), and
// where the two disagree Windows is right.

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "os/os.h"
#include "os/posix_internal.h"
#include "os/utf8.h"

namespace freeplot::os {

std::string posix::toWindowsPath(const std::string& path) {
    if (path.size() >= 2 && (path[0] == 'Z' || path[0] == 'z') && path[1] == ':') return path;
    std::string out = path.empty() || path[0] != '/' ? path : "Z:" + path;
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

using namespace posix;

namespace {

constexpr std::uintptr_t kDefaultImageBase = 0x140000000;
constexpr std::int32_t kHresultFail = static_cast<std::int32_t>(0x80004005u);

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
    // Like the Windows backend, with the error saying the buffer was too small.
    const std::uint32_t copied = utf8::copyOrCut(path, buffer, size);
    if (copied == size) fail(kErrorInsufficientBuffer);
    return copied;
}

std::int32_t documentsFolder(char* buffer) {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        fail(kErrorFileNotFound);
        buffer[0] = '\0';
        return kHresultFail;
    }
    const std::string path = toWindowsPath(std::string(home) + "/Documents");
    // Windows refuses a folder of MAX_PATH UTF-16 units or more, whatever its bytes in UTF-8.
    if (utf8::utf16Length(path) >= kMaxPath) {
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

std::FILE* openNative(const std::string& nativePath, const char* mode) {
    return std::fopen(nativePath.c_str(), mode);
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

bool replaceFileWhole(const char* path, const std::string& bytes) {
    const std::string native = nativePath(path);
    const std::string temporary = native + ".tmp";
    // Windows refuses to replace a file another opener holds without sharing its deletion; here
    // that opener is one holding the file's lock, which is kept while the file is replaced.
    const int held = open(native.c_str(), O_RDONLY | O_CLOEXEC);
    if (held >= 0 && flock(held, LOCK_EX | LOCK_NB) != 0) {
        close(held);
        return false;
    }
    bool written = false;
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0 && errno != EINTR) break;
            if (n > 0) done += static_cast<std::size_t>(n);
        }
        written = close(fd) == 0 && done == bytes.size() &&
                  rename(temporary.c_str(), native.c_str()) == 0;
        if (!written) unlink(temporary.c_str());
    }
    if (held >= 0) close(held);
    return written;
}

bool fileStamp(const char* path, FileStamp& out) {
    struct stat info {};
    if (stat(nativePath(path).c_str(), &info) != 0) return fail(fileError(errno)) != 0;
    out.written = std::int64_t{info.st_mtim.tv_sec} * 1'000'000'000 + info.st_mtim.tv_nsec;
    out.size = static_cast<std::uint64_t>(info.st_size);
    return true;
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
