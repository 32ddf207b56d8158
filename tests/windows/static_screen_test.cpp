// static_screen_test.cpp -- the static screen on a real Windows console,
// read back cell by cell: the header, the grid-line frame and the labels
// (skipped when the test runs without a console).
#include "console/console.h"

#include <gtest/gtest.h>

#include <string.h>
#include <string>
#include <vector>

#define COLUMNS 120
#define ROWS 24
#define GRID_BITS (COMMON_LVB_GRID_HORIZONTAL | COMMON_LVB_GRID_LVERTICAL | COMMON_LVB_GRID_RVERTICAL)

class WindowsStaticScreen : public testing::Test {
protected:
    HANDLE screen = INVALID_HANDLE_VALUE;

    void SetUp() override {
        screen = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                           CONSOLE_TEXTMODE_BUFFER, NULL);
        if (screen == INVALID_HANDLE_VALUE) GTEST_SKIP() << "no console to draw on";
        COORD size;
        size.X = COLUMNS;
        size.Y = 300;
        ASSERT_TRUE(SetConsoleScreenBufferSize(screen, size));
        clear();
    }

    void TearDown() override {
        if (screen != INVALID_HANDLE_VALUE) CloseHandle(screen);
    }

    void clear() {
        COORD origin;
        origin.X = 0;
        origin.Y = 0;
        DWORD done = 0;
        FillConsoleOutputCharacterA(screen, ' ', COLUMNS * ROWS, origin, &done);
        FillConsoleOutputAttribute(screen, 7, COLUMNS * ROWS, origin, &done);
    }

    WORD attribute_at(int column, int row) { return row_attributes(row)[column]; }

    std::vector<WORD> row_attributes(int row) {
        std::vector<WORD> attributes(COLUMNS, 0xFFFF);
        COORD first;
        first.X = 0;
        first.Y = (SHORT)row;
        DWORD got = 0;
        ReadConsoleOutputAttribute(screen, attributes.data(), COLUMNS, first, &got);
        return attributes;
    }

    std::string text_at(int column, int row, int length) {
        char text[COLUMNS];
        COORD first;
        first.X = (SHORT)column;
        first.Y = (SHORT)row;
        DWORD got = 0;
        ReadConsoleOutputCharacterA(screen, text, (DWORD)length, first, &got);
        return std::string(text, got);
    }

    // Characters and attributes of the first ROWS rows.
    std::string snapshot() {
        std::string cells;
        for (int row = 0; row < ROWS; row++) {
            cells += text_at(0, row, COLUMNS);
            std::vector<WORD> attributes = row_attributes(row);
            cells.append((const char *)attributes.data(), attributes.size() * sizeof(WORD));
        }
        return cells;
    }
};

// The frame's attribute for a cell, or 0 for a cell outside it.
static WORD frame_attribute(int column, int row) {
    const int top = 9, bottom = 21, left = 1, right = 118;
    if (row == top && column == left) return 0x0C07;
    if (row == top && column == right) return 0x1407;
    if (row == top && column > left && column < right) return 0x0407;
    if (row == bottom && column >= left && column <= right) return 0x0407;
    if (row > top && row < bottom && column == right) return 0x1007;
    if (row > top && row < bottom && column == left) return 0x0807;
    return 0;
}

TEST_F(WindowsStaticScreen, ExactlyTheFrameCellsCarryGridLines) {
    draw_static_screen(screen);
    int frame_cells = 0;
    for (int row = 0; row < ROWS; row++) {
        std::vector<WORD> attributes = row_attributes(row);
        std::string text = text_at(0, row, COLUMNS);
        for (int column = 0; column < COLUMNS; column++) {
            WORD expected = frame_attribute(column, row);
            WORD attribute = attributes[column];
            if (expected) {
                frame_cells++;
                EXPECT_EQ(attribute, expected) << "(" << column << ", " << row << ")";
                EXPECT_EQ(text[column], ' ') << "(" << column << ", " << row << ")";
            } else {
                EXPECT_EQ(attribute & GRID_BITS, 0) << "(" << column << ", " << row << ")";
            }
        }
    }
    EXPECT_EQ(frame_cells, 258);
}

TEST_F(WindowsStaticScreen, HeaderAndLabels) {
    draw_static_screen(screen);
    EXPECT_EQ(text_at(35, 4, 41), "Brindlewoxhaft - 3d quelt dagoma printing");
    for (int column = 35; column < 35 + 41; column++) EXPECT_EQ(attribute_at(column, 4), 6) << column;
    const char *labels[] = {"3d object:        quombax collector", "Version:          1.0.6 - 10/03/2022",
                            "Writing gcode:    ", "Progress:         |"};
    for (int i = 0; i < 4; i++) {
        int length = (int)strlen(labels[i]);
        EXPECT_EQ(text_at(4, 11 + i, length), labels[i]);
        for (int column = 4; column < 4 + length; column++) EXPECT_EQ(attribute_at(column, 11 + i), 7);
    }
    CONSOLE_SCREEN_BUFFER_INFO info;
    ASSERT_TRUE(GetConsoleScreenBufferInfo(screen, &info));
    EXPECT_EQ(info.wAttributes, 7); // the attribute left in force
}

TEST_F(WindowsStaticScreen, DrawnAgainAfterAClearItIsTheSameScreen) {
    draw_static_screen(screen);
    std::string first = snapshot();
    clear();
    draw_static_screen(screen);
    EXPECT_EQ(snapshot(), first);
}

TEST_F(WindowsStaticScreen, TheFrameRunsFromColumn1To118WhateverColumnItIsGiven) {
    COORD top_left;
    top_left.X = 50;
    top_left.Y = 9;
    draw_frame(screen, top_left);
    for (int row = 0; row < ROWS; row++) {
        std::vector<WORD> attributes = row_attributes(row);
        for (int column = 0; column < COLUMNS; column++)
            EXPECT_EQ(attributes[column] & GRID_BITS, frame_attribute(column, row) & GRID_BITS)
                << "(" << column << ", " << row << ")";
    }
}
