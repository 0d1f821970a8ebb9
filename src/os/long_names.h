#pragma once
// The form in which Windows' wide file calls take a name of any length. Without the "\\?\"
// prefix they refuse a name of MAX_PATH (260) units or more, and a folder's of MAX_PATH - 12,
// which a game installed deep in a library folder, or a user's long documents path, reaches. The
// prefix hands the name to the file system as it is, so it goes only on long absolute names,
// with every '/' turned into '\' (behind the prefix Windows turns none); a share's
// "\\server\share\..." becomes "\\?\UNC\server\share\...". Short names, relative ones and names
// already in a device form ("\\?\", "\\.\") go as they are. Written for any character type: the
// Windows backend passes UTF-16 names, the tests plain ones.

#include <algorithm>
#include <cstddef>
#include <string>

namespace freeplot::os {

inline constexpr std::size_t kLongestPlainName = 260 - 12;

template <typename Char>
std::basic_string<Char> longNameForm(std::basic_string<Char> name) {
    if (name.size() < kLongestPlainName) return name;
    const auto separator = [](Char c) { return c == Char('\\') || c == Char('/'); };
    const bool drive = name.size() > 2 && name[1] == Char(':') && separator(name[2]);
    const bool share = name.size() > 2 && separator(name[0]) && separator(name[1]) &&
                       name[2] != Char('?') && name[2] != Char('.');
    if (!drive && !share) return name;
    std::replace(name.begin(), name.end(), Char('/'), Char('\\'));
    const Char prefix[] = {Char('\\'), Char('\\'), Char('?'), Char('\\'), Char('U'), Char('N'),
                           Char('C'), Char('\0')};
    if (share) return std::basic_string<Char>(prefix) + name.substr(1);  // "\\?\UNC" + "\server..."
    return std::basic_string<Char>(prefix, 4) + name;
}

}  // namespace freeplot::os
