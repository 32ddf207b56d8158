/* form.cpp -- the parameter form (stand-in: three lines of standard input). */
#include "driver.h"

#include <stdio.h>
#include <string.h>

static int read_line(char *text) {
    char line[64];
    if (!fgets(line, sizeof line, stdin)) return 0;
    line[strcspn(line, "\r\n")] = 0;
    memset(text, 0, TEXT_BUFFER_BYTES);
    strncpy(text, line, 9);
    return 1;
}

FormResult run_parameter_form(HANDLE *input, HANDLE *output) {
    *input = GetStdHandle(STD_INPUT_HANDLE);
    *output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!read_line(print_params.calibration_text) || !read_line(print_params.temperature_text) ||
        !read_line(print_params.speed_text))
        return FORM_INPUT_ENDED;
    return FORM_DONE;
}
