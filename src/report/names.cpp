// The nearest known name to one the plugin does not know, for the report's advice.

#include <algorithm>
#include <cctype>
#include <vector>

#include "report/report.h"

namespace freeplot {
namespace {

// A name longer than this is no slip of the keyboard for any name the plugin knows.
constexpr std::size_t kLongestCompared = 64;

// The single-character edits between two texts, letters compared in any case.
std::size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> previous(b.size() + 1), current(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) previous[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        current[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                              std::tolower(static_cast<unsigned char>(b[j - 1]));
            current[j] =
                std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (same ? 0 : 1)});
        }
        std::swap(previous, current);
    }
    return previous[b.size()];
}

}  // namespace

std::string nearestName(const std::string& name, const std::vector<std::string>& known) {
    if (name.size() > kLongestCompared) return {};
    std::string best;
    std::size_t bestDistance = std::string::npos;
    for (const std::string& candidate : known) {
        // Names whose lengths differ by more than the edits allowed cannot be near.
        const std::size_t allowed =
            std::max<std::size_t>(1, std::min(name.size(), candidate.size()) / 4);
        const std::size_t apart = name.size() > candidate.size() ? name.size() - candidate.size()
                                                                 : candidate.size() - name.size();
        if (apart > allowed) continue;
        const std::size_t d = editDistance(name, candidate);
        if (d <= allowed && d < bestDistance) {
            bestDistance = d;
            best = candidate;
        }
    }
    return best;
}

}  // namespace freeplot
