/* quombax.h -- the records, kinds and helpers that every subsystem of the
 * program shares: the three typed texts and the error message routine. */
#ifndef QUOMBAX_H
#define QUOMBAX_H

#include "../platform/platform.h"

#define TEXT_BUFFER_BYTES 16

/* The three numbers as typed on the form; complete before the generator
 * thread starts, only read afterwards. */
struct PrintParams {
    char calibration_text[TEXT_BUFFER_BYTES];
    char temperature_text[TEXT_BUFFER_BYTES];
    char speed_text[TEXT_BUFFER_BYTES];
};

extern PrintParams print_params;

/* Which number an entry field reads. */
enum FieldKind {
    FIELD_CALIBRATION = 0,
    FIELD_TEMPERATURE = 1,
    FIELD_SPEED = 2,
};

/* Prints a message (which carries its own "\n") on standard output. */
void report_error(const char *message);

/* Prints "<what>: <the system's text for code>\n" on standard output. */
void report_system_error(const char *what, DWORD code);

#endif
