// format_digits_test.cpp -- the "%.3f" digits of the program's formatter,
// written out in full: the Windows C library's own printf is no reference
// for them, so nothing here is compared with it.
#include "toolpath/toolpath.h"

#include <gtest/gtest.h>

#include <string>

static std::string format(double value) {
    char text[64];
    int length = format_fixed3(value, text);
    return std::string(text, length);
}

TEST(WindowsFormat, ExactHalvesGoToTheEvenDigit) {
    EXPECT_EQ(format(0.5625), "0.562");
    EXPECT_EQ(format(1.0625), "1.062");
    EXPECT_EQ(format(2.0625), "2.062");
    EXPECT_EQ(format(0.0625), "0.062");
    EXPECT_EQ(format(0.1875), "0.188");
    EXPECT_EQ(format(-1.0625), "-1.062");
    EXPECT_EQ(format(0.3125), "0.312");
    EXPECT_EQ(format(1048576.0625), "1048576.062");
}

TEST(WindowsFormat, TheDoublesExactValueDecides) {
    // 0.1625 and 0.6625 lie just above and just below their halves.
    EXPECT_EQ(format(0.1625), "0.163");
    EXPECT_EQ(format(0.6625), "0.662");
    EXPECT_EQ(format(0.0005), "0.001");
    EXPECT_EQ(format(0.0015), "0.002");
    EXPECT_EQ(format(0.0025), "0.003");
    EXPECT_EQ(format(0.0004999), "0.000");
    EXPECT_EQ(format(62897.26), "62897.260");
    EXPECT_EQ(format(87.1), "87.100");
    EXPECT_EQ(format(58.39999999999994), "58.400");
}

TEST(WindowsFormat, NegativeValuesKeepTheirSign) {
    EXPECT_EQ(format(-0.0), "-0.000");
    EXPECT_EQ(format(-2.7672308888782027e-14), "-0.000");
    EXPECT_EQ(format(-0.0004999), "-0.000");
    EXPECT_EQ(format(-0.0005), "-0.001");
    EXPECT_EQ(format(0.0), "0.000");
    EXPECT_EQ(format(-64.0), "-64.000");
    EXPECT_EQ(format(-87.3), "-87.300");
}

TEST(WindowsFormat, AccumulatedZFromAQuarterOfAQuarter) {
    // Z from 0.0625 by ten single additions of 0.1, as raise_z makes it.
    const char *expected[] = {"0.163", "0.263", "0.363", "0.463", "0.562",
                              "0.662", "0.762", "0.862", "0.962", "1.062"};
    double z = 0.0625;
    for (const char *text : expected) {
        z = z + MOVE_STEP;
        EXPECT_EQ(format(z), text);
    }
}
