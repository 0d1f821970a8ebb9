#include "config/ini_file.h"

#include <ini.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>

#include "os/os.h"

namespace freeplot {

std::string lowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

namespace {

// Called by inih for every name/value pair (and every continuation line) it accepts.
int collectName(void* user, const char* section, const char* name, const char* /*value*/) {
    if (!name) return 1;
    auto* file = static_cast<IniFile*>(user);
    file->sectionNames[lowerCase(section)].insert(name);
    return 1;
}

}  // namespace

std::optional<std::string> IniFile::readText(const std::string& nativePath) {
    std::FILE* file = os::openNative(nativePath, "rb");
    if (!file) return std::nullopt;
    // What follows a NUL byte up to the end of its line goes (the reader stops at the NUL), in one
    // pass. A file beyond kMaxSettingsBytes (or one without end, as a device) is not read.
    std::string text;
    bool afterNul = false, tooLong = false;
    std::size_t bytes = 0;
    char chunk[4096];
    for (std::size_t n; !tooLong && (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
        bytes += n;
        for (std::size_t i = 0; i < n; ++i) {
            const char c = chunk[i];
            if (c == '\0') afterNul = true;
            if (c == '\n') afterNul = false;
            if (!afterNul) text += c;
        }
        tooLong = bytes > kMaxSettingsBytes;
    }
    const bool failed = std::ferror(file) != 0 || tooLong;
    std::fclose(file);
    if (failed) return std::nullopt;
    return text;
}

namespace {
const std::string& textOrNothing(const std::optional<std::string>& text) {
    static const std::string nothing;
    return text ? *text : nothing;
}
}  // namespace

IniFile::IniFile(const std::string& nativePath) : IniFile(readText(nativePath)) {}

IniFile::IniFile(const std::optional<std::string>& text)
    : opened(text.has_value()), reader(textOrNothing(text).data(), textOrNothing(text).size()) {
    if (opened) ini_parse_string_length(text->data(), text->size(), collectName, this);
}

const std::set<std::string>& IniFile::names(const std::string& lowerSection) const {
    static const std::set<std::string> none;
    const auto it = sectionNames.find(lowerSection);
    return it == sectionNames.end() ? none : it->second;
}

std::int32_t saturateToInt32(long value) {
    // long is 32 bits on Windows (nothing to do) and 64 bits here.
    return static_cast<std::int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

std::int32_t getInteger(const IniFile& file, const std::string& section, const std::string& name,
                        std::int32_t defaultValue) {
    return saturateToInt32(file.reader.GetInteger(section, name, defaultValue));
}

}  // namespace freeplot
