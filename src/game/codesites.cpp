#include "game/codesites.h"

#include <atomic>
#include <cstring>
#include <limits>

#include "common/log.h"
#include "common/write_code.h"
#include "game/signatures.h"

namespace freeplot {
namespace {

// Sites already reported as left unpatched, so each is named once.
std::atomic<bool> reportedSites[static_cast<std::size_t>(Loc::count)] = {};

}  // namespace

bool siteWritable(Loc site) {
    if (siteVerified(site)) return true;
    if (!reportedSites[static_cast<std::size_t>(site)].exchange(true))
        logLine("Site %s does not match the game's code, left unpatched", info(site).name);
    return false;
}

bool writeJump5(std::uintptr_t site, std::uintptr_t target) {
    const std::int64_t rel =
        static_cast<std::int64_t>(target) - static_cast<std::int64_t>(site + 5);
    if (rel < std::numeric_limits<std::int32_t>::min() ||
        rel > std::numeric_limits<std::int32_t>::max())
        return false;
    std::uint8_t code[5] = {0xE9};
    const auto rel32 = static_cast<std::int32_t>(rel);
    std::memcpy(code + 1, &rel32, sizeof rel32);
    return writeCode(site, code, sizeof code);
}

JumpTemplate completeJumpTemplate(const std::uint8_t (&conditionalJump)[6]) {
    std::uint32_t rel = 0;
    std::memcpy(&rel, conditionalJump + 2, sizeof rel);
    rel += 1;  // wraps like the processor's 32-bit displacement does
    JumpTemplate jump{0xE9, 0, 0, 0, 0, 0x90};
    std::memcpy(jump.data() + 1, &rel, sizeof rel);
    return jump;
}

}  // namespace freeplot
