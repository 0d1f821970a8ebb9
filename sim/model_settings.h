#pragma once
// The settings as the model reads them from the file, by docs/settings-file.md and the README's
// tables alone: the actions and their default keys, the on-screen texts, the step lists, and the
// reading of a settings file into the settings in force, with whether the settings report finds
// anything in it. Kept apart from the model's behaviour so that the reading can be checked against
// the settings report on its own.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sim {

// --- What the README says the plugin starts with -------------------------------------------------

// The actions in the key table's order, with their default keys (virtual-key codes).
// clang-format off
enum A {
    kMain, kSnap, kGround, kWorkshopSnap, kTimeoutFreeze, kResetAngles, kRemoveTremor,
    kRotateStepMinus, kRotateStepPlus, kChangeRotateAxis, kOutlineToggle, kMoveDown, kMoveUp,
    kMoveLeft, kMoveRight, kMoveBack, kMoveForth, kMoveStepMinus, kMoveStepPlus, kScaleDown,
    kScaleUp, kScaleReset, kUndo, kCopyState, kCopyPosX, kCopyPosY, kCopyPosZ, kCopyAngleX,
    kCopyAngleY, kCopyAngleZ, kCopyScale, kCopyAll, kClampedStoreToggle, kLockObject,
    kExtraOutlineToggle, kDuplicateKey, kDeleteKey, kRotateLeft, kRotateRight, kPhysicsOn,
    kPhysicsOff, kScaleStepMinus, kScaleStepPlus, kTimescaleToggle, kRedo, kAlignToGrid, kObjectInfo,
    kActions
};
struct ActionKey {
    const char* name;
    std::uint16_t primary, alternate;
};
inline constexpr ActionKey kKeys[kActions] = {
    {"main", 119, 0}, {"snap", 112, 0}, {"ground", 113, 0}, {"workshopSnap", 114, 0},
    {"timeoutFreeze", 116, 0}, {"resetAngles", 96, 0}, {"removeTremor", 101, 0},
    {"rotateStepMinus", 109, 0}, {"rotateStepPlus", 107, 0}, {"changeRotateAxis", 162, 163},
    {"outlineToggle", 115, 0}, {"moveDown", 98, 0}, {"moveUp", 104, 0}, {"moveLeft", 100, 0},
    {"moveRight", 102, 0}, {"moveBack", 103, 0}, {"moveForth", 105, 0},
    {"moveStepMinus", 111, 0}, {"moveStepPlus", 106, 0}, {"scaleDown", 97, 0},
    {"scaleUp", 99, 0}, {"scaleReset", 110, 0}, {"undo", 8, 0}, {"copyState", 187, 0},
    {"copyPosX", 49, 0}, {"copyPosY", 50, 0}, {"copyPosZ", 51, 0}, {"copyAngleX", 52, 0},
    {"copyAngleY", 53, 0}, {"copyAngleZ", 54, 0}, {"copyScale", 55, 0}, {"copyAll", 48, 0},
    {"clampedStoreToggle", 117, 0}, {"lockObject", 118, 0}, {"extraOutlineToggle", 45, 0},
    {"duplicateKey", 191, 0}, {"deleteKey", 46, 0}, {"rotateLeft", 188, 0},
    {"rotateRight", 190, 0}, {"physicsOn", 36, 0}, {"physicsOff", 35, 0},
    {"scaleStepMinus", 33, 0}, {"scaleStepPlus", 34, 0}, {"timescaleToggle", 122, 0},
    {"redo", 220, 0}, {"alignToGrid", 221, 0}, {"objectInfo", 219, 0},
};

// The on-screen texts; the kind says what value a text shows (0: none, 'f', 'd' or 'c'; 'p' an
// object's place: six reals, then the scale as a whole number).
enum M {
    mSnapOn, mSnapOff, mGroundOn, mGroundOff, mWorkshopOn, mWorkshopOff, mFreezeOn, mFreezeOff,
    mFreeplotOn, mFreeplotOff, mRotateStep, mMoveStep, mScaleStep, mAxis, mScale, mOutlineOn,
    mOutlineOff, mClampedOn, mClampedOff, mLockOn, mLockOff, mExtraOn, mExtraOff, mPhysicsOn,
    mPhysicsOff, mTimescaleOn, mTimescaleOff, mReloaded, mRefused, mWarnings, mObjectInfo, kMessages
};
struct Text {
    const char* key;
    const char* text;
    char kind;
};
inline constexpr Text kTexts[kMessages] = {
    {"snapOn", "Object snap on", 0}, {"snapOff", "Object snap off", 0},
    {"groundOn", "Surface snap on", 0}, {"groundOff", "Surface snap off", 0},
    {"workshopOn", "Workshop grid snap on", 0}, {"workshopOff", "Workshop grid snap off", 0},
    {"freezeOn", "Workshop timeout off", 0}, {"freezeOff", "Workshop timeout on", 0},
    {"freeplotOn", "Freeplot mode on", 0}, {"freeplotOff", "Freeplot mode off", 0},
    {"rotateStepChange", "Rotation step changed to %0.1f", 'f'},
    {"moveStepChange", "Movement step changed to %0.1f", 'f'},
    {"scaleStepChange", "Scale step changed to %d%%", 'd'},
    {"axisChange", "Axis changed to %c", 'c'}, {"scaleChange", "Scale set to %d%%", 'd'},
    {"outlineOn", "Object outline on", 0}, {"outlineOff", "Object outline off", 0},
    {"clampedStoreOn", "Clamped objects storing enabled", 0},
    {"clampedStoreOff", "Clamped objects storing disabled", 0},
    {"lockObjectOn", "Object locked", 0}, {"lockObjectOff", "Object unlocked", 0},
    {"extraOutlineOn", "Extra object selection enabled", 0},
    {"extraOutlineOff", "Extra object selection disabled", 0},
    {"physicsOn", "Object physics on", 0}, {"physicsOff", "Object physics off", 0},
    {"timescaleOn", "Timescale changed", 0}, {"timescaleOff", "Timescale set to normal", 0},
    {"settingsReloaded", "Freeplot settings read again", 0},
    {"settingsRefused", "Freeplot settings not taken: see freeplot_settings.txt beside the log", 0},
    {"settingsWarnings", "Freeplot settings have warnings: see freeplot_settings.txt beside the log", 0},
    {"objectInfo", "Position %.1f %.1f %.1f, angles %.1f %.1f %.1f, scale %d%%", 'p'},
};
// clang-format on


// --- The settings in force -----------------------------------------------------------------------

template <class T>
struct Steps {
    std::vector<T> values;
    int index = 2;
    T now() const { return values[static_cast<std::size_t>(index)]; }
    T step(int d) {
        index += d;
        if (index >= static_cast<int>(values.size())) index = 0;
        if (index < 0) index = static_cast<int>(values.size()) - 1;
        return now();
    }
};

struct Settings {
    std::uint16_t primary[kActions], alternate[kActions];
    bool wheelRotation = false, deleteEnabled = false, duplicateEnabled = false;
    bool autoTimescale = false;
    float buildTimescale = 0.01f;
    int togglable = 0;
    bool snapDisabled = false, groundDisabled = false, timeoutFrozen = false,
         outlineDisabled = false, extraOutlineEnabled = false;
    Steps<double> rotate{{0.1, 0.5, 1, 5, 15, 45, 90}};
    Steps<double> move{{0.1, 0.5, 1, 5, 10, 50, 100}};
    Steps<int> scale{{1, 5, 10, 25, 50}};

    Settings() : texts_(defaultTexts()) {
        for (int a = 0; a < kActions; ++a) {
            primary[a] = kKeys[a].primary;
            alternate[a] = kKeys[a].alternate;
        }
    }
    bool bound(int action, std::uint16_t code) const {
        return code != 0 && (primary[action] == code || alternate[action] == code);
    }
    const std::string& text(int message) const {
        // Settings moved from keep no texts of their own: they read as the defaults.
        return (texts_ ? *texts_ : *defaultTexts())[static_cast<std::size_t>(message)];
    }
    void setText(int message, const std::string& text) {
        auto texts = std::make_shared<Texts>(texts_ ? *texts_ : *defaultTexts());
        (*texts)[static_cast<std::size_t>(message)] = text;
        texts_ = std::move(texts);
    }

private:
    // The messages' texts, shared by the copies of these settings until one of them changes a
    // text: the model copies its states by the thousand, and a file rarely changes a message.
    using Texts = std::array<std::string, kMessages>;
    static std::shared_ptr<const Texts> defaultTexts() {
        static const std::shared_ptr<const Texts> defaults = [] {
            auto texts = std::make_shared<Texts>();
            for (int m = 0; m < kMessages; ++m) (*texts)[static_cast<std::size_t>(m)] = kTexts[m].text;
            return texts;
        }();
        return defaults;
    }
    std::shared_ptr<const Texts> texts_;
};

// What the plugin makes of a file's bytes: it reads them, or leaves the file alone as larger than
// 4 MiB or saved as UTF-16 (the settings in force stay, or at the game's start the defaults).
enum class FileShape : char { text, tooLarge, utf16 };
FileShape shapeOf(const std::string& bytes);

// A reading of a file's bytes, from the defaults up: the settings it gives and whether the report
// finds anything in it (a line or value refused, ignored or warned of; notes do not count).
// `started`, for a file read while the game runs: the settings as the game started, whose
// togglable and start states stay in force, and of which the report warns when the file changes
// one. Bytes that are not read (shapeOf) give every default.
struct Reading {
    Settings s;
    bool findings = false;
};
Reading readSettings(const std::string& bytes, const Settings* started = nullptr);

// A text shown with its value (kind 0: as it is; 'f' a double; 'd' or 'c' an int).
std::string format(const std::string& text, char kind, double value);
// A text of kind 'p' shown with an object's position, angles (degrees) and scale.
std::string formatPlace(const std::string& text, const double (&position)[3],
                        const double (&angles)[3], int scale);

}  // namespace sim
