// writeCode, the one way game code is changed: through a real protection change, and nothing at
// all when the protection cannot be changed.

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstring>
#include <string>
#include <vector>

#include "common/log.h"
#include "common/write_code.h"
#include "log_capture.h"
#include "test_memory.h"

using testmem::Access;

TEST(WriteCode, WritesIntoExecuteReadCodeAndPutsTheProtectionBack) {
    // Two pages of code, free space above them.
    const std::uintptr_t base = testmem::freeRange(0x100000);
    testmem::Block code(base, 0x2000, Access::executeRead);
    ASSERT_TRUE(code.ok());
    testlog::Capture log;

    // Across the two pages.
    const std::uint8_t bytes[] = {0x90, 0x90, 0xEB, 0x20, 0x90, 0x90};
    ASSERT_TRUE(freeplot::writeCode(base + 0xFFD, bytes, sizeof bytes));
    EXPECT_EQ(std::memcmp(reinterpret_cast<const void*>(base + 0xFFD), bytes, sizeof bytes), 0);
    EXPECT_EQ(testmem::accessAt(base), Access::executeRead);
    EXPECT_EQ(testmem::accessAt(base + 0x1000), Access::executeRead);
    EXPECT_TRUE(log.lines.empty());
}

TEST(WriteCode, AProtectionChangeThatFailsWritesNothing) {
    const std::uintptr_t base = testmem::freeRange(0x100000);
    testmem::Block code(base, 0x2000, Access::executeRead);
    ASSERT_TRUE(code.ok());
    testlog::Capture log;

    // The last three bytes would land on the free page above the code.
    const std::uintptr_t at = base + 0x1FFD;
    const std::uint8_t bytes[] = {1, 2, 3, 4, 5, 6};
    EXPECT_FALSE(freeplot::writeCode(at, bytes, sizeof bytes));
    const std::uint8_t zeros[3] = {};
    EXPECT_EQ(std::memcmp(reinterpret_cast<const void*>(at), zeros, sizeof zeros), 0);
    EXPECT_EQ(testmem::accessAt(base + 0x1000), Access::executeRead);
    EXPECT_EQ(log.lines, std::vector<std::string>{
                             testlog::format("Could not make " FREEPLOT_X64
                                             " (6 bytes) writable (error 00000057), left as it was",
                                             static_cast<std::uint64_t>(at))});
}
