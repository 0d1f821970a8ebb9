// The signature check compared on plain buffers, and the pattern table's own consistency.

#include "game/signatures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "common/log.h"

using namespace freeplot;
using ::testing::ElementsAre;

namespace {

struct LogCapture {
    std::vector<std::string> lines;
    LogCapture() {
        setLogObserver([](const char* line,
                          void* self) { static_cast<LogCapture*>(self)->lines.emplace_back(line); },
                       this);
    }
    ~LogCapture() { setLogObserver(nullptr, nullptr); }
};

const Signature& signature(const char* name) {
    for (const Signature& s : kSignatures)
        if (std::string(s.name) == name) return s;
    throw std::runtime_error(name);
}

std::string addressText(const void* p) {
    char text[32];
    std::snprintf(text, sizeof text, "%016" PRIX64,
                  static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(p)));
    return text;
}

}  // namespace

TEST(Signatures, TableIsWellFormed) {
    // Every pattern byte is itself under its mask, patterns have the lengths the game code
    // has, and wildcards are exactly the "??" positions.
    const std::size_t lengths[14] = {23, 26, 32, 32, 18, 23, 33, 24, 25, 18, 36, 9, 31, 29};
    for (std::size_t i = 0; i < 14; ++i) {
        const Signature& s = kSignatures[i];
        EXPECT_EQ(s.length, lengths[i]) << s.name;
        EXPECT_EQ(std::string(s.name), info(s.site).name) << "entry names its own site";
        for (std::size_t b = 0; b < s.length; ++b) {
            EXPECT_EQ(s.pattern[b] & s.mask[b], s.pattern[b]) << s.name << " byte " << b;
            EXPECT_TRUE(s.mask[b] == 0x00 || s.mask[b] == 0xFF);
        }
    }
    // The literal 00 at byte 26 of buildEnable is compared, not a wildcard.
    EXPECT_EQ(signature("buildEnable").mask[26], 0xFF);
    EXPECT_EQ(signature("buildEnable").pattern[26], 0x00);
    EXPECT_EQ(signature("buildEnable").mask[3], 0x00);
}

TEST(Signatures, MatchingSiteLogsNothingWhateverFollowsByteSeven) {
    const Signature& s = signature("buildEnable");
    std::vector<std::uint8_t> site(s.pattern, s.pattern + s.length);
    site[3] = 0xAB;   // wildcard position
    site[26] = 0x77;  // beyond the compared bytes
    site[9] = 0x00;   // beyond the compared bytes
    LogCapture log;
    EXPECT_TRUE(checkSignature(site.data(), s.pattern, s.mask, s.name));
    EXPECT_TRUE(log.lines.empty());
}

TEST(Signatures, MismatchLogsFirstDifferenceWithRawGameByte) {
    const Signature& s = signature("freeplotEnable");
    std::vector<std::uint8_t> site(s.pattern, s.pattern + s.length);
    site[6] = 0x89;  // 88 expected; byte 7 differs too, only the first is reported
    site[7] = 0x00;
    LogCapture log;
    EXPECT_TRUE(checkSignature(site.data(), s.pattern, s.mask, s.name));
    EXPECT_THAT(log.lines,
                ElementsAre("sig (freeplotEnable) mismatch at " + addressText(site.data()),
                            "Mismatched at 6: 89 (has to be 88)"));
    EXPECT_FALSE(signaturesOk());
}
