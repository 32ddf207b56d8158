/* main.cpp -- the program's entry point: console set-up, the form, the
 * transfer, the final pause. */
#include "driver.h"

#include "../console/console.h"

int main(int argc, char **argv) {
    (void)argc; (void)argv; /* the program has no options */
    set_up_console();
    SetConsoleCtrlHandler(on_console_control, TRUE);
    HANDLE input = INVALID_HANDLE_VALUE;
    HANDLE output = INVALID_HANDLE_VALUE;
    FormResult form = run_parameter_form(&input, &output);
    if (form == FORM_NO_OUTPUT_HANDLE) {
        report_error("GetStdHandle error\n");
        return -1;
    }
    if (form == FORM_INPUT_ENDED) {
        report_error("Input ended before three numbers were accepted; dagoma0.g was not written.\n");
        end_run(1);
    }
    run_transfer(input, output);
    run_console_command("pause > NUL");
    end_run(0);
}
