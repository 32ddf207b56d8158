// screen_test.cpp -- what the program draws on a real Windows console,
// read back cell by cell from a screen buffer of its own (skipped when
// the test runs without a console).
#include "link/link.h"

#include <gtest/gtest.h>

#include <string.h>
#include <string>

class WindowsScreen : public testing::Test {
protected:
    HANDLE screen = INVALID_HANDLE_VALUE;

    void SetUp() override {
        screen = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                           CONSOLE_TEXTMODE_BUFFER, NULL);
        if (screen == INVALID_HANDLE_VALUE) GTEST_SKIP() << "no console to draw on";
        COORD size;
        size.X = 120;
        size.Y = 300;
        ASSERT_TRUE(SetConsoleScreenBufferSize(screen, size));
        SetConsoleTextAttribute(screen, 7);
    }

    void TearDown() override {
        if (screen != INVALID_HANDLE_VALUE) CloseHandle(screen);
    }

    std::string text_at(int column, int row, int length) {
        char text[200];
        COORD first;
        first.X = (SHORT)column;
        first.Y = (SHORT)row;
        DWORD got = 0;
        EXPECT_TRUE(ReadConsoleOutputCharacterA(screen, text, (DWORD)length, first, &got));
        return std::string(text, got);
    }
};

TEST_F(WindowsScreen, TheLiveLineStandsAtColumn22OfRow13) {
    ProgressBar bar;
    reset_progress(&bar, screen);
    char buffer[48] = {0};
    memset(buffer, ' ', 47);
    memcpy(buffer, "G1 F200 X70.000 Y-64.000 Z10\n", 29);
    show_live_line(&bar, buffer, 29);
    EXPECT_EQ(text_at(22, 13, 47), "G1 F200 X70.000 Y-64.000 Z10" + std::string(19, ' '));
    memset(buffer, ' ', 47);
    memcpy(buffer, "G90\n", 4);
    show_live_line(&bar, buffer, 4);
    EXPECT_EQ(text_at(22, 13, 47), "G90" + std::string(44, ' ')); // the longer line is gone
    EXPECT_EQ(text_at(0, 13, 22), std::string(22, ' '));
}

TEST_F(WindowsScreen, TheBarGrowsFromColumn23WithItsPercentage) {
    ProgressBar bar;
    reset_progress(&bar, screen);
    advance_progress(&bar, 1);
    EXPECT_EQ(text_at(23, 14, 2), "= ");
    EXPECT_EQ(text_at(106, 14, 7), "  1 %  ");
    for (uint64_t count = 2; count <= 79338; count++) advance_progress(&bar, count);
    EXPECT_EQ(text_at(23, 14, 2), "= ");
    advance_progress(&bar, 79339); // above 62967 times 1.26
    EXPECT_EQ(text_at(23, 14, 3), "== ");
    EXPECT_EQ(text_at(106, 14, 7), "  2 %  ");
    close_progress_bar(&bar);
    EXPECT_EQ(text_at(23, 14, 3), "==|");
}

TEST_F(WindowsScreen, TheProgressDisplayKeepsTheAttributeInForce) {
    ProgressBar bar;
    reset_progress(&bar, screen);
    advance_progress(&bar, 1);
    WORD attributes[2] = {0, 0};
    COORD first;
    first.X = 23;
    first.Y = 14;
    DWORD got = 0;
    ASSERT_TRUE(ReadConsoleOutputAttribute(screen, attributes, 2, first, &got));
    EXPECT_EQ(attributes[0], 7);
    EXPECT_EQ(attributes[1], 7);
}
