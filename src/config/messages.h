#pragma once
// The notification texts: 32 built-in texts, 31 of which the [messages] section may reword,
// and the one buffer that formatted texts are written into.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace freeplot {

// In the order of the [messages] keys; stateStored has no key.
enum class Msg : std::uint8_t {
    snapOn,
    snapOff,
    groundOn,
    groundOff,
    workshopOn,
    workshopOff,
    freezeOn,
    freezeOff,
    freeplotOn,
    freeplotOff,
    rotateStepChange,
    moveStepChange,
    scaleStepChange,
    axisChange,
    scaleChange,
    outlineOn,
    outlineOff,
    clampedStoreOn,
    clampedStoreOff,
    lockObjectOn,
    lockObjectOff,
    extraOutlineOn,
    extraOutlineOff,
    physicsOn,
    physicsOff,
    timescaleOn,
    timescaleOff,
    settingsReloaded,
    settingsRefused,
    settingsWarnings,
    objectInfo,
    stateStored,
    count
};
inline constexpr std::size_t kMessageCount = static_cast<std::size_t>(Msg::count);
inline constexpr std::size_t kMessageKeyCount = kMessageCount - 1;  // all but stateStored
static_assert(kMessageCount == 32);

// The value a text is formatted with.
enum class FormatArg : std::uint8_t {
    none,     // shown as it is
    real,     // a double (rotate and move steps)
    integer,  // an int shown as a number (scale step, scale)
    letter,   // an int holding a letter (the axis)
    placement,  // an object's place: six doubles (position, angles in degrees), then an int
                // (its scale in per cent), all seven in that order
};

struct MessageInfo {
    const char* key;
    const char* defaultText;
    FormatArg arg;
};

inline constexpr std::array<MessageInfo, kMessageCount> kMessages = {{
    {"snapOn", "Object snap on", FormatArg::none},
    {"snapOff", "Object snap off", FormatArg::none},
    {"groundOn", "Surface snap on", FormatArg::none},
    {"groundOff", "Surface snap off", FormatArg::none},
    {"workshopOn", "Workshop grid snap on", FormatArg::none},
    {"workshopOff", "Workshop grid snap off", FormatArg::none},
    // Freezing the workshop timeout switches the timeout off.
    {"freezeOn", "Workshop timeout off", FormatArg::none},
    {"freezeOff", "Workshop timeout on", FormatArg::none},
    {"freeplotOn", "Freeplot mode on", FormatArg::none},
    {"freeplotOff", "Freeplot mode off", FormatArg::none},
    {"rotateStepChange", "Rotation step changed to %0.1f", FormatArg::real},
    {"moveStepChange", "Movement step changed to %0.1f", FormatArg::real},
    {"scaleStepChange", "Scale step changed to %d%%", FormatArg::integer},
    {"axisChange", "Axis changed to %c", FormatArg::letter},
    {"scaleChange", "Scale set to %d%%", FormatArg::integer},
    {"outlineOn", "Object outline on", FormatArg::none},
    {"outlineOff", "Object outline off", FormatArg::none},
    {"clampedStoreOn", "Clamped objects storing enabled", FormatArg::none},
    {"clampedStoreOff", "Clamped objects storing disabled", FormatArg::none},
    {"lockObjectOn", "Object locked", FormatArg::none},
    {"lockObjectOff", "Object unlocked", FormatArg::none},
    {"extraOutlineOn", "Extra object selection enabled", FormatArg::none},
    {"extraOutlineOff", "Extra object selection disabled", FormatArg::none},
    {"physicsOn", "Object physics on", FormatArg::none},
    {"physicsOff", "Object physics off", FormatArg::none},
    {"timescaleOn", "Timescale changed", FormatArg::none},
    {"timescaleOff", "Timescale set to normal", FormatArg::none},
    // Shown when workshop mode starts: the changed settings file was taken, or it was not.
    {"settingsReloaded", "Freeplot settings read again", FormatArg::none},
    {"settingsRefused", "Freeplot settings not taken: see freeplot_settings.txt beside the log",
     FormatArg::none},
    // Shown after settingsReloaded when the file read holds lines not taken as written.
    {"settingsWarnings", "Freeplot settings have warnings: see freeplot_settings.txt beside the log",
     FormatArg::none},
    // The selected object's place, shown by the objectInfo key.
    {"objectInfo", "Position %.1f %.1f %.1f, angles %.1f %.1f %.1f, scale %d%%",
     FormatArg::placement},
    {"stateStored", "Object parameters stored", FormatArg::none},
}};

// The section of the settings file that rewords the messages.
inline constexpr const char* kMessagesSection = "messages";

inline const MessageInfo& messageInfo(Msg msg) { return kMessages[static_cast<std::size_t>(msg)]; }

// The current text of a message, NUL-terminated, valid for the rest of the process.
const char* messageText(Msg msg);

inline constexpr std::size_t kMessageBufferSize = 1024;

// One formatted text (cut to 1023 characters). Each use formats into a buffer of its own, so a
// worker and the input thread never write into the same bytes.
struct FormattedText {
    char text[kMessageBufferSize];
    const char* c_str() const { return text; }
};

// What keeps a text from being handed to printf with its one value.
enum class FormatFaultKind : std::uint8_t {
    none,              // the text fits
    lonePercent,       // a "%" that starts no complete conversion (at the end of the text)
    wrongConversion,   // a conversion that cannot take the value (%s, %f for an int, ...)
    spoiltConversion,  // a fitting conversion spoilt by a modifier, flag, * or n$
    tooWide,           // a width or precision beyond what a message can hold
    secondConversion,  // a further conversion: the message has one value (or seven)
    missingConversion, // fewer conversions than the seven values of an object's place
};

// Why a text does not fit, and where: `offset` and `length` cover the conversion at fault, from
// its "%" to its conversion character (or the end of the text).
struct FormatFault {
    FormatFaultKind kind = FormatFaultKind::none;
    const char* reason = nullptr;  // null when the text fits
    std::size_t offset = 0;
    std::size_t length = 0;
};

// Whether `text` may be handed to printf with one value of kind `arg`. A text fits when it
// holds exactly one conversion for that value, or none at all ("%%" is a literal per cent sign
// and no conversion); an object's place takes exactly seven, six for doubles and one for an int. For a double: f F e E g G a A; for an int: d i u x X o, which print the
// whole value, and c as well where the int holds a letter. Flags, a digit width and a digit
// precision are allowed where C defines them for the conversion, and "l" before a double
// conversion (it changes nothing). Anything else is refused: %n, %s, %p, * widths, positional
// arguments, length modifiers (h and hh show only part of an int), a second conversion, a lone
// "%" at the end. For FormatArg::none any conversion at all is refused.
FormatFault findFormatFault(const char* text, FormatArg arg);

// Why `text` must not be handed to printf with one value of kind `arg` (findFormatFault's
// reason), or null when it may.
const char* formatProblem(const char* text, FormatArg arg);

// Formats a message with its value: the double form for rotateStepChange and moveStepChange,
// the int form for scaleStepChange, axisChange and scaleChange. Any other pairing, or a text that
// does not fit its value, is copied without formatting.
FormattedText formatMessage(Msg msg, double value);
FormattedText formatMessage(Msg msg, int value);

// Formats a text already known to fit its value (formatProblem gave null) into `buffer` of
// kMessageBufferSize bytes; returns snprintf's result. An object's place takes `real` for each of
// its six doubles.
int formatChecked(char* buffer, const char* text, FormatArg arg, double real, int integer);

// The objectInfo message for an object's place: position, angles in degrees, scale in per cent.
FormattedText formatPlacement(const double position[3], const double angles[3], int scale);

// Puts a text read from the file in force.
void setMessageText(Msg msg, const std::string& text);

// Every text back to its default.
void restoreDefaultMessages();

}  // namespace freeplot
