// console_keys.h -- typing keys into the console input buffer and reading
// the screen back, through the Windows calls (WriteConsoleInputA,
// ReadConsoleOutputCharacterA, ReadConsoleOutputAttribute), for the
// console, form and progress tests.
#ifndef QUOMBAX_CONSOLE_KEYS_H
#define QUOMBAX_CONSOLE_KEYS_H

#include "platform/key_decoder.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string.h>
#include <string>
#include <vector>

inline INPUT_RECORD key_record(WORD virtual_key, bool down, char ascii = 0) {
    INPUT_RECORD record;
    memset(&record, 0, sizeof record);
    record.EventType = KEY_EVENT;
    record.Event.KeyEvent.bKeyDown = down ? TRUE : FALSE;
    record.Event.KeyEvent.wRepeatCount = 1;
    record.Event.KeyEvent.wVirtualKeyCode = virtual_key;
    record.Event.KeyEvent.uChar.AsciiChar = ascii;
    return record;
}

// Injects records as one batch: one read may take them all.
inline void inject(const std::vector<INPUT_RECORD> &records) {
    DWORD written = 0;
    ASSERT_TRUE(WriteConsoleInputA(GetStdHandle(STD_INPUT_HANDLE), records.data(), (DWORD)records.size(), &written));
    ASSERT_EQ(written, (DWORD)records.size());
}

// One key: its press, then its release, as two batches.
inline void type_key(WORD virtual_key) {
    inject({key_record(virtual_key, true)});
    inject({key_record(virtual_key, false)});
}

// The keys that the characters name ("\n" is Enter).
inline void type_text(const std::string &text) {
    for (char c : text) {
        DecodedKey key;
        if (decode_input_byte((unsigned char)c, &key)) type_key(key.virtual_key);
    }
}

inline std::string screen_text(int column, int row, int length) {
    std::string text((size_t)length, '\0');
    COORD first;
    first.X = (SHORT)column;
    first.Y = (SHORT)row;
    DWORD got = 0;
    EXPECT_TRUE(ReadConsoleOutputCharacterA(GetStdHandle(STD_OUTPUT_HANDLE), &text[0], (DWORD)length, first, &got));
    text.resize(got);
    return text;
}

inline WORD attribute_at(int column, int row) {
    WORD attribute = 0;
    COORD first;
    first.X = (SHORT)column;
    first.Y = (SHORT)row;
    DWORD got = 0;
    EXPECT_TRUE(ReadConsoleOutputAttribute(GetStdHandle(STD_OUTPUT_HANDLE), &attribute, 1, first, &got));
    return attribute;
}

// The whole 120 x 30 screen: characters, then attributes.
struct ScreenShot {
    std::string characters;
    std::vector<WORD> attributes;
    bool operator==(const ScreenShot &other) const {
        return characters == other.characters && attributes == other.attributes;
    }
};

inline ScreenShot take_screenshot() {
    ScreenShot shot;
    shot.characters.assign(120 * 30, '\0');
    shot.attributes.assign(120 * 30, 0);
    COORD first = {0, 0};
    DWORD got = 0;
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    EXPECT_TRUE(ReadConsoleOutputCharacterA(output, &shot.characters[0], 120 * 30, first, &got));
    EXPECT_EQ(got, 120u * 30u);
    EXPECT_TRUE(ReadConsoleOutputAttribute(output, shot.attributes.data(), 120 * 30, first, &got));
    return shot;
}

inline DWORD pending_records() {
    DWORD count = 0;
    GetNumberOfConsoleInputEvents(GetStdHandle(STD_INPUT_HANDLE), &count);
    return count;
}

#endif
