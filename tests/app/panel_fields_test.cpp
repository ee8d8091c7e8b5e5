#include "app/panel_fields.h"

#include <gtest/gtest.h>

#include <string>

namespace zqn::app {
namespace {

using settings::Settings;

template <typename Case>
std::string caseName(const testing::TestParamInfo<Case>& info)
{
    return info.param.name;
}

struct SpinCase {
    const char* name;
    int saveInterval;
    int spinValue;
};

class SpinValueFor : public testing::TestWithParam<SpinCase> {};

TEST_P(SpinValueFor, TakesSixteenBitsThenKeepsInRange)
{
    EXPECT_EQ(spinValueFor(GetParam().saveInterval), GetParam().spinValue);
}

INSTANTIATE_TEST_SUITE_P(Cases, SpinValueFor,
                         testing::Values(SpinCase{"below_range", 5, 10},
                                         SpinCase{"minimum", 10, 10},
                                         SpinCase{"inside", 300, 300},
                                         SpinCase{"maximum", 9999, 9999},
                                         SpinCase{"above_range", 10000, 9999},
                                         SpinCase{"negative", -1, 10},
                                         SpinCase{"wraps_into_range", 70000, 4464},
                                         SpinCase{"wraps_below_range", 65541, 10},
                                         SpinCase{"wraps_negative", 32768, 10}),
                         caseName<SpinCase>);

TEST(PanelFieldsFor, NumbersAsDecimalTextAndIntervalAsSpinValue)
{
    EXPECT_EQ(panelFieldsFor(Settings{}), PanelFields{});
    EXPECT_EQ(panelFieldsFor(Settings{.udpPort = -6000, .httpPort = 8080, .saveInterval = 70000}),
              (PanelFields{"-6000", "8080", 4464}));
}

struct ExitCase {
    const char* name;
    PanelFields fields;
    int udpPort;
    int httpPort;
    int saveInterval;
};

class SettingsForExit : public testing::TestWithParam<ExitCase> {};

// The record's own numbers differ from every field, so a number taken from it shows.
TEST_P(SettingsForExit, TakesThePanelNumbersAndKeepsTheRest)
{
    const Settings record{true, true, 1111, 2222, 3333, "a.csv", "b.htm", "c"};
    Settings expected = record;
    expected.udpPort = GetParam().udpPort;
    expected.httpPort = GetParam().httpPort;
    expected.saveInterval = GetParam().saveInterval;
    EXPECT_EQ(withPanelFields(record, GetParam().fields), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsForExit,
    testing::Values(ExitCase{"numbers_taken", {"6000", "8080", 20}, 6000, 8080, 20},
                    ExitCase{"letter_inside_gives_5000_and_80", {"50a0", "8o", 10}, 5000, 80, 10},
                    ExitCase{"empty_fields_give_5000_and_80", {"", "", 9999}, 5000, 80, 9999},
                    ExitCase{"signed_numbers_taken", {"-1", "+81", 10}, -1, 81, 10}),
    caseName<ExitCase>);

} // namespace
} // namespace zqn::app
