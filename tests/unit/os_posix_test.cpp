// What only the POSIX emulation has: the image base a host may move, the region query's answer
// in a forked child, and the critical section kept in zero bytes. What it shares with Windows
// is checked by the portable tests (tests/portable/os_test.cpp).

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "os/os.h"

using namespace freeplot;

TEST(PosixLayer, MainModuleIsTheImageBaseFromTheEnvironmentOrTheGames) {
    // The asan preset moves the image out of AddressSanitizer's shadow gap this way.
    const char* text = std::getenv("FREEPLOT_IMAGE_BASE");
    const std::uintptr_t expected =
        text && *text ? static_cast<std::uintptr_t>(std::strtoull(text, nullptr, 16)) : 0x140000000;
    EXPECT_EQ(os::mainModule(), expected);
}

TEST(PosixLayer, ARegionQueryInAForkedChildSeesTheChildsMappings) {
    os::Region r{};
    ASSERT_TRUE(os::queryRegion(reinterpret_cast<std::uintptr_t>(&r), r));  // warms any cache
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        void* p = mmap(nullptr, 0x3000, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        os::Region child{};
        const bool ok = p != MAP_FAILED &&
                        os::queryRegion(reinterpret_cast<std::uintptr_t>(p) + 0x1000, child) &&
                        !child.free && child.base == reinterpret_cast<std::uintptr_t>(p) + 0x1000;
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(PosixLayer, ACriticalSectionOfZeroBytesIsAnUnlockedMutex) {
    alignas(8) unsigned char section[40] = {};
    os::enterCriticalSection(section);
    os::leaveCriticalSection(section);
    os::enterCriticalSection(section);  // would hang had the first enter not been left
    os::leaveCriticalSection(section);
}
