// The settings file shipped with the plugin, and the settings checker run on it and on a
// file full of mistakes.

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "report/checker.h"
#include "config/keynames.h"
#include "config/messages.h"
#include "config/setting_table.h"
#include "config/steps.h"
#include "config_support.h"
#include "sim/build_paths.h"

namespace freeplot::config_tests {
namespace {

using Lines = std::vector<std::string>;

const std::string kShipped = sim::sourceDirectory() + "/data/freeplot.ini";

const Lines kListLines = {"Invalid value in rotateSteps, succesfully parsed 7",
                          "Invalid value in moveSteps, succesfully parsed 7",
                          "Invalid value in scaleSteps, succesfully parsed 5"};

TEST_F(SettingsTest, ShippedFileGivesExactlyTheBuiltInDefaults) {
    {
        std::ifstream raw(kShipped, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(raw)), {});
        ASSERT_FALSE(bytes.empty()) << kShipped;
        EXPECT_NE(bytes.find("\r\n"),
                  std::string::npos);  // Windows line ends, read as the plugin reads
    }
    // Start from values unlike the defaults, so the file has to set each one.
    SettingsInForce odd;
    for (const SettingRow& row : kSettingTable) {
        if (row.type == SettingType::flag) odd.settings.*row.flag = !(odd.settings.*row.flag);
        if (row.type == SettingType::low8) odd.settings.*row.low8 = 9;
        if (row.type == SettingType::real) odd.settings.*row.real = 3.0f;
        withSteps(odd, row.steps, [&](auto& table, auto&&...) {
            if (row.type == SettingType::stepIndex) table.index = 0;
            if (row.type == SettingType::stepList) table.count = 1;
        });
        EXPECT_FALSE(holdsDefault(odd, row)) << row.name;
    }
    for (KeyBinding& b : odd.keys) b = {1, 2};
    applySettings(odd);

    ASSERT_TRUE(loadSettings(windowsPathOf(kShipped)));
    EXPECT_EQ(log, kListLines);
    for (const SettingRow& row : kSettingTable) EXPECT_TRUE(holdsDefault(settingsNow(), row)) << row.name;
    EXPECT_EQ(keyBindings, kDefaultKeyBindings);
    for (std::size_t i = 0; i < kMessageCount; ++i)
        EXPECT_STREQ(messageText(static_cast<Msg>(i)), kMessages[i].defaultText)
            << kMessages[i].key;
    EXPECT_EQ(rotateSteps.values, kDefaultRotateSteps);
    EXPECT_EQ(moveSteps.values, kDefaultMoveSteps);
    EXPECT_EQ(scaleSteps.values, kDefaultScaleSteps);

    // Every key of every section is written out once, and nothing else.
    const Reading reading = readSettings(kShipped, readSettingsBytes(windowsPathOf(kShipped)));
    EXPECT_EQ(reading.ini.firstBadLine, 0);
    const auto names = [&](const char* section) {
        std::set<std::string> all;
        const auto [first, last] = reading.ini.spellingsOf(section);
        for (const IniSpelling* p = first; p != last; ++p) all.insert(p->name);
        return all;
    };
    EXPECT_EQ(names("keys"), std::set<std::string>(kActionNames.begin(), kActionNames.end()));
    std::set<std::string> messageKeys;
    for (std::size_t i = 0; i < kMessageKeyCount; ++i) messageKeys.insert(kMessages[i].key);
    EXPECT_EQ(names("messages"), messageKeys);
    std::map<std::string, std::set<std::string>> tableNames;
    for (const SettingRow& row : kSettingTable) tableNames[row.section].insert(row.name);
    for (const auto& [section, all] : tableNames) EXPECT_EQ(names(section.c_str()), all);
    EXPECT_EQ(tableNames.size(), 4u);
    EXPECT_EQ(reading.ini.sections.size(), 6u);
    for (const IniEntry& entry : reading.ini.entries) EXPECT_EQ(entry.entryLines, 1) << entry.name;
}

TEST(ShippedFile, NamesTheKeyOfEveryBinding) {
    std::ifstream in(kShipped, std::ios::binary);
    std::string line, previous, section;
    const std::regex entry(R"(^(\w+) = (\d+)\r?$)");
    int checked = 0;
    while (std::getline(in, line)) {
        if (line.rfind("[", 0) == 0) section = line.substr(0, line.find(']') + 1);
        std::smatch m;
        if (section == "[keys]" && std::regex_match(line, m, entry)) {
            const auto code = static_cast<std::uint16_t>(std::stoi(m[2]));
            const std::string named = "(" + bindingName(bindingForCode(code)) + ")";
            EXPECT_NE(previous.find(named), std::string::npos) << m[1] << ": " << previous;
            ++checked;
        }
        previous = line;
    }
    EXPECT_EQ(checked, static_cast<int>(kActionCount));
}

TEST_F(SettingsTest, CheckerAcceptsTheShippedFile) {
    const auto [status, out] = runChecker(kShipped);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("Every line parsed."), std::string::npos);
    EXPECT_TRUE(std::regex_search(out, std::regex(R"(\n  moveUp +104 +Numpad 8 +default\n)")))
        << out;
    EXPECT_TRUE(std::regex_search(
        out, std::regex(R"(\n  changeRotateAxis +162, 163 +Left Ctrl / Right Ctrl +default\n)")));
    EXPECT_TRUE(
        std::regex_search(out, std::regex(R"(\n  rotateSteps +0\.1 0\.5 \[1\] 5 15 45 90 )")));
    EXPECT_TRUE(
        std::regex_search(out, std::regex(R"(\n  axisChange +"Axis changed to %c" +default\n)")));
    EXPECT_NE(out.find("Findings:\n  none\n"), std::string::npos);
    for (const std::string& line : kListLines)
        EXPECT_NE(out.find("  " + line + "\n"), std::string::npos);
    // The list lines are what the plugin logs for every list shorter than ten: marked expected.
    EXPECT_NE(out.find("  Invalid value in scaleSteps, succesfully parsed 5\n"
                       "    (expected: the list has 5 values, fewer than 10"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Result: 0 refused, 0 ignored."), std::string::npos);
}

TEST_F(SettingsTest, CheckerReportsEveryMistakeAndTheLogLines) {
    const std::string path = writeFile(
        "[keys]\n"
        "main = F 1 3x\n"
        "Snap = 112\n"
        "moveUp = 0x26\n"
        "timescaleToggle = 65658\n"
        "[main]\n"
        "togglable = 258\n"
        "wheelRotation = enabled\n"
        "buildTimescale = fast\n"
        "snapDisabled = yes\n"
        "colour = red\n"
        "[messages]\n"
        "axisChange = Axis %s\n"
        "snapOn = Snap \x01!\n"
        "stateStored = Stored\n"
        "[steps]\n"
        "rotateSteps = 1, 2\n"
        "scaleStepIdx = 9\n"
        "[extras]\n"
        "a = 1\n"
        "this line does not parse\n");
    const auto [status, out] = runChecker(path);
    EXPECT_EQ(status, 1) << out;
    const char* expected[] = {
        "Line 21 is the first line that did not parse",
        "  togglable              2          from the file\n",
        "  snapDisabled           true       from the file\n",
        "  moveUp                 38         Up arrow                   from the file\n",
        "  snapOn                 \"Snap \\x01!\"  from the file\n",
        "  rotateSteps            [1]   (1 entry, entry 1 current)  from the file\n",
        "refused  [keys] main: line 2: \"F 1 3x\" is neither a key code (a number from 1 to 65535) nor a "
        "key's name",
        "ignored  [keys] Snap: line 3: no action has this name",
        "note     [keys] timescaleToggle: line 5: 65658 is cut to 16 bits: 122",
        "note     [main] togglable: line 7: 258 counts only its low 8 bits: 2",
        "refused  [main] wheelRotation: line 8: \"enabled\" is not true/yes/on/1",
        "refused  [main] buildTimescale: line 9: \"fast\" is not a number",
        "ignored  [main] colour: line 11: the plugin reads no setting",
        "refused  [messages] axisChange: line 13: it holds \"%s\" at character 6, a string conversion, "
        "which cannot take the message's value; write %c for the axis letter, or %% for a "
        "percent sign",
        "ignored  [messages] stateStored: line 15: this text cannot be changed",
        "refused  [steps] rotateSteps: line 17: 1 value taken; the list stops at \", 2\"",
        "refused  [steps] scaleStepIdx: line 18: \"9\" is not an entry from 1 to 5",
        "ignored  [extras] a: line 20: the plugin reads no section",
        "ignored  line 21: \"this line does not parse\" does not parse",
        "Plugin log lines for this file:\n"
        "  Invalid value for key: main\n"
        "  Message for axisChange is too large or missing format placeholder, default message will "
        "be used\n"
        "  Invalid value in rotateSteps, succesfully parsed 1\n"
        "    (see [steps] rotateSteps under Findings)\n"
        "\n"
        "Result: 6 refused, 5 ignored.\n",
    };
    for (const char* text : expected)
        EXPECT_NE(out.find(text), std::string::npos) << text << "\n" << out;

    const auto [missingStatus, missingOut] = runChecker((dir_ / "absent.ini").string());
    EXPECT_EQ(missingStatus, 2);
    EXPECT_NE(missingOut.find("Could not read/parse config file Z:"), std::string::npos);
}

}  // namespace
}  // namespace freeplot::config_tests
