/* screen.cpp -- console set-up and the static screen: the header, the
 * grid-line frame and the four label lines. */
#include "console.h"

void write_at(HANDLE output, int column, int row, const char *text, DWORD length) {
    COORD position;
    position.X = (SHORT)column;
    position.Y = (SHORT)row;
    SetConsoleCursorPosition(output, position);
    DWORD written = 0;
    WriteConsoleA(output, text, length, &written, NULL);
}

#define WRITE_TEXT_AT(output, column, row, text) write_at(output, column, row, text, (DWORD)(sizeof text - 1))

void set_up_console(void) {
    SetConsoleTitleA(CONSOLE_TITLE);
    SetConsoleCP(CONSOLE_CODE_PAGE);
    SetConsoleOutputCP(CONSOLE_CODE_PAGE);
    HWND window = GetConsoleWindow();
    LONG style = GetWindowLongA(window, GWL_STYLE);
    style &= ~(LONG)(WS_MAXIMIZEBOX | WS_SIZEBOX);
    SetWindowLongA(window, GWL_STYLE, style);
}

static void frame_cell(HANDLE output, SHORT column, SHORT row) { write_at(output, column, row, " ", 1); }

void draw_frame(HANDLE output, COORD top_left) {
    const SHORT top = top_left.Y;
    const SHORT left = FRAME_LEFT_COLUMN;
    const SHORT right = FRAME_RIGHT_COLUMN;
    SetConsoleTextAttribute(output, TEXT_ATTRIBUTE | COMMON_LVB_GRID_HORIZONTAL | COMMON_LVB_GRID_LVERTICAL);
    frame_cell(output, left, top);
    SetConsoleTextAttribute(output, TEXT_ATTRIBUTE | COMMON_LVB_GRID_HORIZONTAL);
    for (SHORT x = left + 1; x <= right - 1; x++) frame_cell(output, x, top);
    SetConsoleTextAttribute(output, TEXT_ATTRIBUTE | COMMON_LVB_GRID_HORIZONTAL | COMMON_LVB_GRID_RVERTICAL);
    frame_cell(output, right, top);
    SetConsoleTextAttribute(output, TEXT_ATTRIBUTE | COMMON_LVB_GRID_RVERTICAL);
    for (SHORT y = top + 1; y <= top + 11; y++) frame_cell(output, right, y);
    SetConsoleTextAttribute(output, TEXT_ATTRIBUTE | COMMON_LVB_GRID_HORIZONTAL);
    for (SHORT x = right; x >= left; x--) frame_cell(output, x, top + 12);
    SetConsoleTextAttribute(output, TEXT_ATTRIBUTE | COMMON_LVB_GRID_LVERTICAL);
    for (SHORT y = top + 11; y >= top + 1; y--) frame_cell(output, left, y);
}

void draw_static_screen(HANDLE output) {
    SetConsoleTextAttribute(output, HEADER_ATTRIBUTE);
    WRITE_TEXT_AT(output, 35, 4, HEADER_TEXT);
    COORD top;
    top.X = 0;
    top.Y = FRAME_TOP_ROW;
    draw_frame(output, top);
    SetConsoleTextAttribute(output, TEXT_ATTRIBUTE);
    WRITE_TEXT_AT(output, 4, 11, "3d object:        quombax collector");
    WRITE_TEXT_AT(output, 4, 12, "Version:          " QUOMBAX_VERSION " - 10/03/2022");
    WRITE_TEXT_AT(output, 4, 13, "Writing gcode:    ");
    WRITE_TEXT_AT(output, 4, 14, "Progress:         |");
}
