// Settings of main, dangerous and cheats, and the key bindings of [keys].

#include <fstream>
#include <map>
#include <regex>

#include "config/keynames.h"
#include "config/messages.h"
#include "config/steps.h"
#include "config/settings_source.h"
#include "config_support.h"

namespace freeplot::config_tests {
namespace {

using Lines = std::vector<std::string>;

// The VK_ constants of mingw-w64's winuser.h: an independent record of the Windows codes.
std::map<std::string, unsigned> winuserKeyCodes() {
    std::map<std::string, unsigned> codes;
    std::ifstream header(MINGW_WINUSER_H);
    const std::regex define(R"(^\s*#define\s+(VK_\w+)\s+(0x[0-9A-Fa-f]+|\d+)\b)");
    std::string line;
    std::smatch m;
    while (std::getline(header, line))
        if (std::regex_search(line, m, define))
            codes[m[1]] = static_cast<unsigned>(std::stoul(m[2], nullptr, 0));
    return codes;
}

TEST(KeyBindingDefaults, AreTheWindowsCodesOfTheirKeys) {
    const auto vk = winuserKeyCodes();
    ASSERT_GT(vk.size(), 150u) << MINGW_WINUSER_H;
    // Digits have no VK_ names: Windows uses their characters.
    const std::map<std::string, std::pair<std::string, std::string>> expected = {
        {"main", {"VK_F8", ""}},
        {"snap", {"VK_F1", ""}},
        {"ground", {"VK_F2", ""}},
        {"workshopSnap", {"VK_F3", ""}},
        {"timeoutFreeze", {"VK_F5", ""}},
        {"resetAngles", {"VK_NUMPAD0", ""}},
        {"removeTremor", {"VK_NUMPAD5", ""}},
        {"rotateStepMinus", {"VK_SUBTRACT", ""}},
        {"rotateStepPlus", {"VK_ADD", ""}},
        {"changeRotateAxis", {"VK_LCONTROL", "VK_RCONTROL"}},
        {"outlineToggle", {"VK_F4", ""}},
        {"moveDown", {"VK_NUMPAD2", ""}},
        {"moveUp", {"VK_NUMPAD8", ""}},
        {"moveLeft", {"VK_NUMPAD4", ""}},
        {"moveRight", {"VK_NUMPAD6", ""}},
        {"moveBack", {"VK_NUMPAD7", ""}},
        {"moveForth", {"VK_NUMPAD9", ""}},
        {"moveStepMinus", {"VK_DIVIDE", ""}},
        {"moveStepPlus", {"VK_MULTIPLY", ""}},
        {"scaleDown", {"VK_NUMPAD1", ""}},
        {"scaleUp", {"VK_NUMPAD3", ""}},
        {"scaleReset", {"VK_DECIMAL", ""}},
        {"undo", {"VK_BACK", ""}},
        {"copyState", {"VK_OEM_PLUS", ""}},
        {"copyPosX", {"1", ""}},
        {"copyPosY", {"2", ""}},
        {"copyPosZ", {"3", ""}},
        {"copyAngleX", {"4", ""}},
        {"copyAngleY", {"5", ""}},
        {"copyAngleZ", {"6", ""}},
        {"copyScale", {"7", ""}},
        {"copyAll", {"0", ""}},
        {"clampedStoreToggle", {"VK_F6", ""}},
        {"lockObject", {"VK_F7", ""}},
        {"extraOutlineToggle", {"VK_INSERT", ""}},
        {"duplicateKey", {"VK_OEM_2", ""}},
        {"deleteKey", {"VK_DELETE", ""}},
        {"rotateLeft", {"VK_OEM_COMMA", ""}},
        {"rotateRight", {"VK_OEM_PERIOD", ""}},
        {"physicsOn", {"VK_HOME", ""}},
        {"physicsOff", {"VK_END", ""}},
        {"scaleStepMinus", {"VK_PRIOR", ""}},
        {"scaleStepPlus", {"VK_NEXT", ""}},
        {"timescaleToggle", {"VK_F11", ""}},
        {"redo", {"VK_OEM_5", ""}},
        {"alignToGrid", {"VK_OEM_6", ""}},
        {"objectInfo", {"VK_OEM_4", ""}},
    };
    ASSERT_EQ(expected.size(), kActionCount);
    auto code = [&](const std::string& name) -> unsigned {
        if (name.empty()) return 0;
        if (name.size() == 1) return static_cast<unsigned char>(name[0]);
        EXPECT_TRUE(vk.count(name)) << name;
        return vk.count(name) ? vk.at(name) : 0;
    };
    for (std::size_t i = 0; i < kActionCount; ++i) {
        const auto& [primary, alternate] = expected.at(kActionNames[i]);
        EXPECT_EQ(kDefaultKeyBindings[i].primary, code(primary)) << kActionNames[i];
        EXPECT_EQ(kDefaultKeyBindings[i].alternate, code(alternate)) << kActionNames[i];
        EXPECT_EQ(keyBindings[i], kDefaultKeyBindings[i]);
    }
    // The generic modifiers turn into the left and right keys Windows reports.
    EXPECT_EQ(bindingForCode(static_cast<std::uint16_t>(vk.at("VK_SHIFT"))),
              (KeyBinding{static_cast<std::uint16_t>(vk.at("VK_LSHIFT")),
                          static_cast<std::uint16_t>(vk.at("VK_RSHIFT"))}));
    EXPECT_EQ(bindingForCode(static_cast<std::uint16_t>(vk.at("VK_CONTROL"))),
              (KeyBinding{static_cast<std::uint16_t>(vk.at("VK_LCONTROL")),
                          static_cast<std::uint16_t>(vk.at("VK_RCONTROL"))}));
    EXPECT_EQ(bindingForCode(static_cast<std::uint16_t>(vk.at("VK_MENU"))),
              (KeyBinding{static_cast<std::uint16_t>(vk.at("VK_LMENU")),
                          static_cast<std::uint16_t>(vk.at("VK_RMENU"))}));
}

TEST(KeyNames, NameTheCodesWinuserDefines) {
    const auto vk = winuserKeyCodes();
    for (unsigned f = 1; f <= 24; ++f)
        EXPECT_EQ(keyName(vk.at("VK_F" + std::to_string(f))), "F" + std::to_string(f));
    for (unsigned d = 0; d <= 9; ++d)
        EXPECT_EQ(keyName(vk.at("VK_NUMPAD" + std::to_string(d))), "Numpad " + std::to_string(d));
    const std::map<std::string, std::string> named = {
        {"VK_LCONTROL", "Left Ctrl"}, {"VK_RSHIFT", "Right Shift"}, {"VK_RMENU", "Right Alt"},
        {"VK_BACK", "Backspace"},     {"VK_PRIOR", "Page Up"},      {"VK_NEXT", "Page Down"},
        {"VK_MULTIPLY", "Numpad *"},  {"VK_DECIMAL", "Numpad ."},   {"VK_OEM_PLUS", "= key"},
        {"VK_OEM_2", "/ key"},        {"VK_ESCAPE", "Esc"},         {"VK_SPACE", "Space"}};
    for (const auto& [constant, name] : named)
        EXPECT_EQ(keyName(vk.at(constant)), name) << constant;
    EXPECT_STREQ(keyName('A'), "A");
    EXPECT_EQ(keyName(0), nullptr);
    EXPECT_EQ(keyName(0x100), nullptr);
    EXPECT_EQ(bindingName({162, 163}), "Left Ctrl / Right Ctrl");
    EXPECT_EQ(bindingName({0x88, 0}), "code 136");

    // Every name reads back as its own code, as printed or in capitals without spaces.
    for (std::uint16_t code = 1; code < 256; ++code) {
        const char* name = keyName(code);
        if (!name) continue;
        EXPECT_EQ(keyCodeOfName(name), code) << name;
        std::string squeezed;
        for (const char c : std::string(name))
            if (c != ' ')
                squeezed += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(keyCodeOfName(squeezed), code) << squeezed;
    }
    for (const char* none : {"", "  ", "Numpad 10", "F25", "key", "Left"})
        EXPECT_EQ(keyCodeOfName(none), std::nullopt) << none;
}

TEST_F(SettingsTest, KeysBindByCodeOrNameAndRefuseTheRest) {
    ASSERT_TRUE(
        load("[KEYS]\n"                 // section names are case-free
             "main = 0x70\n"            // hexadecimal: F1
             "snap = 070\n"             // leading 0: octal 56, the 8 key
             "changeRotateAxis = 16\n"  // generic Shift: left and right
             "rotateLeft = 17\n"
             "rotateRight = 18\n"
             "timescaleToggle = 65658\n"  // 122 + 65536: cut to 16 bits
             "moveUp = 99\n"
             "   104\n"              // continued: the first line's number counts
             "moveDown = F2\n"       // key names as the checker prints them, in any case and
             "moveLeft = numpad8\n"  // with or without spaces
             "moveRight = PAGE  up\n"
             "moveBack = Ctrl\n"        // the generic Ctrl: left and right
             "moveForth = \\\n"         // a " key" name without its " key"
             "scaleUp = < > key\n"      // and one without its note
             "scaleDown = Numpad 10\n"  // no key's name: refused as a bad code
             "undo = 0\n"
             "copyAll = 65536\n"  // a multiple of 65536 is 0
             "Ground = 50\n"      // names are case-sensitive: ignored, no log line
             "noSuchAction = 60\n"
             "noSuchAction2 = xy\n"  // the value is checked before the name
             "physicsOn = -1\n"));   // low 16 bits of -1: 65535
    EXPECT_EQ(binding(Action::main), (KeyBinding{112, 0}));
    EXPECT_EQ(binding(Action::snap), (KeyBinding{56, 0}));
    EXPECT_EQ(binding(Action::changeRotateAxis), (KeyBinding{160, 161}));
    EXPECT_EQ(binding(Action::rotateLeft), (KeyBinding{162, 163}));
    EXPECT_EQ(binding(Action::rotateRight), (KeyBinding{164, 165}));
    EXPECT_EQ(binding(Action::timescaleToggle), (KeyBinding{122, 0}));
    EXPECT_EQ(binding(Action::moveUp), (KeyBinding{99, 0}));
    EXPECT_EQ(binding(Action::moveDown), (KeyBinding{113, 0}));
    EXPECT_EQ(binding(Action::moveLeft), (KeyBinding{104, 0}));
    EXPECT_EQ(binding(Action::moveRight), (KeyBinding{33, 0}));
    EXPECT_EQ(binding(Action::moveBack), (KeyBinding{162, 163}));
    EXPECT_EQ(binding(Action::moveForth), (KeyBinding{220, 0}));
    EXPECT_EQ(binding(Action::scaleUp), (KeyBinding{226, 0}));
    EXPECT_EQ(binding(Action::scaleDown), (KeyBinding{97, 0}));
    EXPECT_EQ(binding(Action::undo), (KeyBinding{8, 0}));
    EXPECT_EQ(binding(Action::copyAll), (KeyBinding{48, 0}));
    EXPECT_EQ(binding(Action::ground), (KeyBinding{113, 0}));
    EXPECT_EQ(binding(Action::physicsOn), (KeyBinding{65535, 0}));
    // One line per refused value, in ascending byte order of the names.
    EXPECT_EQ(log, (Lines{"Invalid value for key: copyAll", "Invalid value for key: noSuchAction2",
                          "Invalid value for key: scaleDown", "Invalid value for key: undo"}));

    // Every name as the checker prints it binds its key from the file (a digit alone is a code).
    for (std::uint16_t code = 1; code < 256; ++code)
        if (const char* name = keyName(code); name && (code < '0' || code > '9')) {
            ASSERT_TRUE(load(std::string("[keys]\nmoveUp = ") + name + "\n"));
            EXPECT_EQ(binding(Action::moveUp), bindingForCode(code)) << name;
        }

    // A binding replaces both fields: a plain code clears the default alternate.
    restoreDefaultSettings();
    ASSERT_TRUE(load("[keys]\nchangeRotateAxis = 65\n"));
    EXPECT_EQ(binding(Action::changeRotateAxis), (KeyBinding{65, 0}));
}

TEST_F(SettingsTest, MatchingUsesPrimaryAndAlternateButNeverCodeZero) {
    EXPECT_TRUE(matches(Action::changeRotateAxis, 162));
    EXPECT_TRUE(matches(Action::changeRotateAxis, 163));
    EXPECT_TRUE(matches(Action::moveUp, 104));
    EXPECT_FALSE(matches(Action::moveUp, 98));
    EXPECT_FALSE(matches(Action::moveUp, 104 + 65536));  // no truncation of the code
    for (std::size_t i = 0; i < kActionCount; ++i)
        EXPECT_FALSE(matches(static_cast<Action>(i), 0)) << kActionNames[i];
}

TEST_F(SettingsTest, MainDangerousAndCheatsReadWithoutLogLines) {
    ASSERT_TRUE(
        load("[Main]\n"
             "togglable = 257\n"  // low 8 bits: 1
             "buildTimescale = 0.25\n"
             "WheelRotation = On\n"  // key names are case-free here
             "timeoutFrozen = 1\n"
             "snapDisabled = YES\n"
             "groundDisabled = enabled\n"  // no boolean word: false
             "outlineDisabled = true ; comment\n"
             "extraOutlineEnabled = false\n"
             "autoTimescaleEnabled = yes\n"
             "[dangerous]\ndeleteEnabled = TRUE\n"
             "[cheats]\nduplicateEnabled = no\n"));
    EXPECT_EQ(settings.togglable, 1);
    EXPECT_EQ(settings.buildTimescale, 0.25f);
    EXPECT_TRUE(settings.wheelRotation);
    EXPECT_TRUE(settings.timeoutFrozen);
    EXPECT_TRUE(settings.snapDisabled);
    EXPECT_FALSE(settings.groundDisabled);
    EXPECT_TRUE(settings.outlineDisabled);
    EXPECT_FALSE(settings.extraOutlineEnabled);
    EXPECT_TRUE(settings.autoTimescaleEnabled);
    EXPECT_TRUE(settings.deleteEnabled);
    EXPECT_FALSE(settings.duplicateEnabled);
    EXPECT_TRUE(log.empty());

    // Bad numbers keep their defaults; numbers a float cannot hold too.
    for (const char* timescale : {"abc", "1e300", "-1e39", "inf", "nan", ""}) {
        restoreDefaultSettings();
        ASSERT_TRUE(
            load(std::string("[main]\ntogglable = x2\nbuildTimescale = ") + timescale + "\n"));
        EXPECT_EQ(settings.buildTimescale, 0.01f) << timescale;
        EXPECT_EQ(settings.togglable, 0);
    }
    restoreDefaultSettings();
    ASSERT_TRUE(load("[main]\ntogglable = 0x202\nbuildTimescale = 2.5e-3xyz\n"));
    EXPECT_EQ(settings.togglable, 2);
    EXPECT_EQ(settings.buildTimescale, 0.0025f);
    EXPECT_TRUE(log.empty());
}

TEST_F(SettingsTest, LoadReportsAnUnreadableFileAndKeepsEveryDefault) {
    const std::string missing = windowsPathOf((dir_ / "nothing here.ini").string());
    EXPECT_FALSE(loadSettings(missing));
    EXPECT_EQ(log, (Lines{"Could not read/parse config file " + missing}));

    // An empty file, and one of nothing but mistakes, are read without harm.
    log.clear();
    EXPECT_TRUE(load(""));
    EXPECT_TRUE(load("no sections here\n[\n=\n:\n[keys\n"));
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(keyBindings, kDefaultKeyBindings);
    EXPECT_EQ(settings.togglable, 0);
    EXPECT_EQ(rotateSteps.count, kDefaultRotateStepCount);
    EXPECT_STREQ(messageText(Msg::snapOn), "Object snap on");
}

// Looked at again while the game runs: a change is read whole, as Load reads it, also when it is
// empty, ends without a line break or holds lines that do not parse; a file that is gone, cannot
// be read, is too large or is saved as UTF-16 is not taken, and each but the gone one is read
// again at every later look until taken. A file Load could not read is looked at the same way.
TEST_F(SettingsTest, LooksAtAChangedFileAndReadsItWholeOrSaysWhyNot) {
    const std::string path = writeFile("[keys]\nmoveUp = 121\nundo = 9\n");
    const std::string windows = windowsPathOf(path);
    rememberSettingsFile(windows, true);
    EXPECT_EQ(lookAtSettingsFile().outcome, SettingsLook::unchanged);

    const std::pair<std::string, std::uint16_t> whole[] = {
        {"[keys]\nmoveUp = 122\n", 122},
        {"", 104},
        {"[keys]\nmoveUp = 12", 12},
        {std::string("\x01\x02[\xff\n== garbage ==\n[keys]\nmoveUp = 7\n", 37), 7},
    };
    for (const auto& [text, moveUp] : whole) {
        writeFile(text);
        SettingsLook look = lookAtSettingsFile();
        ASSERT_EQ(look.outcome, SettingsLook::taken) << text;
        EXPECT_EQ(look.reading->inForce.keys[static_cast<std::size_t>(Action::moveUp)].primary,
                  moveUp);
        EXPECT_EQ(look.reading->inForce.keys[static_cast<std::size_t>(Action::undo)].primary, 8);
        EXPECT_EQ(look.logLine, "Config file " + windows + " changed: read again");
        EXPECT_EQ(lookAtSettingsFile().outcome, SettingsLook::unchanged);
    }

    // Unreadable (its path a folder, which no read gets through): every look tries again.
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    for (int look = 0; look < 2; ++look) {
        const SettingsLook kept = lookAtSettingsFile();
        EXPECT_EQ(kept.outcome, SettingsLook::kept);
        EXPECT_EQ(kept.logLine, "Config file " + windows +
                                    " changed but cannot be read: the settings in force stay, and "
                                    "the next start of workshop mode looks again");
    }
    std::filesystem::remove(path);
    EXPECT_EQ(lookAtSettingsFile().logLine,
              "Config file " + windows + " is gone; the settings in force stay");
    EXPECT_EQ(lookAtSettingsFile().outcome, SettingsLook::unchanged);  // said once while gone

    // Too large, or UTF-16: not taken, and said again at every look until the file is saved anew.
    writeFile(std::string(kMaxSettingsBytes + 1, '\n'));
    EXPECT_EQ(lookAtSettingsFile().logLine,
              "Config file " + windows +
                  " changed but is larger than 4 MiB: the settings in force stay, and the next "
                  "start of workshop mode looks again");
    EXPECT_EQ(lookAtSettingsFile().outcome, SettingsLook::kept);
    writeFile(std::string("[\0k\0]\0", 6));
    const SettingsLook utf16 = lookAtSettingsFile();
    EXPECT_EQ(utf16.outcome, SettingsLook::kept);
    EXPECT_NE(utf16.why.find("UTF-16 (little-endian, without a byte-order mark"), std::string::npos);

    // A file Load could not read (an editor held it) is read at the next look, as after a change.
    writeFile("[keys]\nmoveUp = 33\n");
    rememberSettingsFile(windows, false);
    const SettingsLook held = lookAtSettingsFile();
    ASSERT_EQ(held.outcome, SettingsLook::taken);
    EXPECT_EQ(held.reading->inForce.keys[static_cast<std::size_t>(Action::moveUp)].primary, 33);
}

}  // namespace
}  // namespace freeplot::config_tests
