// One game session is one process. The parent makes a fresh root folder and starts the child
// (host.h); the child lays out the game, loads the plugin as the script extender does, plays the
// script and records everything into files under <root>/.sim, which the parent reads back into a
// Transcript however the child ended.

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "sim/build_paths.h"
#include "sim/host.h"
#include "sim/internal.h"
#include "sim/scenario.h"

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define FREEPLOT_UNDER_TSAN 1
#endif
#elif defined(__SANITIZE_THREAD__)
#define FREEPLOT_UNDER_TSAN 1
#endif
#ifdef FREEPLOT_UNDER_TSAN
extern "C" void __tsan_ignore_thread_begin();
extern "C" void __tsan_ignore_thread_end();
#endif

#ifndef FREEPLOT_PLUGIN_IN_BUILD
#define FREEPLOT_PLUGIN_IN_BUILD ""
#endif
#ifndef FREEPLOT_SIM_FIXTURE_IN_BUILD
#define FREEPLOT_SIM_FIXTURE_IN_BUILD ""
#endif

namespace sim {

using namespace detail;

namespace {

// The script extender's interface record as the plugin sees it.
struct F4SEInterface {
    std::uint32_t f4seVersion;
    std::uint32_t runtimeVersion;
    std::uint32_t editorVersion;
    std::uint32_t isEditor;
    void* queryInterface;
    void* getPluginHandle;
    void* getReleaseIndex;
    void* getPluginInfo;
};
static_assert(offsetof(F4SEInterface, runtimeVersion) == 4);
static_assert(offsetof(F4SEInterface, isEditor) == 12);

// The plugin information record that Query fills.
struct PluginInfo {
    std::uint32_t infoVersion;
    const char* name;
    std::uint32_t version;
};
static_assert(offsetof(PluginInfo, infoVersion) == 0);
static_assert(offsetof(PluginInfo, name) == 8);
static_assert(offsetof(PluginInfo, version) == 16);

using QueryFn = bool (*)(const F4SEInterface*, PluginInfo*);
using LoadFn = bool (*)(const F4SEInterface*);

std::string simDir(const std::string& root) { return root + "/.sim"; }

std::vector<std::uint8_t> snapshot(const SiteInfo& s) { return Game::bytes(s.offset, s.length); }

// The session's own look at the whole image, before Query and after Load, is no access of the
// game's or the plugin's: ThreadSanitizer would record every byte of the 96 MiB twice (a shadow
// four times the image's size, faulted in page by page), which made this session alone take
// seconds of processor time, and a minute when the machine was busy.
struct UncheckedAccesses {
#ifdef FREEPLOT_UNDER_TSAN
    UncheckedAccesses() { __tsan_ignore_thread_begin(); }
    ~UncheckedAccesses() { __tsan_ignore_thread_end(); }
#else
    UncheckedAccesses() = default;
#endif
    UncheckedAccesses(const UncheckedAccesses&) = delete;
    UncheckedAccesses& operator=(const UncheckedAccesses&) = delete;
};

void emitSiteChanges(const char* stage, const std::vector<std::vector<std::uint8_t>>& before) {
    const auto& sites = watchedSites();
    std::vector<std::size_t> changed;
    for (std::size_t i = 0; i < sites.size(); ++i)
        if (snapshot(sites[i]) != before[i]) changed.push_back(i);
    emit(kind::sitesBegin, {stage, std::to_string(changed.size())});
    for (std::size_t i : changed) {
        char off[16];
        std::snprintf(off, sizeof off, "%X", sites[i].offset);
        emit(kind::site, {sites[i].name, off, hex(before[i]), hex(snapshot(sites[i]))});
    }
}

}  // namespace

int host::runChild(const Options& o, const std::string& root, const std::string& plugin) {
    const int events = host::openEventFile(simDir(root) + "/events");
    if (events < 0) return 120;
    openRecorder(events);
    try {
        namespace fs = std::filesystem;
        fs::create_directories(host::filePath(root + "/Fallout4/Data/F4SE/Plugins"));
        const std::string settingsFile = root + "/Fallout4/Data/F4SE/Plugins/freeplot.ini";
        if (o.settings)
            std::ofstream(host::filePath(settingsFile), std::ios::binary) << *o.settings;
        std::optional<Scenario> scenario;
        if (!o.script && !o.scenarioText.empty())
            scenario = parseScenario(o.scenarioText, o.scenarioName);
        const bool held = scenario && scenario->heldAtLoad && o.settings;

        buildImage(o.commandTable, o.blankImage || o.imageBytes < loc::imageSize, o.imageBytes);
        auto* game = new Game(root);  // lives until the process ends
        if (o.beforeQuery) o.beforeQuery(*game);
        // A report that an earlier session left in a documents folder every session shares (under
        // Wine) is none of this one's: the scenario player waits for this session's own.
        if (scenario) {
            std::error_code ignored;
            fs::remove(host::filePath(game->documentsDir() +
                                      "/My Games/Fallout4/F4SE/freeplot_settings.txt"),
                       ignored);
        }

        std::vector<std::vector<std::uint8_t>> before;
        for (const auto& s : watchedSites()) before.push_back(snapshot(s));
        protectCode();
        std::vector<std::uint8_t> wholeImage;
        if (o.countImageChanges) {
            [[maybe_unused]] const UncheckedAccesses unchecked;
            wholeImage = Game::bytes(0, o.imageBytes);
        }

        if (plugin.empty())
            throw std::runtime_error("no plugin to load: set FREEPLOT_PLUGIN or Options::plugin");
        const host::Plugin entries = host::loadPlugin(plugin);
        const auto query = reinterpret_cast<QueryFn>(entries.query);
        const auto load = reinterpret_cast<LoadFn>(entries.load);

        static F4SEInterface iface{};
        iface.f4seVersion = 0x00030000;
        iface.runtimeVersion = o.runtimeVersion;
        iface.isEditor = o.editor;
        static PluginInfo info{0xFFFFFFFF, nullptr, 0xFFFFFFFF};

        emit(kind::queryCalled, {});
        bool accepted = query(&iface, &info);
        std::fflush(stdout);
        emit(kind::queryResult, {accepted ? "1" : "0"});
        emit(kind::info, {std::to_string(info.infoVersion), info.name ? "1" : "0",
                          info.name ? info.name : "", std::to_string(info.version)});
        if (accepted && o.callLoad) {
            emit(kind::loadCalled, {});
            if (held) host::holdAgainstReading(settingsFile, true);
            bool loaded = load(&iface);
            if (held) host::holdAgainstReading(settingsFile, false);
            std::fflush(stdout);
            emit(kind::loadResult, {loaded ? "1" : "0"});
        }
        emitSiteChanges("load", before);
        if (o.countImageChanges) {
            // Compared a page at a time, byte by byte only where a page differs: the image is
            // 96 MiB, and a sanitizer checks every single read.
            constexpr std::size_t kPage = 4096;
            [[maybe_unused]] const UncheckedAccesses unchecked;
            const std::uint8_t* now = Game::at(0);
            std::size_t changed = 0;
            for (std::size_t page = 0; page < wholeImage.size(); page += kPage) {
                const std::size_t n = std::min(kPage, wholeImage.size() - page);
                if (std::memcmp(now + page, wholeImage.data() + page, n) == 0) continue;
                for (std::size_t i = page; i < page + n; ++i) changed += now[i] != wholeImage[i];
            }
            emit(kind::imageChanged, {std::to_string(changed)});
        }

        callees().mainLoopTakes = o.gameTakesRefQueue;
        callees().recordInputCallees = o.recordInputCallees;
        callees().axisCommandMicros = o.axisCommandTime.count();
        // An image too small for the game's data has no hand-over slots to take from.
        if (o.imageBytes >= loc::imageSize) startMainLoop();
        if (o.script)
            o.script(*game);
        else if (scenario)
            playInSession(*game, *scenario, o.settings.value_or(""));
        std::fflush(stdout);
        emitSiteChanges("end", before);
        emit(kind::end, {});
        std::fflush(nullptr);
        return 0;
    } catch (const std::exception& e) {
        emit(kind::error, {e.what()});
    } catch (...) {
        emit(kind::error, {"the session ended with an exception"});
    }
    std::fflush(nullptr);
    return 3;
}

namespace {

std::vector<std::string> readLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(host::filePath(path), std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();  // a Windows console's line end
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::uint8_t> parseHex(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 3)
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

void readEvents(const std::string& path, Transcript& t) {
    bool ended = false;
    std::vector<SiteChange> group;
    std::size_t expected = 0;
    bool inGroup = false;
    for (const auto& line : readLines(path)) {
        auto f = splitRecord(line);
        if (f[0].size() != 1) continue;
        auto field = [&f](std::size_t i) { return i < f.size() ? f[i] : std::string(); };
        try {
            switch (f[0][0]) {
                case kind::call: {
                    const std::int64_t at = std::stoll(field(2));
                    t.calls.push_back(field(1));
                    t.callTimes.push_back(at);
                    break;
                }
                case kind::message: {
                    const std::int64_t at = std::stoll(field(2));
                    t.messages.push_back(field(1));
                    t.messageTimes.push_back(at);
                    break;
                }
                case kind::console:
                    t.console.push_back(field(1));
                    break;
                case kind::note:
                    t.notes.push_back({field(1), field(2)});
                    break;
                case kind::error:
                    t.errors.push_back(field(1));
                    break;
                case kind::queryCalled:
                    t.queryCalled = true;
                    break;
                case kind::queryResult:
                    t.queryResult = field(1) == "1";
                    break;
                case kind::loadCalled:
                    t.loadCalled = true;
                    break;
                case kind::loadResult:
                    t.loadResult = field(1) == "1";
                    break;
                case kind::info:
                    t.infoVersion = static_cast<std::uint32_t>(std::stoul(field(1)));
                    if (field(2) == "1") t.infoName = field(3);
                    t.infoPluginVersion = static_cast<std::uint32_t>(std::stoul(field(4)));
                    break;
                case kind::sitesBegin:
                    group.clear();
                    expected = std::stoul(field(2));
                    inGroup = true;
                    if (expected == 0) t.sites.clear();
                    break;
                case kind::site:
                    if (!inGroup) break;
                    group.push_back({field(1),
                                     static_cast<std::uint32_t>(std::stoul(field(2), nullptr, 16)),
                                     parseHex(field(3)), parseHex(field(4))});
                    if (group.size() == expected) {
                        t.sites = group;
                        inGroup = false;
                    }
                    break;
                case kind::end:
                    ended = true;
                    break;
                case kind::step:
                    t.lastStep = std::stoi(field(1));
                    break;
                case kind::imageChanged:
                    t.imageBytesChanged = std::stoul(field(1));
                    break;
                default:
                    break;
            }
        } catch (const std::exception&) {
            // A record cut short by the child's death: what came before it stands.
        }
    }
    t.completed = ended;
}

}  // namespace

namespace {
// A file of this build, named by its path inside the build folder.
std::string inBuild(const char* relative) {
    const std::string build = buildDirectory();
    return build.empty() || !*relative ? std::string() : build + "/" + relative;
}
}  // namespace

std::string defaultPluginPath() {
    const char* env = std::getenv("FREEPLOT_PLUGIN");
    return env && *env ? env : inBuild(FREEPLOT_PLUGIN_IN_BUILD);
}

std::string fixturePluginPath() { return inBuild(FREEPLOT_SIM_FIXTURE_IN_BUILD); }

Transcript run(const Options& options) {
    Transcript t;
    std::string plugin = options.plugin.empty() ? defaultPluginPath() : options.plugin;
    t.root = host::makeSessionRoot();
    if (t.root.empty()) {
        t.errors.push_back("cannot create a session root");
        t.ending = "not started";
        return t;
    }
    std::filesystem::create_directories(host::filePath(simDir(t.root)));

    const host::ChildEnd end = host::runSession(options, t.root, plugin);
    t.timedOut = end.timedOut;

    std::string dir = simDir(t.root);
    t.log = readLines(dir + "/stdout");
    t.stderrLines = readLines(dir + "/stderr");
    readEvents(dir + "/events", t);

    if (end.timedOut) {
        // A session that recorded its end and still ran out of time hung on its way out, which is
        // worth knowing apart from one that hung in the plugin or the script.
        const bool ended = t.completed;
        t.completed = false;
        t.signal = end.signal;
        t.ending = "timed out after " + std::to_string(options.timeout.count()) + " ms" +
                   (ended ? ", after its end was recorded," : "") + " and was killed";
    } else if (end.signal) {
        t.completed = false;
        t.signal = end.signal;
        t.ending = end.ending;
    } else {
        t.exitCode = end.exitCode;
        if (t.exitCode != 0) t.completed = false;
        t.ending = t.completed            ? "completed"
                   : !end.ending.empty() ? end.ending
                                         : "exited with code " + std::to_string(t.exitCode) +
                                               " before the end of the session";
    }
    if (!options.keepRoot) {
        std::error_code ec;
        std::filesystem::remove_all(host::filePath(t.root), ec);
    }
    return t;
}

}  // namespace sim
