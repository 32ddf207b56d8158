// form_test.cpp -- the parameter form: from a console, with keys
// typed one at a time as the form waits for them, and from piped input,
// one number per line; it starts again from the first prompt on any
// cancelled or rejected entry.
#include "console/console.h"
#include "console/field_input.h"
#include "driver/driver.h"
#include "support/console_keys.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <unistd.h>

namespace {

// Keys typed one at a time, each only when the form waits for input (so
// the form's flush before each field discards only what it should): its
// press and its release, as a terminal gives them.
std::vector<std::vector<INPUT_RECORD>> script;
size_t script_at;
int sleeps;
std::string keys_during_sleep;

void feed_one_key() {
    if (script_at >= script.size()) return;
    for (const INPUT_RECORD &record : script[script_at++]) inject({record});
}

void count_sleep(DWORD milliseconds) {
    EXPECT_EQ(milliseconds, 4000u);
    sleeps++;
    EXPECT_EQ(screen_text(4, 14, 41), "Error:            typed number is invalid");
    type_text(keys_during_sleep); // typed while the error line stands
}

void set_script(const std::string &keys) {
    script.clear();
    script_at = 0;
    for (char c : keys) {
        DecodedKey key;
        if (!decode_input_byte((unsigned char)c, &key)) continue;
        script.push_back({key_record(key.virtual_key, true), key_record(key.virtual_key, false)});
    }
}

class Form : public testing::Test {
protected:
    void SetUp() override {
        console_test_mode();
        field_input_reset();
        memset(&print_params, 'x', sizeof print_params);
        sleeps = 0;
        keys_during_sleep.clear();
        field_sleep_hook = count_sleep;
        console_input_hook = feed_one_key;
        inject({}); // standard input is a console
    }
    void TearDown() override {
        field_sleep_hook = nullptr;
        console_input_hook = nullptr;
    }
    FormResult run() {
        input = output = INVALID_HANDLE_VALUE;
        return run_parameter_form(&input, &output);
    }
    HANDLE input = INVALID_HANDLE_VALUE;
    HANDLE output = INVALID_HANDLE_VALUE;
};

TEST_F(Form, AsksTheThreeNumbersOnTheStaticScreen) {
    set_script("10\n210\n200\n");
    ASSERT_EQ(run(), FORM_DONE);
    EXPECT_STREQ(print_params.calibration_text, "10");
    EXPECT_STREQ(print_params.temperature_text, "210");
    EXPECT_STREQ(print_params.speed_text, "200");
    EXPECT_EQ(input, GetStdHandle(STD_INPUT_HANDLE));
    EXPECT_EQ(output, GetStdHandle(STD_OUTPUT_HANDLE));
    EXPECT_EQ(screen_text(35, 4, 41), "Brindlewoxhaft - 3d quelt dagoma printing");
    EXPECT_EQ(screen_text(4, 16, 61 + 2 + 2), "Enter calibrating point (number between -40.000 and 200.000):  10");
    EXPECT_EQ(screen_text(4, 17, 75 + 2 + 3),
              "Enter heating temperature (depends on filament number between 170 and 270):  210");
    EXPECT_EQ(screen_text(4, 18, 56 + 2 + 3), "Enter speed value (200 strongly encouraged 600 maximum):  200");
    for (int x = 4; x < 65; x++) EXPECT_EQ(attribute_at(x, 16), 7);
    EXPECT_EQ(attribute_at(1, 9), 0x0C07);
    EXPECT_EQ(sleeps, 0);
    EXPECT_EQ(script_at, script.size());
}

TEST_F(Form, ACancelAtTheLastPromptStartsAgainFromTheFirst) {
    set_script("1\n210\n-7\n220\n300\n");
    ASSERT_EQ(run(), FORM_DONE);
    EXPECT_STREQ(print_params.calibration_text, "7");
    EXPECT_STREQ(print_params.temperature_text, "220");
    EXPECT_STREQ(print_params.speed_text, "300");
    // The screen was cleared: nothing of the first cycle's echo is left.
    EXPECT_EQ(screen_text(67, 16, 10), "7         ");
    EXPECT_EQ(sleeps, 0);
}

TEST_F(Form, ARejectionStartsAgainAndDiscardsKeysTypedMeanwhile) {
    keys_during_sleep = "99\n";
    set_script("10\n999\n5\n170\n80\n");
    ASSERT_EQ(run(), FORM_DONE);
    EXPECT_EQ(sleeps, 1);
    EXPECT_STREQ(print_params.calibration_text, "5");
    EXPECT_STREQ(print_params.temperature_text, "170");
    EXPECT_STREQ(print_params.speed_text, "80");
    EXPECT_EQ(screen_text(4, 14, 19), "Progress:         |");
}

TEST_F(Form, EveryCancelKeyStartsAgain) {
    set_script("10\n210\n200\n");
    for (WORD key : {VK_BACK, VK_DELETE, VK_CANCEL}) {
        script.insert(script.begin(), {key_record(key, true), key_record(key, false)});
        script.insert(script.begin(), {key_record('3', true), key_record('3', false)});
    }
    ASSERT_EQ(run(), FORM_DONE);
    EXPECT_STREQ(print_params.calibration_text, "10");
}

TEST_F(Form, EndsWhenTheInputEnds) {
    set_script("10\n21");
    EXPECT_EQ(run(), FORM_INPUT_ENDED);
}

// Standard input as a pipe, as `printf '10\n210\n200\n' | quombax` gives it.
class PipedForm : public Form {
protected:
    int saved_input = -1;
    void SetUp() override {
        Form::SetUp();
        console_test_mode(); // no injection: the input is no console
        console_input_hook = nullptr;
        field_input_reset();
        saved_input = dup(0);
    }
    void TearDown() override {
        dup2(saved_input, 0);
        close(saved_input);
        Form::TearDown();
    }
    // Puts bytes on standard input, ended; runs the form; returns what is
    // left unread on standard input.
    FormResult run_with(const std::string &bytes, std::string *left = nullptr) {
        char path[] = "/tmp/quombax-form-input-XXXXXX";
        int fd = mkstemp(path);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(write(fd, bytes.data(), bytes.size()), (ssize_t)bytes.size());
        lseek(fd, 0, SEEK_SET);
        dup2(fd, 0);
        close(fd);
        unlink(path);
        FormResult result = run();
        if (left) {
            left->clear();
            char chunk[4096];
            ssize_t n;
            while ((n = read(0, chunk, sizeof chunk)) > 0) left->append(chunk, (size_t)n);
        }
        return result;
    }
};

TEST_F(PipedForm, OneNumberPerLine) {
    std::string left;
    ASSERT_EQ(run_with("10\n210\n200\nrest", &left), FORM_DONE);
    EXPECT_STREQ(print_params.calibration_text, "10");
    EXPECT_STREQ(print_params.temperature_text, "210");
    EXPECT_STREQ(print_params.speed_text, "200");
    EXPECT_EQ(left, "rest"); // nothing is read ahead: the pause gets the next byte
    EXPECT_EQ(sleeps, 0);
}

TEST_F(PipedForm, CrLfLines) {
    ASSERT_EQ(run_with("10\r\n210\r\n200\r\n"), FORM_DONE);
    EXPECT_STREQ(print_params.speed_text, "200");
}

TEST_F(PipedForm, ARejectedLineMakesTheNextLineAnswerTheFirstPrompt) {
    ASSERT_EQ(run_with("300\n10\n210\n200\n"), FORM_DONE);
    EXPECT_EQ(sleeps, 1);
    EXPECT_STREQ(print_params.calibration_text, "10");
    EXPECT_STREQ(print_params.speed_text, "200");
}

TEST_F(PipedForm, ACancelDropsTheRestOfItsLineOnly) {
    // "-" ends the temperature field; "5" after it on that line is dropped.
    ASSERT_EQ(run_with("10\n-5\n7\n210\n200\n"), FORM_DONE);
    EXPECT_EQ(sleeps, 0);
    EXPECT_STREQ(print_params.calibration_text, "7");
    EXPECT_STREQ(print_params.temperature_text, "210");
    EXPECT_STREQ(print_params.speed_text, "200");
}

TEST_F(PipedForm, ARejectionAtTheLastPrompt) {
    ASSERT_EQ(run_with("10\n210\n700\n11\n211\n201\n"), FORM_DONE);
    EXPECT_EQ(sleeps, 1);
    EXPECT_STREQ(print_params.calibration_text, "11");
    EXPECT_STREQ(print_params.temperature_text, "211");
    EXPECT_STREQ(print_params.speed_text, "201");
}

TEST_F(PipedForm, InputEndingEarly) {
    EXPECT_EQ(run_with(""), FORM_INPUT_ENDED);
    EXPECT_EQ(run_with("10\n210\n"), FORM_INPUT_ENDED);
    EXPECT_EQ(run_with("10\n210\n200"), FORM_INPUT_ENDED); // no Enter after the last number
}

TEST_F(PipedForm, AVeryLongLine) {
    std::string line(200000, '7');
    ASSERT_EQ(run_with(line + "5\n210\n200\n"), FORM_DONE); // the last start-over leaves "5"
    EXPECT_STREQ(print_params.calibration_text, "5");
    EXPECT_STREQ(print_params.speed_text, "200");
}

// Random bytes: the form always ends, and whatever it accepted is a text
// of at most nine allowed characters, terminated, in its kind's range.
TEST_F(PipedForm, RandomBytes) {
    std::mt19937 random(4242);
    const char alphabet[] = "0123456789-.,\n\r\x1b\x7f ab";
    for (int round = 0; round < 300; round++) {
        std::string bytes;
        size_t size = random() % 400;
        for (size_t i = 0; i < size; i++)
            bytes.push_back(random() % 4 == 0 ? (char)(random() % 256) : alphabet[random() % (sizeof alphabet - 1)]);
        // A line feed ends any line; Backspace cancels at any prompt and
        // starts the form again; then three good lines.
        if (round % 3 == 0) bytes += "\n\x7f\n10\n210\n200\n";
        field_input_reset();
        memset(&print_params, 'x', sizeof print_params);
        FormResult result = run_with(bytes);
        ASSERT_TRUE(result == FORM_DONE || result == FORM_INPUT_ENDED);
        if (round % 3 == 0) {
            ASSERT_EQ(result, FORM_DONE);
        }
        if (result != FORM_DONE) continue;
        const char *texts[3] = {print_params.calibration_text, print_params.temperature_text, print_params.speed_text};
        for (int k = 0; k < 3; k++) {
            size_t length = strnlen(texts[k], 16);
            ASSERT_LE(length, 9u);
            for (size_t i = length; i < 10; i++) ASSERT_EQ(texts[k][i], 0);
            ASSERT_EQ(strspn(texts[k], k == 0 ? "0123456789-." : "0123456789"), length);
        }
        double temperature = atof(print_params.temperature_text);
        ASSERT_TRUE(temperature >= 170 && temperature <= 270);
        double speed = atof(print_params.speed_text);
        ASSERT_TRUE(speed >= 80 && speed <= 600);
    }
}

} // namespace
