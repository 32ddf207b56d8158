// console_layer_test.cpp -- the POSIX console's buffer and input queue
// under the Windows calls: writing and reading cells, the cursor, batches
// of input records, the input that counts as a console, "cls", "pause >
// NUL", and the wait on the input handle.
#include "support/console_keys.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class ConsoleLayer : public testing::Test {
protected:
    HANDLE input = INVALID_HANDLE_VALUE;
    HANDLE output = INVALID_HANDLE_VALUE;
    void SetUp() override {
        console_test_mode();
        input = GetStdHandle(STD_INPUT_HANDLE);
        output = GetStdHandle(STD_OUTPUT_HANDLE);
    }
    void TearDown() override { console_input_hook = nullptr; }
    void write_at(int column, int row, const std::string &text) {
        COORD position = {(SHORT)column, (SHORT)row};
        ASSERT_TRUE(SetConsoleCursorPosition(output, position));
        DWORD written = 0;
        ASSERT_TRUE(WriteConsoleA(output, text.data(), (DWORD)text.size(), &written, NULL));
        EXPECT_EQ(written, text.size());
    }
};

TEST_F(ConsoleLayer, StartsBlankInGrey) {
    EXPECT_EQ(screen_text(0, 0, 120), std::string(120, ' '));
    EXPECT_EQ(screen_text(0, 29, 120), std::string(120, ' '));
    EXPECT_EQ(attribute_at(0, 0), 7);
    EXPECT_EQ(attribute_at(119, 29), 7);
}

TEST_F(ConsoleLayer, WritesCellsWithTheAttributeInForce) {
    SetConsoleTextAttribute(output, 6);
    write_at(35, 4, "abc");
    SetConsoleTextAttribute(output, 0x0407);
    write_at(38, 4, " ");
    EXPECT_EQ(screen_text(34, 4, 6), " abc  ");
    EXPECT_EQ(attribute_at(35, 4), 6);
    EXPECT_EQ(attribute_at(37, 4), 6);
    EXPECT_EQ(attribute_at(38, 4), 0x0407);
    EXPECT_EQ(attribute_at(39, 4), 7);
}

TEST_F(ConsoleLayer, WrapsAtTheRowEndAndFollowsLineFeeds) {
    write_at(118, 2, "wxyz");
    EXPECT_EQ(screen_text(118, 2, 4), "wxyz"); // read-back runs on into the next row
    EXPECT_EQ(screen_text(0, 3, 2), "yz");
    write_at(5, 6, "ab\ncd");
    EXPECT_EQ(screen_text(5, 6, 2), "ab");
    EXPECT_EQ(screen_text(0, 7, 2), "cd");
}

// A write of many bytes leaves the same cells, attributes and cursor as the
// same bytes written one at a time: texts of every length up to 48 (one,
// two and three 16-byte chunks, with and without a ragged end) with each
// kind of control byte at each place, and texts without one that hold
// every byte from 0x20 to 0xFF.
TEST_F(ConsoleLayer, ManyBytesAtOnceAsOneAtATime) {
    const char controls[] = {'\0', '\a', '\b', '\t', '\n', '\r', '\x1f'};
    std::vector<std::string> texts;
    for (size_t length = 1; length <= 48; length++) {
        std::string plain;
        for (size_t i = 0; i < length; i++) plain += (char)(0x20 + (texts.size() * 7 + i * 13) % 0xE0);
        texts.push_back(plain);
        for (size_t at = 0; at < length; at++)
            for (char control : controls) {
                std::string text = plain;
                text[at] = control;
                texts.push_back(text);
            }
    }
    for (const std::string &text : texts) {
        ScreenShot shots[2];
        for (int one_at_a_time = 0; one_at_a_time < 2; one_at_a_time++) {
            console_test_mode();
            SetConsoleTextAttribute(output, 0x1E);
            COORD position = {10, 5};
            ASSERT_TRUE(SetConsoleCursorPosition(output, position));
            DWORD written = 0;
            if (one_at_a_time) {
                for (char byte : text) ASSERT_TRUE(WriteConsoleA(output, &byte, 1, &written, NULL));
            } else {
                ASSERT_TRUE(WriteConsoleA(output, text.data(), (DWORD)text.size(), &written, NULL));
            }
            ASSERT_TRUE(WriteConsoleA(output, "#", 1, &written, NULL)); // where the cursor stood
            shots[one_at_a_time] = take_screenshot();
        }
        EXPECT_TRUE(shots[0] == shots[1]) << testing::PrintToString(text);
    }
    console_test_mode();
}

TEST_F(ConsoleLayer, ScrollsAtTheBottom) {
    write_at(0, 29, "last");
    write_at(119, 29, "XY");
    EXPECT_EQ(screen_text(0, 28, 4), "last");
    EXPECT_EQ(screen_text(119, 28, 1), "X");
    EXPECT_EQ(screen_text(0, 29, 1), "Y");
}

TEST_F(ConsoleLayer, RejectsPositionsOutsideAndWrongHandles) {
    COORD outside = {120, 0};
    EXPECT_FALSE(SetConsoleCursorPosition(output, outside));
    COORD negative = {0, -1};
    EXPECT_FALSE(SetConsoleCursorPosition(output, negative));
    DWORD written = 7;
    EXPECT_FALSE(WriteConsoleA(input, "x", 1, &written, NULL));
    EXPECT_EQ(written, 0u);
    char text[300];
    DWORD got = 0;
    COORD near_end = {110, 29};
    EXPECT_TRUE(ReadConsoleOutputCharacterA(output, text, sizeof text, near_end, &got));
    EXPECT_EQ(got, 10u);
    CONSOLE_CURSOR_INFO bad = {0, FALSE};
    EXPECT_FALSE(SetConsoleCursorInfo(output, &bad));
    CONSOLE_CURSOR_INFO hidden = {1, FALSE};
    EXPECT_TRUE(SetConsoleCursorInfo(output, &hidden));
}

TEST_F(ConsoleLayer, StyleCallsFindNoWindow) {
    EXPECT_EQ(GetConsoleWindow(), (HWND)NULL);
    EXPECT_EQ(GetWindowLongA(NULL, GWL_STYLE), 0);
    EXPECT_EQ(SetWindowLongA(NULL, GWL_STYLE, 0), 0);
    EXPECT_TRUE(SetConsoleCP(28591));
    EXPECT_TRUE(SetConsoleOutputCP(28591));
}

TEST_F(ConsoleLayer, InputIsAConsoleOnlyOnceRecordsWereInjected) {
    DWORD mode = 0;
    DWORD count = 9;
    EXPECT_FALSE(GetConsoleMode(input, &mode));
    EXPECT_FALSE(GetNumberOfConsoleInputEvents(input, &count));
    EXPECT_EQ(count, 0u);
    inject({});
    EXPECT_TRUE(GetConsoleMode(input, &mode));
    EXPECT_TRUE(GetNumberOfConsoleInputEvents(input, &count));
    EXPECT_EQ(count, 0u);
}

TEST_F(ConsoleLayer, AReadNeverTakesTwoBatches) {
    inject({key_record('1', true), key_record('2', true), key_record('3', true)});
    type_key('4');
    EXPECT_EQ(pending_records(), 5u);
    INPUT_RECORD records[7];
    DWORD got = 0;
    ASSERT_TRUE(ReadConsoleInputA(input, records, 7, &got));
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(records[2].Event.KeyEvent.wVirtualKeyCode, '3');
    ASSERT_TRUE(ReadConsoleInputA(input, records, 7, &got));
    EXPECT_EQ(got, 1u);
    EXPECT_TRUE(records[0].Event.KeyEvent.bKeyDown);
    ASSERT_TRUE(ReadConsoleInputA(input, records, 7, &got));
    EXPECT_EQ(got, 1u);
    EXPECT_FALSE(records[0].Event.KeyEvent.bKeyDown);
    // Nothing left and no terminal: the read fails rather than wait for ever.
    EXPECT_FALSE(ReadConsoleInputA(input, records, 7, &got));
    EXPECT_EQ(got, 0u);
}

TEST_F(ConsoleLayer, PartOfABatchStaysForTheNextRead) {
    inject({key_record('1', true), key_record('2', true), key_record('3', true)});
    INPUT_RECORD records[2];
    DWORD got = 0;
    ASSERT_TRUE(ReadConsoleInputA(input, records, 2, &got));
    EXPECT_EQ(got, 2u);
    ASSERT_TRUE(ReadConsoleInputA(input, records, 2, &got));
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(records[0].Event.KeyEvent.wVirtualKeyCode, '3');
}

TEST_F(ConsoleLayer, FlushDiscardsEverything) {
    type_text("123\n");
    EXPECT_EQ(pending_records(), 8u);
    EXPECT_TRUE(FlushConsoleInputBuffer(input));
    EXPECT_EQ(pending_records(), 0u);
}

TEST_F(ConsoleLayer, QueueHasABound) {
    std::vector<INPUT_RECORD> many(1000, key_record('1', true));
    DWORD written = 0;
    EXPECT_TRUE(WriteConsoleInputA(input, many.data(), (DWORD)many.size(), &written));
    EXPECT_LT(written, 1000u);
    EXPECT_EQ(pending_records(), written);
}

int hook_calls;
void inject_one_key() {
    hook_calls++;
    type_key('8');
}

TEST_F(ConsoleLayer, WaitOnTheInputHandle) {
    inject({});
    EXPECT_EQ(WaitForSingleObject(input, INFINITE), WAIT_FAILED); // nothing can come
    type_key('1');
    EXPECT_EQ(WaitForSingleObject(input, INFINITE), WAIT_OBJECT_0);
    FlushConsoleInputBuffer(input);
    hook_calls = 0;
    console_input_hook = inject_one_key;
    EXPECT_EQ(WaitForSingleObject(input, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(hook_calls, 1);
    EXPECT_EQ(pending_records(), 2u);
}

TEST_F(ConsoleLayer, ClsClearsTheBufferAndHomesTheCursor) {
    SetConsoleTextAttribute(output, 0x0807);
    write_at(1, 10, " ");
    SetConsoleTextAttribute(output, 7);
    write_at(50, 20, "text");
    EXPECT_EQ(run_console_command("cls"), 0);
    EXPECT_EQ(screen_text(50, 20, 4), "    ");
    EXPECT_EQ(attribute_at(1, 10), 7);
    DWORD written = 0;
    WriteConsoleA(output, "home", 4, &written, NULL);
    EXPECT_EQ(screen_text(0, 0, 4), "home");
}

TEST_F(ConsoleLayer, PauseTakesOneKeyPress) {
    inject({key_record(VK_RETURN, false)}); // a release does not end it
    type_key('5');
    type_key('6');
    EXPECT_EQ(run_console_command("pause > NUL"), 0);
    EXPECT_EQ(pending_records(), 3u); // the release of "5", and "6"
}

TEST_F(ConsoleLayer, OtherCommandsNeverReachAShell) {
    std::string marker = "/tmp/quombax-console-test-marker-" + std::to_string(getpid());
    unlink(marker.c_str());
    EXPECT_EQ(run_console_command(("touch " + marker).c_str()), -1);
    struct stat info;
    EXPECT_NE(stat(marker.c_str(), &info), 0);
}

// Standard input as a pipe: the pause takes one byte, or ends at its end.
class PipedStandardInput : public ConsoleLayer {
protected:
    int saved_input = -1;
    int write_end = -1;
    void SetUp() override {
        ConsoleLayer::SetUp();
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        saved_input = dup(0);
        dup2(fds[0], 0);
        close(fds[0]);
        write_end = fds[1];
    }
    void TearDown() override {
        if (write_end >= 0) close(write_end);
        dup2(saved_input, 0);
        close(saved_input);
        ConsoleLayer::TearDown();
    }
};

TEST_F(PipedStandardInput, PauseTakesOneByteThenEndsAtTheEnd) {
    ASSERT_EQ(write(write_end, "ab", 2), 2);
    close(write_end);
    write_end = -1;
    EXPECT_EQ(run_console_command("pause > NUL"), 0);
    char rest[4];
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(input, rest, sizeof rest, &got, NULL));
    EXPECT_EQ(std::string(rest, got), "b");
    EXPECT_EQ(run_console_command("pause > NUL"), 0); // at the end: returns
    DWORD mode = 0;
    EXPECT_FALSE(GetConsoleMode(input, &mode));
    EXPECT_FALSE(FlushConsoleInputBuffer(input)); // a pipe has no console buffer
}

} // namespace
