#include "config/keynames.h"

#include <array>
#include <cctype>
#include <unordered_map>

namespace freeplot {
namespace {

struct NamedKey {
    std::uint8_t code;
    const char* name;
};

// Codes with a fixed meaning; letters, digits, numpad digits and function keys are
// computed below.
constexpr NamedKey kNamed[] = {
    {0x01, "Left mouse button"},
    {0x02, "Right mouse button"},
    {0x03, "Control-break"},
    {0x04, "Middle mouse button"},
    {0x05, "Mouse button 4"},
    {0x06, "Mouse button 5"},
    {0x08, "Backspace"},
    {0x09, "Tab"},
    {0x0C, "Clear"},
    {0x0D, "Enter"},
    {0x10, "Shift"},
    {0x11, "Ctrl"},
    {0x12, "Alt"},
    {0x13, "Pause"},
    {0x14, "Caps Lock"},
    {0x15, "IME Kana/Hangul"},
    {0x16, "IME On"},
    {0x17, "IME Junja"},
    {0x18, "IME Final"},
    {0x19, "IME Hanja/Kanji"},
    {0x1A, "IME Off"},
    {0x1B, "Esc"},
    {0x1C, "IME Convert"},
    {0x1D, "IME Nonconvert"},
    {0x1E, "IME Accept"},
    {0x1F, "IME Mode change"},
    {0x20, "Space"},
    {0x21, "Page Up"},
    {0x22, "Page Down"},
    {0x23, "End"},
    {0x24, "Home"},
    {0x25, "Left arrow"},
    {0x26, "Up arrow"},
    {0x27, "Right arrow"},
    {0x28, "Down arrow"},
    {0x29, "Select"},
    {0x2A, "Print"},
    {0x2B, "Execute"},
    {0x2C, "Print Screen"},
    {0x2D, "Insert"},
    {0x2E, "Delete"},
    {0x2F, "Help"},
    {0x5B, "Left Windows"},
    {0x5C, "Right Windows"},
    {0x5D, "Menu"},
    {0x5F, "Sleep"},
    {0x6A, "Numpad *"},
    {0x6B, "Numpad +"},
    {0x6C, "Numpad separator"},
    {0x6D, "Numpad -"},
    {0x6E, "Numpad ."},
    {0x6F, "Numpad /"},
    {0x90, "Num Lock"},
    {0x91, "Scroll Lock"},
    {0xA0, "Left Shift"},
    {0xA1, "Right Shift"},
    {0xA2, "Left Ctrl"},
    {0xA3, "Right Ctrl"},
    {0xA4, "Left Alt"},
    {0xA5, "Right Alt"},
    {0xA6, "Browser Back"},
    {0xA7, "Browser Forward"},
    {0xA8, "Browser Refresh"},
    {0xA9, "Browser Stop"},
    {0xAA, "Browser Search"},
    {0xAB, "Browser Favorites"},
    {0xAC, "Browser Home"},
    {0xAD, "Volume Mute"},
    {0xAE, "Volume Down"},
    {0xAF, "Volume Up"},
    {0xB0, "Next Track"},
    {0xB1, "Previous Track"},
    {0xB2, "Stop Media"},
    {0xB3, "Play/Pause Media"},
    {0xB4, "Start Mail"},
    {0xB5, "Select Media"},
    {0xB6, "Start Application 1"},
    {0xB7, "Start Application 2"},
    // Not "; key": after "= " in the settings file a ";" starts a comment, and the name as
    // printed must bind the key.
    {0xBA, "Semicolon key"},
    {0xBB, "= key"},
    {0xBC, ", key"},
    {0xBD, "- key"},
    {0xBE, ". key"},
    {0xBF, "/ key"},
    {0xC0, "` key"},
    {0xDB, "[ key"},
    {0xDC, "\\ key"},
    {0xDD, "] key"},
    {0xDE, "' key"},
    {0xDF, "OEM 8 key"},
    {0xE2, "< > key (102-key keyboards)"},
    {0xE5, "IME Process"},
    {0xF6, "Attn"},
    {0xF7, "CrSel"},
    {0xF8, "ExSel"},
    {0xF9, "Erase EOF"},
    {0xFA, "Play"},
    {0xFB, "Zoom"},
    {0xFD, "PA1"},
    {0xFE, "OEM Clear"},
};

// Every name for codes 0..255, built once.
struct NameTable {
    std::array<std::array<char, 12>, 256> computed{};
    std::array<const char*, 256> names{};

    NameTable() {
        for (const NamedKey& key : kNamed) names[key.code] = key.name;
        auto make = [&](unsigned code, const char* prefix, unsigned number, char letter) {
            char* out = computed[code].data();
            std::size_t i = 0;
            for (; prefix[i]; ++i) out[i] = prefix[i];
            if (letter) {
                out[i++] = letter;
            } else {
                if (number >= 10) out[i++] = static_cast<char>('0' + number / 10);
                out[i++] = static_cast<char>('0' + number % 10);
            }
            out[i] = '\0';
            names[code] = out;
        };
        for (unsigned d = 0; d <= 9; ++d) make(0x30 + d, "", 0, static_cast<char>('0' + d));
        for (unsigned l = 0; l < 26; ++l) make(0x41 + l, "", 0, static_cast<char>('A' + l));
        for (unsigned d = 0; d <= 9; ++d) make(0x60 + d, "Numpad ", d, 0);
        for (unsigned f = 1; f <= 24; ++f) make(0x70 + f - 1, "F", f, 0);
    }
};

const NameTable& table() {
    static const NameTable instance;
    return instance;
}

std::string nameOrCode(std::uint32_t code) {
    const char* name = keyName(code);
    return name ? std::string(name) : "code " + std::to_string(code);
}

// A name as it is compared: lower case, without its spaces. Other white space stays: the line
// feed of a value joined from two lines ("F1" and "0") makes a text that names no key.
std::string folded(std::string_view text) {
    std::string out;
    for (const char c : text)
        if (c != ' ') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

bool sentByAnyKey(std::uint32_t code) {
    // Reserved or unassigned: 0x07, 0x0A-0x0B, 0x0E-0x0F, 0x3A-0x40, 0x5E, 0x88-0x8F, 0x97-0x9F,
    // 0xB8-0xB9, 0xC3-0xDA (a game pad's), 0xE0, 0xE8.
    if (code == 0 || code > 0xFF) return false;
    const auto within = [code](std::uint32_t low, std::uint32_t high) {
        return code >= low && code <= high;
    };
    return !(code == 0x07 || within(0x0A, 0x0B) || within(0x0E, 0x0F) || within(0x3A, 0x40) ||
             code == 0x5E || within(0x88, 0x8F) || within(0x97, 0x9F) || within(0xB8, 0xB9) ||
             within(0xC3, 0xDA) || code == 0xE0 || code == 0xE8);
}

bool namedButNoPcKey(std::uint32_t code) {
    switch (code) {
        case 0x29:  // Select
        case 0x2A:  // Print (not Print Screen)
        case 0x2B:  // Execute
        case 0x2F:  // Help
        case 0xF6:  // Attn
        case 0xF7:  // CrSel
        case 0xF8:  // ExSel
        case 0xF9:  // Erase EOF
        case 0xFA:  // Play
        case 0xFB:  // Zoom
        case 0xFD:  // PA1
        case 0xFE:  // OEM Clear
            return true;
        default:
            return false;
    }
}

const char* keyName(std::uint32_t code) { return code < 256 ? table().names[code] : nullptr; }

std::string bindingName(const KeyBinding& binding) {
    std::string text = nameOrCode(binding.primary);
    if (binding.alternate != 0) text += " / " + nameOrCode(binding.alternate);
    return text;
}

std::optional<std::uint16_t> keyCodeOfName(std::string_view text) {
    // Every way of writing each key's name, folded, made once; a lower code wins a shared form.
    static const std::unordered_map<std::string, std::uint16_t> byName = [] {
        std::unordered_map<std::string, std::uint16_t> all;
        // The key's own sign, as a file written before it had its name may hold it ("moveUp=;").
        all.emplace(";", 0xBA);
        all.emplace(";key", 0xBA);
        for (std::uint16_t code = 1; code < 256; ++code) {
            const char* name = keyName(code);
            if (!name) continue;
            const std::string_view full(name);
            all.emplace(folded(full), code);
            // "< > key (102-key keyboards)" is also "< > key".
            if (const std::size_t note = full.find(" ("); note != std::string_view::npos)
                all.emplace(folded(full.substr(0, note)), code);
            // "9 key" for a key whose name has no " key" of its own.
            all.emplace(folded(full) + "key", code);
            constexpr std::string_view kKey = " key";
            if (full.size() > kKey.size() && full.substr(full.size() - kKey.size()) == kKey)
                all.emplace(folded(full.substr(0, full.size() - kKey.size())), code);
        }
        return all;
    }();
    const auto it = byName.find(folded(text));
    return it == byName.end() ? std::nullopt : std::optional<std::uint16_t>(it->second);
}

}  // namespace freeplot
