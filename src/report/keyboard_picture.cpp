// The drawing of the keys in force: a US keyboard with its navigation block and numpad, and the
// mouse buttons. Each key is a cell of its cap and, on the line below, the short name of what it
// is bound to.

#include <bit>
#include <set>
#include <vector>

#include "config/actions.h"
#include "report/report.h"
#include "config/keynames.h"

namespace freeplot {
namespace {

// Short names of the actions, at most three characters, in the order of the action table.
constexpr std::array<const char*, kActionCount> kTags = {
    "fpm", "snp", "gnd", "grd", "tmo", "lvl", "trm", "rs-", "rs+", "axs", "out", "mvD",
    "mvU", "mvL", "mvR", "mvB", "mvF", "ms-", "ms+", "sc-", "sc+", "sc0", "und", "sto",
    "pX",  "pY",  "pZ",  "aX",  "aY",  "aZ",  "pS",  "all", "clm", "lck", "xsl", "dup",
    "del", "tnL", "tnR", "ph+", "ph-", "ss-", "ss+", "clk", "red", "aln", "inf",
};
constexpr const char* kSharedTag = "**";

// A key of the drawing: its code (0: a gap), its width in columns with its left border, its cap.
struct Cell {
    std::uint16_t code;
    int width;
    const char* cap;
};
using Row = std::vector<Cell>;

// Six rows of each block; a block's row is drawn beside the same row of the others.
const std::vector<Row>& mainBlock() {
    static const std::vector<Row> rows = {
        {{0x1B, 4, "Esc"},
         {0, 4, ""},
         {0x70, 4, "F1"},
         {0x71, 4, "F2"},
         {0x72, 4, "F3"},
         {0x73, 4, "F4"},
         {0, 2, ""},
         {0x74, 4, "F5"},
         {0x75, 4, "F6"},
         {0x76, 4, "F7"},
         {0x77, 4, "F8"},
         {0, 2, ""},
         {0x78, 4, "F9"},
         {0x79, 4, "F10"},
         {0x7A, 4, "F11"},
         {0x7B, 4, "F12"}},
        {{0xC0, 4, "`"},
         {0x31, 4, "1"},
         {0x32, 4, "2"},
         {0x33, 4, "3"},
         {0x34, 4, "4"},
         {0x35, 4, "5"},
         {0x36, 4, "6"},
         {0x37, 4, "7"},
         {0x38, 4, "8"},
         {0x39, 4, "9"},
         {0x30, 4, "0"},
         {0xBD, 4, "-"},
         {0xBB, 4, "="},
         {0x08, 8, "Bksp"}},
        {{0x09, 6, "Tab"},
         {'Q', 4, "Q"},
         {'W', 4, "W"},
         {'E', 4, "E"},
         {'R', 4, "R"},
         {'T', 4, "T"},
         {'Y', 4, "Y"},
         {'U', 4, "U"},
         {'I', 4, "I"},
         {'O', 4, "O"},
         {'P', 4, "P"},
         {0xDB, 4, "["},
         {0xDD, 4, "]"},
         {0xDC, 6, "\\"}},
        {{0x14, 7, "Caps"},
         {'A', 4, "A"},
         {'S', 4, "S"},
         {'D', 4, "D"},
         {'F', 4, "F"},
         {'G', 4, "G"},
         {'H', 4, "H"},
         {'J', 4, "J"},
         {'K', 4, "K"},
         {'L', 4, "L"},
         {0xBA, 4, ";"},
         {0xDE, 4, "'"},
         {0x0D, 9, "Enter"}},
        {{0xA0, 9, "Shift"},
         {'Z', 4, "Z"},
         {'X', 4, "X"},
         {'C', 4, "C"},
         {'V', 4, "V"},
         {'B', 4, "B"},
         {'N', 4, "N"},
         {'M', 4, "M"},
         {0xBC, 4, ","},
         {0xBE, 4, "."},
         {0xBF, 4, "/"},
         {0xA1, 11, "Shift"}},
        {{0xA2, 5, "Ctrl"},
         {0x5B, 5, "Win"},
         {0xA4, 5, "Alt"},
         {0x20, 25, "Space"},
         {0xA5, 5, "Alt"},
         {0x5C, 5, "Win"},
         {0x5D, 5, "Menu"},
         {0xA3, 5, "Ctrl"}},
    };
    return rows;
}

const std::vector<Row>& navigationBlock() {
    static const std::vector<Row> rows = {
        {{0x2C, 4, "PrS"}, {0x91, 4, "ScL"}, {0x13, 4, "Pau"}},
        {{0x2D, 4, "Ins"}, {0x24, 4, "Hom"}, {0x21, 4, "PgU"}},
        {{0x2E, 4, "Del"}, {0x23, 4, "End"}, {0x22, 4, "PgD"}},
        {{0, 12, ""}},
        {{0, 4, ""}, {0x26, 4, "Up"}, {0, 4, ""}},
        {{0x25, 4, "Lft"}, {0x28, 4, "Dwn"}, {0x27, 4, "Rgt"}},
    };
    return rows;
}

// The numpad's + and Enter are two rows high: their lower half has no cap.
const std::vector<Row>& numpadBlock() {
    static const std::vector<Row> rows = {
        {{0, 16, ""}},
        {{0x90, 4, "NmL"}, {0x6F, 4, "/"}, {0x6A, 4, "*"}, {0x6D, 4, "-"}},
        {{0x67, 4, "7"}, {0x68, 4, "8"}, {0x69, 4, "9"}, {0x6B, 4, "+"}},
        {{0x64, 4, "4"}, {0x65, 4, "5"}, {0x66, 4, "6"}, {0x6B, 4, ""}},
        {{0x61, 4, "1"}, {0x62, 4, "2"}, {0x63, 4, "3"}, {0x0D, 4, "Ent"}},
        {{0x60, 8, "0"}, {0x6E, 4, "."}, {0x0D, 4, ""}},
    };
    return rows;
}

const Row& mouseRow() {
    static const Row row = {{0x01, 7, "Left"},
                            {0x04, 7, "Middle"},
                            {0x02, 7, "Right"},
                            {0x05, 7, "Btn 4"},
                            {0x06, 7, "Btn 5"}};
    return row;
}

std::uint64_t actionsOn(const KeyBindings& keys, std::uint16_t code) {
    std::uint64_t set = 0;
    for (std::size_t i = 0; i < kActionCount; ++i)
        if (code != 0 && (keys[i].primary == code || keys[i].alternate == code))
            set |= std::uint64_t{1} << i;
    return set;
}

std::string tagOf(const KeyBindings& keys, std::uint16_t code) {
    const std::uint64_t actions = actionsOn(keys, code);
    if (actions == 0) return "";
    if (std::popcount(actions) > 1) return kSharedTag;
    return kTags[static_cast<std::size_t>(std::countr_zero(actions))];
}

// One line of a block's row: the caps, or the tags.
std::string drawRow(const Row& row, const KeyBindings* tags) {
    std::string line;
    bool open = false;  // the cell before was a key: its right border is due
    for (const Cell& cell : row) {
        const auto inner = static_cast<std::size_t>(cell.width - 1);
        if (cell.code == 0) {
            if (open) line += '|';
            line += std::string(static_cast<std::size_t>(cell.width) - (open ? 1 : 0), ' ');
            open = false;
            continue;
        }
        std::string text = tags ? tagOf(*tags, cell.code) : cell.cap;
        if (!tags && *cell.cap == '\0') text = "";
        text.resize(inner, ' ');
        line += '|' + text;
        open = true;
    }
    if (open) line += '|';
    return line;
}

std::size_t blockWidth(const std::vector<Row>& block) {
    std::size_t width = 0;
    for (const Row& row : block) width = std::max(width, drawRow(row, nullptr).size());
    return width;
}

std::string padded(std::string text, std::size_t width) {
    text.resize(std::max(text.size(), width), ' ');
    return text;
}

std::string withoutTrailingSpaces(std::string line) {
    line.erase(line.find_last_not_of(' ') + 1);
    return line;
}

void collectCodes(const Row& row, std::set<std::uint16_t>& codes) {
    for (const Cell& cell : row)
        if (cell.code != 0) codes.insert(cell.code);
}

}  // namespace

std::string keyboardPicture(const KeyBindings& keys) {
    const std::vector<Row>* blocks[] = {&mainBlock(), &navigationBlock(), &numpadBlock()};
    std::size_t widths[3];
    for (std::size_t b = 0; b < 3; ++b) widths[b] = blockWidth(*blocks[b]);

    std::string out;
    for (std::size_t r = 0; r < mainBlock().size(); ++r) {
        for (const KeyBindings* tags : {static_cast<const KeyBindings*>(nullptr), &keys}) {
            std::string line;
            for (std::size_t b = 0; b < 3; ++b)
                line += padded(drawRow((*blocks[b])[r], tags), widths[b] + 2);
            out += withoutTrailingSpaces(line) + "\n";
        }
        if (r == 0) out += "\n";
    }
    out +=
        "\nMouse:  " + drawRow(mouseRow(), nullptr) + "\n        " + drawRow(mouseRow(), &keys) + "\n";

    // The legend: each short name drawn, with its action; then bindings the drawing has no key for.
    std::set<std::uint16_t> drawn;
    for (const auto* block : blocks)
        for (const Row& row : *block) collectCodes(row, drawn);
    collectCodes(mouseRow(), drawn);
    std::string legend;
    std::string line = " ";
    bool shared = false;
    std::vector<std::string> notDrawn;
    for (std::size_t i = 0; i < kActionCount; ++i) {
        const KeyBinding& b = keys[i];
        bool shown = false;
        for (const std::uint16_t code : {b.primary, b.alternate}) {
            if (code == 0) continue;
            if (!drawn.count(code)) {
                const char* name = keyName(code);
                notDrawn.push_back(std::string(kActionNames[i]) + " on " +
                                   (name ? name : "code " + std::to_string(code)));
            } else if (std::popcount(actionsOn(keys, code)) > 1) {
                shared = true;
            } else {
                shown = true;
            }
        }
        if (!shown) continue;
        std::string entry = std::string(" ") + kTags[i] + " " + kActionNames[i];
        entry.resize(std::max<std::size_t>(entry.size(), 24), ' ');
        if (line.size() + entry.size() > 97) {
            legend += withoutTrailingSpaces(line) + "\n";
            line = " ";
        }
        line += entry;
    }
    if (line.size() > 1) legend += withoutTrailingSpaces(line) + "\n";
    if (shared)
        legend += std::string("  ") + kSharedTag +
                  " a key bound to two or more actions: see the warnings under Findings\n";
    for (const std::string& text : notDrawn) legend += "  not drawn: " + text + "\n";
    return out + "\n" + legend;
}

}  // namespace freeplot
