// The simulated game's host on Linux: the image mapped with mmap at the game's base, the game's
// critical section a pthread mutex (40 zero bytes are an unlocked one), and each session a forked
// child.

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <pthread.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "sim/host.h"

namespace sim::host {
namespace {

constexpr std::uintptr_t kPage = 0x1000;

int toProt(Access access) {
    switch (access) {
        case Access::readWriteExecute:
            return PROT_READ | PROT_WRITE | PROT_EXEC;
        case Access::readExecute:
            return PROT_READ | PROT_EXEC;
        case Access::none:
            return PROT_NONE;
    }
    return PROT_NONE;
}

}  // namespace

std::filesystem::path filePath(const std::string& utf8) { return utf8; }

std::string documentsFolder(const std::string& root) { return root + "/home/Documents"; }

void mapImage(std::uintptr_t base, std::size_t bytes) {
    void* want = reinterpret_cast<void*>(base);
    void* got = ::mmap(want, bytes, PROT_READ | PROT_WRITE | PROT_EXEC,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (got == MAP_FAILED || got != want) {
        std::string why = got == MAP_FAILED ? std::strerror(errno) : "mapped elsewhere";
        throw std::runtime_error("cannot map the game image at its base: " + why);
    }
}

bool protect(std::uintptr_t address, std::size_t bytes, Access access) {
    const std::uintptr_t first = address & ~(kPage - 1);
    const std::uintptr_t end = (address + bytes + kPage - 1) & ~(kPage - 1);
    return ::mprotect(reinterpret_cast<void*>(first), end - first, toProt(access)) == 0;
}

std::string protectionAt(std::uintptr_t address) {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        unsigned long start = 0, end = 0;
        char perms[8] = {};
        if (std::sscanf(line.c_str(), "%lx-%lx %7s", &start, &end, perms) != 3) continue;
        if (start <= address && address < end) return std::string(perms, 3);
    }
    return "unmapped";
}

void initGameLock(void*) {}  // 40 zero bytes are an unlocked pthread mutex

void lockGame(void* at) { ::pthread_mutex_lock(static_cast<pthread_mutex_t*>(at)); }

void unlockGame(void* at) { ::pthread_mutex_unlock(static_cast<pthread_mutex_t*>(at)); }

bool holdFileLock(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    return true;  // the descriptor stays open, and the lock held, until the process ends
}

void holdAgainstReading(const std::string& path, bool hold) {
    // No one may read the file while it is held: its modes say so, and root (who runs the tests),
    // whom modes do not stop, puts aside on this thread its right to pass them. Modes change no
    // file's time or size.
    static mode_t modes = 0644;
    struct stat info {};
    if (hold && ::stat(path.c_str(), &info) == 0) modes = info.st_mode & 07777;
    bool done = ::chmod(path.c_str(), hold ? 0 : modes) == 0;
    if (done && ::geteuid() == 0) {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[_LINUX_CAPABILITY_U32S_3]{};
        const std::uint32_t pass = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
        done = ::syscall(SYS_capget, &header, caps) == 0;
        caps[0].effective =
            hold ? caps[0].effective & ~pass : caps[0].effective | (caps[0].permitted & pass);
        done = done && ::syscall(SYS_capset, &header, caps) == 0;
    }
    if (done && hold) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        done = fd < 0;
        if (fd >= 0) ::close(fd);
    }
    if (!done) throw std::runtime_error("cannot hold the settings file against reading: " + path);
}

std::optional<std::string> readShared(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::optional<std::int64_t> writtenTime(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return std::int64_t{info.st_mtim.tv_sec} * 1'000'000'000 + info.st_mtim.tv_nsec;
}

bool writeTimeBack(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return false;
    timespec times[2] = {info.st_atim, info.st_mtim};
    times[1].tv_sec -= 3600;
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

int openEventFile(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

void writeAll(int fd, const std::string& text) {
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n <= 0) return;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

void crash() {
    std::raise(SIGSEGV);
    std::abort();
}

std::string makeSessionRoot() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/freeplot-sim-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    return ::mkdtemp(buf.data()) ? std::string(buf.data()) : std::string();
}

Plugin loadPlugin(const std::string& path) {
    void* lib = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) throw std::runtime_error(std::string("dlopen failed: ") + ::dlerror());
    Plugin p{::dlsym(lib, "F4SEPlugin_Query"), ::dlsym(lib, "F4SEPlugin_Load")};
    if (!p.query || !p.load)
        throw std::runtime_error("the plugin does not export F4SEPlugin_Query and F4SEPlugin_Load");
    return p;
}

ChildEnd runSession(const Options& o, const std::string& root, const std::string& plugin) {
    const std::string dir = root + "/.sim";
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) return {false, -1, 0, "fork failed"};
    if (pid == 0) {
        // The child: its standard output and error into the session's files, the environment
        // the POSIX layer of the plugin reads (HOME for the documents folder, the game's path).
        const int out = ::open((dir + "/stdout").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        const int err = ::open((dir + "/stderr").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (out < 0 || err < 0) ::_exit(120);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::close(out);
        ::close(err);
        namespace fs = std::filesystem;
        fs::create_directories(root + "/Fallout4");
        std::ofstream(root + "/Fallout4/Fallout4.exe") << "";
        if (o.documents) {
            fs::create_directories(root + "/home/Documents");
            ::setenv("HOME", (root + "/home").c_str(), 1);
        } else {
            fs::create_directories(root + "/home");
            ::unsetenv("HOME");
        }
        ::setenv("FREEPLOT_GAME_EXE",
                 (o.gameExe ? *o.gameExe : root + "/Fallout4/Fallout4.exe").c_str(), 1);
        ::_exit(runChild(o, root, plugin));
    }

    ChildEnd end;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + o.timeout;
    // The session's end wakes this thread (a descriptor for the child, readable once it ended);
    // without one, it looks every 2 ms.
    struct Descriptor {
        int fd;
        ~Descriptor() {
            if (fd >= 0) ::close(fd);
        }
    } const ended{static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))};
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (r < 0 && errno != EINTR) {
            // How the session ended is unknown: never taken for an exit with 0.
            const int error = errno;
            return {false, -1, 0, std::string("waiting for the session failed: ") + ::strerror(error)};
        }
        const auto now = std::chrono::steady_clock::now();
        if (now > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            end.timedOut = true;
            end.signal = SIGKILL;
            return end;
        }
        if (ended.fd >= 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
            pollfd wait{ended.fd, POLLIN, 0};
            ::poll(&wait, 1, static_cast<int>(std::min<long long>(left, 1000)));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    if (WIFSIGNALED(status)) {
        end.signal = WTERMSIG(status);
        end.ending =
            "killed by signal " + std::to_string(end.signal) + " (" + ::strsignal(end.signal) + ")";
    } else if (WIFEXITED(status)) {
        end.exitCode = WEXITSTATUS(status);
    }
    return end;
}

int childProcessMain(const std::string&) { return 2; }  // sessions are forked here

}  // namespace sim::host
