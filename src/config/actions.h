#pragma once
// The 47 actions a key can be bound to, their default keys, and the key bindings in force.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace freeplot {

// Windows virtual-key codes; alternate is 0 unless the binding was given as a generic
// Shift, Ctrl or Alt code, which binds both the left and the right key.
struct KeyBinding {
    std::uint16_t primary;
    std::uint16_t alternate;
    friend constexpr bool operator==(const KeyBinding&, const KeyBinding&) = default;
};

// The 47 actions: name (the key of [keys]), default key code and alternate, in the order of the
// binding table. The enum, the names and the defaults all come from this one table.
// clang-format off
#define FREEPLOT_ACTIONS(X)                                                       \
    X(main, 119, 0)                /* F8: freeplot mode on/off */                 \
    X(snap, 112, 0)                /* F1: object snap */                          \
    X(ground, 113, 0)              /* F2: surface snap */                         \
    X(workshopSnap, 114, 0)        /* F3: workshop grid snap */                   \
    X(timeoutFreeze, 116, 0)       /* F5: workshop timeout */                     \
    X(resetAngles, 96, 0)          /* numpad 0: level the object */               \
    X(removeTremor, 101, 0)        /* numpad 5: rewrite its X angle */            \
    X(rotateStepMinus, 109, 0)     /* numpad -: previous rotate step */           \
    X(rotateStepPlus, 107, 0)      /* numpad +: next rotate step */               \
    X(changeRotateAxis, 162, 163)  /* left / right Ctrl: next rotation axis */    \
    X(outlineToggle, 115, 0)       /* F4: object outline */                       \
    X(moveDown, 98, 0)             /* numpad 2 */                                 \
    X(moveUp, 104, 0)              /* numpad 8 */                                 \
    X(moveLeft, 100, 0)            /* numpad 4 */                                 \
    X(moveRight, 102, 0)           /* numpad 6 */                                 \
    X(moveBack, 103, 0)            /* numpad 7 */                                 \
    X(moveForth, 105, 0)           /* numpad 9 */                                 \
    X(moveStepMinus, 111, 0)       /* numpad /: previous move step */             \
    X(moveStepPlus, 106, 0)        /* numpad *: next move step */                 \
    X(scaleDown, 97, 0)            /* numpad 1 */                                 \
    X(scaleUp, 99, 0)              /* numpad 3 */                                 \
    X(scaleReset, 110, 0)          /* numpad .: back to 100 % */                  \
    X(undo, 8, 0)                  /* Backspace */                                \
    X(copyState, 187, 0)           /* =: store the object's parameters */         \
    X(copyPosX, 49, 0)             /* 1 */                                        \
    X(copyPosY, 50, 0)             /* 2 */                                        \
    X(copyPosZ, 51, 0)             /* 3 */                                        \
    X(copyAngleX, 52, 0)           /* 4 */                                        \
    X(copyAngleY, 53, 0)           /* 5 */                                        \
    X(copyAngleZ, 54, 0)           /* 6 */                                        \
    X(copyScale, 55, 0)            /* 7 */                                        \
    X(copyAll, 48, 0)              /* 0 */                                        \
    X(clampedStoreToggle, 117, 0)  /* F6: storing of clamped objects */           \
    X(lockObject, 118, 0)          /* F7: lock the object */                      \
    X(extraOutlineToggle, 45, 0)   /* Insert: extra object selection */           \
    X(duplicateKey, 191, 0)        /* /: duplicate (needs duplicateEnabled) */    \
    X(deleteKey, 46, 0)            /* Delete: delete (needs deleteEnabled) */     \
    X(rotateLeft, 188, 0)          /* , */                                        \
    X(rotateRight, 190, 0)         /* . */                                        \
    X(physicsOn, 36, 0)            /* Home */                                     \
    X(physicsOff, 35, 0)           /* End */                                      \
    X(scaleStepMinus, 33, 0)       /* Page Up: next entry of the scale steps */   \
    X(scaleStepPlus, 34, 0)        /* Page Down: previous entry */                \
    X(timescaleToggle, 122, 0)     /* F11: build timescale */                     \
    X(redo, 220, 0)                /* \\: bring back what undo took back */     \
    X(alignToGrid, 221, 0)         /* ]: onto the move and rotate step grid */    \
    X(objectInfo, 219, 0)          /* [: show where the object is */
// clang-format on

enum class Action : std::uint8_t {
#define FREEPLOT_ACTION_ENUM(name, primary, alternate) name,
    FREEPLOT_ACTIONS(FREEPLOT_ACTION_ENUM)
#undef FREEPLOT_ACTION_ENUM
        count
};
inline constexpr std::size_t kActionCount = static_cast<std::size_t>(Action::count);
static_assert(kActionCount == 47);

inline constexpr std::array<const char*, kActionCount> kActionNames = {
#define FREEPLOT_ACTION_NAME(name, primary, alternate) #name,
    FREEPLOT_ACTIONS(FREEPLOT_ACTION_NAME)
#undef FREEPLOT_ACTION_NAME
};

inline constexpr std::array<KeyBinding, kActionCount> kDefaultKeyBindings = {{
#define FREEPLOT_ACTION_DEFAULT(name, primary, alternate) {primary, alternate},
    FREEPLOT_ACTIONS(FREEPLOT_ACTION_DEFAULT)
#undef FREEPLOT_ACTION_DEFAULT
}};

extern std::array<KeyBinding, kActionCount> keyBindings;

// The section of the settings file that binds the actions to keys.
inline constexpr const char* kKeysSection = "keys";

// The number of the action named so (exactly, in case), or kActionCount for a name no action has.
std::size_t actionNumberOf(std::string_view name);

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

// The stored parameters an apply key writes back onto an object, one bit each.
namespace field {
inline constexpr std::uint8_t posX = 1, posY = 2, posZ = 4, angleX = 8, angleY = 16, angleZ = 32,
                              scale = 64;
inline constexpr std::uint8_t positions = posX | posY | posZ, angles = angleX | angleY | angleZ;
inline constexpr std::uint8_t all = positions | angles | scale;
}  // namespace field

// What an action means to the work its key runs, beyond which work that is.
struct ActionParams {
    // Which way it goes: a move, a turn, a scale key or a step key (-1 or +1); 0 for a scale
    // reset and for actions without a direction.
    std::int8_t direction = 0;
    // The axis a move goes along: 'Z' up and down, 'X' sideways, 'Y' back and forth.
    char axis = 0;
    // The stored parameters an apply key writes back.
    std::uint8_t fields = 0;
};

constexpr ActionParams paramsOf(Action action) {
    switch (action) {
        case Action::moveDown:
            return {-1, 'Z'};
        case Action::moveUp:
            return {+1, 'Z'};
        case Action::moveLeft:
            return {-1, 'X'};
        case Action::moveRight:
            return {+1, 'X'};
        case Action::moveBack:
            return {-1, 'Y'};
        case Action::moveForth:
            return {+1, 'Y'};
        case Action::rotateLeft:
            return {-1};
        case Action::rotateRight:
            return {+1};
        case Action::scaleDown:
            return {-1};
        case Action::scaleUp:
            return {+1};
        case Action::scaleReset:
            return {0};
        case Action::rotateStepMinus:
            return {-1};
        case Action::rotateStepPlus:
            return {+1};
        case Action::moveStepMinus:
            return {-1};
        case Action::moveStepPlus:
            return {+1};
        // The scale steps are listed ascending, so "minus" (a bigger step) is the next entry.
        case Action::scaleStepPlus:
            return {-1};
        case Action::scaleStepMinus:
            return {+1};
        case Action::physicsOff:
            return {-1};
        case Action::physicsOn:
            return {+1};
        case Action::copyPosX:
            return {0, 0, field::posX};
        case Action::copyPosY:
            return {0, 0, field::posY};
        case Action::copyPosZ:
            return {0, 0, field::posZ};
        case Action::copyAngleX:
            return {0, 0, field::angleX};
        case Action::copyAngleY:
            return {0, 0, field::angleY};
        case Action::copyAngleZ:
            return {0, 0, field::angleZ};
        case Action::copyScale:
            return {0, 0, field::scale};
        case Action::copyAll:
            return {0, 0, field::all};
        default:
            return {};
    }
}

// The binding for a code read from the file: generic Shift (16), Ctrl (17) and Alt (18)
// become their left and right keys, any other code stands alone.
KeyBinding bindingForCode(std::uint16_t code);

}  // namespace freeplot
