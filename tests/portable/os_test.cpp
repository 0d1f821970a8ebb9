// The operating-system layer, held to what Windows does: the same checks run against the real
// calls (under Wine) and against the POSIX emulation. Layouts are made at run time in free
// address space with the system's own calls.

#include "os/os.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "os/long_names.h"
#include "test_memory.h"

using namespace std::string_literals;

using namespace freeplot;
using testmem::Access;

namespace {
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorInvalidAddress = 487;
constexpr std::uint32_t kErrorInsufficientBuffer = 122;
constexpr std::uint32_t kErrorSharingViolation = 32;
}  // namespace

TEST(OsLayer, RegionQueryAnswersFromThePageOfTheAddressUpward) {
    const std::uintptr_t base = testmem::freeRange(0x100000);
    testmem::Block used(base + 0x40000, 0x20000, Access::readWrite);
    ASSERT_TRUE(used.ok());

    struct Case {
        std::uintptr_t address, base;
        std::size_t size;
        bool free;
    };
    const Case cases[] = {
        // In use: from the page of the address to the end of the allocation.
        {base + 0x40000, base + 0x40000, 0x20000, false},
        {base + 0x45123, base + 0x45000, 0x1B000, false},
        {base + 0x5FFFF, base + 0x5F000, 0x1000, false},
        // Free: from the page of the address up to the next used region, never down to the
        // start of the gap.
        {base + 0x3FFFF, base + 0x3F000, 0x1000, true},
        {base + 0x10010, base + 0x10000, 0x30000, true},
    };
    for (const Case& c : cases) {
        os::Region r{};
        ASSERT_TRUE(os::queryRegion(c.address, r)) << std::hex << c.address - base;
        EXPECT_EQ(r.base, c.base) << std::hex << c.address - base;
        EXPECT_EQ(r.size, c.size) << std::hex << c.address - base;
        EXPECT_EQ(r.free, c.free) << std::hex << c.address - base;
    }

    // Above the user address space there is nothing to answer.
    os::Region r{};
    EXPECT_FALSE(os::queryRegion(std::uintptr_t{1} << 47, r));
    EXPECT_EQ(os::lastError(), kErrorInvalidParameter);
}

TEST(OsLayer, AllocationReservesFromThe64KiBUnitAndCommitsToTheEndOfTheRequest) {
    const std::uintptr_t base = testmem::freeRange(0x100000);
    const std::uintptr_t got = os::allocateAt(base + 0x21234, 0x2000);
    ASSERT_EQ(got, base + 0x20000);
    // Committed from the unit's start to the page holding the request's last byte.
    os::Region r{};
    ASSERT_TRUE(os::queryRegion(got, r));
    EXPECT_FALSE(r.free);
    EXPECT_EQ(r.size, 0x4000u);
    ASSERT_TRUE(os::queryRegion(got + 0x4000, r));
    EXPECT_TRUE(r.free);
    EXPECT_EQ(testmem::accessAt(got), Access::executeReadWrite);

    // Writable and executable: mov eax, 42; ret.
    const std::uint8_t code[] = {0xB8, 0x2A, 0x00, 0x00, 0x00, 0xC3};
    std::memcpy(reinterpret_cast<void*>(got + 0x3000), code, sizeof code);
    EXPECT_EQ(reinterpret_cast<int (*)()>(got + 0x3000)(), 42);

    // A request whose unit is partly in use is refused, and nothing is taken.
    EXPECT_EQ(os::allocateAt(base + 0x2F800, 0x800), 0u);
    EXPECT_EQ(os::lastError(), kErrorInvalidAddress);
    ASSERT_TRUE(os::queryRegion(base + 0x2F000, r));
    EXPECT_TRUE(r.free);
    testmem::release(got, 0x4000);
}

TEST(OsLayer, ProtectionChangesAllPagesOrNone) {
    // Two pages of code with free space above them.
    const std::uintptr_t base = testmem::freeRange(0x100000);
    testmem::Block code(base, 0x2000, Access::executeRead);
    ASSERT_TRUE(code.ok());

    std::uint32_t old = 0;
    ASSERT_TRUE(os::protect(base + 0x10, 6, os::kPageExecuteReadWrite, old));
    EXPECT_EQ(old, os::kPageExecuteRead);
    EXPECT_EQ(testmem::accessAt(base), Access::executeReadWrite);
    ASSERT_TRUE(os::protect(base + 0x10, 6, old, old));
    EXPECT_EQ(old, os::kPageExecuteReadWrite);
    EXPECT_EQ(testmem::accessAt(base), Access::executeRead);

    // A range that runs onto a free page: refused, and the page before it keeps its protection.
    // (What lands in `old` then is not pinned: Wine writes 0 there, the emulation leaves it.)
    EXPECT_FALSE(os::protect(base + 0x1FFD, 6, os::kPageExecuteReadWrite, old));
    EXPECT_EQ(os::lastError(), kErrorInvalidParameter);
    EXPECT_EQ(testmem::accessAt(base + 0x1000), Access::executeRead);

    // Free memory (the rest of the code's 64 KiB unit, which no other allocation can take on
    // Windows), and a protection of 0, are refused alike.
    EXPECT_FALSE(os::protect(base + 0x8000, 6, os::kPageExecuteReadWrite, old));
    EXPECT_EQ(os::lastError(), kErrorInvalidParameter);
    EXPECT_FALSE(os::protect(base + 0x10, 6, 0, old));
    EXPECT_EQ(os::lastError(), kErrorInvalidParameter);
    EXPECT_EQ(testmem::accessAt(base), Access::executeRead);

    // Across pages of different protection the old one reported is the first page's.
    ASSERT_TRUE(testmem::setAccess(base + 0x1000, 0x1000, Access::readWrite));
    ASSERT_TRUE(os::protect(base + 0xFF0, 0x20, os::kPageExecuteReadWrite, old));
    EXPECT_EQ(old, os::kPageExecuteRead);
    EXPECT_EQ(testmem::accessAt(base + 0x1000), Access::executeReadWrite);
}

TEST(OsLayer, ExecutablePathIsAWindowsPathCutToTheBuffer) {
    char full[4096];
    const std::uint32_t n = os::mainModuleFileName(full, sizeof full);
    ASSERT_GT(n, 3u);
    EXPECT_EQ(std::strlen(full), n);
    EXPECT_EQ(std::string(full + 1, 2), ":\\") << full;

    // A buffer too small takes what fits; the whole size comes back with the error saying so.
    char small[8];
    EXPECT_EQ(os::mainModuleFileName(small, sizeof small), 8u);
    EXPECT_EQ(os::lastError(), kErrorInsufficientBuffer);
    EXPECT_EQ(std::string(small, 7), std::string(full, 7));
}

TEST(OsLayer, DocumentsFolderIsAWindowsPath) {
    const testmem::Scratch folder;
    const std::string& scratch = folder.path;
    ASSERT_FALSE(scratch.empty());
    testmem::DocumentsIn here(scratch);
    char docs[os::kMaxPathUtf8];
    ASSERT_EQ(os::documentsFolder(docs), 0);
    EXPECT_EQ(std::string(docs + 1, 2), ":\\") << docs;
}

TEST(OsLayer, ShareDenyWriteRefusesASecondWriterAndLeavesTheFileAsItWas) {
    const testmem::Scratch folder;
    const std::string& scratch = folder.path;
    ASSERT_FALSE(scratch.empty());
    const std::string native = scratch + "held.log";
    const std::string path = testmem::pluginPath(native);
    {
        std::FILE* earlier = std::fopen(native.c_str(), "wb");
        ASSERT_NE(earlier, nullptr);
        std::fputs("earlier run", earlier);
        std::fclose(earlier);
    }

    std::FILE* first = os::openShareDenyWrite(path.c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(testmem::readFile(native), "") << "the first opener truncates";
    std::fputs("held", first);
    std::fflush(first);

    EXPECT_EQ(os::openShareDenyWrite(path.c_str()), nullptr) << "a second writer is refused";
    EXPECT_EQ(os::lastError(), kErrorSharingViolation);
    EXPECT_EQ(testmem::readFile(native), "held") << "readers are let in, the file is as it was";

    std::fclose(first);
    std::FILE* again = os::openShareDenyWrite(path.c_str());
    ASSERT_NE(again, nullptr) << "free once the holder closed it";
    std::fclose(again);
    EXPECT_EQ(testmem::readFile(native), "");
    EXPECT_TRUE(testmem::removeFile(native));
}

// The name the wide calls are given: the long-name prefix on long absolute names only.
TEST(OsLayer, LongNamesTakeThePrefixTheWideCallsNeed) {
    const std::string deep(300, 'd');
    EXPECT_EQ(os::longNameForm("C:\\Games\\Fallout4.exe"s), "C:\\Games\\Fallout4.exe");
    EXPECT_EQ(os::longNameForm("C:\\" + deep + "/a.ini"), "\\\\?\\C:\\" + deep + "\\a.ini");
    EXPECT_EQ(os::longNameForm("\\\\nas\\share\\" + deep),
              "\\\\?\\UNC\\nas\\share\\" + deep);
    for (const std::string& as : {deep, "Data\\" + deep, "\\\\?\\C:\\" + deep, "\\\\.\\" + deep})
        EXPECT_EQ(os::longNameForm(as), as) << "relative or already in a device form";
    const std::string edge = "C:\\" + std::string(os::kLongestPlainName - 4, 'e');
    EXPECT_EQ(os::longNameForm(edge), edge) << "one unit short of a folder's limit";
    EXPECT_EQ(os::longNameForm(edge + "e"), "\\\\?\\" + edge + "e");
}

// A game folder or documents folder deep enough that its files' names pass MAX_PATH: every file
// call of the layer reaches them (on Windows only with the long-name prefix).
TEST(OsLayer, FilesBeyondMaxPathAreMadeWrittenReadAndStamped) {
    const testmem::Scratch folder;
    ASSERT_FALSE(folder.path.empty());
    std::string path = testmem::pluginPath(folder.path);
    if (path.back() != '\\') path += '\\';
    // Five folders of 60 letters, in three scripts (a UTF-16 unit each, two or three bytes).
    std::string segment;
    for (int i = 0; i < 20; ++i) segment += "aЖ文";
    for (int depth = 0; depth < 5; ++depth) {
        path += segment + std::to_string(depth);
        os::makeDirectory(path.c_str());
        path += '\\';
    }
    const std::string file = path + "freeplot_settings.txt";
    const auto units = std::count_if(file.begin(), file.end(), [](char c) { return (c & 0xC0) != 0x80; });
    ASSERT_GT(static_cast<std::size_t>(units), os::kMaxPath) << "MAX_PATH counts UTF-16 units";

    ASSERT_TRUE(os::replaceFileWhole(file.c_str(), "whole"));
    os::FileStamp stamp{};
    ASSERT_TRUE(os::fileStamp(file.c_str(), stamp));
    EXPECT_EQ(stamp.size, 5u);
    const auto read = [&] {
        std::FILE* in = os::openNative(os::nativePath(file.c_str()), "rb");
        if (!in) return std::string("(not opened)");
        char text[16] = {};
        const std::size_t n = std::fread(text, 1, sizeof text - 1, in);
        std::fclose(in);
        return std::string(text, n);
    };
    EXPECT_EQ(read(), "whole");

    std::FILE* log = os::openShareDenyWrite(file.c_str());
    ASSERT_NE(log, nullptr);
    std::fputs("log", log);
    std::fclose(log);
    EXPECT_EQ(read(), "log");
}

TEST(OsLayer, ShiftScanCodesMapToLeftAndRightShift) {
    EXPECT_EQ(os::scanCodeToVirtualKey(0x2A), 160u);  // VK_LSHIFT
    EXPECT_EQ(os::scanCodeToVirtualKey(0x36), 161u);  // VK_RSHIFT
}

TEST(OsLayer, CriticalSectionLetsOneThreadInAtATime) {
    void* section = testmem::newCriticalSection();
    long counter = 0;  // not atomic: only the critical section keeps the increments whole
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                os::enterCriticalSection(section);
                counter = counter + 1;
                os::leaveCriticalSection(section);
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(counter, 80000);
    testmem::deleteCriticalSection(section);
}
