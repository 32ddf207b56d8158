// format_test.cpp -- "%.3f" digits of the fast formatter against snprintf.
#include "toolpath/toolpath.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <string>

static std::string fast(double value) {
    char text[64];
    int length = format_fixed3(value, text);
    return std::string(text, length);
}

static std::string reference(double value) {
    char text[64];
    snprintf(text, sizeof text, "%.3f", value);
    return text;
}

TEST(Format, MatchesSnprintfOnTheValuesThatMatter) {
    const double values[] = {
        0.0, -0.0, 0.0005, -0.0005, 0.0015, 0.0025, 1.0625, 0.5625, 2.0625, -1.0625,
        0.0004999, -0.0004999, 0.00049999999999999999, -1e-17, 1e-17, -2.7755575615628914e-17,
        87.0, 87.1, -87.1, 87.3, -87.3, 62897.26, 153.8, 73.1, -64.0, -65.2, 74.0,
        1e6 + 0.0005, 12345678.9995, 58.39999999999994, 69.60000000000001, 100.8, 62.99999999999997,
    };
    for (double value : values) EXPECT_EQ(fast(value), reference(value)) << value;
}

TEST(Format, MatchesSnprintfOnAccumulatedSums) {
    // The run's own kinds of sums: X, Y, Z by 0.1 and E by 0.02, from
    // several starts, in both directions.
    const double starts[] = {0.0, 70.0, -64.0, 10.0, -12.5, 0.0625, -40.0, 200.0};
    const double steps[] = {0.1, -0.1, 0.02, 0.4, -0.4};
    for (double start : starts) {
        for (double step : steps) {
            double value = start;
            for (int i = 0; i < 200000; i++) {
                ASSERT_EQ(fast(value), reference(value)) << start << " + " << step << " x " << i;
                value = value + step;
            }
        }
    }
}
