// Reading and printing transcripts.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/sim.h"

namespace sim {

std::string hex(const std::uint8_t* bytes, std::size_t count) {
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
        if (i) out += ' ';
        out += buf;
    }
    return out;
}

std::string hex(const std::vector<std::uint8_t>& bytes) { return hex(bytes.data(), bytes.size()); }

std::vector<std::string> Transcript::notesFor(const std::string& key) const {
    std::vector<std::string> values;
    for (const auto& n : notes)
        if (n.key == key) values.push_back(n.value);
    return values;
}

std::optional<std::string> Transcript::note(const std::string& key) const {
    for (const auto& n : notes)
        if (n.key == key) return n.value;
    return std::nullopt;
}

const SiteChange* Transcript::site(const std::string& name) const {
    for (const auto& s : sites)
        if (s.name == name) return &s;
    return nullptr;
}

bool Transcript::logHas(const std::string& line) const {
    return std::find(log.begin(), log.end(), line) != log.end();
}

std::size_t Transcript::countCalls(const std::string& prefix) const {
    return static_cast<std::size_t>(std::count_if(
        calls.begin(), calls.end(),
        [&](const std::string& c) { return c.compare(0, prefix.size(), prefix) == 0; }));
}

namespace {

// The session root in a line, as the plugin sees it (Z:\\tmp\\...) or as the sim does, becomes
// "<root>", so transcripts of different sessions compare equal.
std::string withoutRoot(std::string line, const std::string& root) {
    if (root.empty()) return line;
    std::string windows = "Z:" + root;
    for (char& c : windows)
        if (c == '/') c = '\\';
    for (const std::string& r : {windows, root}) {
        for (std::size_t at = line.find(r); at != std::string::npos; at = line.find(r, at + 6))
            line.replace(at, r.size(), "<root>");
    }
    return line;
}

}  // namespace

std::string Transcript::text() const {
    std::ostringstream out;
    auto section = [&](const char* name, const std::vector<std::string>& lines) {
        out << "== " << name << " (" << lines.size() << ")\n";
        for (const auto& l : lines) out << "  " << withoutRoot(l, root) << "\n";
    };
    section("log", log);
    out << "== session: " << ending << "\n";
    out << "  query: "
        << (queryCalled ? (queryResult ? "returned true" : "returned false") : "not called")
        << "; load: "
        << (loadCalled ? (loadResult ? "returned true" : "returned false") : "not called") << "\n";
    if (queryCalled) {
        out << "  info: version " << infoVersion << ", name "
            << (infoName ? "\"" + *infoName + "\"" : "null") << ", plugin version "
            << infoPluginVersion << "\n";
    }
    section("messages", messages);
    section("console", console);
    // The lookups of kept handles are left out: how many a waiting worker makes, and where they
    // fall among the other threads' calls, is the machine's timing, not the plugin's doing.
    std::vector<std::string> shown;
    for (const auto& c : calls)
        if (c.rfind("lookupRefByHandle(kept handle ", 0) != 0) shown.push_back(c);
    section("calls", shown);
    if (imageBytesChanged)
        out << "== image: " << *imageBytesChanged << " bytes changed by Query and Load\n";
    out << "== sites changed (" << sites.size() << ")\n";
    for (const auto& s : sites) {
        char off[32];
        std::snprintf(off, sizeof off, "game+0x%X", s.offset);
        out << "  " << s.name << " " << off << "\n"
            << "    before: " << hex(s.before) << "\n"
            << "    after:  " << hex(s.after) << "\n";
    }
    out << "== notes (" << notes.size() << ")\n";
    for (const auto& n : notes) out << "  " << n.key << " = " << withoutRoot(n.value, root) << "\n";
    if (!errors.empty()) section("errors", errors);
    if (!stderrLines.empty()) section("stderr", stderrLines);
    return out.str();
}

namespace {

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace

std::string compareWithGolden(const Transcript& transcript, const std::string& path) {
    const std::string actual = transcript.text();
    const char* update = std::getenv("FREEPLOT_UPDATE_GOLDEN");
    if (update && *update) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << actual;
        return "";
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) return "no expected file " + path + " (set FREEPLOT_UPDATE_GOLDEN=1 to write it)";
    std::ostringstream ss;
    ss << in.rdbuf();
    if (ss.str() == actual) return "";

    auto want = splitLines(ss.str());
    auto got = splitLines(actual);
    std::ostringstream diff;
    diff << "transcript differs from " << path << ":\n";
    std::size_t shown = 0;
    for (std::size_t i = 0; i < std::max(want.size(), got.size()) && shown < 20; ++i) {
        const std::string* w = i < want.size() ? &want[i] : nullptr;
        const std::string* g = i < got.size() ? &got[i] : nullptr;
        if (w && g && *w == *g) continue;
        diff << "line " << i + 1 << ":\n  expected: " << (w ? *w : "<none>")
             << "\n  actual:   " << (g ? *g : "<none>") << "\n";
        ++shown;
    }
    return diff.str();
}

}  // namespace sim
