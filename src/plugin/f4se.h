#pragma once
// The two records the script extender hands the plugin at start-up. Only the fields the plugin
// uses are named; the layout is pinned so a mistake fails the build, not the game.
//
// These records and the two exported entry points (F4SEPlugin_Query, F4SEPlugin_Load, in
// plugin/main.cpp) keep the script extender's own names, which its interface fixes; every other
// name in the plugin follows the project's style.

#include <cstddef>
#include <cstdint>

namespace freeplot {

struct F4SEInterface {
    std::uint32_t f4seVersion;
    std::uint32_t runtimeVersion;  // packed: 1.9.4 is 0x01090040
    std::uint32_t editorVersion;
    std::uint32_t isEditor;  // non-zero in the game's editor
};
static_assert(offsetof(F4SEInterface, runtimeVersion) == 4);
static_assert(offsetof(F4SEInterface, isEditor) == 12);

struct PluginInfo {
    std::uint32_t infoVersion;
    const char* name;
    std::uint32_t version;
};
static_assert(offsetof(PluginInfo, infoVersion) == 0);
static_assert(offsetof(PluginInfo, name) == 8);
static_assert(offsetof(PluginInfo, version) == 16);

inline constexpr std::uint32_t kPluginInfoVersion = 1;
inline constexpr const char* kPluginName = "Freeplot plugin";
inline constexpr std::uint32_t kPluginVersion = 16;

inline constexpr std::uint32_t kSupportedRuntime = 0x01090040;  // game 1.9.4
inline constexpr const char* kF4seVersionText = "0.3.0";
inline constexpr std::uint32_t kF4seVersion = 0x00030000;

}  // namespace freeplot
