#pragma once
// What both backends need to hand Windows names over as UTF-8: where a name may be cut without
// splitting a character, and how long Windows counts it (in UTF-16 units, the unit of its
// MAX_PATH).

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace freeplot::os::utf8 {

inline bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The longest prefix of `text` of at most `limit` bytes that ends between two characters.
inline std::size_t cutPoint(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text.size();
    std::size_t cut = limit;
    while (cut > 0 && isContinuation(static_cast<unsigned char>(text[cut]))) --cut;
    return cut;
}

// Copies `text` with its terminator into `buffer` of `size` (at least 1) bytes and returns its
// length; when it does not fit, cuts it to the buffer between two characters, terminates it and
// returns `size`, as GetModuleFileName answers (the caller then sets the error).
inline std::uint32_t copyOrCut(std::string_view text, char* buffer, std::uint32_t size) {
    if (text.size() < size) {
        std::memcpy(buffer, text.data(), text.size());
        buffer[text.size()] = '\0';
        return static_cast<std::uint32_t>(text.size());
    }
    const std::size_t kept = cutPoint(text, size - 1);
    std::memcpy(buffer, text.data(), kept);
    buffer[kept] = '\0';
    return size;
}

// The number of UTF-16 units `text` takes: two for a character of four bytes (a surrogate pair),
// one for any other; the bytes that continue a character count with the byte that starts it.
inline std::size_t utf16Length(std::string_view text) {
    std::size_t units = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (isContinuation(byte)) continue;
        units += byte >= 0xF0 ? 2 : 1;
    }
    return units;
}

}  // namespace freeplot::os::utf8
