// The finding about a key bound to two or more actions: which of them acts when the key is let
// go, as the keyboard dispatcher tries them, and which never does.

#include <bit>
#include <cstring>
#include <map>
#include <vector>

#include "config/dispatch_order.h"
#include "config/keynames.h"
#include "report/report_text.h"

namespace freeplot::report_text {
namespace {

// --- Two actions on one key ----------------------------------------------------------------

std::string actionList(std::uint64_t actions, const char* last = " and ") {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < kActionCount; ++i)
        if (actions & (std::uint64_t{1} << i)) names.emplace_back(kActionNames[i]);
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += i + 1 == names.size() ? last : ", ";
        text += names[i];
    }
    return text;
}

// Which gate the settings hold shut; workshopIdle is open or shut from moment to moment.
bool gateShutBySettings(const Settings& settings, DispatchGate gate) {
    switch (gate) {
        case DispatchGate::togglable:
            return settings.togglable == 0;
        case DispatchGate::duplicateEnabled:
            return !settings.duplicateEnabled;
        case DispatchGate::deleteEnabled:
            return !settings.deleteEnabled;
        default:
            return false;
    }
}

const char* gateNeed(DispatchGate gate) {
    switch (gate) {
        case DispatchGate::togglable:
            return "needs togglable 1 or more";
        case DispatchGate::duplicateEnabled:
            return "needs duplicateEnabled";
        case DispatchGate::deleteEnabled:
            return "needs deleteEnabled";
        default:
            return "";
    }
}

// The one action a row runs as when the key holds several of the row's actions: the keyboard
// dispatcher's rules (input/keyboard.cpp) for each kind of row. 0 when they act together.
std::uint64_t actingWithinRow(std::uint64_t held) {
    auto has = [&](Action a) { return (held & actionBit(a)) != 0; };
    // Rows of two opposite directions: the first named goes its own way when bound.
    for (const Action winner : {Action::rotateStepPlus, Action::moveStepPlus,
                                Action::scaleStepMinus, Action::rotateLeft, Action::physicsOn})
        if (has(winner)) return actionBit(winner);
    if (has(Action::scaleReset)) return actionBit(Action::scaleReset);
    if (has(Action::scaleDown)) return actionBit(Action::scaleDown);
    // A move: the first in this order gives the axis, any backward one the direction.
    const Action moves[] = {Action::moveDown,  Action::moveUp,   Action::moveLeft,
                            Action::moveRight, Action::moveBack, Action::moveForth};
    char axis = 0;
    int direction = +1;
    for (const Action a : moves) {
        if (!has(a)) continue;
        if (axis == 0) axis = paramsOf(a).axis;
        if (paramsOf(a).direction < 0) direction = -1;
    }
    if (axis != 0)
        for (const Action a : moves)
            if (paramsOf(a).axis == axis && paramsOf(a).direction == direction) return actionBit(a);
    return 0;
}

// What a key bound to several actions does when let go.
std::string sharedKeyOutcome(const Settings& settings, std::uint64_t actions) {
    std::string said;
    std::uint64_t acting = 0, shut = 0;
    for (std::size_t r = 0; r < kDispatchRows.size(); ++r) {
        const DispatchRow& row = kDispatchRows[r];
        const std::uint64_t held = row.actions & actions;
        if (held == 0) continue;
        if (gateShutBySettings(settings, row.gate)) {
            said += actionList(held) + " " + gateNeed(row.gate) + ", so it does not act; ";
            shut |= held;
            continue;
        }
        const std::uint64_t one = std::popcount(held) > 1 ? actingWithinRow(held) : held;
        if (one == 0)
            said += actionList(held) + " act together";
        else if ((one & held) == 0)  // a move whose axis one gives and direction another
            said += actionList(held) + " act as one: the object moves as by " + actionList(one);
        else if (one != held)
            said += actionList(one) + " acts (" + actionList(held & ~one) + " adds nothing)";
        else
            said += actionList(one) + " acts";
        acting = held;
        if (row.gate == DispatchGate::workshopIdle) {
            // While the workshop is busy the search goes on below.
            for (std::size_t next = r + 1; next < kDispatchRows.size(); ++next) {
                const DispatchRow& other = kDispatchRows[next];
                const std::uint64_t otherHeld = other.actions & actions;
                if (otherHeld == 0 || gateShutBySettings(settings, other.gate) ||
                    other.gate == DispatchGate::workshopIdle)
                    continue;
                said += "; while the workshop is busy, " + actionList(otherHeld) + " acts instead";
                acting |= otherHeld;
                break;
            }
        }
        break;
    }
    const std::uint64_t never = actions & ~acting & ~shut;
    if (acting == 0) return said + "nothing acts";
    if (never != 0) said += "; " + actionList(never, " or ") + " never acts on this key";
    return said;
}

// The line that binds an action, or how it is bound without one.
std::string boundWhere(const Reading& reading, std::size_t action) {
    const IniEntry* entry = exactEntry(reading, kKeysSection, kActionNames[action]);
    return entry ? " on line " + std::to_string(entry->firstLine) : " by default";
}

}  // namespace

void findSharedKeys(const Reading& reading, const SettingsInForce& inForce, Collector& out) {
    std::map<std::uint16_t, std::uint64_t> byCode;
    for (std::size_t i = 0; i < kActionCount; ++i)
        for (const std::uint16_t code : {inForce.keys[i].primary, inForce.keys[i].alternate})
            if (code != 0) byCode[code] |= std::uint64_t{1} << i;
    for (const auto& [code, actions] : byCode) {
        if (std::popcount(actions) < 2) continue;
        std::string where;
        for (std::size_t i = 0; i < kActionCount; ++i)
            if (actions & (std::uint64_t{1} << i))
                where += std::string(where.empty() ? "" : ", ") + kActionNames[i] +
                         boundWhere(reading, i);
        out.add(Severity::warning, about(kKeysSection, actionList(actions, ", ")),
                (keyName(code) ? keyLabel(code) + " (code " + std::to_string(code) + ")"
                               : "code " + std::to_string(code)) +
                    " is bound to " + std::to_string(std::popcount(actions)) + " actions (" +
                    where + "); " + sharedKeyOutcome(inForce.settings, actions) +
                    "; give each action a key of its own");
    }
}

// A key as a sentence names it: "the 8 key", "Numpad 8", "code 300".
std::string keyLabel(std::uint16_t code) {
    const char* name = keyName(code);
    if (!name) return "code " + std::to_string(code);
    return std::strlen(name) == 1 ? std::string("the ") + name + " key" : name;
}

}  // namespace freeplot::report_text
