// The settings file in the simulated game's Data\F4SE\Plugins\: what the plugin logs for it,
// and what its values change in the running game.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "sim/build_paths.h"
#include "sim/sim.h"

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

// The log lines the settings reading writes.
std::vector<std::string> settingsLines(const sim::Transcript& t) {
    std::vector<std::string> lines;
    for (const std::string& line : t.log)
        if (line.rfind("Invalid ", 0) == 0 || line.rfind("Message for ", 0) == 0 ||
            line.rfind("Could not read/parse config file", 0) == 0)
            lines.push_back(line);
    return lines;
}

std::vector<std::string> siteNames(const sim::Transcript& t) {
    std::vector<std::string> names;
    for (const sim::SiteChange& s : t.sites) names.push_back(s.name);
    return names;
}

void pressAndRelease(sim::Game& game, std::uint16_t vkey, std::uint16_t flags = 0) {
    game.keyboardEvent(vkey, 0, flags);
    game.keyboardEvent(vkey, 0, static_cast<std::uint16_t>(flags | 1));
}

TEST(SettingsSession, FileMistakesAreLoggedAndItsValuesSetTheStartState) {
    sim::Options options;
    options.settings =
        "[main]\n"
        "togglable = 258\n"          // low 8 bits: 2, console command, freeplot mode off
        "snapDisabled = YES\n"       // object snap off at start
        "timeoutFrozen = enabled\n"  // no boolean word: stays off
        "[keys]\n"
        "main = F88\n"  // no key's name
        "[messages]\n"
        "axisChange = %s%n\n"
        "[steps]\n"
        "scaleSteps = 5,10\n";
    options.script = [](sim::Game& game) {
        game.note("command", game.findCommand("ToggleFreeplot") != 0 ? "found" : "missing");
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_TRUE(t.loadResult);
    EXPECT_THAT(settingsLines(t),
                ElementsAre("Invalid value for key: main",
                            "Message for axisChange is too large or missing format placeholder, "
                            "default message will be used",
                            "Invalid value in scaleSteps, succesfully parsed 1"));
    EXPECT_EQ(t.note("command"), "found");
    const auto sites = siteNames(t);
    EXPECT_THAT(sites, Contains("snapJump"));            // object snap switched off
    EXPECT_THAT(sites, Not(Contains("timeoutFreese")));  // "enabled" is not true
    EXPECT_THAT(sites, Not(Contains("buildEnable")));    // freeplot mode off at start
}

TEST(SettingsSession, ShippedFileStartsTheGameAsNoFileDoes) {
    std::ifstream in(sim::sourceDirectory() + "/data/freeplot.ini", std::ios::binary);
    const std::string shipped((std::istreambuf_iterator<char>(in)), {});
    ASSERT_FALSE(shipped.empty());

    sim::Options withFile;
    withFile.settings = shipped;
    const sim::Transcript a = sim::run(withFile);
    const sim::Transcript b = sim::run(sim::Options{});
    ASSERT_TRUE(a.completed) << a.text();
    ASSERT_TRUE(b.completed) << b.text();
    EXPECT_THAT(settingsLines(a), ElementsAre("Invalid value in rotateSteps, succesfully parsed 7",
                                              "Invalid value in moveSteps, succesfully parsed 7",
                                              "Invalid value in scaleSteps, succesfully parsed 5"));
    EXPECT_THAT(settingsLines(b), ElementsAre(StartsWith("Could not read/parse config file ")));
    EXPECT_EQ(siteNames(a), siteNames(b));
    for (std::size_t i = 0; i < a.sites.size() && i < b.sites.size(); ++i)
        EXPECT_EQ(a.sites[i].after, b.sites[i].after) << a.sites[i].name;
}

// The report beside the log is written whole or not at all, on a worker: a report file another
// program holds, or a folder where it would go, stays as it was, and one log line says so. It does
// not depend on the log: with every log name held by another program, it is written all the same.
TEST(SettingsSession, AReportThatCannotBeWrittenStaysAsItWasAndIsSaidOnce) {
    const std::string folder = "/home/Documents/My Games/Fallout4/F4SE/";
    const std::string report = folder + "freeplot_settings.txt";
    const std::string notWritten = "Settings report <root>\\home\\Documents\\My Games\\Fallout4"
                                   "\\F4SE\\freeplot_settings.txt could not be written: the one "
                                   "before stays";
    auto session = [&](const std::function<void(sim::Game&)>& before) {
        sim::Options options;
        options.settings = "[keys]\nmoveUp = F1\n";
        options.beforeQuery = before;
        options.script = [&](sim::Game& game) {
            // Written, or said not to be: either ends the worker's part.
            game.waitUntil(
                [&] {
                    const auto text = game.readFile(game.root() + report);
                    const auto lines = game.logLines();
                    return (text && !text->empty()) ||
                           std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
                               return l.rfind("Settings report ", 0) == 0;
                           });
                },
                std::chrono::seconds(10));
            if (std::filesystem::is_directory(game.root() + report))
                game.note("report", "a folder");
            else
                game.noteFile("report", game.root() + report);
            game.note("temporary", game.readFile(game.root() + report + ".tmp") ? "left" : "none");
        };
        sim::Transcript t = sim::run(options);
        std::string root = "Z:" + t.root;  // as the plugin names it
        std::replace(root.begin(), root.end(), '/', '\\');
        for (std::string& line : t.log)
            for (std::size_t at; (at = line.find(root)) != std::string::npos;)
                line.replace(at, root.size(), "<root>");
        return t;
    };
    const sim::Transcript written = session(nullptr);
    const sim::Transcript held =
        session([&](sim::Game& game) { ASSERT_TRUE(game.holdFileLock(game.root() + report)); });
    const sim::Transcript inFolder = session(
        [&](sim::Game& game) { std::filesystem::create_directories(game.root() + report); });
    const sim::Transcript noLog = session([&](sim::Game& game) {
        std::filesystem::create_directories(game.root() + folder);
        const std::string log = game.root() + folder + "freeplot_plugin.log";
        ASSERT_TRUE(game.holdFileLock(log));
        for (int i = 0; i < 5; ++i) ASSERT_TRUE(game.holdFileLock(log + std::to_string(i)));
    });
    for (const sim::Transcript* t : {&written, &held, &inFolder, &noLog}) {
        ASSERT_TRUE(t->completed) << t->text();
        EXPECT_EQ(t->note("temporary"), "none");
    }
    EXPECT_THAT(written.note("report").value_or(""),
                HasSubstr("snap, moveUp: F1 (code 112) is bound to 2 actions"));
    // The same report, for its first line, which names the session's own folder.
    const auto body = [](const sim::Transcript& t) {
        const std::string text = t.note("report").value_or("");
        return text.substr(std::min(text.find('\n'), text.size()));
    };
    EXPECT_EQ(body(noLog), body(written));
    EXPECT_EQ(held.note("report"), "");  // as the holder left it: empty
    EXPECT_EQ(inFolder.note("report"), "a folder");
    EXPECT_THAT(written.log, Not(Contains(notWritten)));
    for (const sim::Transcript* t : {&held, &inFolder}) {
        EXPECT_EQ(std::count(t->log.begin(), t->log.end(), notWritten), 1) << t->text();
        std::vector<std::string> others = t->log;
        others.erase(std::remove(others.begin(), others.end(), notWritten), others.end());
        EXPECT_EQ(others, written.log);
    }
}

// Needs the keyboard dispatcher, which turns bound keys into actions; until it lands every key
// passes through to the game. Enable it with the dispatcher.
TEST(SettingsSession, BindingsMessagesAndStepsFromTheFileDriveTheKeys) {
    sim::Options options;
    options.settings =
        "[keys]\n"
        "snap = 0x41\n"            // A
        "rotateStepPlus = 66\n"    // B
        "changeRotateAxis = 18\n"  // either Alt
        "[messages]\n"
        "snapOff = Snap is off!\n"
        "axisChange = Axis now %c\n"
        "rotateStepChange = Rot %g deg\n"
        "[steps]\n"
        "rotateSteps = 2 4 8\n"
        "rotateStepIdx = 3\n";
    options.script = [](sim::Game& game) {
        game.setWorkshopMode(true);
        pressAndRelease(game, 112);   // F1: no longer bound
        pressAndRelease(game, 0x41);  // snap off
        pressAndRelease(game, 66);    // last entry -> first
        pressAndRelease(game, 66);
        pressAndRelease(game, 18, 2);  // right Alt: Z -> X
        pressAndRelease(game, 18);     // left Alt: X -> Y
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << t.text();
    EXPECT_THAT(settingsLines(t),
                ElementsAre("Invalid value in rotateSteps, succesfully parsed 3"));
    EXPECT_THAT(t.messages,
                ElementsAre("Snap is off!", "Rot 2 deg", "Rot 4 deg", "Axis now X", "Axis now Y"));
}

TEST(SettingsSession, HostileFilesNeverStopTheGame) {
    std::string binary;
    for (int i = 0; i < 8192; ++i) binary += static_cast<char>((i * 167 + 13) & 0xFF);
    const std::string files[] = {
        "",
        std::string(1 << 20, 'k'),  // one huge line
        binary,
        "[messages]\nscaleChange = %n%n%n%s%s%s\naxisChange = %1$*2$d\n"
        "rotateStepChange = %99999999999f\n[steps]\nrotateSteps = nan inf\n",
    };
    // Saved as UTF-16, in either byte order, the file gives every default at the start, and no
    // log line speaks of it; a file beyond 4 MiB is one that cannot be read.
    std::string utf16le = "\xFF\xFE", utf16be;
    for (const char c : std::string("[keys]\r\nmoveUp = 121\r\n"))
        utf16le += std::string{c, '\0'}, utf16be += std::string{'\0', c};
    for (const std::string& file : {utf16le, utf16be, std::string((4u << 20) + 1, '\n')}) {
        sim::Options options;
        options.settings = file;
        const sim::Transcript t = sim::run(options);
        ASSERT_TRUE(t.completed) << t.text();
        if (file.size() < 100)
            EXPECT_THAT(settingsLines(t), IsEmpty()) << t.text();
        else
            EXPECT_THAT(settingsLines(t), ElementsAre(StartsWith("Could not read/parse config file ")));
    }
    for (const std::string& file : files) {
        sim::Options options;
        options.settings = file;
        options.script = [](sim::Game& game) {
            game.setWorkshopMode(true);
            pressAndRelease(game, 107);  // numpad +: next rotate step
            pressAndRelease(game, 162);  // left Ctrl: next axis
        };
        const sim::Transcript t = sim::run(options);
        ASSERT_TRUE(t.completed) << t.ending << "\n" << t.text();
        EXPECT_TRUE(t.loadResult);
        EXPECT_THAT(t.log, Not(Contains(HasSubstr("Could not read/parse"))));
        EXPECT_THAT(t.log, Contains("Hooks set up, memory remain 1885"));
    }
}

}  // namespace
