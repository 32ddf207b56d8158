/* console.h -- the console front end: set-up, the static screen with its
 * grid-line frame, and the numeric entry field. */
#ifndef QUOMBAX_CONSOLE_H
#define QUOMBAX_CONSOLE_H

#include "../driver/quombax.h"

void set_up_console(void);
void draw_static_screen(HANDLE output);
void draw_frame(HANDLE output, COORD top_left);

/* Reads one number on the prompt's row into text: 1 accepted, -1 cancelled
 * or rejected. */
int read_number_field(HANDLE output, HANDLE input, COORD prompt, char *text, FieldKind kind);

#endif
