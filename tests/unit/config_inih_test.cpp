// The file's lines as the plugin reads them, checked against the inih library itself: what inih's
// own reader gives for a text is what the one reading gives, and every line's fate is known.

#include <INIReader.h>
#include <unistd.h>

#include <climits>
#include <set>

#include "config_support.h"

namespace freeplot::config_tests {
namespace {

using Names = std::set<std::string>;

Names namesOf(const IniText& ini, const std::string& section) {
    Names names;
    const auto [first, last] = ini.spellingsOf(section);
    for (const IniSpelling* s = first; s != last; ++s) names.insert(s->name);
    return names;
}

std::vector<LineKind> kindsOf(const IniText& ini) {
    std::vector<LineKind> kinds;
    for (const IniLine& line : ini.lines) kinds.push_back(line.kind);
    return kinds;
}

// inih's reader, given the same text, agrees on every value and on the first bad line (for texts
// whose lines fit its buffer: a longer line it counts as bad, the plugin reads its first 199).
void expectInihAgrees(const std::string& text) {
    const INIReader reader(text.data(), text.size());
    const IniText ini = parseIni(text);
    EXPECT_EQ(ini.firstBadLine, reader.ParseError()) << text;
    for (const IniEntry& entry : ini.entries) {
        const std::string& section = ini.sections[static_cast<std::size_t>(entry.section)].name;
        EXPECT_EQ(entry.value, reader.Get(section, entry.name, "\x01 none")) << text;
    }
    for (const std::string& section : reader.Sections())
        for (const std::string& key : reader.Keys(section))
            EXPECT_TRUE(ini.has(section, key)) << section << " " << key << " in " << text;
}

TEST(IniText, ReadsTheFirst199BytesOfALineAndSaysWhatItDrops) {
    // A line of 198 bytes fits the reader's buffer with its line feed and is read whole; from
    // 199 bytes on the first 199 are read and the rest dropped, without counting as a bad line.
    const std::string fits = "fits=" + std::string(193, 'f');
    const std::string full = "full=" + std::string(194, 'u');
    const std::string cut = "pad=" + std::string(195, 'p') + "tail=7";
    const IniText ini = parseIni("[s]\n" + fits + "\n" + full + "\n" + cut + "\nafter=1\n");
    EXPECT_EQ(ini.firstBadLine, 0);
    EXPECT_EQ(ini.get("s", "fits", ""), std::string(193, 'f'));
    EXPECT_EQ(ini.get("s", "full", ""), std::string(194, 'u'));
    EXPECT_EQ(ini.get("s", "pad", ""), std::string(195, 'p'));
    EXPECT_EQ(ini.get("s", "tail", "none"), "none");
    EXPECT_EQ(ini.get("s", "after", ""), "1");
    EXPECT_EQ(namesOf(ini, "s"), (Names{"after", "fits", "full", "pad"}));
    ASSERT_EQ(ini.lines.size(), 5u);
    EXPECT_EQ(ini.lines[2].flags & line_flag::cut, 0);
    EXPECT_NE(ini.lines[3].flags & line_flag::cut, 0);
    EXPECT_EQ(ini.lines[3].length, cut.size());

    // Section names keep 49 bytes.
    EXPECT_EQ(parseIni("[" + std::string(60, 'x') + "]\nk=1\n").get(std::string(49, 'x'), "k", ""),
              "1");
}

TEST(IniText, AgreesWithInihOnSyntaxCommentsRepeatsAndContinuations) {
    const std::string text =
        "\xEF\xBB\xBF[Keys]\n"  // byte-order mark skipped, section name case-free
        "; a comment\n"
        "# another comment\n"
        "  spaced   =   value with spaces   \n"
        "inline = 12 ; note\n"  // ";" after white space starts a comment
        "glued = 12;note\n"     // ";" without white space is part of the value
        "colon : 34\n"          // ":" separates when there is no "="
        "empty =\n"
        "this line has no separator\n"  // the first bad line: 9
        "[broken\n"
        "after = 1\n"
        "[messages]\n"
        "snapOn = one\n"
        "   two\n"          // continuation: indented, after a name/value line
        "\tthree ; gone\n"  // an inline comment ends a continuation line too
        "SNAPON = four\n"   // same key in another case
        "[MESSAGES]\n"      // same section in another case
        "snapOn = five\n"
        "x =\n"
        "x = after an empty value\n"
        "zeta = z\n"
        "Alpha = a\n";
    expectInihAgrees(text);
    const IniText ini = parseIni(text);
    EXPECT_EQ(ini.firstBadLine, 9);
    EXPECT_EQ(ini.get("keys", "spaced", "?"), "value with spaces");
    EXPECT_EQ(ini.get("KEYS", "SPACED", "?"), "value with spaces");
    EXPECT_EQ(ini.get("keys", "glued", "?"), "12;note");
    EXPECT_EQ(namesOf(ini, "keys"), (Names{"after", "colon", "empty", "glued", "inline", "spaced"}));
    EXPECT_EQ(ini.get("messages", "snapOn", ""), "one\ntwo\nthree\nfour\nfive");
    // Names as written, both spellings of the section merged.
    EXPECT_EQ(namesOf(ini, "messages"), (Names{"Alpha", "SNAPON", "snapOn", "x", "zeta"}));
    using K = LineKind;
    EXPECT_EQ(kindsOf(ini), (std::vector<K>{K::section, K::comment, K::comment, K::entry, K::entry,
                                            K::entry, K::entry, K::entry, K::bad, K::bad, K::entry,
                                            K::section, K::entry, K::continuation, K::continuation,
                                            K::entry, K::section, K::entry, K::entry, K::entry,
                                            K::entry, K::entry}));
    const IniEntry* snapOn = ini.find("messages", "snapon");
    ASSERT_NE(snapOn, nullptr);
    EXPECT_EQ(snapOn->entryLines, 3);
    EXPECT_EQ(snapOn->continuations, 2);
    EXPECT_EQ(ini.linesOf(static_cast<std::int32_t>(snapOn - ini.entries.data())),
              (std::vector<int>{13, 14, 15, 16, 18}));

    // Odd but legal shapes, each as inih reads them.
    for (const char* odd :
         {"=5\n  more\n", "[s] trailing\nk=v\n", "[s ;x]\nk=v\n",
          "k=v\n[s]\n  indented=first\n", "[]\n=\n:\n", "a:b=c\n", "\r\n[s]\r\nk = v\r\n  w\r\n",
          "[s]\nk=1\n\n  after a blank line\n; c\n  after a comment\n"})
        expectInihAgrees(odd);
}

TEST(IniText, CutsALineAtItsNulAndReadsUnreadableShapesSafely) {
    const IniText empty = parseIni("");
    EXPECT_EQ(empty.firstBadLine, 0);
    EXPECT_TRUE(empty.lines.empty());

    std::string binary;
    for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 131 + 7) & 0xFF);
    binary += std::string("\0[keys]\0main=1\n", 15);
    EXPECT_GT(parseIni(binary).lines.size(), 1u);

    // A NUL byte cuts its line: past it the reader sees nothing up to the line's end, even right
    // after an overlong line.
    const IniText cut = parseIni("[s]\n" + std::string(250, 'x') + std::string("\0rest\nk=1\n", 10) +
                                 std::string("v=ab\0cd\n", 9));
    EXPECT_EQ(cut.firstBadLine, 2);
    EXPECT_EQ(cut.get("s", "k", ""), "1");
    EXPECT_EQ(cut.get("s", "v", ""), "ab");
    EXPECT_EQ(cut.lines[1].flags, line_flag::cut);  // its NUL lies past the 199 bytes read
    EXPECT_EQ(cut.lines[3].flags, line_flag::nul);

    // One line of a megabyte: its first 199 bytes are read (no separator: a bad line).
    const IniText huge = parseIni(std::string(1 << 20, 'x'));
    EXPECT_EQ(huge.firstBadLine, 1);
    EXPECT_TRUE(huge.entries.empty());

    // A CR that ends no line, and bytes that are not UTF-8, are marked on their line.
    const IniText shapes = parseIni("[a]\rk=1\n[messages]\nsnapOn = Accroche d\xE9sactiv\xE9\x65\n");
    EXPECT_EQ(shapes.lines[0].flags, line_flag::loneCr);
    EXPECT_EQ(shapes.lines[2].flags, line_flag::notUtf8);
    EXPECT_EQ(parseIni("k = d\xC3\xA9j\xC3\xA0 \xE2\x82\xAC\n").lines[0].flags, 0);
}

TEST_F(SettingsTest, FilesAreReadUpToTheirLimitAndUtf16IsRecognised) {
    EXPECT_EQ(readSettingsBytes(windowsPathOf((dir_ / "absent.ini").string())).state,
              FileState::unreadable);
    // Up to the size no settings file nears the file is read, NUL lines and all; past it (a
    // device that never ends) nothing is.
    const std::string lines = "[keys]\nmain=1\n" + std::string("\0\n", 2) + "snap=2\n";
    std::string within;
    while (within.size() + lines.size() <= kMaxSettingsBytes) within += lines;
    const std::string path = writeFile(within, "big.ini");
    const FileBytes read = readSettingsBytes(windowsPathOf(path));
    ASSERT_EQ(read.state, FileState::read);
    EXPECT_EQ(read.bytes, within);
    std::ofstream(path, std::ios::binary | std::ios::app) << std::string(lines.size(), 'x');
    EXPECT_EQ(readSettingsBytes(windowsPathOf(path)).state, FileState::tooLarge);

    // UTF-16 in both byte orders, with and without its mark; one NUL in a UTF-8 file is not it.
    const std::string ascii = "[keys]\r\nmoveUp = 121\r\n";
    std::string le, be;
    for (const char c : ascii) le += std::string{c, '\0'}, be += std::string{'\0', c};
    for (const auto& [bytes, bigEndian, mark] :
         {std::tuple{"\xFF\xFE" + le, false, true}, std::tuple{le, false, false},
          std::tuple{"\xFE\xFF" + be, true, true}, std::tuple{be, true, false}}) {
        const FileBytes file = settingsBytesOf(bytes);
        EXPECT_EQ(file.state, FileState::utf16);
        EXPECT_EQ(file.bigEndian, bigEndian);
        EXPECT_EQ(file.byteOrderMark, mark);
        EXPECT_TRUE(file.bytes.empty());
    }
    EXPECT_EQ(settingsBytesOf(std::string("[keys]\nmoveUp = 1\0\n", 19)).state, FileState::read);
}

TEST(Integers, AreSigned32BitWithBase0AsOnWindows) {
    const auto read = [](const char* text) { return readInteger(text, -5); };
    EXPECT_EQ(read("0x70"), 112);
    EXPECT_EQ(read("070"), 56);
    EXPECT_EQ(read("-12"), -12);
    EXPECT_EQ(read("42abc"), 42);
    EXPECT_EQ(read("abc"), -5);
    EXPECT_EQ(read(""), -5);
    EXPECT_EQ(read("99999999999"), INT32_MAX);  // a 32-bit strtol saturates
    EXPECT_EQ(read("-99999999999"), INT32_MIN);
    EXPECT_EQ(read("2147483647"), INT32_MAX);
    EXPECT_EQ(read("0xFFFFFFFF"), INT32_MAX);
    EXPECT_EQ(saturateToInt32(LONG_MIN), INT32_MIN);
}

}  // namespace
}  // namespace freeplot::config_tests
