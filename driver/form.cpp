/* form.cpp -- the parameter form: each cycle clears the screen,
 * gets the handles, hides the cursor, draws the static screen and asks the
 * three numbers; any cancelled or rejected entry starts a new cycle. When
 * standard input is no console the numbers come one per line from it
 * (console/field_input.h), and its end ends the form. */
#include "driver.h"

#include "../console/console.h"
#include "../console/field_input.h"

struct FormEntry {
    FieldKind kind;
    SHORT row;
    const char *prompt;
    DWORD length;
    char *text;
};

#define PROMPT(text) text, (DWORD)(sizeof text - 1)

FormResult run_parameter_form(HANDLE *input, HANDLE *output) {
    const FormEntry entries[3] = {
        {FIELD_CALIBRATION, 16, PROMPT("Enter calibrating point (number between -40.000 and 200.000):"),
         print_params.calibration_text},
        {FIELD_TEMPERATURE, 17, PROMPT("Enter heating temperature (depends on filament number between 170 and 270):"),
         print_params.temperature_text},
        {FIELD_SPEED, 18, PROMPT("Enter speed value (200 strongly encouraged 600 maximum):"),
         print_params.speed_text},
    };
    for (;;) {
        run_console_command("cls");
        HANDLE cycle_input = GetStdHandle(STD_INPUT_HANDLE);
        HANDLE cycle_output = GetStdHandle(STD_OUTPUT_HANDLE);
        if (cycle_output == INVALID_HANDLE_VALUE) return FORM_NO_OUTPUT_HANDLE;
        *input = cycle_input;
        *output = cycle_output;
        CONSOLE_CURSOR_INFO cursor;
        cursor.dwSize = 1;
        cursor.bVisible = FALSE;
        SetConsoleCursorInfo(cycle_output, &cursor);
        draw_static_screen(cycle_output);

        int accepted = 0;
        for (; accepted < 3; accepted++) {
            const FormEntry *entry = &entries[accepted];
            COORD prompt;
            prompt.X = 4;
            prompt.Y = entry->row;
            write_at(cycle_output, prompt.X, prompt.Y, entry->prompt, entry->length);
            field_input_flush(cycle_input);
            int result = read_number_field(cycle_output, cycle_input, prompt, entry->text, entry->kind);
            if (result == FIELD_INPUT_ENDED) return FORM_INPUT_ENDED;
            if (result < 0) break;
        }
        if (accepted == 3) return FORM_DONE;
    }
}
