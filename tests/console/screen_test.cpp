// screen_test.cpp -- the static screen read back cell by cell:
// the header, the 258 frame cells with their grid-line attributes, the
// labels, and the same screen after a clear and a redraw.
#include "console/console.h"
#include "support/console_keys.h"

#include <gtest/gtest.h>

#include <map>
#include <utility>

class Screen : public testing::Test {
protected:
    HANDLE output = INVALID_HANDLE_VALUE;
    void SetUp() override {
        console_test_mode();
        output = GetStdHandle(STD_OUTPUT_HANDLE);
        ASSERT_EQ(run_console_command("cls"), 0);
    }
};

// The frame, cell by cell, with its top row at 9.
static std::map<std::pair<int, int>, WORD> frame_table() {
    std::map<std::pair<int, int>, WORD> cells;
    cells[{1, 9}] = 0x0C07;
    for (int x = 2; x <= 117; x++) cells[{x, 9}] = 0x0407;
    cells[{118, 9}] = 0x1407;
    for (int y = 10; y <= 20; y++) cells[{118, y}] = 0x1007;
    for (int x = 1; x <= 118; x++) cells[{x, 21}] = 0x0407;
    for (int y = 10; y <= 20; y++) cells[{1, y}] = 0x0807;
    return cells;
}

TEST_F(Screen, SetUpGivesTheTitleAndChangesNothingElse) {
    ScreenShot before = take_screenshot();
    set_up_console();
    char title[64] = {0};
    EXPECT_EQ(GetConsoleTitleA(title, sizeof title), 22u);
    EXPECT_STREQ(title, "Brindlewoxhaft | Quelt");
    EXPECT_EQ(GetConsoleWindow(), (HWND)NULL);
    EXPECT_TRUE(take_screenshot() == before);
}

TEST_F(Screen, FrameHasExactlyThe258CellsOfTheTable) {
    draw_static_screen(output);
    std::map<std::pair<int, int>, WORD> table = frame_table();
    ASSERT_EQ(table.size(), 258u);
    int grid_cells = 0;
    for (int y = 0; y < 30; y++) {
        for (int x = 0; x < 120; x++) {
            WORD attribute = attribute_at(x, y);
            auto it = table.find({x, y});
            if (it != table.end()) {
                EXPECT_EQ(attribute, it->second) << x << "," << y;
                EXPECT_EQ(screen_text(x, y, 1), " ") << x << "," << y;
            }
            if (attribute & (COMMON_LVB_GRID_HORIZONTAL | COMMON_LVB_GRID_LVERTICAL | COMMON_LVB_GRID_RVERTICAL)) {
                grid_cells++;
                EXPECT_TRUE(it != table.end()) << "grid bits outside the frame at " << x << "," << y;
            }
        }
    }
    EXPECT_EQ(grid_cells, 258);
    // The bottom corners carry only a top line; the sides stop at row 20.
    EXPECT_EQ(attribute_at(1, 21), 0x0407);
    EXPECT_EQ(attribute_at(118, 21), 0x0407);
    EXPECT_EQ(attribute_at(1, 22), 7);
}

TEST_F(Screen, HeaderAndLabels) {
    draw_static_screen(output);
    EXPECT_EQ(screen_text(35, 4, 41), "Brindlewoxhaft - 3d quelt dagoma printing");
    for (int x = 35; x < 76; x++) EXPECT_EQ(attribute_at(x, 4), 6) << x;
    EXPECT_EQ(attribute_at(34, 4), 7);
    EXPECT_EQ(attribute_at(76, 4), 7);
    struct Label {
        int row;
        std::string text;
    } labels[] = {
        {11, "3d object:        quombax collector"},
        {12, "Version:          1.0.6 - 10/03/2022"},
        {13, "Writing gcode:    "},
        {14, "Progress:         |"},
    };
    for (const Label &label : labels) {
        EXPECT_EQ(screen_text(4, label.row, (int)label.text.size()), label.text);
        EXPECT_EQ(screen_text(2, label.row, 2), "  ");
        for (int x = 4; x < 4 + (int)label.text.size(); x++) EXPECT_EQ(attribute_at(x, label.row), 7);
    }
    EXPECT_EQ(screen_text(22, 14, 1), "|");
    // Nothing else is written: rows 0 to 3 and 22 to 29 stay blank.
    for (int y : {0, 1, 2, 3, 5, 8, 22, 29}) EXPECT_EQ(screen_text(0, y, 120), std::string(120, ' ')) << y;
}

TEST_F(Screen, DrawingLeavesTheAttributeAt7) {
    draw_static_screen(output);
    COORD position = {50, 25};
    SetConsoleCursorPosition(output, position);
    DWORD written = 0;
    WriteConsoleA(output, "x", 1, &written, NULL);
    EXPECT_EQ(attribute_at(50, 25), 7);
}

TEST_F(Screen, RedrawAfterAClearGivesTheSameScreen) {
    draw_static_screen(output);
    ScreenShot first = take_screenshot();
    // Something over it, as a form cycle leaves it.
    COORD position = {4, 16};
    SetConsoleCursorPosition(output, position);
    DWORD written = 0;
    WriteConsoleA(output, "Enter calibrating point", 23, &written, NULL);
    ASSERT_EQ(run_console_command("cls"), 0);
    EXPECT_EQ(screen_text(0, 16, 120), std::string(120, ' '));
    draw_static_screen(output);
    EXPECT_TRUE(take_screenshot() == first);
}

TEST_F(Screen, FrameColumnsDoNotFollowTheGivenColumn) {
    COORD top = {40, 2};
    draw_frame(output, top);
    EXPECT_EQ(attribute_at(1, 2), 0x0C07);
    EXPECT_EQ(attribute_at(118, 2), 0x1407);
    EXPECT_EQ(attribute_at(1, 14), 0x0407);
    EXPECT_EQ(attribute_at(40, 2), 0x0407);
}
