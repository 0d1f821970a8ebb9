#include "config/ini_file.h"

#include <ini.h>

#include <algorithm>
#include <cctype>
#include <climits>

namespace freeplot {
namespace {

std::string lowerCase(const char* text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// Called by inih for every name/value pair (and every continuation line) it accepts.
int collectName(void* user, const char* section, const char* name, const char* /*value*/) {
    if (!name) return 1;
    auto* file = static_cast<IniFile*>(user);
    file->sectionNames[lowerCase(section)].insert(name);
    return 1;
}

}  // namespace

IniFile::IniFile(const std::string& nativePath) : reader(nativePath) {
    if (reader.ParseError() != -1) ini_parse(nativePath.c_str(), collectName, this);
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
