#pragma once
// The byte patterns that the code at the patched sites must show before the plugin trusts
// them, and the check that compares them.

#include <cstddef>
#include <cstdint>

#include "game/locations.h"

namespace freeplot {

inline constexpr std::size_t kMaxPatternLength = 40;

struct Signature {
    const char* name;  // logged on a mismatch
    Loc site;
    std::size_t length;
    std::uint8_t pattern[kMaxPatternLength];
    std::uint8_t mask[kMaxPatternLength];
};

// The fourteen verified sites, in the order they are checked.
extern const Signature kSignatures[14];

// Only the first bytes of each pattern are compared.
inline constexpr std::size_t kComparedBytes = 8;

// Compares the first kComparedBytes bytes at `site` with `pattern` under `mask`. On the first
// difference logs the two mismatch lines and clears the plugin-wide "signatures ok" flag.
// Always returns true, so chained checks all run.
bool checkSignature(const std::uint8_t* site, const std::uint8_t* pattern, const std::uint8_t* mask,
                    const char* name);

// Runs the fourteen checks on the resolved sites; logs "Sigs not found" once if any failed.
void verifySignatures();

// The sites that carry no signature, and the calls the hooks divert, must hold what the plugin
// knows them to hold before it writes there: the calls at keyboardInput, mouseInput and
// outlineUselectable must reach their callees, snapJump must be a short jump and clampedStore a
// 6-byte jump-if-equal. A site that differs is never written (siteWritable says so in the log
// the first time something would be). Logs nothing itself and leaves signaturesOk alone.
void verifyKnownCode();

bool signaturesOk();

// Whether any of the fourteen sites matched its signature: a process where none did holds none of
// the game's code, and the plugin then changes nothing in it, data included.
bool gameRecognised();

// Whether the code at a site can be written: false only for a site whose signature check
// failed. Sites without a signature are always writable.
bool siteVerified(Loc site);

}  // namespace freeplot
