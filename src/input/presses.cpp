#include "input/presses.h"

#include <array>

#include "input/handlers.h"
#include "rules/switches.h"

namespace freeplot {
namespace {

// 1 for each key whose press the handler kept from the game and whose release it has not seen
// since. Codes of 256 or more share the last entry.
std::array<std::uint8_t, 257> pressTaken{};

// The entries set. While there are any, kKeysKept in switches.dueInside sends mouse events to the
// full handler, which ends them for an event the game gets while it ignores input.
std::uint16_t keptCount = 0;

// Set by an event let through without a look at its key (outside workshop mode, or while the
// game ignores input): a kept press may have been released there unseen, and a press made there
// belongs to the game. The next key event handled inside forgets every kept press.
std::uint8_t forgetPresses = 0;

void keysKept(bool any) {
    switches.dueInside = static_cast<std::uint8_t>(any ? switches.dueInside | kKeysKept
                                                       : switches.dueInside & ~kKeysKept);
}

}  // namespace

std::uint8_t& takenEntry(std::uint16_t code) { return pressTaken[code < 256 ? code : 256]; }

void keepPress(std::uint8_t& taken) {
    if (taken != 0) return;
    taken = 1;
    ++keptCount;
    keysKept(true);
}

void endPress(std::uint8_t& taken) {
    taken = 0;
    if (--keptCount == 0) keysKept(false);
}

std::vector<std::uint16_t> keptPresses() {
    std::vector<std::uint16_t> codes;
    if (forgetPresses != 0) return codes;
    for (std::uint16_t code = 0; code < 256; ++code)
        if (pressTaken[code] != 0) codes.push_back(code);
    return codes;
}

void settleForgottenPresses() {
    if (forgetPresses == 0) return;
    forgetPresses = 0;
    pressTaken.fill(0);
    keptCount = 0;
}

void forgetTakenKeys() {
    forgetPresses = 1;
    // They end at the next key event inside: a mouse event has nothing more to see to.
    keysKept(false);
}

}  // namespace freeplot
