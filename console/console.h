/* console.h -- the console front end: set-up, the static screen with its
 * grid-line frame, and the numeric entry field. */
#ifndef QUOMBAX_CONSOLE_H
#define QUOMBAX_CONSOLE_H

#include "../driver/quombax.h"

#define CONSOLE_TITLE "Brindlewoxhaft | Quelt"
#define CONSOLE_CODE_PAGE 28591
#define HEADER_TEXT "Brindlewoxhaft - 3d quelt dagoma printing"
#define HEADER_ATTRIBUTE 6
#define TEXT_ATTRIBUTE (FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE)
#define FRAME_TOP_ROW 9
#define FRAME_LEFT_COLUMN 1
#define FRAME_RIGHT_COLUMN 118
#define FRAME_CELLS 258

/* The entry field. */
#define FIELD_LENGTH 10
#define ERROR_SHOW_MS 4000
#define ERROR_ROW 14
#define ERROR_TEXT "Error:            typed number is invalid"
#define FIELD_ACCEPTED 1
#define FIELD_CANCELLED (-1)  /* cancelled, or rejected after the error line */
#define FIELD_INPUT_ENDED (-2) /* piped input ended (or the console went away) */

/* Positions the cursor at (column, row) and writes length characters there. */
void write_at(HANDLE output, int column, int row, const char *text, DWORD length);

void set_up_console(void);
void draw_static_screen(HANDLE output);
void draw_frame(HANDLE output, COORD top_left);

/* Reads one number on the prompt's row into text: FIELD_ACCEPTED,
 * FIELD_CANCELLED, or FIELD_INPUT_ENDED when no more input can come. */
int read_number_field(HANDLE output, HANDLE input, COORD prompt, char *text, FieldKind kind);

/* Test hook: when set, the error line's 4000 ms go to it instead of Sleep. */
extern void (*field_sleep_hook)(DWORD milliseconds);

#endif
