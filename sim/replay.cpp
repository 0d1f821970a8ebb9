// The stays the plugin keeps beside its log, replayed: each scenario and chaos sequence ends its
// last stay, and the files the plugin wrote for it (freeplot_session.txt and the one before,
// freeplot_session_previous.txt) are played in sessions of their own, each of which must end as
// its stay ended. Also the "settings start" lines, which give such a file the settings file its
// stay read, byte for byte.

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/scenario.h"

namespace sim {
namespace {

// How the plugin's files begin, and what they are called beside the log.
constexpr const char* kKeptHeading = "# Freeplot: a stay in workshop mode, kept as a scenario file";
constexpr const char* kCurrent = "freeplot_session.txt";
constexpr const char* kPrevious = "freeplot_session_previous.txt";
// The notes that carry the files from the session to the parent.
constexpr const char* kNoteCurrent = "stay kept";
constexpr const char* kNotePrevious = "stay kept before";
// How long the plugin's worker may take to write the stay (a stay that kept no event writes
// nothing: the wait then ends here).
constexpr auto kWriteDeadline = std::chrono::milliseconds(2000);
// The most bytes one "settings start bytes" line gives.
constexpr std::size_t kMostBytesALine = 4096;

using Stamp = std::optional<std::pair<std::filesystem::file_time_type, std::uintmax_t>>;

// When the file was written and how large it is, asked without opening it: a reader that held it
// open would keep the plugin from replacing it.
Stamp stampOf(const std::string& path) {
    std::error_code error;
    const auto time = std::filesystem::last_write_time(path, error);
    if (error) return std::nullopt;
    const auto size = std::filesystem::file_size(path, error);
    if (error) return std::nullopt;
    return std::make_pair(time, size);
}

std::string withoutCarriageReturns(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

}  // namespace

bool startFileStep(const std::vector<std::string>& w, std::string& file, std::string& why) {
    why.clear();
    if (w.size() < 2 || w[0] != "settings" || w[1] != "start") return false;
    if (w.size() >= 4 && w[2] == "line" &&
        (w.size() == 4 || (w.size() == 5 && w[4] == "crlf"))) {
        file += w[3] + (w.size() == 5 ? "\r\n" : "\n");
        return true;
    }
    bool bytes = w.size() >= 4 && w.size() - 3 <= kMostBytesALine && w[2] == "bytes";
    for (std::size_t i = 3; bytes && i < w.size(); ++i)
        bytes = w[i].size() == 2 && std::isxdigit(static_cast<unsigned char>(w[i][0])) &&
                std::isxdigit(static_cast<unsigned char>(w[i][1]));
    if (!bytes) {
        why = "expected: settings start line \"TEXT\" [crlf] | settings start bytes HH [HH ...]";
        return false;
    }
    for (std::size_t i = 3; i < w.size(); ++i)
        file += static_cast<char>(std::stoul(w[i], nullptr, 16));
    return true;
}

bool isKeptStay(const std::string& source) { return source.rfind(kKeptHeading, 0) == 0; }

void keepStay(Game& game) {
    const std::string folder = game.documentsDir() + "/My Games/Fallout4/F4SE/";
    const std::string current = folder + kCurrent, previous = folder + kPrevious;
    const Stamp before = stampOf(current), previousBefore = stampOf(previous);
    // The first event outside workshop mode ends the stay.
    game.setWorkshopMode(false);
    game.mouseEvent(0);
    // The plugin writes the stay, then keeps the file it replaced as the previous one.
    if (game.waitUntil([&] { return stampOf(current) != before; }, kWriteDeadline) && before)
        game.waitUntil([&] { return stampOf(previous) != previousBefore; }, kWriteDeadline);
    if (auto text = game.readFile(current)) game.note(kNoteCurrent, withoutCarriageReturns(*text));
    if (auto text = game.readFile(previous))
        game.note(kNotePrevious, withoutCarriageReturns(*text));
}

void replayKeptStays(PlayOutcome& outcome, const Options& options) {
    std::vector<Note>& notes = outcome.transcript.notes;
    std::vector<std::pair<std::string, std::string>> kept;
    for (auto it = notes.begin(); it != notes.end();) {
        if (it->key == kNoteCurrent || it->key == kNotePrevious) {
            kept.emplace_back(it->key == kNoteCurrent ? kCurrent : kPrevious, it->value);
            it = notes.erase(it);
        } else {
            ++it;
        }
    }
    outcome.keptStays = static_cast<int>(kept.size());
    // Without replays each file is still read as the player reads one: the session it would
    // need is what the caller saves.
    const bool replaying = options.replayKeptStays;
    const char* const note = replaying ? "stay replayed" : "stay not replayed";
    const char* const fine = replaying ? ": it ended as its stay did" : ": it reads as a scenario";
    const char* const fault = replaying ? ") did not replay as it ended: "
                                        : ") does not read as a scenario: ";
    for (const auto& [file, text] : kept) {
        std::string failure;
        try {
            const Scenario stay = parseScenario(text, file);
            if (replaying) {
                Options replay = options;
                replay.settings = std::nullopt;
                failure = playScenario(stay, replay).failure;
            }
        } catch (const ScenarioError& error) {
            failure = error.what();
        }
        outcome.replays += replaying ? 1 : 0;
        notes.push_back({note, file + (failure.empty() ? fine : ": failed")});
        if (failure.empty() || !outcome.failure.empty()) continue;
        outcome.failure = "the stay kept beside the log (" + file + fault + failure;
        outcome.replayedFile = text;
    }
}

}  // namespace sim
