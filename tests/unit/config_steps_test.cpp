// The rotate, move and scale step tables: list syntax, the limit of 10, index settling and
// run-time stepping.

#include "config/steps.h"
#include "config_support.h"

namespace freeplot::config_tests {
namespace {

using Lines = std::vector<std::string>;
using Reals = std::array<double, kStepCapacity>;
using Ints = std::array<std::int32_t, kStepCapacity>;

std::string rotateLine(int n) {
    return "Invalid value in rotateSteps, succesfully parsed " + std::to_string(n);
}
std::string moveLine(int n) {
    return "Invalid value in moveSteps, succesfully parsed " + std::to_string(n);
}
std::string scaleLine(int n) {
    return "Invalid value in scaleSteps, succesfully parsed " + std::to_string(n);
}

TEST_F(SettingsTest, StepListsTakeWhiteSpaceSeparatedNumbersUpToTen) {
    ASSERT_TRUE(
        load("[steps]\n"
             "rotateSteps = 1 2\t3\n"  // the default index 2 now points at 3
             "moveSteps = 5\n"
             "moveStepIdx = 1\n"
             "scaleSteps = 1,5,10\n"))  // the comma ends the list
    ;
    EXPECT_EQ(rotateSteps.count, 3);
    EXPECT_EQ((Reals{rotateSteps.values[0], rotateSteps.values[1], rotateSteps.values[2]}),
              (Reals{1, 2, 3}));
    EXPECT_EQ(rotateSteps.index, 2);
    EXPECT_EQ(rotateSteps.current(), 3.0);
    EXPECT_EQ(moveSteps.count, 1);
    EXPECT_EQ(moveSteps.index, 0);
    EXPECT_EQ(moveSteps.current(), 5.0);
    EXPECT_EQ(scaleSteps.count, 1);
    EXPECT_EQ(scaleSteps.index, 0);
    EXPECT_EQ(scaleSteps.current(), 1);
    EXPECT_EQ(log, (Lines{rotateLine(3), moveLine(1), scaleLine(1)}));

    // Twelve numbers: the first ten, no log line. Continuation lines separate like spaces.
    restoreDefaultSettings();
    log.clear();
    ASSERT_TRUE(
        load("[steps]\n"
             "rotateSteps = 1 2 3 4 5 6 7 8 9 10 11 12\n"
             "moveSteps = -1 0\n"
             "   1e2 0x10\n"              // any form strtod reads
             "scaleSteps = 3 2.5 7\n"));  // a fraction ends an integer list
    EXPECT_EQ(rotateSteps.count, 10);
    EXPECT_EQ(rotateSteps.values, (Reals{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(moveSteps.count, 4);
    EXPECT_EQ(
        (Reals{moveSteps.values[0], moveSteps.values[1], moveSteps.values[2], moveSteps.values[3]}),
        (Reals{-1, 0, 100, 16}));
    EXPECT_EQ(scaleSteps.count, 2);
    EXPECT_EQ((Ints{scaleSteps.values[0], scaleSteps.values[1]}), (Ints{3, 2}));
    EXPECT_EQ(log, (Lines{moveLine(4), scaleLine(2)}));
}

TEST_F(SettingsTest, BadStepListsKeepTheTablesTheyWouldReplace) {
    ASSERT_TRUE(
        load("[steps]\n"
             "rotateSteps = abc\n"
             "moveSteps = inf 1\n"             // not finite: refused like a bad value
             "scaleSteps = 3000000000 1\n"));  // beyond 32 bits, as strtol on Windows
    EXPECT_EQ(rotateSteps.count, kDefaultRotateStepCount);
    EXPECT_EQ(rotateSteps.values, kDefaultRotateSteps);
    EXPECT_EQ(moveSteps.values, kDefaultMoveSteps);
    EXPECT_EQ(scaleSteps.values, kDefaultScaleSteps);
    EXPECT_EQ(scaleSteps.count, kDefaultScaleStepCount);
    EXPECT_EQ(log, (Lines{rotateLine(0), moveLine(0), scaleLine(0)}));

    Reals reals = kDefaultRotateSteps;
    EXPECT_EQ(parseStepList("4 nan", reals), 1);
    EXPECT_EQ(parseStepList("1e999", reals), 0);
    EXPECT_EQ(reals[0], 4.0);
    EXPECT_EQ(reals[1], kDefaultRotateSteps[1]);
    Ints ints = kDefaultScaleSteps;
    EXPECT_EQ(parseStepList(" -2147483648 2147483647 2147483648", ints), 2);
    EXPECT_EQ(ints[0], INT32_MIN);
    EXPECT_EQ(ints[1], INT32_MAX);
}

TEST_F(SettingsTest, IndexKeysCountFromOneAndSettleWithinTheList) {
    ASSERT_TRUE(load("[steps]\nrotateStepIdx = 0\nmoveStepIdx = 8\nscaleStepIdx = 0x3\n"));
    EXPECT_EQ(rotateSteps.index, 2);  // 0 is outside 1..7
    EXPECT_EQ(moveSteps.index, 2);    // 8 is outside 1..7
    EXPECT_EQ(scaleSteps.index, 2);   // 0x3 is the third entry
    EXPECT_TRUE(log.empty());

    restoreDefaultSettings();
    ASSERT_TRUE(
        load("[STEPS]\nrotateStepIdx = 7\nmoveStepIdx = -2147483648\nscaleStepIdx = 5\n"
             "scaleSteps = 4 8\n"));  // the index asked for is judged against the new list
    EXPECT_EQ(rotateSteps.index, 6);
    EXPECT_EQ(moveSteps.index, 2);
    EXPECT_EQ(scaleSteps.index, 1);  // 5 is outside 1..2; the default 2 is pulled in to 1
    EXPECT_EQ(scaleSteps.current(), 8);

    EXPECT_EQ(settleIndex(2, -1, 3), 2);
    EXPECT_EQ(settleIndex(6, 9, 1), 0);
    EXPECT_EQ(settleIndex(0, 4, 5), 4);
}

TEST(StepCycling, WrapsAtBothEnds) {
    StepTable<double> table{kDefaultRotateSteps, kDefaultRotateStepCount};
    table.index = 6;
    EXPECT_EQ(table.step(+1), 0.1);   // past the last entry: the first
    EXPECT_EQ(table.step(-1), 90.0);  // before the first: the last
    EXPECT_EQ(table.step(-1), 45.0);
    EXPECT_EQ(table.index, 5);

    StepTable<std::int32_t> one{{7}, 1};
    one.index = 0;
    EXPECT_EQ(one.step(+1), 7);
    EXPECT_EQ(one.step(-1), 7);
    EXPECT_EQ(one.index, 0);
}

}  // namespace
}  // namespace freeplot::config_tests
