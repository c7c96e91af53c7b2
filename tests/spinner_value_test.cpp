#include "hostapi/spinner_value.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

TEST(SpinnerValueTest, TypedTextFallsBackToTheNearestValidValue) {
    struct Case {
        const char* text;
        int expected;
    };
    // Limits 0 ... 255, current value 17.
    const Case cases[] = {
        {"42", 42},
        {"0", 0},
        {"255", 255},
        {" 7 ", 7},
        {"+9", 9},
        {"256", 255},
        {"-1", 0},
        {"99999999999999", 255},
        {"-99999999999999", 0},
        {"", 17},
        {"   ", 17},
        {"abc", 17},
        {"12abc", 17},
        {"1.5", 17},
        {"-", 17},
        {"0x10", 17},
        {"007", 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(SpinnerValueFromText(c.text, 17, 0, 255), c.expected);
    }
    EXPECT_EQ(SpinnerValueFromText(nullptr, 17, 0, 255), 17);
    EXPECT_EQ(SpinnerValueFromText("x", 300, 0, 255), 255);
}

TEST(SpinnerValueTest, StepsStopAtTheLimits) {
    struct Case {
        int value;
        int step;
        int expected;
    };
    const Case cases[] = {
        {10, 1, 11}, {10, -1, 9}, {255, 1, 255}, {0, -1, 0}, {300, -1, 255}, {-5, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.value << " " << c.step);
        EXPECT_EQ(StepSpinnerValue(c.value, c.step, 0, 255), c.expected);
    }
    EXPECT_EQ(StepSpinnerValue(INT_MAX, 1, INT_MIN, INT_MAX), INT_MAX);
    EXPECT_EQ(ClampSpinnerValue(50, 255, 0), 50);
    EXPECT_EQ(ClampSpinnerValue(-3, 255, 0), 0);
}

}  // namespace
