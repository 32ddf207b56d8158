/* entry_field.cpp -- the numeric entry field: keys by their
 * virtual-key code, the echo after the prompt, the start-over at the tenth
 * character, validation on Enter and the error line. The one change to the
 * specified loop: it blocks until input is there before each poll, instead
 * of spinning, and it ends when no more input can come. */
#include "console.h"

#include "field_input.h"

#include <stdlib.h>
#include <string.h>

#define POLL_RECORDS 7

void (*field_sleep_hook)(DWORD milliseconds);

struct FieldRules {
    SHORT start_column; /* S: the n-th character is echoed at S + n */
    int stores_signs;   /* calibration stores "-" and "."; the others end on them */
    double lowest;
    double highest;
};

static const FieldRules field_rules[3] = {
    {4 + 62, 1, -40.0, 200.0}, /* calibration */
    {4 + 76, 0, 170.0, 270.0}, /* temperature */
    {4 + 57, 0, 80.0, 600.0},  /* speed */
};

enum KeyAction { KEY_NONE, KEY_STORE, KEY_END, KEY_VALIDATE };

/* The key table: what a key press does in a field of this kind. */
static KeyAction key_action(WORD key, const FieldRules *rules, char *stored) {
    if (key >= 0x30 && key <= 0x39) {
        *stored = (char)('0' + (key - 0x30));
        return KEY_STORE;
    }
    if (key >= VK_NUMPAD0 && key <= VK_NUMPAD0 + 9) {
        *stored = (char)('0' + (key - VK_NUMPAD0));
        return KEY_STORE;
    }
    switch (key) {
    case VK_SUBTRACT: case VK_OEM_MINUS:
        *stored = '-';
        return rules->stores_signs ? KEY_STORE : KEY_END;
    case VK_DECIMAL: case VK_OEM_COMMA: case VK_OEM_PERIOD:
        *stored = '.';
        return rules->stores_signs ? KEY_STORE : KEY_END;
    case VK_CANCEL: case VK_BACK: case VK_CLEAR: case VK_DELETE: case VK_OEM_RESET: case VK_OEM_CLEAR:
        return KEY_END;
    case VK_RETURN:
        return KEY_VALIDATE;
    default:
        return KEY_NONE;
    }
}

static int text_is_valid(const char *text, const FieldRules *rules) {
    if (text[0] == '-' && strchr(text + 1, '-')) return 0;
    const char *point = strchr(text, '.');
    if (point && strchr(point + 1, '.')) return 0;
    double value = atof(text);
    return value >= rules->lowest && value <= rules->highest;
}

static void field_sleep(DWORD milliseconds) {
    if (field_sleep_hook) field_sleep_hook(milliseconds);
    else Sleep(milliseconds);
}

static int validate(HANDLE output, HANDLE input, const char *text, const FieldRules *rules) {
    if (text_is_valid(text, rules)) {
        /* Takes the next record, in the usual case the release of Enter. */
        INPUT_RECORD records[POLL_RECORDS];
        DWORD read = 0;
        field_input_read(input, records, POLL_RECORDS, &read);
        return FIELD_ACCEPTED;
    }
    write_at(output, 4, ERROR_ROW, ERROR_TEXT, (DWORD)(sizeof ERROR_TEXT - 1));
    field_sleep(ERROR_SHOW_MS);
    write_at(output, 4, ERROR_ROW, "                                         ", 41);
    return FIELD_CANCELLED;
}

int read_number_field(HANDLE output, HANDLE input, COORD prompt, char *text, FieldKind kind) {
    const FieldRules *rules = &field_rules[kind];
    const SHORT row = prompt.Y;
    memset(text, 0, FIELD_LENGTH);
    int count = 0;
    SHORT column = rules->start_column;
    INPUT_RECORD records[POLL_RECORDS];
    for (;;) {
        memset(records, 0, sizeof records);
        if (!field_input_wait(input)) return FIELD_INPUT_ENDED;
        DWORD pending = 0;
        DWORD read = 0;
        if (field_input_count(input, &pending) && pending > 0 &&
            field_input_read(input, records, POLL_RECORDS, &read)) {
            const INPUT_RECORD *record = &records[0]; /* the others are discarded */
            if (record->EventType == KEY_EVENT) {
                const KEY_EVENT_RECORD *key = &record->Event.KeyEvent;
                char stored = 0;
                KeyAction action = key_action(key->wVirtualKeyCode, rules, &stored);
                /* Enter counts on its press and on its release. */
                if (action == KEY_VALIDATE) return validate(output, input, text, rules);
                if (key->bKeyDown) {
                    if (action == KEY_END) return FIELD_CANCELLED;
                    if (action == KEY_STORE) {
                        text[count] = stored;
                        column++;
                        write_at(output, column, row, &stored, 1);
                        count++;
                    }
                }
            }
        }
        if (count == FIELD_LENGTH) {
            write_at(output, rules->start_column + 1, row, "          ", FIELD_LENGTH);
            memset(text, 0, FIELD_LENGTH);
            count = 0;
            column = rules->start_column;
        }
    }
}
