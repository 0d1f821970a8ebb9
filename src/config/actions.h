#pragma once
// The 44 actions a key can be bound to, their default keys, and the key bindings in force.

#include <array>
#include <cstddef>
#include <cstdint>

namespace freeplot {

// Windows virtual-key codes; alternate is 0 unless the binding was given as a generic
// Shift, Ctrl or Alt code, which binds both the left and the right key.
struct KeyBinding {
    std::uint16_t primary;
    std::uint16_t alternate;
    friend constexpr bool operator==(const KeyBinding&, const KeyBinding&) = default;
};

// The 44 actions: name (the key of [keys]), default key code and alternate, in the order of the
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
    X(timescaleToggle, 122, 0)     /* F11: build timescale */
// clang-format on

enum class Action : std::uint8_t {
#define FREEPLOT_ACTION_ENUM(name, primary, alternate) name,
    FREEPLOT_ACTIONS(FREEPLOT_ACTION_ENUM)
#undef FREEPLOT_ACTION_ENUM
        count
};
inline constexpr std::size_t kActionCount = static_cast<std::size_t>(Action::count);
static_assert(kActionCount == 44);

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

}  // namespace freeplot
