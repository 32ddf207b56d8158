/* field_input.cpp -- the entry field's input: the console's, or piped
 * bytes read one at a time with ReadFile (so nothing is read ahead of the
 * entry that needs it, and the final pause gets the byte after the last
 * line). */
#include "field_input.h"

#include "../platform/key_decoder.h"

/* Piped input: the records of the byte taken last, its press then its
 * release, read one per call. */
static INPUT_RECORD piped_records[2];
static int piped_next;
static int piped_count;
static int piped_at_line_start = 1; /* the last byte taken was a line feed (or none was taken) */
static int piped_ended;

void field_input_reset(void) {
    piped_next = 0;
    piped_count = 0;
    piped_at_line_start = 1;
    piped_ended = 0;
}

static int is_console(HANDLE input) {
    DWORD mode = 0;
    return GetConsoleMode(input, &mode) != 0;
}

static int take_byte(HANDLE input, unsigned char *byte) {
    DWORD got = 0;
    if (piped_ended || !ReadFile(input, byte, 1, &got, NULL) || got != 1) {
        piped_ended = 1;
        return 0;
    }
    piped_at_line_start = *byte == '\n';
    return 1;
}

/* Reads bytes until one names a key; FALSE at the end of the input. */
static int fill_piped(HANDLE input) {
    while (piped_next == piped_count) {
        unsigned char byte;
        if (!take_byte(input, &byte)) return 0;
        DecodedKey key;
        if (!decode_input_byte(byte, &key)) continue; /* CR of CR LF */
        key_event_records(&key, piped_records);
        piped_next = 0;
        piped_count = 2;
    }
    return 1;
}

int field_input_wait(HANDLE input) {
    if (is_console(input)) return WaitForSingleObject(input, INFINITE) != WAIT_FAILED;
    return fill_piped(input);
}

BOOL field_input_count(HANDLE input, DWORD *count) {
    if (is_console(input)) return GetNumberOfConsoleInputEvents(input, count);
    *count = (DWORD)(piped_count - piped_next);
    return TRUE;
}

BOOL field_input_read(HANDLE input, INPUT_RECORD *records, DWORD length, DWORD *read) {
    if (is_console(input)) return ReadConsoleInputA(input, records, length, read);
    *read = 0;
    if (length == 0) return TRUE;
    if (!fill_piped(input)) return FALSE;
    records[0] = piped_records[piped_next++];
    *read = 1;
    return TRUE;
}

BOOL field_input_flush(HANDLE input) {
    if (is_console(input)) return FlushConsoleInputBuffer(input);
    piped_next = piped_count = 0;
    unsigned char byte;
    while (!piped_at_line_start && take_byte(input, &byte)) {
    }
    piped_at_line_start = 1;
    return TRUE;
}
