// The notification texts: overrides, the acceptance test of the format texts, and the
// format check that keeps unfit texts from ever reaching the formatter.

#include <cstring>

#include "config/messages.h"
#include "config_support.h"

namespace freeplot::config_tests {
namespace {

using Lines = std::vector<std::string>;

std::string refusal(const char* key) {
    return std::string("Message for ") + key +
           " is too large or missing format placeholder, default message will be used";
}

TEST_F(SettingsTest, PlainMessagesAreTakenAsWrittenAndUnknownNamesIgnored) {
    ASSERT_TRUE(
        load("[messages]\n"
             "snapOn = Snap!\n"
             "snapOff =\n"                    // empty: taken, no test
             "FreeplotOn = ignored\n"         // names are case-sensitive
             "stateStored = cannot change\n"  // has no key
             "physicsOn = 100% ; physics\n"   // plain texts are never formatted: % is harmless
             "lockObjectOn = Locked\n"
             "  for good\n"));
    EXPECT_STREQ(messageText(Msg::snapOn), "Snap!");
    EXPECT_STREQ(messageText(Msg::snapOff), "");
    EXPECT_STREQ(messageText(Msg::freeplotOn), "Freeplot mode on");
    EXPECT_STREQ(messageText(Msg::stateStored), "Object parameters stored");
    EXPECT_STREQ(messageText(Msg::physicsOn), "100%");
    EXPECT_STREQ(messageText(Msg::lockObjectOn), "Locked\nfor good");
    EXPECT_TRUE(log.empty());

    for (std::size_t i = 0; i < kMessageCount; ++i) {
        restoreDefaultMessages();
        EXPECT_STREQ(messageText(static_cast<Msg>(i)), kMessages[i].defaultText);
    }
    EXPECT_STREQ(messageText(Msg::freezeOn), "Workshop timeout off");
}

TEST_F(SettingsTest, FormatTextsPassTheirTestFormattingOrKeepTheTextInForce) {
    const std::string tooLong = "x%1023d";                        // 1024 characters
    const std::string longest = std::string(180, 'y') + "%843d";  // exactly 1023
    ASSERT_TRUE(
        load("[messages]\n"
             "axisChange = Axis: %c\n"
             "rotateStepChange = Rotate %+.2f deg\n"
             "moveStepChange = no value shown\n"  // no conversion at all: accepted
             "scaleChange =\n"                    // empty: refused
             "scaleStepChange = " +
             tooLong + "\n"));
    EXPECT_STREQ(messageText(Msg::axisChange), "Axis: %c");
    EXPECT_STREQ(messageText(Msg::rotateStepChange), "Rotate %+.2f deg");
    EXPECT_STREQ(messageText(Msg::moveStepChange), "no value shown");
    EXPECT_STREQ(messageText(Msg::scaleChange), "Scale set to %d%%");
    EXPECT_STREQ(messageText(Msg::scaleStepChange), "Scale step changed to %d%%");
    EXPECT_EQ(log, (Lines{refusal("scaleChange"), refusal("scaleStepChange")}));

    EXPECT_STREQ(formatMessage(Msg::axisChange, 'Y').c_str(), "Axis: Y");
    EXPECT_STREQ(formatMessage(Msg::rotateStepChange, 5.0).c_str(), "Rotate +5.00 deg");
    EXPECT_STREQ(formatMessage(Msg::moveStepChange, 0.5).c_str(), "no value shown");

    // A text built from continuation lines is one candidate; formatted to exactly 1023
    // characters it is still taken.
    restoreDefaultSettings();
    log.clear();
    ASSERT_TRUE(load("[messages]\nscaleChange = " + longest + "\naxisChange = A %c\n   B\n"));
    EXPECT_EQ(messageText(Msg::scaleChange), longest);
    EXPECT_EQ(std::strlen(formatMessage(Msg::scaleChange, 95).c_str()), 1023u);
    EXPECT_STREQ(messageText(Msg::axisChange), "A %c\nB");
    EXPECT_TRUE(log.empty());
}

TEST(MessageFormatting, DefaultsFormatTheirValuesAndMismatchedCallsDoNotFormat) {
    restoreDefaultMessages();
    EXPECT_STREQ(formatMessage(Msg::rotateStepChange, 5.0).c_str(), "Rotation step changed to 5.0");
    EXPECT_STREQ(formatMessage(Msg::moveStepChange, 0.5).c_str(), "Movement step changed to 0.5");
    EXPECT_STREQ(formatMessage(Msg::scaleStepChange, 10).c_str(), "Scale step changed to 10%");
    EXPECT_STREQ(formatMessage(Msg::axisChange, 'Z').c_str(), "Axis changed to Z");
    EXPECT_STREQ(formatMessage(Msg::scaleChange, 95).c_str(), "Scale set to 95%");
    // An int where a double is formatted, a double for an int text, a plain text: copied.
    EXPECT_STREQ(formatMessage(Msg::scaleChange, 95.0).c_str(), "Scale set to %d%%");
    EXPECT_STREQ(formatMessage(Msg::snapOn, 3).c_str(), "Object snap on");
    EXPECT_STREQ(formatMessage(Msg::rotateStepChange, 3).c_str(), "Rotation step changed to %0.1f");
}

struct FormatCase {
    const char* text;
    FormatArg arg;
};

// Texts that must never reach the formatter with a double or an int.
const FormatCase kHostile[] = {
    // An object's place takes seven values, six doubles then an int, all of them, in order.
    {"%.1f %.1f %.1f %.1f %.1f %.1f", FormatArg::placement},
    {"%d %.1f %.1f %.1f %.1f %.1f %.1f", FormatArg::placement},
    {"%f %f %f %f %f %f %d %d", FormatArg::placement},
    {"%f %f %f %f %f %f %s", FormatArg::placement},
    {"%n", FormatArg::integer},        {"%hhn", FormatArg::integer},
    {"x%n", FormatArg::real},          {"%s", FormatArg::integer},
    {"%s", FormatArg::real},           {"%p", FormatArg::integer},
    {"%*d", FormatArg::integer},       {"%.*f", FormatArg::real},
    {"%-*c", FormatArg::letter},       {"%1$d", FormatArg::integer},
    {"%2$f", FormatArg::real},         {"%ld", FormatArg::integer},
    {"%lld", FormatArg::integer},      {"%lc", FormatArg::letter},
    {"%jd", FormatArg::integer},       {"%zd", FormatArg::integer},
    {"%td", FormatArg::integer},       {"%qd", FormatArg::integer},
    {"%I64d", FormatArg::integer},     {"%Id", FormatArg::integer},
    {"%Lf", FormatArg::real},          {"%hf", FormatArg::real},
    {"%llf", FormatArg::real},         {"%d %d", FormatArg::integer},
    {"%f and %f", FormatArg::real},    {"%c%%%c", FormatArg::letter},
    {"100%", FormatArg::integer},      {"%", FormatArg::real},
    {"%5", FormatArg::integer},        {"%.", FormatArg::real},
    {"%-", FormatArg::integer},        {"%f", FormatArg::integer},
    {"%d", FormatArg::real},           {"%c", FormatArg::real},
    {"%e", FormatArg::integer},        {"%S", FormatArg::integer},
    {"%C", FormatArg::integer},        {"%m", FormatArg::integer},
    {"%'d", FormatArg::integer},       {"%v", FormatArg::integer},
    {"%#d", FormatArg::integer},       {"%05c", FormatArg::letter},
    {"%.2c", FormatArg::letter},       {"%+c", FormatArg::letter},
    {"%hc", FormatArg::letter},        {"%99999999999d", FormatArg::integer},
    {"%1024d", FormatArg::integer},    {"%.1024f", FormatArg::real},
    {"%2147483648f", FormatArg::real}, {"plain %d", FormatArg::none},
    {"%hhd", FormatArg::integer},      {"%hu", FormatArg::integer},
    {"%c", FormatArg::integer},        {"%hd", FormatArg::letter},
    {"%#x", FormatArg::integer},       {"%#o", FormatArg::integer},
    {"%X", FormatArg::integer},        {"%u", FormatArg::integer},
};

const FormatCase kFit[] = {
    {"Position %.1f %.1f %.1f, angles %.1f %.1f %.1f, scale %d%%", FormatArg::placement},
    {"%g|%e|%f|%G|%a|%lf = %+i %%", FormatArg::placement},
    {"%0.1f", FormatArg::real},    {"%lf", FormatArg::real},      {"%+08.3e", FormatArg::real},
    {"%G", FormatArg::real},       {"%#a", FormatArg::real},      {"% F", FormatArg::real},
    {"%.f", FormatArg::real},      {"%1023.1f", FormatArg::real}, {"%d%%", FormatArg::integer},
    {"%i", FormatArg::integer},    {"%-5c", FormatArg::letter},   {"%#x", FormatArg::letter},
    {"%#o", FormatArg::letter},    {"%c", FormatArg::letter},     {"%5d", FormatArg::letter},
    {"%+.3d", FormatArg::integer}, {"%X", FormatArg::letter},     {"no value", FormatArg::integer},
    {"%%", FormatArg::real},       {"", FormatArg::real},         {"100%% sure", FormatArg::none},
};

TEST(MessageFormatCheck, RefusesEveryHostileTextAndAcceptsTheFittingOnes) {
    for (const FormatCase& c : kHostile) EXPECT_NE(formatProblem(c.text, c.arg), nullptr) << c.text;
    for (const FormatCase& c : kFit)
        EXPECT_EQ(formatProblem(c.text, c.arg), nullptr)
            << c.text << ": " << formatProblem(c.text, c.arg);
}

TEST_F(SettingsTest, HostileFormatTextsAreRefusedBeforeTheFormatterSeesThem) {
    for (const FormatCase& c : kHostile) {
        if (c.arg == FormatArg::none) continue;
        // A text hostile to a number is tried on the axis message too when no letter fits it.
        std::vector<const char*> keys;
        if (c.arg == FormatArg::real) keys = {"rotateStepChange", "moveStepChange"};
        if (c.arg == FormatArg::integer) keys = {"scaleStepChange", "scaleChange"};
        if (c.arg == FormatArg::placement) keys = {"objectInfo"};
        if (c.arg == FormatArg::letter || formatProblem(c.text, FormatArg::letter))
            if (c.arg != FormatArg::real && c.arg != FormatArg::placement)
                keys.push_back("axisChange");
        for (const char* key : keys) {
            restoreDefaultSettings();
            log.clear();
            ASSERT_TRUE(load(std::string("[messages]\n") + key + " = " + c.text + "\n"));
            EXPECT_EQ(log, (Lines{refusal(key)})) << key << " = " << c.text;
        }
    }
    EXPECT_STREQ(messageText(Msg::scaleChange), "Scale set to %d%%");
    // A place reworded with its seven values is taken, and shows them.
    ASSERT_TRUE(load("[messages]\nobjectInfo = at %.0f %.0f %.0f turned %.0f %.0f %.0f, %d%%\n"));
    const double position[] = {1, -2, 3.4}, angles[] = {0, 90, 359.6};
    EXPECT_STREQ(formatPlacement(position, angles, 150).c_str(), "at 1 -2 3 turned 0 90 360, 150%");
}

}  // namespace
}  // namespace freeplot::config_tests
