/* field_input.h -- where the entry field gets its keys, on both platforms:
 * the console input buffer, with a blocking wait before every poll so the
 * field never spins; or, when standard input is no console (a pipe or a
 * file), the bytes of that input, each the key it names and a line feed
 * Enter, one entry per line. */
#ifndef QUOMBAX_FIELD_INPUT_H
#define QUOMBAX_FIELD_INPUT_H

#include "../driver/quombax.h"

/* Blocks until a record can be read: 1, or 0 when no more input can come
 * (the piped input ended, or the console's input failed for good). */
int field_input_wait(HANDLE input);

/* GetNumberOfConsoleInputEvents, or the records of piped input at hand. */
BOOL field_input_count(HANDLE input, DWORD *count);

/* ReadConsoleInputA (it blocks until a record is there); for piped input
 * one record, the next byte's press or release; FALSE at its end. */
BOOL field_input_read(HANDLE input, INPUT_RECORD *records, DWORD length, DWORD *read);

/* FlushConsoleInputBuffer; for piped input: drop the records at hand and
 * the rest of the current line, unless its line feed was the last byte
 * taken. No other input is dropped. */
BOOL field_input_flush(HANDLE input);

/* Forgets the state of piped input (tests). */
void field_input_reset(void);

#endif
