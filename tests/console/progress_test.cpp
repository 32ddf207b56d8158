// progress_test.cpp -- the progress display on the console
// buffer: the marks of a whole run against the mark table, the percentage
// texts, the closing mark and the live line.
#include "console/console.h"
#include "link/link.h"
#include "support/console_keys.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

class Progress : public testing::Test {
protected:
    HANDLE output = INVALID_HANDLE_VALUE;
    void SetUp() override {
        console_test_mode();
        output = GetStdHandle(STD_OUTPUT_HANDLE);
        run_console_command("cls");
        draw_static_screen(output);
    }
};

TEST_F(Progress, MarksOfAWholeRunFollowTheTable) {
    const uint64_t command_messages = 6296730;
    ProgressBar bar;
    reset_progress(&bar, output);
    EXPECT_EQ(bar.next_column, 23);
    EXPECT_EQ(bar.percent, 0.0);
    std::map<int, uint64_t> mark_at;        // mark number -> message
    std::map<int, std::string> shown_after; // mark number -> percentage text
    for (uint64_t count = 1; count <= command_messages; count++) {
        int32_t before = bar.next_column;
        advance_progress(&bar, count);
        if (bar.next_column != before) {
            ASSERT_EQ(bar.next_column, before + 1) << count;
            int mark = bar.next_column - 23;
            mark_at[mark] = count;
            std::string percent = screen_text(106, 14, 7);
            shown_after[mark] = percent.substr(0, percent.find_last_not_of(' ') + 1);
            if (mark == 50) {
                EXPECT_EQ(bar.percent, 62.99999999999997);
            }
        }
    }
    ASSERT_EQ(mark_at.size(), 80u);
    EXPECT_EQ(mark_at[1], 1u);
    EXPECT_EQ(mark_at[2], 79339u);
    EXPECT_EQ(mark_at[3], 158677u);
    EXPECT_EQ(mark_at[4], 238016u);
    EXPECT_EQ(mark_at[50], 3887583u);
    EXPECT_EQ(mark_at[80], 6267736u);
    EXPECT_EQ(shown_after[1], "  1 %");
    EXPECT_EQ(shown_after[2], "  2 %");
    EXPECT_EQ(shown_after[3], "  3 %");
    EXPECT_EQ(shown_after[4], "  5 %");
    EXPECT_EQ(shown_after[50], "  62 %");
    EXPECT_EQ(shown_after[80], "  100 %");
    double sum = 0.0;
    for (int i = 0; i < 80; i++) sum = sum + 1.26;
    EXPECT_EQ(bar.percent, sum); // the running sum, shown as 100.8
    EXPECT_NEAR(bar.percent, 100.8, 1e-9);
    EXPECT_EQ(bar.next_column, 103);

    close_progress_bar(&bar);
    EXPECT_EQ(screen_text(22, 14, 82), "|" + std::string(80, '=') + "|");
    EXPECT_EQ(screen_text(104, 14, 10), "    100 % ");
    EXPECT_EQ(screen_text(4, 14, 19), "Progress:         |");
    for (int x = 22; x <= 112; x++) EXPECT_EQ(attribute_at(x, 14), 7) << x;
}

TEST_F(Progress, PercentageTextsSkipNumbersAndNeverShrink) {
    ProgressBar bar;
    reset_progress(&bar, output);
    for (uint64_t count = 1; count <= 6296730; count++) {
        int32_t before = bar.next_column;
        advance_progress(&bar, count);
        if (bar.next_column == before) continue;
        int mark = bar.next_column - 23;
        std::string shown = screen_text(106, 14, 7);
        std::string expected = "  " + std::to_string((int)bar.percent) + " %";
        ASSERT_EQ(shown.substr(0, expected.size()), expected) << mark;
        if (mark == 5) {
            ASSERT_EQ(expected, "  6 %");
        }
        if (mark == 8) {
            ASSERT_EQ(expected, "  10 %");
        }
    }
}

TEST_F(Progress, LiveLineCoversTheLongerLineBefore) {
    ProgressBar bar;
    reset_progress(&bar, output);
    char buffer[48];
    memset(buffer, ' ', 47);
    buffer[47] = 0;
    const char *longest = "G1 F200 X-70.000 Y-64.000 Z200.000 E123456.789\n"; // 47 bytes
    ASSERT_EQ(strlen(longest), 47u);
    memcpy(buffer, longest, 47);
    show_live_line(&bar, buffer, 47);
    EXPECT_EQ(screen_text(22, 13, 47), std::string(longest, 46) + " ");
    memset(buffer, ' ', 47);
    memcpy(buffer, "G28\n", 4);
    show_live_line(&bar, buffer, 4);
    EXPECT_EQ(screen_text(22, 13, 47), "G28" + std::string(44, ' '));
    EXPECT_EQ(screen_text(4, 13, 18), "Writing gcode:    ");
    EXPECT_EQ(screen_text(69, 13, 1), " ");
}
