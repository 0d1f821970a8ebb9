#pragma once
// The game's records that the plugin reads or writes, with their layouts pinned: a field at the
// wrong offset fails the build, not the game. Fields that the game may change on another thread
// are read and written through relaxed atomic accesses.

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace freeplot {

// Form type of actors; turrets are actors too (see isTurret).
inline constexpr std::uint8_t kActorFormType = 0x41;

namespace detail {
template <class T>
T loadRelaxed(const T& field) {
    return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_relaxed);
}
template <class T>
void storeRelaxed(T& field, T value) {
    std::atomic_ref<T>(field).store(value, std::memory_order_relaxed);
}
}  // namespace detail

// What a base form's name is reached through: a chain of nodes, each flagged kNameLinkFlag while
// the name goes on in the next one; the last node's characters (NUL-terminated) follow its head.
struct NameNode {
    std::uint8_t unknown00[0x08];
    std::uint32_t flags;
    std::uint8_t unknown0C[0x04];
    const NameNode* next;

    const char* text() const { return reinterpret_cast<const char*>(this + 1); }
};
static_assert(offsetof(NameNode, flags) == 0x08);
static_assert(offsetof(NameNode, next) == 0x10);
static_assert(sizeof(NameNode) == 0x18);  // where the text starts
inline constexpr std::uint32_t kNameLinkFlag = 0x4000;

struct FormName {
    std::uint8_t unknown00[0x28];
    const NameNode* first;
};
static_assert(offsetof(FormName, first) == 0x28);

// What a reference is an instance of, as far as its name.
struct BaseForm {
    std::uint8_t unknown000[0x1B8];
    const FormName* name;
};
static_assert(offsetof(BaseForm, name) == 0x1B8);

// A game object placed in the world (a "reference"), as far as the plugin uses it.
struct GameReference {
    std::uint8_t unknown00[0x10];
    std::uint32_t flags;
    std::uint8_t unknown14[0x06];
    std::uint8_t formType;
    std::uint8_t unknown1B[0xA5];
    float rotation[3];  // about X, Y, Z, in radians
    std::uint8_t unknownCC[0x04];
    float position[3];
    std::uint8_t unknownDC[0x04];
    const BaseForm* baseForm;
    std::uint8_t unknownE8[0x20];
    std::uint16_t scalePercent;  // 100 is natural size

    float pos(int axis) const { return detail::loadRelaxed(position[axis]); }
    float rot(int axis) const { return detail::loadRelaxed(rotation[axis]); }
    std::uint16_t scale() const { return detail::loadRelaxed(scalePercent); }
    std::uint8_t type() const { return detail::loadRelaxed(formType); }
    bool isActor() const { return type() == kActorFormType; }
    void setFlagBits(std::uint32_t bits) {
        std::atomic_ref<std::uint32_t>(flags).fetch_or(bits, std::memory_order_relaxed);
    }
};
static_assert(offsetof(GameReference, flags) == 0x10);
static_assert(offsetof(GameReference, formType) == 0x1A);
static_assert(offsetof(GameReference, rotation) == 0xC0);
static_assert(offsetof(GameReference, position) == 0xD0);
static_assert(offsetof(GameReference, baseForm) == 0xE0);
static_assert(offsetof(GameReference, scalePercent) == 0x108);

// The flag bit applyScale sets once the game has taken a rescaled reference.
inline constexpr std::uint32_t kRefFlagRescaled = 0x8000000;

// The raw-input records (RAWINPUT) the game's input processing hands the hooks: the 24-byte
// header, then the keyboard or the mouse part.
struct RawInputHeader {
    std::uint32_t type;
    std::uint32_t size;
    std::uint64_t device;
    std::uint64_t wParam;
};
static_assert(sizeof(RawInputHeader) == 24);

struct RawKeyboard {
    RawInputHeader header;
    std::uint16_t makeCode;  // scan code
    std::uint16_t flags;     // kKeyBreak, kKeyE0
    std::uint16_t reserved;
    std::uint16_t vkey;  // virtual-key code
    std::uint32_t message;
    std::uint32_t extraInformation;
};
static_assert(offsetof(RawKeyboard, makeCode) == 0x18);
static_assert(offsetof(RawKeyboard, flags) == 0x1A);
static_assert(offsetof(RawKeyboard, vkey) == 0x1E);
inline constexpr std::uint16_t kKeyBreak = 0x01;  // the key was released
inline constexpr std::uint16_t kKeyE0 = 0x02;     // right-hand Ctrl and Alt

struct RawMouse {
    RawInputHeader header;
    std::uint16_t flags;
    std::uint16_t padding;
    std::uint16_t buttonFlags;
    std::uint16_t buttonData;  // signed wheel movement, 120 per notch
    std::uint32_t rawButtons;
    std::int32_t lastX;
    std::int32_t lastY;
    std::uint32_t extraInformation;
};
static_assert(offsetof(RawMouse, buttonFlags) == 0x1C);
static_assert(offsetof(RawMouse, buttonData) == 0x1E);
inline constexpr std::uint16_t kLeftButtonDown = 0x0001;
inline constexpr std::uint16_t kLeftButtonUp = 0x0002;
inline constexpr std::uint16_t kRightButtonDown = 0x0004;
inline constexpr std::uint16_t kRightButtonUp = 0x0008;
inline constexpr std::uint16_t kMouseWheel = 0x0400;
inline constexpr int kWheelDelta = 120;

// The game clock's multiplier, reached from the time manager.
struct GameClock {
    std::uint8_t unknown00[0x30];
    float multiplier;
};
static_assert(offsetof(GameClock, multiplier) == 0x30);
struct TimeManager {
    std::uint8_t unknown00[0x30];
    GameClock* clock;
};
static_assert(offsetof(TimeManager, clock) == 0x30);

// One entry of the game's console command table (80 bytes).
struct ConsoleCommandRecord {
    const char* longName;
    const char* shortName;
    std::uint32_t number;
    std::uint32_t unknown14;
    const char* helpText;
    std::uint8_t needsReference;
    std::uint8_t unknown21;
    std::uint16_t parameterCount;
    std::uint32_t unknown24;
    void* parameters;
    void* execute;
    void* unknown38;
    void* unknown40;
    std::uint32_t flags;
    std::uint32_t unknown4C;
};
static_assert(sizeof(ConsoleCommandRecord) == 80);
static_assert(offsetof(ConsoleCommandRecord, shortName) == 8);
static_assert(offsetof(ConsoleCommandRecord, number) == 16);
static_assert(offsetof(ConsoleCommandRecord, helpText) == 24);
static_assert(offsetof(ConsoleCommandRecord, needsReference) == 32);
static_assert(offsetof(ConsoleCommandRecord, parameterCount) == 34);
static_assert(offsetof(ConsoleCommandRecord, parameters) == 40);
static_assert(offsetof(ConsoleCommandRecord, execute) == 48);
static_assert(offsetof(ConsoleCommandRecord, flags) == 72);

// What the physics switch of the game is handed.
struct PhysicsRequest {
    std::uint64_t zero = 0;
    std::uint64_t one = 1;
    std::uint32_t handle = 0;  // the selected reference's handle
    std::uint32_t motion = 0;  // 1 physics on, 2 physics off
    std::uint64_t zero2 = 0;
    std::uint32_t one2 = 1;
};
static_assert(offsetof(PhysicsRequest, one) == 8);
static_assert(offsetof(PhysicsRequest, handle) == 16);
static_assert(offsetof(PhysicsRequest, motion) == 20);
static_assert(offsetof(PhysicsRequest, zero2) == 24);
static_assert(offsetof(PhysicsRequest, one2) == 32);

}  // namespace freeplot
