#pragma once
// The plugin's settings and key bindings, read once from "Data\F4SE\Plugins\freeplot.ini"
// while the plugin loads, and never written back.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace freeplot {

struct IniFile;
struct SettingsReport;

// Sections main, dangerous and cheats. timeoutFrozen, snapDisabled, outlineDisabled and
// extraOutlineEnabled double as the live states of their toggles.
struct Settings {
    std::uint8_t togglable = 0;  // low 8 bits of the integer read
    float buildTimescale = 0.01f;
    bool wheelRotation = false;
    bool timeoutFrozen = false;
    bool snapDisabled = false;
    bool groundDisabled = false;
    bool outlineDisabled = false;
    bool extraOutlineEnabled = false;
    bool autoTimescaleEnabled = false;
    bool deleteEnabled = false;     // section dangerous
    bool duplicateEnabled = false;  // section cheats
};
extern Settings settings;

// Windows virtual-key codes; alternate is 0 unless the binding was given as a generic
// Shift, Ctrl or Alt code, which binds both the left and the right key.
struct KeyBinding {
    std::uint16_t primary;
    std::uint16_t alternate;
    friend constexpr bool operator==(const KeyBinding&, const KeyBinding&) = default;
};

// The actions, in the order of the binding table (their names are the keys of [keys]).
enum class Action : std::uint8_t {
    main,
    snap,
    ground,
    workshopSnap,
    timeoutFreeze,
    resetAngles,
    removeTremor,
    rotateStepMinus,
    rotateStepPlus,
    changeRotateAxis,
    outlineToggle,
    moveDown,
    moveUp,
    moveLeft,
    moveRight,
    moveBack,
    moveForth,
    moveStepMinus,
    moveStepPlus,
    scaleDown,
    scaleUp,
    scaleReset,
    undo,
    copyState,
    copyPosX,
    copyPosY,
    copyPosZ,
    copyAngleX,
    copyAngleY,
    copyAngleZ,
    copyScale,
    copyAll,
    clampedStoreToggle,
    lockObject,
    extraOutlineToggle,
    duplicateKey,
    deleteKey,
    rotateLeft,
    rotateRight,
    physicsOn,
    physicsOff,
    scaleStepMinus,
    scaleStepPlus,
    timescaleToggle,
    count
};
inline constexpr std::size_t kActionCount = static_cast<std::size_t>(Action::count);
static_assert(kActionCount == 44);

inline constexpr std::array<const char*, kActionCount> kActionNames = {
    "main",
    "snap",
    "ground",
    "workshopSnap",
    "timeoutFreeze",
    "resetAngles",
    "removeTremor",
    "rotateStepMinus",
    "rotateStepPlus",
    "changeRotateAxis",
    "outlineToggle",
    "moveDown",
    "moveUp",
    "moveLeft",
    "moveRight",
    "moveBack",
    "moveForth",
    "moveStepMinus",
    "moveStepPlus",
    "scaleDown",
    "scaleUp",
    "scaleReset",
    "undo",
    "copyState",
    "copyPosX",
    "copyPosY",
    "copyPosZ",
    "copyAngleX",
    "copyAngleY",
    "copyAngleZ",
    "copyScale",
    "copyAll",
    "clampedStoreToggle",
    "lockObject",
    "extraOutlineToggle",
    "duplicateKey",
    "deleteKey",
    "rotateLeft",
    "rotateRight",
    "physicsOn",
    "physicsOff",
    "scaleStepMinus",
    "scaleStepPlus",
    "timescaleToggle",
};

inline constexpr std::array<KeyBinding, kActionCount> kDefaultKeyBindings = {{
    {119, 0},   {112, 0}, {113, 0}, {114, 0}, {116, 0},            // F8 F1 F2 F3 F5
    {96, 0},    {101, 0}, {109, 0}, {107, 0},                      // numpad 0, 5, -, +
    {162, 163},                                                    // left Ctrl, right Ctrl
    {115, 0},                                                      // F4
    {98, 0},    {104, 0}, {100, 0}, {102, 0}, {103, 0}, {105, 0},  // numpad 2 8 4 6 7 9
    {111, 0},   {106, 0},                                          // numpad / *
    {97, 0},    {99, 0},  {110, 0},                                // numpad 1 3 .
    {8, 0},     {187, 0},                                          // Backspace, =
    {49, 0},    {50, 0},  {51, 0},  {52, 0},  {53, 0},  {54, 0},  {55, 0}, {48, 0},  // 1..7, 0
    {117, 0},   {118, 0}, {45, 0},  {191, 0}, {46, 0},  // F6 F7 Insert / Delete
    {188, 0},   {190, 0}, {36, 0},  {35, 0},            // , . Home End
    {33, 0},    {34, 0},  {122, 0},                     // Page Up, Page Down, F11
}};

extern std::array<KeyBinding, kActionCount> keyBindings;

inline const char* actionName(Action action) {
    return kActionNames[static_cast<std::size_t>(action)];
}
inline KeyBinding& binding(Action action) { return keyBindings[static_cast<std::size_t>(action)]; }

// True when `code` is the action's primary or alternate key. Code 0 is no key and matches
// nothing (an unused alternate is stored as 0).
inline bool matches(Action action, std::uint32_t code) {
    const KeyBinding& b = keyBindings[static_cast<std::size_t>(action)];
    return code != 0 && (code == b.primary || code == b.alternate);
}

// The binding for a code read from the file: generic Shift (16), Ctrl (17) and Alt (18)
// become their left and right keys, any other code stands alone.
KeyBinding bindingForCode(std::uint16_t code);

// Reads the settings file and puts what it says into effect: key bindings, messages,
// buildTimescale, the step tables, then the settings of main, dangerous and cheats.
// Logs "Could not read/parse config file %s" with `windowsPath` and returns false when
// the file cannot be opened; every setting then keeps its default.
bool loadSettings(const std::string& windowsPath, SettingsReport* report = nullptr);

// The steps of loadSettings, for an already parsed file.
void readKeys(const IniFile& file, SettingsReport* report = nullptr);
void readBuildTimescale(const IniFile& file, SettingsReport* report = nullptr);
void readSwitches(const IniFile& file, SettingsReport* report = nullptr);

// Puts every setting, binding, message and step table back to its built-in default
// (the state at library load). Used by tools and tests that read several files.
void restoreDefaultSettings();

}  // namespace freeplot
