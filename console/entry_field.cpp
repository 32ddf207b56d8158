/* entry_field.cpp -- the numeric entry field (stand-in). */
#include "console.h"

int read_number_field(HANDLE output, HANDLE input, COORD prompt, char *text, FieldKind kind) {
    (void)output; (void)input; (void)prompt; (void)text; (void)kind;
    return -1;
}
