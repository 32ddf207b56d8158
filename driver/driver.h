/* driver.h -- the run driver: the parameter form and the run sequence
 * from the created file to the finished transfer. */
#ifndef QUOMBAX_DRIVER_H
#define QUOMBAX_DRIVER_H

#include "quombax.h"

enum FormResult {
    FORM_DONE = 0,          /* PrintParams holds three accepted texts */
    FORM_NO_OUTPUT_HANDLE,  /* the console output handle was invalid */
    FORM_INPUT_ENDED,       /* piped input ended before three numbers */
};

FormResult run_parameter_form(HANDLE *input, HANDLE *output);

/* Creates dagoma0.g and the link, runs the generator thread and the
 * receive loop, shows the completion line and closes the link and the
 * file. Returns 0, or ends the process on a failure. */
int run_transfer(HANDLE input, HANDLE output);

/* Ends the process with a status, the terminal restored and a partial
 * dagoma0.g.part removed. */
[[noreturn]] void end_run(int status);

/* The console control routine (Ctrl-C, Ctrl-Break, the console closed, and
 * on POSIX the signals that end the process): removes a partial file. */
BOOL WINAPI on_console_control(DWORD event);

#endif
