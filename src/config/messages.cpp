#include "config/messages.h"

#include <cstdio>
#include <cstring>
#include <string>


namespace freeplot {

namespace {

// Texts read from the file live in `overrides`; `inForce` points at the text in force.
std::array<std::string, kMessageCount> overrides;

constinit std::array<const char*, kMessageCount> inForce = [] {
    std::array<const char*, kMessageCount> texts{};
    for (std::size_t i = 0; i < kMessageCount; ++i) texts[i] = kMessages[i].defaultText;
    return texts;
}();

// A width or precision above this cannot fit the buffer; it is refused before formatting
// (which also keeps the runtime from padding to billions of characters).
constexpr unsigned kMaxFieldWidth = kMessageBufferSize - 1;

// Reads a run of digits; false when its value exceeds kMaxFieldWidth.
bool readDigits(const char*& p) {
    unsigned value = 0;
    while (*p >= '0' && *p <= '9') {
        value = value * 10 + static_cast<unsigned>(*p - '0');
        if (value > kMaxFieldWidth) return false;
        ++p;
    }
    return true;
}

bool isOneOf(char c, const char* set) { return c != '\0' && std::strchr(set, c) != nullptr; }

// The length of the conversion that starts at `percent`: flags, width, precision, length
// modifiers and the conversion character, as far as the text goes.
std::size_t conversionLength(const char* percent) {
    const char* p = percent + 1;
    while (isOneOf(*p, "-+ #0123456789.*$'hlLqjztIw")) ++p;
    if (*p != '\0') ++p;
    return static_cast<std::size_t>(p - percent);
}

FormattedText formatWith(Msg msg, FormatArg valueKind, double real, int integer) {
    FormattedText out;
    const MessageInfo& info = messageInfo(msg);
    const char* text = messageText(msg);
    const bool fitsValue =
        info.arg == valueKind || (info.arg == FormatArg::letter && valueKind == FormatArg::integer);
    if (info.arg != FormatArg::none && fitsValue && formatProblem(text, info.arg) == nullptr) {
        formatChecked(out.text, text, info.arg, real, integer);
    } else {
        std::snprintf(out.text, kMessageBufferSize, "%s", text);
    }
    return out;
}

}  // namespace

int formatChecked(char* buffer, const char* text, FormatArg arg, double real, int integer) {
    if (arg == FormatArg::placement)
        return std::snprintf(buffer, kMessageBufferSize, text, real, real, real, real, real, real,
                             integer);
    return arg == FormatArg::real ? std::snprintf(buffer, kMessageBufferSize, text, real)
                                  : std::snprintf(buffer, kMessageBufferSize, text, integer);
}

FormattedText formatPlacement(const double position[3], const double angles[3], int scale) {
    FormattedText out;
    const char* text = messageText(Msg::objectInfo);
    if (formatProblem(text, FormatArg::placement) == nullptr)
        std::snprintf(out.text, kMessageBufferSize, text, position[0], position[1], position[2],
                      angles[0], angles[1], angles[2], scale);
    else
        std::snprintf(out.text, kMessageBufferSize, "%s", text);
    return out;
}

namespace {

// The kind of value the conversion numbered `index` (from 0) of a text for `arg` takes.
FormatArg valueAt(FormatArg arg, int index) {
    if (arg != FormatArg::placement) return arg;
    return index < 6 ? FormatArg::real : FormatArg::integer;
}

}  // namespace

FormatFault findFormatFault(const char* text, FormatArg whole) {
    const int allowed = whole == FormatArg::placement ? 7 : 1;
    int conversions = 0;
    for (const char* p = text; *p; ++p) {
        const FormatArg arg = valueAt(whole, conversions);
        if (*p != '%') continue;
        const char* const start = p;
        ++p;
        if (*p == '%') continue;  // literal per cent sign
        auto fault = [&](FormatFaultKind kind, const char* reason) {
            return FormatFault{kind, reason, static_cast<std::size_t>(start - text),
                               conversionLength(start)};
        };
        if (*p == '\0') return fault(FormatFaultKind::lonePercent, "a lone % ends the text");

        bool alternate = false, zero = false, sign = false;
        while (isOneOf(*p, "-+ #0")) {
            alternate |= *p == '#';
            zero |= *p == '0';
            sign |= *p == '+' || *p == ' ';
            ++p;
        }
        if (*p == '*')
            return fault(FormatFaultKind::spoiltConversion, "a * width takes an extra argument");
        if (!readDigits(p))
            return fault(FormatFaultKind::tooWide,
                         "a width beyond the 1023 characters a message can hold");
        if (*p == '$') return fault(FormatFaultKind::spoiltConversion, "a positional argument");
        bool precision = false;
        if (*p == '.') {
            ++p;
            precision = true;
            if (*p == '*')
                return fault(FormatFaultKind::spoiltConversion,
                             "a * precision takes an extra argument");
            if (!readDigits(p))
                return fault(FormatFaultKind::tooWide,
                             "a precision beyond the 1023 characters a message can hold");
        }
        int shorts = 0;
        bool longFlag = false;
        while (*p == 'h' && shorts < 2) ++shorts, ++p;
        if (shorts == 0 && *p == 'l') longFlag = true, ++p;
        const char conversion = *p;
        if (conversion == '\0')
            return fault(FormatFaultKind::lonePercent, "a conversion is cut off at the end");

        if (isOneOf(conversion, "fFeEgGaA")) {
            if (arg != FormatArg::real)
                return fault(FormatFaultKind::wrongConversion,
                             "a floating-point conversion where an int is formatted");
            if (shorts)
                return fault(FormatFaultKind::spoiltConversion,
                             "a length modifier that changes the argument's type");
        } else if (isOneOf(conversion, "diuxXoc")) {
            if (arg == FormatArg::real)
                return fault(FormatFaultKind::wrongConversion,
                             "an int conversion where a double is formatted");
            if (arg == FormatArg::integer && conversion == 'c')
                return fault(FormatFaultKind::wrongConversion,
                             "a character conversion where a number is formatted");
            // A scale step may be negative: an unsigned conversion would show it as a huge number.
            if (arg == FormatArg::integer && isOneOf(conversion, "uxXo"))
                return fault(FormatFaultKind::wrongConversion,
                             "an unsigned conversion, which shows a negative number as a huge one");
            if (longFlag)
                return fault(FormatFaultKind::spoiltConversion,
                             "a length modifier that changes the argument's type");
            if (shorts && conversion != 'c')
                return fault(FormatFaultKind::spoiltConversion,
                             "a length modifier that shows only part of the value");
            if (conversion == 'c' && (shorts || zero || sign || alternate || precision))
                return fault(FormatFaultKind::spoiltConversion,
                             "flags, precision or length with %c");
            if (alternate && !isOneOf(conversion, "oxX"))
                return fault(FormatFaultKind::spoiltConversion,
                             "the # flag with a decimal conversion");
        } else if (isOneOf(conversion, "hlLqjztIw")) {
            return fault(FormatFaultKind::spoiltConversion,
                         "a length modifier that changes the argument's type");
        } else if (isOneOf(conversion, "sS")) {
            return fault(FormatFaultKind::wrongConversion,
                         "a string conversion, which cannot take the message's value");
        } else if (conversion == 'p') {
            return fault(FormatFaultKind::wrongConversion,
                         "a pointer conversion, which cannot take the message's value");
        } else if (conversion == 'n') {
            return fault(FormatFaultKind::wrongConversion,
                         "a %n conversion, which writes into memory instead of showing a value");
        } else {
            return fault(FormatFaultKind::wrongConversion,
                         "a conversion that does not take the message's value");
        }
        if (arg == FormatArg::none)
            return fault(FormatFaultKind::wrongConversion,
                         "a conversion in a text that takes no value");
        if (++conversions > allowed)
            return fault(FormatFaultKind::secondConversion, allowed == 1
                                                                 ? "more than one conversion"
                                                                 : "more than seven conversions");
    }
    if (whole == FormatArg::placement && conversions < allowed)
        return {FormatFaultKind::missingConversion,
                "fewer than seven conversions (six numbers for the position and the angles, then "
                "one for the scale)",
                std::strlen(text), 0};
    return {};
}

const char* formatProblem(const char* text, FormatArg arg) {
    return findFormatFault(text, arg).reason;
}

const char* messageText(Msg msg) { return inForce[static_cast<std::size_t>(msg)]; }

void setMessageText(Msg msg, const std::string& text) {
    const auto i = static_cast<std::size_t>(msg);
    if (text == kMessages[i].defaultText) {
        inForce[i] = kMessages[i].defaultText;
        return;
    }
    overrides[i] = text;
    inForce[i] = overrides[i].c_str();
}

FormattedText formatMessage(Msg msg, double value) {
    return formatWith(msg, FormatArg::real, value, 0);
}

FormattedText formatMessage(Msg msg, int value) {
    return formatWith(msg, FormatArg::integer, 0.0, value);
}

void restoreDefaultMessages() {
    for (std::size_t i = 0; i < kMessageCount; ++i) {
        overrides[i].clear();
        inForce[i] = kMessages[i].defaultText;
    }
}

}  // namespace freeplot
