/* report.cpp -- the program's messages on standard output and the one
 * global record, the typed texts. */
#include "quombax.h"

#include <stdio.h>

PrintParams print_params;

void report_error(const char *message) {
    printf("%s", message);
    fflush(stdout);
}

void report_system_error(const char *what, DWORD code) {
    char reason[256];
    describe_system_error(code, reason, sizeof reason);
    printf("%s: %s\n", what, reason);
    fflush(stdout);
}
