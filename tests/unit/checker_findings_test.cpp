// What the settings checker tells a player beyond the plugin's own log: the part of a refused
// message text at fault and its fix, which step-list log lines are expected, the file named as
// given, and the README's key table against the bindings in the code.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "report/checker.h"
#include "config/keynames.h"
#include "config/messages.h"
#include "config_support.h"
#include "sim/build_paths.h"

namespace freeplot::config_tests {
namespace {

// The lines of `text` between the line `from` and the next empty line.
std::string block(const std::string& text, const std::string& from) {
    const std::size_t start = text.find(from);
    if (start == std::string::npos) return "<no " + from + ">";
    const std::size_t end = text.find("\n\n", start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

struct FaultCase {
    const char* text;
    FormatArg arg;
    FormatFaultKind kind;
    const char* fragment;  // the text at fault
};

TEST(FormatFault, NamesTheConversionAtFaultAndItsKind) {
    const FaultCase cases[] = {
        {"Axis %s", FormatArg::integer, FormatFaultKind::wrongConversion, "%s"},
        // A percent sign before a word reads as a conversion with a space flag.
        {"100% sure: %d", FormatArg::integer, FormatFaultKind::wrongConversion, "% s"},
        {"Scale %d%% of %d", FormatArg::integer, FormatFaultKind::secondConversion, "%d"},
        {"Step %f", FormatArg::integer, FormatFaultKind::wrongConversion, "%f"},
        {"Step %d", FormatArg::real, FormatFaultKind::wrongConversion, "%d"},
        {"Scale %d now at 100%", FormatArg::integer, FormatFaultKind::lonePercent, "%"},
        {"Step %-5", FormatArg::real, FormatFaultKind::lonePercent, "%-5"},
        {"Step %1$d", FormatArg::integer, FormatFaultKind::spoiltConversion, "%1$d"},
        {"Step %*d", FormatArg::integer, FormatFaultKind::spoiltConversion, "%*d"},
        {"Step %ld!", FormatArg::integer, FormatFaultKind::spoiltConversion, "%ld"},
        {"Step %I64d", FormatArg::integer, FormatFaultKind::spoiltConversion, "%I64d"},
        {"Axis %05c", FormatArg::letter, FormatFaultKind::spoiltConversion, "%05c"},
        {"Scale %hhd%%", FormatArg::integer, FormatFaultKind::spoiltConversion, "%hhd"},
        {"Step %c", FormatArg::integer, FormatFaultKind::wrongConversion, "%c"},
        {"Step %2000.1f", FormatArg::real, FormatFaultKind::tooWide, "%2000.1f"},
        {"Step %.1500f", FormatArg::real, FormatFaultKind::tooWide, "%.1500f"},
        {"%n", FormatArg::integer, FormatFaultKind::wrongConversion, "%n"},
    };
    for (const FaultCase& c : cases) {
        const FormatFault fault = findFormatFault(c.text, c.arg);
        EXPECT_EQ(fault.kind, c.kind) << c.text;
        ASSERT_NE(fault.reason, nullptr) << c.text;
        EXPECT_STREQ(formatProblem(c.text, c.arg), fault.reason) << c.text;
        EXPECT_EQ(std::string(c.text).substr(fault.offset, fault.length), c.fragment) << c.text;
    }
    // The second conversion is the one named, not the first.
    EXPECT_EQ(findFormatFault("Scale %d%% of %d", FormatArg::integer).offset, 14u);

    for (const char* fits : {"Scale %d%%", "Axis: %c", "100%% sure"}) {
        const FormatFault fault = findFormatFault(fits, FormatArg::letter);
        EXPECT_EQ(fault.kind, FormatFaultKind::none) << fits;
        EXPECT_EQ(fault.reason, nullptr) << fits;
    }
}

TEST_F(SettingsTest, CheckerNamesTheFragmentOfARefusedFormatAndTheFix) {
    const auto [status, out] =
        runChecker(writeFile("[messages]\n"
                             "axisChange = Achse %s\n"
                             "scaleChange = Größe %d bei 100% sicher\n"
                             "rotateStepChange = Step %d\n"
                             "moveStepChange = Step %f or %f\n"
                             "scaleStepChange = Step %ld\n"));
    EXPECT_EQ(status, 1) << out;
    const std::string findings = block(out, "Findings:");
    const char* expected[] = {
        "refused  [messages] axisChange: line 2: it holds \"%s\" at character 7, a string conversion, "
        "which cannot take the message's value; write %c for the axis letter, or %% for a "
        "percent sign; the default text stays\n",
        // Counted in characters: the two letters ö and ß take two bytes each.
        "refused  [messages] scaleChange: line 3: it holds \"% s\" at character 17, a string conversion, "
        "which cannot take the message's value; write %d for the scale, or %% for a percent "
        "sign; the default text stays\n",
        "refused  [messages] rotateStepChange: line 4: it holds \"%d\" at character 6, an int conversion "
        "where a double is formatted; write %0.1f for the rotate step, or %% for a percent sign",
        "refused  [messages] moveStepChange: line 5: it holds \"%f\" at character 12, more than one "
        "conversion; the message has one value: keep one %0.1f and write %% for any other "
        "percent sign",
        "refused  [messages] scaleStepChange: line 6: it holds \"%ld\" at character 6, a length modifier "
        "that changes the argument's type; write %d for the scale step;",
    };

    // Conversions that show part of a whole number, or a number as a character.
    const auto [partStatus, partOut] =
        runChecker(writeFile("[messages]\n"
                             "scaleChange = Scale %hhd%%\n"
                             "scaleStepChange = Step %c\n"
                             "axisChange = Axis %hd\n"));
    EXPECT_EQ(partStatus, 1) << partOut;
    const std::string partFindings = block(partOut, "Findings:");
    for (const char* line :
         {"refused  [messages] scaleChange: line 2: it holds \"%hhd\" at character 7, a length modifier "
          "that shows only part of the value; write %d for the scale; the default text stays",
          "refused  [messages] scaleStepChange: line 3: it holds \"%c\" at character 6, a character "
          "conversion where a number is formatted; write %d for the scale step, or %% for a "
          "percent sign; the default text stays",
          "refused  [messages] axisChange: line 4: it holds \"%hd\" at character 6, a length modifier "
          "that shows only part of the value; write %c for the axis letter; the default text "
          "stays"})
        EXPECT_NE(partFindings.find(line), std::string::npos) << line << "\n" << partFindings;
    for (const char* line : expected)
        EXPECT_NE(findings.find(line), std::string::npos) << line << "\n" << findings;
    // The plugin's behaviour is unchanged: each refusal is logged, the defaults stay.
    EXPECT_NE(block(out, "Plugin log lines")
                  .find("  Message for scaleChange is too large or missing format placeholder, "
                        "default message will be used\n"),
              std::string::npos)
        << out;
    EXPECT_STREQ(messageText(Msg::scaleChange), "Scale set to %d%%");

    // A refusal that is no fault of a conversion keeps the reader's own words.
    const auto [emptyStatus, emptyOut] = runChecker(writeFile("[messages]\naxisChange =\n"));
    EXPECT_EQ(emptyStatus, 1);
    EXPECT_NE(emptyOut.find("refused  [messages] axisChange: line 2: it is empty; the default text stays"),
              std::string::npos)
        << emptyOut;
}

TEST_F(SettingsTest, CheckerMarksTheLogLineOfAShortStepListAsExpected) {
    const auto [status, out] =
        runChecker(writeFile("[steps]\n"
                             "rotateSteps = 1 2 3\n"
                             "moveSteps = 7\n"
                             "scaleSteps = 1 2 3 4 5 6 7 8 9 10\n"));
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("Findings:\n  none\n"), std::string::npos) << out;
    EXPECT_EQ(block(out, "Plugin log lines"),
              "Plugin log lines for this file:\n"
              "  Invalid value in rotateSteps, succesfully parsed 3\n"
              "    (expected: the list has 3 values, fewer than 10, and the plugin logs this for "
              "any such list; all 3 are in force)\n"
              "  Invalid value in moveSteps, succesfully parsed 1\n"
              "    (expected: the list has 1 value, fewer than 10, and the plugin logs this for "
              "any such list; the value is in force)");

    // A list that stops at a bad value, or gives none, is a finding, and its log line says so.
    const auto [badStatus, badOut] =
        runChecker(writeFile("[steps]\nrotateSteps = 1, 2\nscaleSteps = big\n"));
    EXPECT_EQ(badStatus, 1);
    EXPECT_EQ(block(badOut, "Plugin log lines"),
              "Plugin log lines for this file:\n"
              "  Invalid value in rotateSteps, succesfully parsed 1\n"
              "    (see [steps] rotateSteps under Findings)\n"
              "  Invalid value in scaleSteps, succesfully parsed 0\n"
              "    (see [steps] scaleSteps under Findings)");
}

// A line of 199 characters (198 and a CR LF) is taken whole, and one of 199 and a CR LF loses
// only its CR; a longer one is cut after its 199th character and what is left is taken. None is
// a line that does not parse.
TEST_F(SettingsTest, CheckerSaysWhatTheLongestLinesBecome) {
    const std::string whole = "rotateSteps = 1 2" + std::string(182, ' ');
    const std::string crlf = "moveSteps = 3 4" + std::string(183, ' ') + "\r";
    const std::string cut = "scaleSteps = 5 6" + std::string(182, ' ') + "7 8";
    const std::string crlf199 = "rotateStepIdx = 3" + std::string(182, ' ') + "\r";
    ASSERT_EQ(whole.size(), 199u);
    ASSERT_EQ(crlf.size(), 199u);
    ASSERT_EQ(crlf199.size(), 200u);
    const auto [status, out] = runChecker(writeFile("[steps]\n" + whole + "\n" + crlf + "\n" + cut +
                                                    "\n" + crlf199 + "\n[main]\nno separator\n"));
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find("Line 7 is the first line that did not parse;"), std::string::npos) << out;
    EXPECT_NE(out.find("  rotateSteps            1 [2]"), std::string::npos) << out;
    EXPECT_NE(out.find("  moveSteps              3 [4]"), std::string::npos) << out;
    EXPECT_NE(out.find("  scaleSteps             5 6 [7]"), std::string::npos) << out;
    const std::string findings = block(out, "Findings:");
    // Only line 4 loses bytes; line 5 says which entry of the shorter list is in force.
    EXPECT_EQ(findings.find("bytes long"), findings.rfind("bytes long")) << findings;
    EXPECT_NE(findings.find("[steps] rotateStepIdx: line 5: \"3\" is not an entry from 1 to 2"),
              std::string::npos)
        << findings;
    EXPECT_NE(findings.find("ignored  line 4: 201 bytes long; the plugin reads its first 199, up "
                            "to \"7\", and drops the other 2: \" 8\"\n"),
              std::string::npos)
        << findings;
    EXPECT_NE(findings.find("ignored  line 7: \"no separator\" does not parse"),
              std::string::npos)
        << findings;
}

TEST_F(SettingsTest, CheckerNamesTheFileAsGiven) {
    const std::string path = writeFile("[main]\n");
    const std::string given = dir_.string() + "/./freeplot.ini";
    const SettingsCheck check = checkSettings(windowsPathOf(given), given);
    EXPECT_TRUE(check.reading.read());
    std::FILE* out = std::tmpfile();
    printSettingsCheck(check, out);
    std::rewind(out);
    char first[4096] = {};
    ASSERT_NE(std::fgets(first, sizeof first, out), nullptr);
    std::fclose(out);
    EXPECT_EQ(std::string(first), "Settings file: " + given + "\n");

    // A file that cannot be opened: named as given; the plugin's log line shows what the
    // plugin itself is given, a Windows path.
    const std::string missing = dir_.string() + "/absent.ini";
    const auto [status, text] = runChecker(missing);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(text.rfind("Settings file: " + missing + "\n", 0), 0u) << text;
    EXPECT_NE(text.find("Could not read/parse config file " + windowsPathOf(missing)),
              std::string::npos);
}

// Mistakes the readers take without a word, each a warning naming its line, what the plugin does
// and the fix; the shared keys say which action the dispatcher runs.
TEST_F(SettingsTest, CheckerWarnsOfMistakesThePluginTakesSilently) {
    const auto [status, out] =
        runChecker(writeFile("[main] togglable=1\n"  // 1
                             "wheelRotaion = on\n"
                             "[cheat]\n"
                             "duplicateEnabled = true\n"
                             "[keys]\n"  // 5
                             "moveUp = F1\n"
                             "redo = backspace\n"
                             "copyPosX = 049\n"
                             "rotateLeft = 300\n"
                             "main = Numpad 3\n"  // 10
                             "copyPosY = Numpad 1\n"
                             "moveBack = Numpad 6\n"
                             "[messages]\n"
                             "snapOn = \"Snap!\"\n"
                             "[steps]\n"  // 15
                             "moveSteps = -5 0 1000000\n"
                             "scaleSteps = 1 500\n"));
    EXPECT_EQ(status, 1) << out;
    const std::string findings = block(out, "Findings:");
    for (const char* line : {
             "warning  line 1: \"togglable=1\" after [main] is dropped: the plugin reads only the "
             "section's name on that line; put it on a line of its own\n",
             "ignored  [main] wheelRotaion: line 2: the plugin reads no setting of this name in "
             "this section; the nearest is wheelRotation: write that\n",
             "ignored  [cheat] duplicateEnabled: line 4: the plugin reads no section of this name; "
             "the nearest is [cheats]: write that\n",
             "warning  [keys] snap, moveUp: F1 (code 112) is bound to 2 actions (snap by default, "
             "moveUp on line 6); snap acts; moveUp never acts on this key; give each action a key "
             "of its own\n",
             "warning  [keys] undo, redo: Backspace (code 8) is bound to 2 actions (undo by "
             "default, redo on line 7); undo acts; redo never acts on this key;",
             // togglable stays 0: main's row is shut and the key goes on to scale up; while the
             // workshop is busy nothing of the scale row acts.
             "warning  [keys] main, scaleUp: Numpad 3 (code 99) is bound to 2 actions (main on "
             "line 10, scaleUp by default); main needs togglable 1 or more, so it does not act; "
             "scaleUp acts; give",
             // A busy workshop shuts both rows: nothing else acts then.
             "warning  [keys] scaleDown, copyPosY: Numpad 1 (code 97) is bound to 2 actions "
             "(scaleDown by default, copyPosY on line 11); scaleDown acts; copyPosY never acts",
             // Within one row: the first move gives the axis, a backward one the direction.
             "warning  [keys] moveRight, moveBack: Numpad 6 (code 102) is bound to 2 actions "
             "(moveRight by default, moveBack on line 12); moveRight and moveBack act as one: the "
             "object moves as by moveLeft;",
             "warning  [keys] copyPosX: line 8: \"049\" starts with 0, so it is read as an octal "
             "number: 4 (Middle mouse button), and that is what is bound; write 49 without the 0, "
             "or the key's name\n",
             "warning  [keys] copyPosX: line 8: code 4 is the Middle mouse button, and Freeplot's "
             "actions take keyboard keys only: copyPosX never acts; bind it to a key\n",
             "warning  [keys] rotateLeft: line 9: code 300 is sent by no keyboard key or mouse "
             "button: rotateLeft never acts;",
             "warning  [steps] moveSteps: line 16: entry 1 is -5: at this step each key moves the "
             "object the other way; entry 2 is 0: at this step no key moves the object; entry 3 "
             "is 1e+06: far beyond what building needs (up to 1000 units); the list is taken as "
             "it is",
             "warning  [steps] scaleSteps: line 17: entry 2 is 500: far beyond what building needs "
             "(up to 100 percent);",
             "warning  [messages] snapOn: line 14: the text is written in quotes, and the quotes "
             "are shown on screen with it; write it without them",
         })
        EXPECT_NE(findings.find(line), std::string::npos) << line << "\n" << findings;
    EXPECT_NE(out.find("Result: 0 refused, 2 ignored, 12 warnings.\n"), std::string::npos) << out;

    // Old-Mac line ends: one line, said once; text after "]" there is part of that finding.
    const auto [crStatus, crOut] = runChecker(writeFile("[main]\rtogglable = 1\r"));
    EXPECT_EQ(crStatus, 1);
    EXPECT_EQ(block(crOut, "Findings:"),
              "Findings:\n  warning  line 1: the lines end in CR alone (as old Mac editors "
              "save), so the plugin reads the whole file as one line and takes nothing past its "
              "first section or entry; save the file with Windows (CR LF) or Unix (LF) line ends");
    // Saved as "Unicode" in either byte order, with its mark or without: named, nothing read.
    for (const auto& [bytes, how] :
         {std::pair{std::string("\xFF\xFE[\0k\0]\0\n\0", 10), "little-endian, with a byte"},
          std::pair{std::string("\0[\0k\0]\0\n", 8), "big-endian, without a byte"}}) {
        const auto [u16Status, u16Out] = runChecker(writeFile(bytes));
        EXPECT_EQ(u16Status, 2);
        EXPECT_NE(u16Out.find(std::string("is saved as UTF-16 (") + how), std::string::npos)
            << u16Out;
    }
    const auto [bigStatus, bigOut] = runChecker(writeFile(std::string(kMaxSettingsBytes + 1, '\n')));
    EXPECT_EQ(bigStatus, 2);
    EXPECT_NE(bigOut.find("larger than 4 MiB (4194304 bytes)"), std::string::npos) << bigOut;

    // What players write: a setting twice, one indented, a NUL byte, a step too small for a
    // float, a message in ANSI, the name of no PC key; and codes keyboards do send, which are no
    // finding.
    const auto [mixStatus, mixOut] =
        runChecker(writeFile("[main]\n"
                             "wheelRotation = true\n"
                             "    autoTimescaleEnabled = true\n"  // 3
                             "[keys]\n"
                             "moveUp = 104\n"  // 5
                             "moveDown = Print\n"
                             "rotateLeft = 193\n"
                             "rotateRight = 0xFF\n"
                             "moveUp = F10\n" +  // 9
                             std::string("copyPosX = 0x31\0 junk\n", 22) +
                             "[steps]\n"
                             "moveSteps = 1e-50 1\n"  // 12
                             "[messages]\n"
                             "snapOn = Accroche d\xE9sactiv\xE9\x65\n"));
    EXPECT_EQ(mixStatus, 1);
    const std::string mix = block(mixOut, "Findings:");
    for (const char* line : {
             "warning  [main] wheelRotation: line 3: it starts with white space after "
             "wheelRotation on line 2, so the plugin reads it as one more line of that value, not "
             "as a line of its own: wheelRotation is false (the default); write it without",
             "warning  [keys] moveUp: lines 5 and 9: it is written 2 times, and the plugin joins "
             "the values into one, \"104\\nF10\": moveUp is bound to Numpad 8 (its default); "
             "keep only the line you mean",
             "warning  [keys] moveDown: line 6: it is bound to code 42, \"Print\", a key of old "
             "terminals that no PC keyboard has: moveDown never acts; Print Screen is \"Print "
             "Screen\" (code 44)",
             "warning  line 10: a NUL byte (byte 16 of the line) ends it for the plugin, which "
             "reads nothing after it up to the line's end: \" junk\" is dropped",
             "warning  [steps] moveSteps: line 12: entry 1 is 1e-50: so small that adding it to a "
             "coordinate or angle (a float) changes nothing: no key moves the object",
             "warning  [messages] snapOn: line 14: the text holds bytes that are not UTF-8",
         })
        EXPECT_NE(mix.find(line), std::string::npos) << line << "\n" << mix;
    EXPECT_EQ(mix.find("rotateLeft"), std::string::npos) << mix;
    EXPECT_EQ(mix.find("rotateRight"), std::string::npos) << mix;
    EXPECT_NE(mixOut.find("\"Accroche d\\xE9sactiv\\xE9e\""), std::string::npos) << mixOut;
    EXPECT_EQ(mixOut.find('\xE9'), std::string::npos);  // the report itself stays UTF-8
}

// The drawing: each bound key's short name under its cap, a legend of the names drawn, the keys
// it has no place for; within 100 columns.
TEST_F(SettingsTest, CheckerDrawsTheKeysInForce) {
    const auto [status, out] =
        runChecker(writeFile("[keys]\nmoveUp = F10\nsnap = 0x7C\nredo = Backspace\n"));
    const std::size_t from = out.find("Keys in force");
    const std::string picture = out.substr(from, out.find("\nFindings:") - from);
    std::istringstream lines(picture);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LT(line.size(), 100u) << line;
    }
    // F10 is the 10th of the F row's caps: its short name sits right under it.
    const std::size_t caps = out.find("|F9 |F10|F11|");
    ASSERT_NE(caps, std::string::npos) << out;
    const std::size_t column = caps - out.rfind('\n', caps) - 1;
    const std::size_t below = out.find('\n', caps) + 1;
    EXPECT_EQ(out.substr(below + column, 13), "|   |mvU|clk|") << picture;
    EXPECT_NE(picture.find("|Bksp   |"), std::string::npos);
    EXPECT_NE(picture.find("|**     |"), std::string::npos) << picture;
    EXPECT_NE(picture.find("  not drawn: snap on F13\n"), std::string::npos) << picture;
    EXPECT_NE(out.find(" mvU moveUp"), std::string::npos);
    EXPECT_EQ(out.find(" snp snap"), std::string::npos);
}

// The checker program on `settings` with its standard output redirected by the shell to `out`:
// its exit status (-1 when a signal ended it) and its standard error.
std::pair<int, std::string> runCheckerProgram(const std::string& settings, const std::string& out) {
    const std::string command =
        "'" + sim::buildDirectory() + "/tools/freeplot-check' '" + settings + "' 2>&1 >" + out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return {-2, "cannot start " + command};
    std::string errors;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        errors.append(buffer, n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, errors};
}

// A report that does not reach its reader is exit 2 with one line on standard error, whether
// the disk is full or the reader closed the pipe before the first line.
TEST_F(SettingsTest, CheckerExitsTwoWhenItsReportCannotBeWritten) {
    const std::string settings = writeFile("[main]\n");
    const std::string why = "freeplot-check: the report could not be written: ";
    EXPECT_EQ(runCheckerProgram(settings, "/dev/full"),
              std::make_pair(2, why + "No space left on device\n"));

    // The pipe's write end goes to the checker as descriptor 9: the shell popen runs may take no
    // descriptor above 9, and a test program that has opened many files holds the low ones.
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);
    const int saved = dup(9);
    ASSERT_EQ(dup2(ends[1], 9), 9);
    close(ends[1]);
    EXPECT_EQ(runCheckerProgram(settings, "&9"), std::make_pair(2, why + "Broken pipe\n"));
    if (saved >= 0) {
        dup2(saved, 9);
        close(saved);
    } else {
        close(9);
    }
}

// The README's key table names each action's default key as the checker does, gives the gate
// of the gated ones, and leaves no action out.
TEST(ReadmeKeyTable, MatchesTheDefaultBindings) {
    std::ifstream in(sim::sourceDirectory() + "/README.md", std::ios::binary);
    ASSERT_TRUE(in);
    const std::regex row(R"(^\| `(\w+)` \| ([^|]+?) \| [^|]+ \| ([^|]+?) \|$)");
    std::map<std::string, std::pair<std::string, std::string>> rows;
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (std::regex_match(line, m, row)) rows[m[1]] = {m[2], m[3]};
    }
    const std::map<std::string, std::string> gates = {
        {"main", "`togglable` 1 or more"},
        {"duplicateKey", "`duplicateEnabled` in `[cheats]`"},
        {"deleteKey", "`deleteEnabled` in `[dangerous]`"},
    };
    for (std::size_t i = 0; i < kActionCount; ++i) {
        const auto found = rows.find(kActionNames[i]);
        ASSERT_NE(found, rows.end()) << kActionNames[i] << " has no row";
        EXPECT_EQ(found->second.first, bindingName(kDefaultKeyBindings[i])) << kActionNames[i];
        const auto gate = gates.find(kActionNames[i]);
        EXPECT_EQ(found->second.second, gate == gates.end() ? "—" : gate->second)
            << kActionNames[i];
    }
}

}  // namespace
}  // namespace freeplot::config_tests
