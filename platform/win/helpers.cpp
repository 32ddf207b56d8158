/* helpers.cpp -- the two helpers that Windows provides for the program:
 * the command interpreter's commands and the system's text of an error. */
#include "../platform.h"

#include <stdlib.h>
#include <string.h>

int run_console_command(const char *command) {
    return system(command);
}

void describe_system_error(DWORD code, char *text, size_t size) {
    if (size == 0) return;
    text[0] = 0;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, code,
                                  MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, (DWORD)size, NULL);
    /* The system's text ends in ".\r\n"; the caller adds its own line end. */
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == ' '))
        text[--length] = 0;
    if (length == 0) {
        const char *prefix = "system error ";
        size_t used = strlen(prefix) < size - 1 ? strlen(prefix) : size - 1;
        memcpy(text, prefix, used);
        text[used] = 0;
        /* the code in decimal, as far as it fits */
        char digits[12];
        int count = 0;
        do digits[count++] = (char)('0' + code % 10);
        while ((code /= 10) != 0);
        while (count > 0 && used + 1 < size) text[used++] = digits[--count];
        text[used] = 0;
    }
}
