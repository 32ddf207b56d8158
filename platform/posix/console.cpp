/* console.cpp -- the console for the POSIX layer (stand-in: the standard
 * handles exist, screen calls change nothing, input reads standard input). */
#include "posix_internal.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

static int console_input_object;
static int console_output_object;

int is_console_handle(HANDLE handle) {
    return handle == (HANDLE)&console_input_object || handle == (HANDLE)&console_output_object;
}

HANDLE GetStdHandle(DWORD which) {
    if (which == STD_INPUT_HANDLE) return (HANDLE)&console_input_object;
    if (which == STD_OUTPUT_HANDLE || which == STD_ERROR_HANDLE) return (HANDLE)&console_output_object;
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
}

BOOL console_read_file(HANDLE handle, void *data, DWORD count, DWORD *read_count) {
    if (handle != (HANDLE)&console_input_object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ssize_t n;
    do n = read(0, data, count);
    while (n < 0 && errno == EINTR);
    if (n < 0) {
        set_error_from_errno(errno);
        return FALSE;
    }
    if (read_count) *read_count = (DWORD)n;
    return TRUE;
}

BOOL console_write_file(HANDLE handle, const void *data, DWORD count, DWORD *written) {
    return WriteConsoleA(handle, data, count, written, 0);
}

void console_shutdown(void) {}
void console_before_wait(void) {}

BOOL GetConsoleMode(HANDLE console, LPDWORD mode) {
    (void)console; (void)mode;
    return FALSE;
}
BOOL SetConsoleTitleA(LPCSTR title) { (void)title; return TRUE; }
BOOL SetConsoleCP(UINT code_page) { (void)code_page; return TRUE; }
BOOL SetConsoleOutputCP(UINT code_page) { (void)code_page; return TRUE; }
HWND GetConsoleWindow(void) { return 0; }
LONG GetWindowLongA(HWND window, int index) { (void)window; (void)index; return 0; }
LONG SetWindowLongA(HWND window, int index, LONG value) { (void)window; (void)index; (void)value; return 0; }
BOOL SetConsoleCursorInfo(HANDLE output, const CONSOLE_CURSOR_INFO *info) { (void)output; (void)info; return TRUE; }
BOOL SetConsoleTextAttribute(HANDLE output, WORD attribute) { (void)output; (void)attribute; return TRUE; }
BOOL SetConsoleCursorPosition(HANDLE output, COORD position) { (void)output; (void)position; return TRUE; }
BOOL WriteConsoleA(HANDLE output, const void *text, DWORD count, LPDWORD written, LPVOID reserved) {
    (void)output; (void)text; (void)reserved;
    if (written) *written = count;
    return TRUE;
}
BOOL FlushConsoleInputBuffer(HANDLE input) { (void)input; return TRUE; }
BOOL GetNumberOfConsoleInputEvents(HANDLE input, LPDWORD count) {
    (void)input;
    *count = 0;
    return FALSE;
}
BOOL ReadConsoleInputA(HANDLE input, INPUT_RECORD *records, DWORD length, LPDWORD read_count) {
    (void)input; (void)records; (void)length;
    *read_count = 0;
    return FALSE;
}
BOOL WriteConsoleInputA(HANDLE input, const INPUT_RECORD *records, DWORD length, LPDWORD written) {
    (void)input; (void)records;
    *written = length;
    return TRUE;
}
BOOL ReadConsoleOutputCharacterA(HANDLE output, LPSTR characters, DWORD length, COORD first, LPDWORD read_count) {
    (void)output; (void)characters; (void)length; (void)first;
    *read_count = 0;
    return FALSE;
}
BOOL ReadConsoleOutputAttribute(HANDLE output, LPWORD attributes, DWORD length, COORD first, LPDWORD read_count) {
    (void)output; (void)attributes; (void)length; (void)first;
    *read_count = 0;
    return FALSE;
}

int run_console_command(const char *command) {
    if (strcmp(command, "pause > NUL") == 0) {
        char byte;
        DWORD got;
        console_read_file(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &got);
    }
    return 0;
}
