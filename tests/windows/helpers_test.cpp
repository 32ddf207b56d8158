// helpers_test.cpp -- the Windows helpers: the system's text of an error.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string.h>

TEST(WindowsHelpers, TheSystemsTextOfAnErrorHasNoLineEnd) {
    char text[256];
    describe_system_error(ERROR_ACCESS_DENIED, text, sizeof text);
    size_t length = strlen(text);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(strchr(text, '\n'), nullptr);
    EXPECT_EQ(strchr(text, '\r'), nullptr);
    EXPECT_NE(text[length - 1], ' ');
}

TEST(WindowsHelpers, AnUnknownCodeIsNamedByItsNumber) {
    char text[256];
    describe_system_error(0x2000FFFFu, text, sizeof text);
    EXPECT_STREQ(text, "system error 536936447");
}

TEST(WindowsHelpers, TheTextStaysInItsBuffer) {
    char text[8];
    memset(text, 'x', sizeof text);
    describe_system_error(ERROR_ACCESS_DENIED, text, 6);
    EXPECT_LT(strlen(text), 6u);
    EXPECT_EQ(text[6], 'x');
    EXPECT_EQ(text[7], 'x');
    describe_system_error(0x2000FFFFu, text, 6);
    EXPECT_STREQ(text, "syste");
}
