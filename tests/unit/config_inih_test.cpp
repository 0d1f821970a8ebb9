// The parsing rules the settings rely on, checked against the inih library that is
// installed: a build with another line length, without byte-order-mark or continuation
// support, or with other comment rules fails here.

#include <unistd.h>

#include <climits>
#include <set>

#include "config/ini_file.h"
#include "config_support.h"

namespace freeplot::config_tests {
namespace {

using Names = std::set<std::string>;

TEST_F(SettingsTest, InihReadsTheFirst199CharactersOfALine) {
    // A line of 198 characters fits the reader's buffer with its line feed and is read whole.
    const std::string fits = "fits=" + std::string(193, 'f');
    ASSERT_EQ(fits.size(), 198u);
    // From 199 characters on, the first 199 are read, the rest is dropped, and the line counts
    // as one that did not parse (ParseError names the first: line 3); the lines after it are
    // read as usual.
    const std::string full = "full=" + std::string(194, 'u');
    const std::string cut = "pad=" + std::string(195, 'p') + "tail=7";
    const IniFile file = parse("[s]\n" + fits + "\n" + full + "\n" + cut + "\nafter=1\n");
    EXPECT_EQ(file.parseError(), 3);
    EXPECT_EQ(file.reader.Get("s", "fits", ""), std::string(193, 'f'));
    EXPECT_EQ(file.reader.Get("s", "full", ""), std::string(194, 'u'));
    EXPECT_EQ(file.reader.Get("s", "pad", ""), std::string(195, 'p'));
    EXPECT_EQ(file.reader.Get("s", "tail", "none"), "none");
    EXPECT_EQ(file.reader.Get("s", "after", ""), "1");
    EXPECT_EQ(file.names("s"), (Names{"after", "fits", "full", "pad"}));

    // Section names keep 49 characters.
    const IniFile longSection = parse("[" + std::string(60, 'x') + "]\nk=1\n");
    EXPECT_EQ(longSection.reader.Get(std::string(49, 'x'), "k", ""), "1");
}

TEST_F(SettingsTest, InihSyntaxCommentsSeparatorsAndBom) {
    const IniFile file = parse(
        "\xEF\xBB\xBF[Keys]\n"  // byte-order mark skipped, section name case-free
        "; a comment\n"
        "# another comment\n"
        "  spaced   =   value with spaces   \n"
        "inline = 12 ; note\n"  // ";" after white space starts a comment
        "glued = 12;note\n"     // ";" without white space is part of the value
        "colon : 34\n"          // ":" separates when there is no "="
        "empty =\n"
        "this line has no separator\n"  // syntax error: line 9
        "[broken\n"                     // syntax error too, but the first one is reported
        "after = 1\n");
    EXPECT_EQ(file.parseError(), 9);
    const INIReader& r = file.reader;
    EXPECT_EQ(r.Get("keys", "spaced", "?"), "value with spaces");
    EXPECT_EQ(r.Get("KEYS", "SPACED", "?"), "value with spaces");  // lookups are case-free
    EXPECT_EQ(r.Get("keys", "inline", "?"), "12");
    EXPECT_EQ(r.Get("keys", "glued", "?"), "12;note");
    EXPECT_EQ(r.Get("keys", "colon", "?"), "34");
    EXPECT_EQ(r.Get("keys", "empty", "?"), "");
    EXPECT_EQ(r.Get("keys", "after", "?"), "1");  // parsing went on after the errors
    EXPECT_EQ(file.names("keys"), (Names{"after", "colon", "empty", "glued", "inline", "spaced"}));
}

TEST_F(SettingsTest, InihJoinsRepeatedAndContinuedValuesWithLineFeeds) {
    const IniFile file = parse(
        "[messages]\n"
        "snapOn = one\n"
        "   two\n"          // continuation: indented, after a name/value line
        "\tthree ; gone\n"  // an inline comment ends a continuation line too
        "SNAPON = four\n"   // same key in another case
        "[MESSAGES]\n"      // same section in another case
        "snapOn = five\n"
        "zeta = z\n"
        "Alpha = a\n");
    EXPECT_EQ(file.parseError(), 0);
    EXPECT_EQ(file.reader.Get("messages", "snapOn", ""), "one\ntwo\nthree\nfour\nfive");
    // Names as written, in ascending byte order, both spellings of the section merged.
    EXPECT_EQ(file.names("messages"), (Names{"Alpha", "SNAPON", "snapOn", "zeta"}));
}

TEST_F(SettingsTest, IntegersAreSigned32BitWithBase0AsOnWindows) {
    const IniFile file = parse(
        "[s]\nhex=0x70\noctal=070\ndec=-12\ntrailing=42abc\nword=abc\nempty=\n"
        "big=99999999999\nsmall=-99999999999\nbiggest=2147483647\nhexbig=0xFFFFFFFF\n");
    auto get = [&](const char* name) { return getInteger(file, "s", name, -5); };
    EXPECT_EQ(get("hex"), 112);
    EXPECT_EQ(get("octal"), 56);
    EXPECT_EQ(get("dec"), -12);
    EXPECT_EQ(get("trailing"), 42);
    EXPECT_EQ(get("word"), -5);
    EXPECT_EQ(get("empty"), -5);
    EXPECT_EQ(get("missing"), -5);
    EXPECT_EQ(get("big"), INT32_MAX);  // a 32-bit strtol saturates
    EXPECT_EQ(get("small"), INT32_MIN);
    EXPECT_EQ(get("biggest"), INT32_MAX);
    EXPECT_EQ(get("hexbig"), INT32_MAX);
    EXPECT_EQ(saturateToInt32(LONG_MIN), INT32_MIN);
}

TEST_F(SettingsTest, UnreadableEmptyBinaryAndHugeFilesParseSafely) {
    const IniFile missing((dir_ / "absent.ini").string());
    EXPECT_EQ(missing.parseError(), -1);
    EXPECT_TRUE(missing.sectionNames.empty());

    const IniFile empty = parse("");
    EXPECT_EQ(empty.parseError(), 0);
    EXPECT_TRUE(empty.names("keys").empty());

    std::string binary;
    for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 131 + 7) & 0xFF);
    binary += std::string("\0[keys]\0main=1\n", 15);
    const IniFile bin = parse(binary);
    EXPECT_NE(bin.parseError(), -1);

    // A NUL byte cuts its line: past it the reader sees nothing. Right after an overlong line it
    // would make inih read before its buffer; the text is cut before inih sees it.
    const IniFile cut = parse("[s]\n" + std::string(250, 'x') + std::string("\0rest\nk=1\n", 10) +
                              std::string("v=ab\0cd\n", 9));
    EXPECT_EQ(cut.parseError(), 2);
    EXPECT_EQ(cut.reader.Get("s", "k", ""), "1");
    EXPECT_EQ(cut.reader.Get("s", "v", ""), "ab");

    // One line of a megabyte: its first 199 characters are read (no separator: it does not
    // parse) and the rest is dropped.
    const IniFile huge = parse(std::string(1 << 20, 'x'));
    EXPECT_GT(huge.parseError(), 0);
    EXPECT_TRUE(huge.sectionNames.empty());

    // Past the size no settings file nears (a device that never ends), nothing is read; up to it
    // the file is read, NUL lines and all.
    const std::string nulLines = "[keys]\nmain=1\n" + std::string("\0\n", 2) + "snap=2\n";
    std::string within = nulLines;
    while (within.size() + nulLines.size() <= IniFile::kMaxSettingsBytes) within += nulLines;
    const auto path = (dir_ / "big.ini").string();
    std::ofstream(path, std::ios::binary) << within;
    const auto read = IniFile::readText(path);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->substr(0, 24), "[keys]\nmain=1\n\nsnap=2\n[k");
    std::ofstream(path, std::ios::binary | std::ios::app) << std::string(nulLines.size(), 'x');
    EXPECT_FALSE(IniFile::readText(path).has_value());
}

}  // namespace
}  // namespace freeplot::config_tests
