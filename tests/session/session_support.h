#pragma once
// Helpers shared by the session tests that drive the plugin with keys and the mouse.

#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/sim.h"

namespace session {

// A session of the fixture plugin (it records what the host hands it) instead of freeplot;
// `mode` goes to the fixture as FIXTURE_MODE before the host queries it.
inline sim::Options fixtureSession(const char* mode = nullptr) {
    sim::Options o;
    o.plugin = sim::fixturePluginPath();
    if (mode) {
        std::string m = mode;
        o.beforeQuery = [m](sim::Game&) { ::setenv("FIXTURE_MODE", m.c_str(), 1); };
    }
    return o;
}

// Default key codes of the actions the tests use.
namespace key {
inline constexpr std::uint16_t snap = 112, ground = 113, gridSnap = 114, outline = 115,
                               timeout = 116, clamped = 117, lock = 118, mode = 119,
                               timescale = 122;
inline constexpr std::uint16_t resetAngles = 96, removeTremor = 101;
inline constexpr std::uint16_t rotateStepMinus = 109, rotateStepPlus = 107;
inline constexpr std::uint16_t moveStepMinus = 111, moveStepPlus = 106;
inline constexpr std::uint16_t scaleStepMinus = 33, scaleStepPlus = 34;
inline constexpr std::uint16_t leftCtrl = 162;
inline constexpr std::uint16_t moveDown = 98, moveUp = 104, moveLeft = 100, moveRight = 102,
                               moveBack = 103, moveForth = 105;
inline constexpr std::uint16_t scaleDown = 97, scaleUp = 99, scaleReset = 110;
inline constexpr std::uint16_t undo = 8, copyState = 187;
inline constexpr std::uint16_t copyPosX = 49, copyAngleZ = 54, copyScale = 55, copyAll = 48;
inline constexpr std::uint16_t extraSelection = 45, duplicate = 191, remove = 46;
inline constexpr std::uint16_t rotateLeft = 188, rotateRight = 190;
inline constexpr std::uint16_t physicsOn = 36, physicsOff = 35;
}  // namespace key

// A bound key's press, then its release (the action runs on the release).
inline void tap(sim::Game& game, std::uint16_t vkey, std::uint16_t scanCode = 0,
                std::uint16_t flags = 0) {
    game.keyboardEvent(vkey, scanCode, flags);
    game.keyboardEvent(vkey, scanCode, static_cast<std::uint16_t>(flags | 1));
}

// Workshop mode on with a new object selected.
inline sim::Ref selectNew(sim::Game& game, const sim::RefLayout& layout = {}) {
    sim::Ref ref = game.createRef(layout);
    game.selectRef(ref.handle);
    game.setWorkshopMode(true);
    return ref;
}

inline sim::RefLayout at(float x, float y, float z) {
    sim::RefLayout layout;
    layout.position[0] = x;
    layout.position[1] = y;
    layout.position[2] = z;
    return layout;
}

// The calls whose line starts with `prefix`, in order.
inline std::vector<std::string> callsStarting(const std::vector<std::string>& calls,
                                              const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& c : calls)
        if (c.compare(0, prefix.size(), prefix) == 0) out.push_back(c);
    return out;
}

// The axis commands the game was asked to run.
inline std::vector<std::string> axisCommands(const std::vector<std::string>& calls) {
    return callsStarting(calls, "runAxisCommand(");
}

// "runAxisCommand(context, 0x1007, ref#1, 'Z', 110)" for the given parts; the value printed as
// the sim prints doubles (shortest form that reads back the same).
inline std::string axisCall(int refIndex, const char* code, char axis, double value) {
    char text[160];
    std::snprintf(text, sizeof text, "runAxisCommand(context, %s, ref#%d, '%c', ", code, refIndex,
                  axis);
    char number[64];
    const auto end = std::to_chars(number, number + sizeof number, value).ptr;
    return std::string(text) + std::string(number, end) + ")";
}
inline std::string moveCall(int refIndex, char axis, double value) {
    return axisCall(refIndex, "0x1007", axis, value);
}
inline std::string angleCall(int refIndex, char axis, double value) {
    return axisCall(refIndex, "0x1009", axis, value);
}

// The number of messages shown so far equals `count` (polled with a deadline).
inline bool waitForMessages(sim::Game& game, std::size_t count,
                            std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    return game.waitUntil([&] { return game.messageCount() >= count; }, deadline);
}

inline constexpr double kDegrees = 57.29577951308232;

}  // namespace session
