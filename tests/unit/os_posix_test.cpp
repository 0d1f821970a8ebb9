// The POSIX emulation of the Windows memory and file calls, checked against the kernel.

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "os/os.h"

using namespace freeplot;

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A free 64 KiB-aligned address: reserve a larger block, then give it back.
std::uintptr_t freeAlignedAddress() {
    void* p = mmap(nullptr, 0x40000, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    const auto aligned = (reinterpret_cast<std::uintptr_t>(p) + 0xFFFF) & ~std::uintptr_t{0xFFFF};
    munmap(p, 0x40000);
    return aligned;
}

}  // namespace

TEST(PosixLayer, ShareDenyWriteLeavesAHeldFileUntouched) {
    char dir[] = "/tmp/freeplot-osXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string native = std::string(dir) + "/held.log";
    const std::string windows = "Z:" + std::string(dir) + "\\held.log";
    { std::ofstream(native) << "earlier run"; }

    std::FILE* first = os::openShareDenyWrite(windows.c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(readFile(native), "") << "the first opener truncates";
    std::fputs("line from the holder\n", first);
    std::fflush(first);

    EXPECT_EQ(os::openShareDenyWrite(windows.c_str()), nullptr) << "second opener refused";
    EXPECT_EQ(readFile(native), "line from the holder\n") << "and the file is as it was";

    std::fclose(first);
    std::FILE* again = os::openShareDenyWrite(windows.c_str());
    ASSERT_NE(again, nullptr) << "free once the holder closed it";
    std::fclose(again);
    EXPECT_EQ(readFile(native), "");
    std::remove(native.c_str());
    rmdir(dir);
}

TEST(PosixLayer, RegionsAllocationAndProtection) {
    const std::uintptr_t base = freeAlignedAddress();

    os::Region below{};
    ASSERT_TRUE(os::queryRegion(base + 0x1000, below));
    EXPECT_TRUE(below.free);

    // A reservation asked for in the middle of a 64 KiB unit starts at the unit.
    const std::uintptr_t got = os::allocateAt(base + 0xF800, 0x800);
    ASSERT_EQ(got, base);
    os::Region used{};
    ASSERT_TRUE(os::queryRegion(base + 0x10, used));
    EXPECT_FALSE(used.free);
    EXPECT_LE(used.base, base);
    EXPECT_GE(used.base + used.size, base + 0x1000);

    // The byte below a used region belongs to a free region that ends where it starts, unless
    // another mapping sits right there.
    os::Region gap{};
    ASSERT_TRUE(os::queryRegion(used.base - 1, gap));
    if (gap.free) {
        EXPECT_EQ(gap.base + gap.size, used.base);
    }

    EXPECT_EQ(os::allocateAt(base, 0x800), 0u) << "an address in use is refused";

    std::uint32_t old = 0;
    ASSERT_TRUE(os::protect(base + 0x10, 6, os::kPageReadWrite, old));
    EXPECT_EQ(old, os::kPageExecuteReadWrite);
    ASSERT_TRUE(os::protect(base + 0x10, 6, os::kPageExecuteReadWrite, old));
    EXPECT_EQ(old, os::kPageReadWrite);
    *reinterpret_cast<volatile std::uint8_t*>(base + 0x10) = 0xC3;  // still writable

    munmap(reinterpret_cast<void*>(base), 0x1000);
}

TEST(PosixLayer, ShiftScanCodesAndCriticalSection) {
    EXPECT_EQ(os::scanCodeToVirtualKey(0x2A), 160u);
    EXPECT_EQ(os::scanCodeToVirtualKey(0x36), 161u);
    alignas(8) unsigned char section[40] = {};  // zero bytes are an unlocked mutex
    os::enterCriticalSection(section);
    os::leaveCriticalSection(section);
    os::enterCriticalSection(section);
    os::leaveCriticalSection(section);  // a second enter would hang had the first not left
}
