// Random raw keyboard and mouse records through the game's own input routines, the executed stubs
// and the plugin's handlers, in sessions with random settings and random game state. Nothing may
// crash, and the game's own processing must run exactly when the handler lets the event through:
// an oracle written from the rules (not from the plugin's code) says when that is.
//
// FREEPLOT_INPUT_FUZZ_EVENTS sets the number of events over all sessions (default 1,000,000);
// FREEPLOT_INPUT_FUZZ_SEED the seed of the first session (default 1).

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "sim/sim.h"

namespace {

constexpr int kActions = 47;
const char* const kActionNames[kActions] = {"main",
                                            "snap",
                                            "ground",
                                            "workshopSnap",
                                            "timeoutFreeze",
                                            "resetAngles",
                                            "removeTremor",
                                            "rotateStepMinus",
                                            "rotateStepPlus",
                                            "changeRotateAxis",
                                            "outlineToggle",
                                            "moveDown",
                                            "moveUp",
                                            "moveLeft",
                                            "moveRight",
                                            "moveBack",
                                            "moveForth",
                                            "moveStepMinus",
                                            "moveStepPlus",
                                            "scaleDown",
                                            "scaleUp",
                                            "scaleReset",
                                            "undo",
                                            "copyState",
                                            "copyPosX",
                                            "copyPosY",
                                            "copyPosZ",
                                            "copyAngleX",
                                            "copyAngleY",
                                            "copyAngleZ",
                                            "copyScale",
                                            "copyAll",
                                            "clampedStoreToggle",
                                            "lockObject",
                                            "extraOutlineToggle",
                                            "duplicateKey",
                                            "deleteKey",
                                            "rotateLeft",
                                            "rotateRight",
                                            "physicsOn",
                                            "physicsOff",
                                            "scaleStepMinus",
                                            "scaleStepPlus",
                                            "timescaleToggle",
                                            "redo",
                                            "alignToGrid",
                                            "objectInfo"};
// The default codes: primary, and the one alternate (right Ctrl for the axis key).
const std::uint16_t kDefaultCodes[kActions] = {
    119, 112, 113, 114, 116, 96,  101, 109, 107, 162, 115, 98, 104, 100, 102,
    103, 105, 111, 106, 97,  99,  110, 8,   187, 49,  50,  51, 52,  53,  54,
    55,  48,  117, 118, 45,  191, 46,  188, 190, 36,  35,  33, 34,  122, 220, 221, 219};

std::uint64_t envNumber(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::strtoull(text, nullptr, 10) : fallback;
}

// One session's settings, and the key codes they bind.
struct Plan {
    std::string settings;
    std::set<std::uint16_t> bound;
    bool wheelRotation = false;
    bool deleting = false;
};

Plan makePlan(std::mt19937_64& rng) {
    Plan plan;
    // The defaults, then what the file gives, action by action.
    std::array<std::pair<std::uint16_t, std::uint16_t>, kActions> bindings{};
    for (int i = 0; i < kActions; ++i)
        bindings[i] = {kDefaultCodes[i], static_cast<std::uint16_t>(i == 9 ? 163 : 0)};
    std::string keys = "[keys]\n";
    for (int i = 0; i < kActions; ++i) {
        if (rng() % 2) continue;
        const auto code = static_cast<std::uint16_t>(rng() % 0x1C0);  // some above 255
        keys += std::string(kActionNames[i]) + " = " + std::to_string(code) + "\n";
        if (code == 0) continue;  // refused: the default stays
        if (code >= 16 && code <= 18) {
            // Generic Shift, Ctrl and Alt bind the left and the right key.
            const auto left = static_cast<std::uint16_t>(160 + 2 * (code - 16));
            bindings[i] = {left, static_cast<std::uint16_t>(left + 1)};
        } else {
            bindings[i] = {code, 0};
        }
    }
    for (const auto& [primary, alternate] : bindings) {
        plan.bound.insert(primary);
        if (alternate) plan.bound.insert(alternate);
    }

    plan.wheelRotation = rng() % 2;
    plan.deleting = rng() % 2;
    plan.settings =
        keys + "[main]\ntogglable = " + std::to_string(rng() % 4) +
        "\nwheelRotation = " + (plan.wheelRotation ? "true" : "false") +
        "\nautoTimescaleEnabled = " + (rng() % 2 ? "true" : "false") +
        // A deleted object is gone from the game: the session puts a fresh one in its place.
        "\n[dangerous]\ndeleteEnabled = " + (plan.deleting ? "true" : "false") +
        "\n[cheats]\nduplicateEnabled = " + (rng() % 2 ? "true" : "false") +
        "\n[steps]\nrotateSteps = " + std::to_string(static_cast<int>(rng() % 200) - 100) +
        " 0.5 1e9\nmoveSteps = -3 " + std::to_string(rng() % 1000) +
        "\nscaleSteps = " + std::to_string(static_cast<int>(rng() % 70000) - 35000) +
        " 2147483647 -2147483648\n";
    return plan;
}

// The code a keyboard record stands for, as the rules give it.
std::uint16_t normalised(std::uint16_t vkey, std::uint16_t scanCode, std::uint16_t flags) {
    if (vkey == 16) return scanCode == 0x2A ? 160 : scanCode == 0x36 ? 161 : 0;
    if (vkey == 17) return (flags & 2) ? 163 : 162;
    if (vkey == 18) return (flags & 2) ? 165 : 164;
    return vkey;
}

void runSession(std::uint64_t seed, std::uint64_t events) {
    std::mt19937_64 rng(seed);
    const Plan plan = makePlan(rng);
    sim::Options options;
    options.settings = plan.settings;
    options.recordInputCallees = false;
    options.timeout = std::chrono::minutes(10);
    options.script = [&plan, seed, events](sim::Game& game) {
        std::mt19937_64 r(seed * 7919 + 17);
        sim::RefLayout actor;
        actor.formType = 0x41;
        sim::RefLayout turret = actor;
        turret.baseText = "Laser Turret";
        turret.baseLinks = 2;
        const sim::RefLayout layouts[] = {sim::RefLayout{}, actor, turret};
        sim::Ref refs[] = {game.createRef(), game.createRef(actor), game.createRef(turret)};
        std::uint64_t mismatches = 0, keyboard = 0, mouse = 0, consumed = 0, taken = 0;
        std::uint64_t deleted = 0, raced = 0;
        // The release flags of the presses the plugin took over (only those releases are kept
        // from the game), and of those a deletion's race left either way.
        std::uint16_t takenPresses = 0, eitherWay = 0;
        // Keys (by their code's low byte, Shift, Ctrl and Alt by side) held down while the game had
        // the key events: their presses stay the game's, inside workshop mode too, until released.
        std::array<bool, 256> heldByGame{};
        std::string firstMismatch;
        for (std::uint64_t i = 0; i < events; ++i) {
            // The game's state for this event, mostly in workshop mode with an object selected.
            const bool workshop = r() % 8 != 0;
            const bool ignore = r() % 16 == 0;
            const std::uint8_t state = static_cast<std::uint8_t>(r() % 8 == 0 ? 1 : r() % 3);
            const int selection = static_cast<int>(r() % 5);  // 3, 4: nothing selected
            game.setWorkshopMode(workshop);
            game.setInputIgnore(ignore);
            game.setWorkshopState(state);
            for (std::size_t k = 0; k < std::size(refs); ++k)
                if (!game.readRef(refs[k].handle)) {
                    refs[k] = game.createRef(layouts[k]);
                    ++deleted;
                }
            game.selectRef(selection < 3 ? refs[selection].handle : 0);

            if (r() % 2) {
                ++keyboard;
                // Half the time a bound key, else a plausible code, sometimes any 16-bit value.
                const auto vkey = static_cast<std::uint16_t>(
                    r() % 2
                        ? *std::next(plan.bound.begin(), static_cast<long>(r() % plan.bound.size()))
                    : r() % 4 ? r() % 256
                              : r());
                const auto scan =
                    static_cast<std::uint16_t>(r() % 3 ? (r() % 2 ? 0x2A : 0x36) : r());
                const auto flags = static_cast<std::uint16_t>(r() % 4 ? r() % 4 : r());
                const std::uint16_t code = normalised(vkey, scan, flags);
                const bool inside = workshop && !ignore;
                const bool bound = code != 0 && plan.bound.count(code) != 0;
                bool& games = heldByGame[(code != 0 ? code : vkey) & 0xFF];
                const bool expectConsumed = inside && bound && !games && !(flags & 1);
                if (!inside)
                    games = !(flags & 1);
                else if (games && (flags & 1))
                    games = false;
                const sim::InputResult result = game.keyboardEvent(vkey, scan, flags);
                consumed += expectConsumed;
                if (result.calleeRan == expectConsumed) {
                    if (!mismatches++)
                        firstMismatch = "key " + std::to_string(vkey) + " scan " +
                                        std::to_string(scan) + " flags " + std::to_string(flags);
                }
            } else {
                ++mouse;
                // Mostly the wheel or one button transition, sometimes any flags (several
                // changes in one record).
                const auto buttons = static_cast<std::uint16_t>(
                    r() % 4 ? (r() % 2 ? 0x0400 : 1u << (r() % 4)) : r());
                const auto data = static_cast<std::int16_t>(
                    r() % 2 ? 120 * static_cast<int>(r() % 9 - 4) : static_cast<int>(r()));
                const std::uint16_t mask = plan.wheelRotation ? 0x0400 : 0x000F;
                const bool actedOn = selection == 0 || selection == 2;  // not the plain actor
                const bool expectTaken = (buttons & mask) && workshop && !ignore && state != 1 &&
                                         selection < 3 && actedOn;
                const sim::InputResult result = game.mouseEvent(buttons, data);
                const std::uint16_t releases = buttons & 0x000A;
                const auto presses = static_cast<std::uint16_t>((buttons & 0x0005) << 1);
                const std::uint16_t gameReleases = releases & ~takenPresses;
                const std::uint16_t unsure = releases & eitherWay;
                if (!plan.wheelRotation) {
                    takenPresses = static_cast<std::uint16_t>(takenPresses & ~releases & ~presses);
                    eitherWay = static_cast<std::uint16_t>(eitherWay & ~releases & ~presses);
                }
                // A deletion that lands during the event leaves the handler either outcome: the
                // object was there or not when it looked. Such events are counted, not judged,
                // and the releases of their presses may come to the game or not.
                if (selection < 3 && !game.readRef(refs[selection].handle)) {
                    ++raced;
                    if (!plan.wheelRotation) eitherWay |= presses;
                    continue;
                }
                taken += expectTaken;
                // A press released in the same record is a click, taken whole.
                if (expectTaken && !plan.wheelRotation) takenPresses |= presses & ~releases;
                // Taken over, the game sees every change of the record the plugin does not act
                // on, as it came: with the wheel taken, the buttons; with the buttons taken, the
                // others and the wheel with its data, and the releases of presses it saw.
                const std::uint16_t seen = plan.wheelRotation
                                               ? buttons & ~0x0400
                                               : (buttons & ~0x000F) | (gameReleases & ~presses);
                const auto seenData = static_cast<std::uint16_t>(plan.wheelRotation ? 0 : data);
                const bool cleared = (result.seenButtonFlags & ~unsure) == (seen & ~unsure) &&
                                     result.seenButtonData == seenData;
                const bool unchanged = result.seenButtonFlags == buttons &&
                                       result.seenButtonData == static_cast<std::uint16_t>(data);
                if (!result.calleeRan || (expectTaken ? !cleared : !unchanged)) {
                    if (!mismatches++)
                        firstMismatch =
                            "mouse " + std::to_string(buttons) + " data " + std::to_string(data);
                }
            }
        }
        game.setMainLoopTakes(true);
        game.note("events", std::to_string(keyboard) + " keyboard (" + std::to_string(consumed) +
                                " kept), " + std::to_string(mouse) + " mouse (" +
                                std::to_string(taken) + " taken over), " + std::to_string(deleted) +
                                " objects deleted, " + std::to_string(raced) +
                                " mouse events during a deletion");
        game.note("mismatches", std::to_string(mismatches));
        if (mismatches) game.note("first", firstMismatch);
    };
    const sim::Transcript t = sim::run(options);
    ASSERT_TRUE(t.completed) << "seed " << seed << ": " << t.ending << "\n"
                             << plan.settings << "\n"
                             << [&] {
                                    std::string s;
                                    for (const auto& l : t.stderrLines) s += l + "\n";
                                    return s;
                                }();
    EXPECT_EQ(t.note("mismatches"), "0")
        << "seed " << seed << ", first: " << t.note("first").value_or("") << "\n"
        << plan.settings;
    EXPECT_TRUE(t.errors.empty()) << "seed " << seed;
    EXPECT_TRUE(t.stderrLines.empty()) << "seed " << seed << ": " << t.stderrLines.front();
    ::testing::Test::RecordProperty("seed" + std::to_string(seed), t.note("events").value_or(""));
}

}  // namespace

// The sessions come in ten parts of two, which the test runner runs side by side (small parts let
// it keep both cores busy to the end).
class InputFuzz : public ::testing::TestWithParam<std::uint64_t> {};

TEST_P(InputFuzz, RandomRawRecordsReachTheGameExactlyWhenTheHandlersLetThem) {
    const std::uint64_t total = envNumber("FREEPLOT_INPUT_FUZZ_EVENTS", 1'000'000);
    const std::uint64_t firstSeed = envNumber("FREEPLOT_INPUT_FUZZ_SEED", 1);
    constexpr std::uint64_t kSessions = 20, kPerPart = 2;
    for (std::uint64_t s = GetParam() * kPerPart; s < (GetParam() + 1) * kPerPart; ++s) {
        runSession(firstSeed + s, total / kSessions);
        if (HasFatalFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(Part, InputFuzz, ::testing::Range<std::uint64_t>(0, 10));
