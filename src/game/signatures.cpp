#include "game/signatures.h"

#include <cstring>
#include <string_view>

#include "common/log.h"

namespace freeplot {
namespace {

constexpr int hexDigit(char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// Builds a signature from its text form: hex bytes separated by spaces, "??" for a byte the
// game may hold any value in (pattern 00 under mask 00).
constexpr Signature makeSignature(const char* name, Loc site, std::string_view text) {
    Signature s{name, site, 0, {}, {}};
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        if (i + 1 >= text.size() || s.length == kMaxPatternLength) throw "malformed pattern";
        if (text[i] == '?' && text[i + 1] == '?') {
            s.pattern[s.length] = 0x00;
            s.mask[s.length] = 0x00;
        } else {
            const int hi = hexDigit(text[i]), lo = hexDigit(text[i + 1]);
            if (hi < 0 || lo < 0) throw "malformed pattern";
            s.pattern[s.length] = static_cast<std::uint8_t>(hi * 16 + lo);
            s.mask[s.length] = 0xFF;
        }
        ++s.length;
        i += 2;
    }
    return s;
}

// What the last check of the game's code found.
struct CodeCheck {
    bool signaturesOk = true;
    bool siteFailed[static_cast<std::size_t>(Loc::count)] = {};
};
CodeCheck codeCheck;

}  // namespace

// Evaluated at compile time: a malformed pattern stops the build.
constexpr Signature kSignatures[14] = {
    makeSignature("freeplotEnable", Loc::freeplotEnable,
                  "88 05 ?? ?? ?? ?? 88 44 24 70 E8 ?? ?? ?? ?? 48 8D 54 24 70 48 8B C8"),
    makeSignature("colorBase", Loc::colorBase,
                  "C6 05 ?? ?? ?? ?? 01 F3 0F 11 05 ?? ?? ?? ?? 0F 28 74 24 40 44 0F 28 44 24 30"),
    makeSignature("selectEnable", Loc::selectEnable,
                  "8B 58 14 48 8D 4C 24 30 45 33 C0 8B D3 E8 ?? ?? ?? ?? 48 8B 15 ?? ?? ?? ?? "
                  "48 85 D2 74 ?? 8B 05"),
    makeSignature("buildEnable", Loc::buildEnable,
                  "0F B6 05 ?? ?? ?? ?? 0F B6 B5 ?? ?? ?? ?? 84 C0 0F 85 ?? ?? ?? ?? 45 84 F6 74 "
                  "00 40 84 F6 74 ??"),
    makeSignature("buildAirEnable", Loc::buildAirEnable,
                  "C6 05 ?? ?? ?? ?? 01 84 C0 75 ?? B1 02 EB ?? 40 84 FF"),
    makeSignature("buildWaterEnable", Loc::buildWaterEnable,
                  "0F 85 ?? ?? ?? ?? 83 FE 01 74 ?? F3 0F 10 05 ?? ?? ?? ?? 41 0F 2E C1"),
    makeSignature("collisionSnap", Loc::collisionSnap,
                  "83 BD ?? ?? ?? ?? 00 48 8D 8D ?? ?? ?? ?? 0F 95 05 ?? ?? ?? ?? E8 ?? ?? ?? ?? "
                  "80 3D ?? ?? ?? ?? 00"),
    makeSignature("keyboardInput", Loc::keyboardInput,
                  "E8 ?? ?? ?? ?? 81 BD ?? ?? ?? ?? 00 01 00 00 0F 86 ?? ?? ?? ?? 48 8B CB"),
    makeSignature("timeoutFreese", Loc::timeoutFreese,
                  "0F 84 ?? ?? ?? ?? 48 8B 15 ?? ?? ?? ?? E8 ?? ?? ?? ?? 84 C0 0F 94 C0 84 C0"),
    makeSignature("outline", Loc::outline, "C6 05 ?? ?? ?? ?? 01 88 15 ?? ?? ?? ?? 76 13 48 8B 05"),
    makeSignature("outlineUselectable", Loc::outlineUselectable,
                  "E8 ?? ?? ?? ?? 84 C0 0F 84 ?? ?? ?? ?? 43 0F 28 14 27 F3 0F 10 1D ?? ?? ?? ?? "
                  "0F 28 05 ?? ?? ?? ?? 48 8D 95"),
    makeSignature("selectButtonUnselectable", Loc::selectButtonUnselectable,
                  "75 ?? 48 8B CF 40 32 F6 E8"),
    makeSignature("selectActionUnselectable", Loc::selectActionUnselectable,
                  "33 C0 80 79 ?? ?? 48 0F 44 C1 48 85 C0 74 ?? E8 ?? ?? ?? ?? 0F B6 40 ?? 24 ?? "
                  "48 83 C4 ?? C3"),
    makeSignature("lockObject", Loc::lockObject,
                  "0F 84 ?? ?? ?? ?? 48 89 5C 24 ?? 48 89 6C 24 ?? 48 89 74 24 ?? 48 8D 54 24 ?? "
                  "48 8D 0D"),
};

namespace {

// Compares and reports; false when the site differs from its pattern.
bool compareSite(const std::uint8_t* site, const std::uint8_t* pattern, const std::uint8_t* mask,
                 const char* name) {
    for (std::size_t i = 0; i < kComparedBytes; ++i) {
        const std::uint8_t gameByte = site[i];
        if ((gameByte & mask[i]) != pattern[i]) {
            logLine("sig (%s) mismatch at " FREEPLOT_X64, name,
                    static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(site)));
            logLine("Mismatched at %d: %02X (has to be %02X)", static_cast<int>(i), gameByte,
                    pattern[i]);
            codeCheck.signaturesOk = false;
            return false;
        }
    }
    return true;
}

}  // namespace

bool checkSignature(const std::uint8_t* site, const std::uint8_t* pattern, const std::uint8_t* mask,
                    const char* name) {
    compareSite(site, pattern, mask, name);
    return true;
}

void verifySignatures() {
    for (const Signature& s : kSignatures) {
        const bool ok = compareSite(ptr<const std::uint8_t>(s.site), s.pattern, s.mask, s.name);
        codeCheck.siteFailed[static_cast<std::size_t>(s.site)] = !ok;
    }
    if (!codeCheck.signaturesOk) logLine("Sigs not found");
}

void verifyKnownCode() {
    auto fail = [](Loc site) { codeCheck.siteFailed[static_cast<std::size_t>(site)] = true; };
    // A 5-byte call (E8 rel32) whose target is the callee.
    auto callsCallee = [](Loc site, Loc callee) {
        const auto* code = ptr<const std::uint8_t>(site);
        std::int32_t rel = 0;
        std::memcpy(&rel, code + 1, sizeof rel);
        return code[0] == 0xE8 && addr(site) + 5 + static_cast<std::int64_t>(rel) == addr(callee);
    };
    if (!callsCallee(Loc::keyboardInput, Loc::keyboardInputCallee)) fail(Loc::keyboardInput);
    if (!callsCallee(Loc::mouseInput, Loc::mouseInputCallee)) fail(Loc::mouseInput);
    if (!callsCallee(Loc::outlineUselectable, Loc::outlineCallee)) fail(Loc::outlineUselectable);
    const std::uint8_t snap = *ptr<const std::uint8_t>(Loc::snapJump);
    if (!((snap >= 0x70 && snap <= 0x7F) || snap == 0xEB)) fail(Loc::snapJump);
    const auto* clamped = ptr<const std::uint8_t>(Loc::clampedStore);
    if (clamped[0] != 0x0F || clamped[1] != 0x84) fail(Loc::clampedStore);
}

bool signaturesOk() { return codeCheck.signaturesOk; }

bool gameRecognised() {
    for (const Signature& s : kSignatures)
        if (!codeCheck.siteFailed[static_cast<std::size_t>(s.site)]) return true;
    return false;
}

bool siteVerified(Loc site) { return !codeCheck.siteFailed[static_cast<std::size_t>(site)]; }

}  // namespace freeplot
