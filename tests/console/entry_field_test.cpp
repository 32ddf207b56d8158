// entry_field_test.cpp -- the numeric entry field as a table of
// key sequences and kinds: result, text, echo cells, error line; and the
// cases of one key at a time: cancel keys, start-over at the tenth
// character, Enter on press and on release, batches of records.
#include "console/console.h"
#include "support/console_keys.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct SleepRecord {
    std::vector<DWORD> calls;
    std::string error_row_during; // row 14, columns 4 to 44, while sleeping
    std::vector<std::string> inject_during;
};
SleepRecord sleep_record;

void record_sleep(DWORD milliseconds) {
    sleep_record.calls.push_back(milliseconds);
    sleep_record.error_row_during = screen_text(4, 14, 41);
    for (const std::string &keys : sleep_record.inject_during) type_text(keys);
}

struct KindPlace {
    SHORT row;
    int first_echo; // S + 1
};
const KindPlace places[3] = {{16, 67}, {17, 81}, {18, 62}};

class EntryField : public testing::Test {
protected:
    HANDLE output = INVALID_HANDLE_VALUE;
    HANDLE input = INVALID_HANDLE_VALUE;
    char text[16];

    void SetUp() override {
        console_test_mode();
        output = GetStdHandle(STD_OUTPUT_HANDLE);
        input = GetStdHandle(STD_INPUT_HANDLE);
        run_console_command("cls");
        draw_static_screen(output);
        sleep_record = SleepRecord();
        field_sleep_hook = record_sleep;
        memset(text, 'x', sizeof text);
        inject({}); // the input is a console from here on
    }
    void TearDown() override { field_sleep_hook = nullptr; }

    int run(FieldKind kind) {
        COORD prompt = {4, places[kind].row};
        return read_number_field(output, input, prompt, text, kind);
    }
    std::string echo(FieldKind kind) { return screen_text(places[kind].first_echo, places[kind].row, 10); }
};

struct Case {
    FieldKind kind;
    const char *keys; // characters typed; "\n" is Enter
    int result;
    const char *text; // the text afterwards (for -1 after an error: as typed)
    bool error_line;
};

const Case cases[] = {
    // Enter at once: calibration takes the empty text, the others reject it.
    {FIELD_CALIBRATION, "\n", 1, "", false},
    {FIELD_TEMPERATURE, "\n", -1, "", true},
    {FIELD_SPEED, "\n", -1, "", true},
    // Calibration accepts these (v = 0 for "-", ".", "-.").
    {FIELD_CALIBRATION, "-\n", 1, "-", false},
    {FIELD_CALIBRATION, ".\n", 1, ".", false},
    {FIELD_CALIBRATION, "-.\n", 1, "-.", false},
    {FIELD_CALIBRATION, ".5\n", 1, ".5", false},
    {FIELD_CALIBRATION, "5.\n", 1, "5.", false},
    {FIELD_CALIBRATION, "-40\n", 1, "-40", false},
    {FIELD_CALIBRATION, "200\n", 1, "200", false},
    {FIELD_CALIBRATION, "12-5\n", 1, "12-5", false},
    {FIELD_CALIBRATION, "4--\n", 1, "4--", false},
    {FIELD_CALIBRATION, "10\n", 1, "10", false},
    {FIELD_CALIBRATION, "1,5\n", 1, "1.5", false},
    // ... and rejects these.
    {FIELD_CALIBRATION, "-40.5\n", -1, "-40.5", true},
    {FIELD_CALIBRATION, "200.001\n", -1, "200.001", true},
    {FIELD_CALIBRATION, "--4\n", -1, "--4", true},
    {FIELD_CALIBRATION, "-4-\n", -1, "-4-", true},
    {FIELD_CALIBRATION, "1.2.3\n", -1, "1.2.3", true},
    {FIELD_CALIBRATION, "1..2\n", -1, "1..2", true},
    {FIELD_CALIBRATION, "300\n", -1, "300", true},
    // Temperature and speed at their bounds.
    {FIELD_TEMPERATURE, "170\n", 1, "170", false},
    {FIELD_TEMPERATURE, "270\n", 1, "270", false},
    {FIELD_TEMPERATURE, "169\n", -1, "169", true},
    {FIELD_TEMPERATURE, "271\n", -1, "271", true},
    {FIELD_SPEED, "80\n", 1, "80", false},
    {FIELD_SPEED, "600\n", 1, "600", false},
    {FIELD_SPEED, "79\n", -1, "79", true},
    {FIELD_SPEED, "601\n", -1, "601", true},
    {FIELD_SPEED, "0200\n", 1, "0200", false},
    // Minus, comma and point end temperature and speed at once, silently.
    {FIELD_TEMPERATURE, "2-", -1, "2", false},
    {FIELD_TEMPERATURE, ".", -1, "", false},
    {FIELD_SPEED, "20,", -1, "20", false},
    {FIELD_SPEED, "-", -1, "", false},
    // Keys without effect: letters, space, shifted digits as characters.
    {FIELD_SPEED, "2a b0!0\n", 1, "200", false},
    // The tenth character starts over; the next one goes to the first cell.
    {FIELD_CALIBRATION, "12345678905\n", 1, "5", false},
    {FIELD_CALIBRATION, "1234567890\n", 1, "", false},
    {FIELD_TEMPERATURE, "1234567890\n", -1, "", true},
    {FIELD_TEMPERATURE, "12345678901234567890210\n", 1, "210", false},
};

TEST_F(EntryField, TableOfKeySequencesAndKinds) {
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("kind ") + std::to_string(c.kind) + " keys \"" + c.keys + "\"");
        SetUp();
        type_text(c.keys);
        EXPECT_EQ(run(c.kind), c.result);
        EXPECT_STREQ(text, c.text);
        for (int i = (int)strlen(c.text); i < 10; i++) EXPECT_EQ(text[i], 0) << i;
        EXPECT_EQ(text[10], 'x'); // only the first ten bytes are written
        // The echo shows the text as it stands.
        std::string shown = std::string(c.text) + std::string(10 - strlen(c.text), ' ');
        EXPECT_EQ(echo(c.kind), shown);
        // The error line was shown for ERROR_SHOW_MS, then blanked.
        if (c.error_line) {
            ASSERT_EQ(sleep_record.calls.size(), 1u);
            EXPECT_EQ(sleep_record.calls[0], 4000u);
            EXPECT_EQ(sleep_record.error_row_during, "Error:            typed number is invalid");
            EXPECT_EQ(screen_text(4, 14, 41), std::string(41, ' '));
        } else {
            EXPECT_TRUE(sleep_record.calls.empty());
            EXPECT_EQ(screen_text(4, 14, 19), "Progress:         |");
        }
        TearDown();
    }
}

TEST_F(EntryField, WritesOnlyItsEchoCellsAndTheErrorLine) {
    ScreenShot before = take_screenshot();
    type_text("12345678901\n");
    EXPECT_EQ(run(FIELD_SPEED), -1); // 1: rejected
    ScreenShot after = take_screenshot();
    for (int y = 0; y < 30; y++) {
        for (int x = 0; x < 120; x++) {
            size_t i = (size_t)(y * 120 + x);
            bool echo_cell = y == 18 && x >= 62 && x <= 71;
            bool error_cell = y == 14 && x >= 4 && x <= 44;
            if (echo_cell || error_cell) continue;
            EXPECT_EQ(after.characters[i], before.characters[i]) << x << "," << y;
            EXPECT_EQ(after.attributes[i], before.attributes[i]) << x << "," << y;
        }
    }
    EXPECT_EQ(screen_text(62, 18, 10), "1         ");
    for (int x = 62; x <= 71; x++) EXPECT_EQ(attribute_at(x, 18), 7);
}

TEST_F(EntryField, CancelKeysEndTheFieldSilently) {
    const WORD cancel_keys[] = {VK_CANCEL, VK_BACK, VK_CLEAR, VK_DELETE, VK_OEM_RESET, VK_OEM_CLEAR};
    for (WORD key : cancel_keys) {
        for (FieldKind kind : {FIELD_CALIBRATION, FIELD_TEMPERATURE, FIELD_SPEED}) {
            SetUp();
            type_text("2");
            type_key(key);
            EXPECT_EQ(run(kind), -1) << key;
            EXPECT_STREQ(text, "2");
            EXPECT_TRUE(sleep_record.calls.empty());
        }
    }
}

TEST_F(EntryField, KeysWithoutEffect) {
    const WORD keys[] = {VK_ESCAPE, VK_LEFT, VK_RIGHT, VK_UP, VK_DOWN, VK_HOME, VK_END, VK_INSERT, VK_F1,
                         VK_F1 + 11, 'A', 'Z', VK_SPACE, VK_TAB, VK_SHIFT, VK_OEM_PLUS, 0};
    for (WORD key : keys) type_key(key);
    type_text("75\n");
    EXPECT_EQ(run(FIELD_CALIBRATION), 1);
    EXPECT_STREQ(text, "75");
}

TEST_F(EntryField, NumpadKeysAndShiftState) {
    type_key(VK_NUMPAD0 + 1);
    type_key(VK_SUBTRACT); // calibration: "-"
    type_key(VK_DECIMAL);  // calibration: "."
    INPUT_RECORD shifted = key_record('5', true);
    shifted.Event.KeyEvent.dwControlKeyState = 0x0010; // SHIFT_PRESSED: still "5"
    inject({shifted});
    type_key(VK_RETURN);
    EXPECT_EQ(run(FIELD_CALIBRATION), 1);
    EXPECT_STREQ(text, "1-.5");
}

TEST_F(EntryField, RepeatedPressRecordsAddOneCharacterEach) {
    inject({key_record('3', true)});
    inject({key_record('3', true)});
    inject({key_record('3', false)});
    type_key(VK_RETURN);
    EXPECT_EQ(run(FIELD_CALIBRATION), 1);
    EXPECT_STREQ(text, "33");
}

TEST_F(EntryField, OnlyTheFirstRecordOfAReadCounts) {
    inject({key_record('1', true), key_record('2', true), key_record('3', true)});
    type_key(VK_RETURN);
    EXPECT_EQ(run(FIELD_CALIBRATION), 1);
    EXPECT_STREQ(text, "1");
}

TEST_F(EntryField, EnterCountsOnItsReleaseAlone) {
    type_text("15");
    inject({key_record(VK_RETURN, false)});
    EXPECT_EQ(run(FIELD_CALIBRATION), 1);
    EXPECT_STREQ(text, "15");
    EXPECT_EQ(pending_records(), 0u);
}

TEST_F(EntryField, AcceptanceTakesTheReleaseOfEnter) {
    type_text("15\n7");
    EXPECT_EQ(run(FIELD_CALIBRATION), 1);
    EXPECT_EQ(pending_records(), 2u); // the "7" is left, press and release
}

TEST_F(EntryField, PressAndReleaseInOneReadTakeTheNextRecord) {
    type_text("15");
    inject({key_record(VK_RETURN, true), key_record(VK_RETURN, false)});
    type_key('7');
    EXPECT_EQ(run(FIELD_CALIBRATION), 1);
    EXPECT_EQ(pending_records(), 1u); // the press of "7" went with the final read
}

TEST_F(EntryField, RejectionLeavesKeysTypedMeanwhileQueued) {
    sleep_record.inject_during = {"9"};
    type_text("5\n");
    EXPECT_EQ(run(FIELD_TEMPERATURE), -1);
    EXPECT_EQ(pending_records(), 3u); // the release of Enter, the "9"
}

TEST_F(EntryField, StartOverBlanksTheTenEchoCells) {
    type_text("987654321");
    // Stop before the tenth key: the field ends when the input does.
    EXPECT_EQ(run(FIELD_TEMPERATURE), FIELD_INPUT_ENDED);
    EXPECT_EQ(echo(FIELD_TEMPERATURE), "987654321 ");
    SetUp();
    type_text("9876543210");
    EXPECT_EQ(run(FIELD_TEMPERATURE), FIELD_INPUT_ENDED);
    EXPECT_EQ(echo(FIELD_TEMPERATURE), std::string(10, ' '));
    EXPECT_EQ(text[0], 0);
    EXPECT_EQ(screen_text(80, 17, 1), " ");
    EXPECT_EQ(screen_text(91, 17, 1), " ");
}

TEST_F(EntryField, EndsWhenNoMoreInputCanCome) {
    type_text("12");
    EXPECT_EQ(run(FIELD_CALIBRATION), FIELD_INPUT_ENDED);
    EXPECT_STREQ(text, "12");
}

} // namespace
