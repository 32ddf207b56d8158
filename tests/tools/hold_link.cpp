// hold_link.cpp -- a test tool: holds both server ends of the program's
// named pipe, as two running transfers would, until its standard input
// closes or it is killed. It prints "held" once both ends exist, or
// "refused" and ends with status 1 when one of them cannot be had.
#include "link/link.h"

#include <stdio.h>
#include <unistd.h>

int main() {
    HANDLE first = create_link_server();
    HANDLE second = first == INVALID_HANDLE_VALUE ? INVALID_HANDLE_VALUE : create_link_server();
    if (second == INVALID_HANDLE_VALUE) {
        printf("refused\n");
        return 1;
    }
    printf("held\n");
    fflush(stdout);
    char byte;
    while (read(0, &byte, 1) > 0) {
    }
    CloseHandle(second);
    CloseHandle(first);
    return 0;
}
