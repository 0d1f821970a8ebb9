// The scenario files of tests/scenarios, each played in the simulated game, and what
// `freeplot-sim play` answers for a scenario that is wrong (exit 1, naming its line) or that
// cannot be played at all (exit 2, one line saying why).

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/build_paths.h"
#include "sim/scenario.h"

namespace {

// The scenario files, sorted; read when the program starts, so that the test runner lists one
// test per file and plays them side by side.
std::vector<std::filesystem::path> scenarioFiles() {
    const std::filesystem::path dir = sim::sourceDirectory() + "/tests/scenarios";
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error))
        if (entry.path().extension() == ".scenario") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

TEST(Scenarios, EveryScenarioFileIsPlayedByATestOfItsOwn) {
    ASSERT_GE(scenarioFiles().size(), 9u);
}

class ScenarioFile : public ::testing::TestWithParam<std::filesystem::path> {};

TEST_P(ScenarioFile, PlaysThrough) {
    const std::filesystem::path& file = GetParam();
    const sim::Scenario scenario = sim::readScenario(file.string());
    sim::Options options;
    // A scenario written for a game image without the game's code says so.
    options.blankImage = scenario.source.find("--blank-image") != std::string::npos;
    // FREEPLOT_REPLAY_KEPT_STAYS=0 plays each file without replaying the stays it left: the
    // ThreadSanitizer run sets it, where replays are half the cost of the files and run the same
    // plugin code again (chaos there still replays its stays).
    const char* replays = std::getenv("FREEPLOT_REPLAY_KEPT_STAYS");
    options.replayKeptStays = !(replays && std::string(replays) == "0");
    const sim::PlayOutcome outcome = sim::playScenario(scenario, options);
    EXPECT_TRUE(outcome.passed()) << file.filename() << ": " << outcome.failure << "\n"
                                  << outcome.transcript.text() << outcome.replayedFile;
    // Played through, its last stay, kept by the plugin beside the log, replayed as it ended (or,
    // without replays, read as a scenario).
    if (outcome.passed() && !options.blankImage) {
        EXPECT_GE(outcome.keptStays, 1) << file.filename();
        EXPECT_EQ(outcome.replays, options.replayKeptStays ? outcome.keptStays : 0)
            << file.filename();
    }
}

// Each test is named after its file: letters and digits kept, anything else an underscore.
INSTANTIATE_TEST_SUITE_P(
    Every, ScenarioFile, ::testing::ValuesIn(scenarioFiles()),
    [](const ::testing::TestParamInfo<std::filesystem::path>& file) {
        std::string name = file.param.stem().string();
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });

struct Played {
    int status = -1;
    std::string output;  // standard output and standard error
};

Played play(const std::string& path, const std::string& options = "") {
    const std::string command =
        sim::buildDirectory() + "/sim/freeplot-sim play '" + path + "'" + options + " 2>&1";
    Played played;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return played;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        played.output.append(buffer, n);
    const int status = pclose(pipe);
    played.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return played;
}

// Scenario files written into a folder of the test's own, played by `freeplot-sim play` or read by
// the player in this process (a file it cannot play never reaches a session).
class ScenarioPlayer : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(dir); }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(dir / name, std::ios::binary) << text;
        return (dir / name).string();
    }
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("freeplot-scenarios-" + std::to_string(::getpid()));
    // Why the player cannot play the file at PATH ("played" when it reads it).
    static std::string whyUnplayable(const std::string& path) {
        try {
            sim::readScenario(path);
            return "played";
        } catch (const sim::ScenarioError& error) {
            return error.what();
        }
    }
};

TEST_F(ScenarioPlayer, NamesTheLineOfAnExpectationThatFails) {
    // An expectation that never holds ends at its deadline with exit 1 and names its line.
    const Played wrong = play(write("wrong.scenario",
                                    "object a at 0 0 0\nselect a\nkey Numpad 8\n"
                                    "expect position a 0 0 5\nkey Numpad 8\n"));
    EXPECT_EQ(wrong.status, 1) << wrong.output;
    EXPECT_NE(wrong.output.find("wrong.scenario:4: expect position a 0 0 5: found"),
              std::string::npos)
        << wrong.output;
    // A log line from before the step it checks does not count, nor does a message that comes
    // late in the wait of "expect no message", nor a scale the worker writes after it held.
    const std::pair<std::string, std::string> failing[] = {
        {"object a at 0 0 0\nselect a\nkey Numpad 8\nexpect log \"Hooks set up, memory remain "
         "1885\"\n",
         ":4: expect log"},
        {"object a at 0 0 0\nselect a\nkey Numpad 3\nexpect no message\n",
         ":4: expect no message: a message came: \"Scale set to 110%\""},
        // (The worker may also have written it before the expectation began: found at once.)
        {"object a at 0 0 0\nselect a\nkey Numpad 3\nexpect scale a 100\n",
         ":4: expect scale a 100: "},
    };
    for (const auto& [text, says] : failing) {
        const Played p = play(write("late.scenario", text));
        EXPECT_EQ(p.status, 1) << text << p.output;
        EXPECT_NE(p.output.find("late.scenario" + says), std::string::npos) << p.output;
    }
    EXPECT_NE(play(write("late.scenario", failing[2].first)).output.find("found 110"),
              std::string::npos);
}

TEST_F(ScenarioPlayer, SaysWhyAFileOrItsSettingsCannotPlay) {
    // Exit 2, with one line saying why.
    std::string binary(3000, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 7 % 256);
    const std::pair<std::string, std::string> unplayable[] = {
        {write("step.scenario", "fly away\n"), "step.scenario:1: unknown step \"fly\""},
        {write("mark.scenario", "\xEF\xBB\xBF" "fly away\n"),
         "mark.scenario:1: unknown step \"fly\""},
        {write("key.scenario", "key Hyperspace\n"), "key.scenario:1: unknown key \"Hyperspace\""},
        {write("object.scenario", "select ghost\n"), "object.scenario:1: no object named"},
        {write("bytes.scenario", "expect bytes collisionSnap 13 1\n"),
         "bytes.scenario:1: expected: expect bytes SITE OFFSET HH [HH ...]"},
        {write("long.scenario", "key " + std::string(10000, 'A') + "\n"),
         "long.scenario:1: the line is too long"},
        {write("binary.scenario", binary), "binary.scenario: this is no text file"},
        {(dir / "missing.scenario").string(), "missing.scenario: cannot read the file"},
        {dir.string(), "cannot read the file"},
        {write("wrap.scenario", "object a at 0 0 0 scale 70000\n"), "wrap.scenario:1: a scale"},
        {write("far.scenario", "object a at 0 0 0\nexpect scale a 70000\n"), "far.scenario:2: a"},
        {write("huge.scenario", "object a at 1e39 0 0\n"), "huge.scenario:1: \"1e39\" is beyond"},
        {write("quote.scenario", "expect log \"open\n"), "quote.scenario:1: a quoted text is not"},
        // A file without end is not read whole (it took all memory and died).
        {"/dev/zero", "/dev/zero: the file holds more than 16 MiB"},
    };
    const std::string fine = write("fine.scenario", "object a at 0 0 0\n");
    for (const std::string& settings : {dir.string(), (dir / "none.ini").string()}) {
        const Played p = play(fine, " --settings '" + settings + "'");
        EXPECT_EQ(p.status, 2) << p.output;
        EXPECT_EQ(p.output, "freeplot-sim: " + settings + ": cannot read the file\n");
    }
    const Played endless = play(fine, " --settings /dev/zero");
    EXPECT_EQ(endless.status, 2) << endless.output;
    EXPECT_EQ(endless.output,
              "freeplot-sim: /dev/zero: the file holds more than 16 MiB, more "
              "than any to play\n");
    // The player reads each file as `freeplot-sim play` does, which prints the reason on a line of
    // its own and ends with exit 2 (the first file played by it for that).
    for (const auto& [path, says] : unplayable) {
        const std::string why = whyUnplayable(path);
        EXPECT_NE(why.find(says), std::string::npos) << path << ": " << why;
        EXPECT_EQ(why.find('\n'), std::string::npos) << why;
    }
    const Played p = play(unplayable[0].first);
    EXPECT_EQ(p.status, 2) << p.output;
    EXPECT_EQ(p.output, "freeplot-sim: " + whyUnplayable(unplayable[0].first) + "\n");
}

TEST_F(ScenarioPlayer, SaysWhichLineHasAStepWithAWordTooManyOrTooFew) {
    // Every step with one word too many or (but "mouse") too few.
    std::istringstream steps(
        "select none|unload a|workshop on|workshop busy on|heading 5|button left up|wheel 1|mouse|"
        "wait 1|ignore input on|main loop stall|expect scale a 100|expect position a 0 0 0|"
        "expect message \"x\"|expect no message|expect settled|settings file cut 1");
    for (std::string step; std::getline(steps, step, '|');) {
        for (const std::string& miscounted : {step + " 1", step.substr(0, step.rfind(' '))}) {
            if (miscounted == "mouse") continue;
            const std::string why =
                whyUnplayable(write("count.scenario", "object a at 0 0 0\n" + miscounted + "\n"));
            EXPECT_NE(why.find("count.scenario:2: "), std::string::npos)
                << miscounted << ": " << why;
        }
    }
}

}  // namespace
