#include "config/ini_text.h"

#include <ini.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <unordered_map>

namespace freeplot {

std::string lowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool validUtf8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        std::size_t more = 0;
        unsigned min = 0;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF) {
            more = 1, min = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2, min = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3, min = 0x10000;
        } else {
            return false;
        }
        if (i + more >= bytes.size()) return false;
        unsigned code = c & (0x3F >> more);
        for (std::size_t k = 1; k <= more; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3F);
        }
        if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += more + 1;
    }
    return true;
}

namespace {

// isspace in the C locale, which inih reads with: space, tab, LF, VT, FF and CR.
bool space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Where inih looks for one of `chars` or an inline comment (a ";" after white space) from `s` on;
// `end` when there is neither.
const char* charsOrComment(const char* s, const char* end, const char* chars) {
    bool wasSpace = false;
    const char first = chars[0], second = chars[1];  // one or two characters
    for (; s < end; ++s) {
        if (*s == first || (second && *s == second)) return s;
        if (wasSpace && *s == ';') return s;
        wasSpace = space(*s);
    }
    return end;
}

// The parse of one text: feeds inih line by line and takes its values.
struct Parse {
    explicit Parse(std::string_view all) : text(all) {}
    std::string_view text;
    IniText out;
    std::size_t next = 0;        // where the next physical line starts
    std::string_view fed;        // the current line as handed to inih
    bool abyssAsked = false;     // the current line was cut: inih asks once for its rest
    bool handled = false;        // inih gave a value for the current line
    std::string prevName;        // the name a continuation line would go to (inih's)
    std::int32_t current = -1;   // the section lines lie in now

    std::int32_t sectionNamed(std::string_view written, int line) {
        std::string lower = lowerCase(written);
        const auto [it, added] =
            out.sectionByName.emplace(lower, static_cast<std::int32_t>(out.sections.size()));
        if (added) out.sections.push_back({std::string(written), std::move(lower), line});
        return it->second;
    }

    // Sorts the line just fed as inih does, before inih reads it.
    void classify(IniLine& line) {
        const char* begin = fed.data();
        const char* s = begin;
        const char* end = begin + fed.size();
        if (out.lines.size() == 1 && fed.size() >= 3 && std::memcmp(s, "\xEF\xBB\xBF", 3) == 0)
            s += 3;
        while (s < end && space(*s)) ++s;
        while (end > s && space(end[-1])) --end;
        if (s == end || *s == ';' || *s == '#') {
            line.kind = LineKind::comment;
        } else if (!prevName.empty() && s > begin) {
            line.kind = LineKind::continuation;
        } else if (*s == '[') {
            const char* close = charsOrComment(s + 1, end, "]");
            if (close == end || *close != ']') {
                line.kind = LineKind::bad;
                return;
            }
            line.kind = LineKind::section;
            const std::string_view name(s + 1, std::min<std::size_t>(close - s - 1, kNameBytesKept));
            current = sectionNamed(name, static_cast<int>(out.lines.size()));
            line.section = current;
            prevName.clear();
            const char* rest = close + 1;
            while (rest < end && space(*rest)) ++rest;
            // Past a CR that ends no line, the rest is said of the CR.
            if (rest < end && *rest != ';' && *rest != '#' && !(line.flags & line_flag::loneCr))
                line.flags |= line_flag::afterSection;
        } else {
            const char* separator = charsOrComment(s, end, "=:");
            line.kind = separator != end && (*separator == '=' || *separator == ':')
                            ? LineKind::entry
                            : LineKind::bad;
        }
    }

    // Hands inih the next line, cut at its first NUL and at 199 bytes.
    char* feed(char* buffer, int size) {
        if (abyssAsked) {
            // inih asks for the rest of a line longer than it reads: it was dropped already.
            abyssAsked = false;
            return nullptr;
        }
        if (next >= text.size() || size < 2) return nullptr;
        const std::size_t lf = text.find('\n', next);
        const std::size_t stop = lf == std::string_view::npos ? text.size() : lf;
        IniLine line;
        line.offset = static_cast<std::uint32_t>(next);
        line.length = static_cast<std::uint32_t>(stop - next);
        line.section = current;
        std::string_view bytes = text.substr(next, stop - next);
        if (const std::size_t nul = bytes.find('\0'); nul != std::string_view::npos) {
            if (nul < kLineBytesRead) line.flags |= line_flag::nul;
            bytes = bytes.substr(0, nul);
        }
        // A line of 199 bytes, or one whose 200th is the CR of its line end, loses nothing.
        const bool crOnly = bytes.size() == kLineBytesRead + 1 && bytes.back() == '\r';
        if (bytes.size() > kLineBytesRead && !crOnly) line.flags |= line_flag::cut;
        const std::size_t room = static_cast<std::size_t>(size) - 1;  // 199 with inih's buffer
        const bool full = bytes.size() >= room;
        if (full) bytes = bytes.substr(0, room);
        const std::size_t cr = bytes.find('\r');
        if (cr != std::string_view::npos && cr + 1 < bytes.size()) line.flags |= line_flag::loneCr;
        if (!validUtf8(bytes)) line.flags |= line_flag::notUtf8;
        std::memcpy(buffer, bytes.data(), bytes.size());
        std::size_t n = bytes.size();
        if (!full && lf != std::string_view::npos) buffer[n++] = '\n';
        buffer[n] = '\0';
        abyssAsked = full;
        next = lf == std::string_view::npos ? text.size() : lf + 1;
        fed = std::string_view(buffer, bytes.size());
        handled = false;
        out.lines.push_back(line);
        classify(out.lines.back());
        return buffer;
    }

    void value(const char* name, const char* value) {
        handled = true;
        IniLine& line = out.lines.back();
        const int number = static_cast<int>(out.lines.size());
        if (line.kind != LineKind::continuation) line.kind = LineKind::entry;
        if (current < 0) current = line.section = sectionNamed("", number);
        std::string lower = lowerCase(name);
        std::int32_t index = out.entryIndex(current, lower);
        if (index < 0) {
            index = static_cast<std::int32_t>(out.entries.size());
            IniEntry entry;
            entry.section = current;
            entry.name = name;
            entry.lower = std::move(lower);
            entry.firstLine = number;
            out.entries.push_back(std::move(entry));
            out.addToLookup();
        }
        IniEntry& entry = out.entries[static_cast<std::size_t>(index)];
        line.entry = index;
        // inih's reader joins a further value with a line feed after a value that is not empty.
        if (!entry.value.empty()) entry.value += '\n';
        entry.value += value;
        if (line.kind == LineKind::continuation) {
            ++entry.continuations;
        } else {
            ++entry.entryLines;
            prevName.assign(name, std::min(std::strlen(name), kNameBytesKept));
        }
        out.spellings.push_back({current, name, index});
    }
};

char* readLine(char* buffer, int size, void* stream) {
    return static_cast<Parse*>(stream)->feed(buffer, size);
}

int takeValue(void* user, const char* /*section*/, const char* name, const char* value) {
    if (name) static_cast<Parse*>(user)->value(name, value ? value : "");
    return 1;
}

}  // namespace

IniText parseIni(std::string_view text) {
    Parse parse(text);
    // Room for every line is made once; the entries' lookup grows with them.
    parse.out.lines.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    parse.out.reserveLookup(0);
    parse.out.firstBadLine = ini_parse_stream(readLine, &parse, takeValue, &parse);
    IniText& out = parse.out;
    auto& spellings = out.spellings;
    const auto before = [](const IniSpelling& a, const IniSpelling& b) {
        return a.section != b.section ? a.section < b.section : a.name < b.name;
    };
    // A file written in order (as a long generated one often is) needs no sorting.
    if (!std::is_sorted(spellings.begin(), spellings.end(), before))
        std::sort(spellings.begin(), spellings.end(), before);
    spellings.erase(std::unique(spellings.begin(), spellings.end(),
                                [](const IniSpelling& a, const IniSpelling& b) {
                                    return a.section == b.section && a.name == b.name;
                                }),
                    spellings.end());
    return std::move(out);
}

std::uint64_t IniText::hashOf(std::int32_t section, std::string_view lowerName) {
    // FNV-1a over the section's number and the name.
    std::uint64_t hash = 14695981039346656037ull ^ static_cast<std::uint32_t>(section);
    for (const char c : lowerName) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return hash;
}

void IniText::place(std::int32_t entry) {
    const IniEntry& e = entries[static_cast<std::size_t>(entry)];
    const std::uint64_t hash = hashOf(e.section, e.lower);
    std::size_t at = static_cast<std::size_t>(hash) & (slots_.size() - 1);
    while (slots_[at].entry >= 0) at = (at + 1) & (slots_.size() - 1);
    slots_[at] = {entry, static_cast<std::uint32_t>(hash >> 32)};
}

void IniText::reserveLookup(std::size_t count) {
    std::size_t size = 16;
    while (size < 2 * count) size *= 2;
    slots_.assign(size, Slot{});
    for (std::size_t i = 0; i < entries.size(); ++i) place(static_cast<std::int32_t>(i));
}

void IniText::addToLookup() {
    if (2 * entries.size() > slots_.size()) reserveLookup(entries.size());
    place(static_cast<std::int32_t>(entries.size() - 1));
}

std::int32_t IniText::entryIndex(std::int32_t section, std::string_view lowerName) const {
    if (slots_.empty()) return -1;
    const std::uint64_t hash = hashOf(section, lowerName);
    const auto tag = static_cast<std::uint32_t>(hash >> 32);
    for (std::size_t at = static_cast<std::size_t>(hash) & (slots_.size() - 1);;
         at = (at + 1) & (slots_.size() - 1)) {
        const Slot& slot = slots_[at];
        if (slot.entry < 0) return -1;
        if (slot.tag != tag) continue;
        const IniEntry& entry = entries[static_cast<std::size_t>(slot.entry)];
        if (entry.section == section && entry.lower == lowerName) return slot.entry;
    }
}

std::int32_t IniText::sectionIndex(std::string_view section) const {
    const auto it = sectionByName.find(lowerCase(section));
    return it == sectionByName.end() ? -1 : it->second;
}

const IniEntry* IniText::find(std::string_view section, std::string_view name) const {
    const std::int32_t s = sectionIndex(section);
    if (s < 0) return nullptr;
    const std::int32_t index = entryIndex(s, lowerCase(name));
    return index < 0 ? nullptr : &entries[static_cast<std::size_t>(index)];
}

std::string IniText::get(std::string_view section, std::string_view name,
                         std::string_view fallback) const {
    const IniEntry* entry = find(section, name);
    return std::string(entry ? std::string_view(entry->value) : fallback);
}

std::pair<const IniSpelling*, const IniSpelling*> IniText::spellingsOf(
    std::string_view section) const {
    const std::int32_t s = sectionIndex(section);
    const IniSpelling* begin = spellings.data();
    const IniSpelling* end = begin + spellings.size();
    if (s < 0) return {end, end};
    const IniSpelling* first = std::lower_bound(
        begin, end, s, [](const IniSpelling& a, std::int32_t b) { return a.section < b; });
    const IniSpelling* last = std::upper_bound(
        first, end, s, [](std::int32_t a, const IniSpelling& b) { return a < b.section; });
    return {first, last};
}

std::vector<int> IniText::linesOf(std::int32_t entry) const {
    std::vector<int> numbers;
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].entry == entry) numbers.push_back(static_cast<int>(i + 1));
    return numbers;
}

}  // namespace freeplot
