/* console_screen.cpp -- the console's screen buffer for the POSIX layer:
 * 120 x 30 cells of a character and an attribute behind the Windows output
 * calls, read back for the tests, and presented on a terminal with VT
 * sequences: only the cells that changed, at most about 60 times a second
 * while the program writes, and always before it waits or ends. */
#include "console_internal.h"
#include "system_seam.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

static int console_input_object;
static int console_output_object;

static char screen_chars[SCREEN_ROWS][SCREEN_COLUMNS];
static WORD screen_attributes[SCREEN_ROWS][SCREEN_COLUMNS];
static int cursor_x;
static int cursor_y;
static WORD text_attribute = DEFAULT_ATTRIBUTE;
static int cursor_visible = 1;
static DWORD cursor_size = 25;
static char console_title[256];
static int title_changed;

/* Presenting. */
#define PRESENT_INTERVAL_NS 16000000L /* about 60 frames a second */
#define WRITES_PER_CLOCK_CHECK 256    /* the clock is read once per this many writes */
static int screen_dirty = 1;
static unsigned writes_since_check;
static struct timespec last_present;
/* What the terminal shows: glyph << 16 | attribute, per cell. */
static uint32_t shown[SCREEN_ROWS][SCREEN_COLUMNS];
static int full_redraw = 1;
static int notice_shown;
static int terminal_cursor_visible = -1; /* -1: not known */

int is_console_handle(HANDLE handle) {
    return handle == (HANDLE)&console_input_object || handle == (HANDLE)&console_output_object;
}

int is_console_input(HANDLE handle) { return handle == (HANDLE)&console_input_object; }

static int is_console_output(HANDLE handle) { return handle == (HANDLE)&console_output_object; }

HANDLE GetStdHandle(DWORD which) {
    console_ensure_init();
    if (which == STD_INPUT_HANDLE) return (HANDLE)&console_input_object;
    if (which == STD_OUTPUT_HANDLE || which == STD_ERROR_HANDLE) return (HANDLE)&console_output_object;
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
}

void screen_reset(void) {
    text_attribute = DEFAULT_ATTRIBUTE;
    cursor_visible = 1;
    cursor_size = 25;
    console_title[0] = 0;
    screen_clear();
}

/* "cls": every cell a space in the attribute in force (without grid
 * lines), the cursor home; the terminal is cleared on the next present. */
void screen_clear(void) {
    memset(screen_chars, ' ', sizeof screen_chars);
    WORD fill = (WORD)(text_attribute & 0x00FF);
    for (int r = 0; r < SCREEN_ROWS; r++)
        for (int c = 0; c < SCREEN_COLUMNS; c++) screen_attributes[r][c] = fill;
    cursor_x = 0;
    cursor_y = 0;
    screen_dirty = 1;
    full_redraw = 1;
}

static BOOL bad_output(HANDLE output) {
    if (is_console_output(output)) return FALSE;
    SetLastError(ERROR_INVALID_HANDLE);
    return TRUE;
}

BOOL SetConsoleTitleA(LPCSTR title) {
    console_ensure_init();
    size_t n = 0;
    for (; title && title[n] && n < sizeof console_title - 1; n++) console_title[n] = title[n];
    console_title[n] = 0;
    title_changed = 1; /* shown with the next frame */
    return TRUE;
}

DWORD GetConsoleTitleA(LPSTR title, DWORD size) {
    console_ensure_init();
    DWORD length = (DWORD)strlen(console_title);
    if (size == 0) return length;
    DWORD n = length < size - 1 ? length : size - 1;
    memcpy(title, console_title, n);
    title[n] = 0;
    return n;
}

BOOL SetConsoleCP(UINT code_page) {
    (void)code_page;
    return TRUE;
}
BOOL SetConsoleOutputCP(UINT code_page) {
    (void)code_page;
    return TRUE;
}
/* There is no console window: the style calls find none and change nothing. */
HWND GetConsoleWindow(void) { return 0; }
LONG GetWindowLongA(HWND window, int index) {
    (void)window; (void)index;
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
}
LONG SetWindowLongA(HWND window, int index, LONG value) {
    (void)window; (void)index; (void)value;
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
}

BOOL SetConsoleCursorInfo(HANDLE output, const CONSOLE_CURSOR_INFO *info) {
    console_ensure_init();
    if (bad_output(output)) return FALSE;
    if (!info || info->dwSize < 1 || info->dwSize > 100) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    cursor_size = info->dwSize;
    cursor_visible = info->bVisible ? 1 : 0;
    screen_dirty = 1;
    return TRUE;
}

BOOL SetConsoleTextAttribute(HANDLE output, WORD attribute) {
    if (bad_output(output)) return FALSE;
    text_attribute = attribute;
    return TRUE;
}

BOOL SetConsoleCursorPosition(HANDLE output, COORD position) {
    if (bad_output(output)) return FALSE;
    if (position.X < 0 || position.X >= SCREEN_COLUMNS || position.Y < 0 || position.Y >= SCREEN_ROWS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    cursor_x = position.X;
    cursor_y = position.Y;
    if (cursor_visible) screen_dirty = 1;
    return TRUE;
}

/* Moves the cursor to the next row, scrolling the buffer up at its end. */
static void new_line(void) {
    cursor_x = 0;
    if (++cursor_y < SCREEN_ROWS) return;
    cursor_y = SCREEN_ROWS - 1;
    memmove(screen_chars[0], screen_chars[1], sizeof screen_chars[0] * (SCREEN_ROWS - 1));
    memmove(screen_attributes[0], screen_attributes[1], sizeof screen_attributes[0] * (SCREEN_ROWS - 1));
    memset(screen_chars[SCREEN_ROWS - 1], ' ', SCREEN_COLUMNS);
    for (int c = 0; c < SCREEN_COLUMNS; c++) screen_attributes[SCREEN_ROWS - 1][c] = text_attribute & 0x00FF;
}

static void put_byte(char byte) {
    switch (byte) {
    case '\n': new_line(); return;
    case '\r': cursor_x = 0; return;
    case '\b': if (cursor_x > 0) cursor_x--; return;
    case '\a': return;
    case '\t':
        do put_byte(' ');
        while (cursor_x % 8 != 0);
        return;
    default: break;
    }
    screen_chars[cursor_y][cursor_x] = byte;
    screen_attributes[cursor_y][cursor_x] = text_attribute;
    if (++cursor_x == SCREEN_COLUMNS) new_line();
}

static void present_if_due(void) {
    struct timespec now;
    clock_gettime(FRAME_CLOCK, &now);
    if (nanoseconds_between(&last_present, &now) >= PRESENT_INTERVAL_NS) present_screen();
}

/* Sixteen bytes, and eight attributes, in one vector register. */
typedef unsigned char Bytes16 __attribute__((vector_size(16)));
typedef WORD Words8 __attribute__((vector_size(16)));

/* Writes the sixteen bytes at bytes + at into the cells from chars + at and
 * attributes + at on, unless one of them is a control byte (below 0x20);
 * gives whether it wrote them. */
static inline int write_plain_16(const char *bytes, DWORD at, char *chars, WORD *attributes, Words8 attribute) {
    Bytes16 v;
    memcpy(&v, bytes + at, 16);
    Bytes16 control = v < (unsigned char)0x20;
    uint64_t halves[2];
    memcpy(halves, &control, 16);
    if (halves[0] | halves[1]) return 0;
    memcpy(chars + at, &v, 16);
    memcpy(attributes + at, &attribute, 16);
    memcpy(attributes + at + 8, &attribute, 16);
    return 1;
}

/* Writes the leading bytes of text that hold no control byte straight into
 * the cells from the cursor on, sixteen at a time, as put_byte would one at
 * a time (the caller has made sure that the row has room for all count
 * bytes), and moves the cursor past them; gives how many it wrote: count,
 * or where put_byte has to take over. The last sixteen bytes overlap the
 * ones before instead of a loop over single bytes. */
static DWORD write_plain_bytes(const char *bytes, DWORD count) {
    if (count < 16) return 0;
    char *chars = &screen_chars[cursor_y][cursor_x];
    WORD *attributes = &screen_attributes[cursor_y][cursor_x];
    Words8 attribute = {0, 0, 0, 0, 0, 0, 0, 0};
    attribute += text_attribute;
    DWORD done = 0;
    while (count - done > 16 && write_plain_16(bytes, done, chars, attributes, attribute)) done += 16;
    if (count - done <= 16 && write_plain_16(bytes, count - 16, chars, attributes, attribute)) done = count;
    cursor_x += (int)done;
    return done;
}

/* What write_plain_bytes leaves, one byte at a time; out of line, so
 * that the common case takes no frame. */
__attribute__((noinline)) static void put_bytes(const char *bytes, DWORD count) {
    for (DWORD i = 0; i < count; i++) put_byte(bytes[i]);
}

BOOL WriteConsoleA(HANDLE output, const void *text, DWORD count, LPDWORD written, LPVOID reserved) {
    (void)reserved;
    if (written) *written = 0;
    if (bad_output(output)) return FALSE;
    console_ensure_init();
    const char *bytes = (const char *)text;
    /* The common case, the live line among them, sixteen bytes at a time;
     * the comparison has no sum that could wrap. */
    DWORD done = count < (DWORD)(SCREEN_COLUMNS - cursor_x) ? write_plain_bytes(bytes, count) : 0;
    if (done < count) put_bytes(bytes + done, count - done);
    screen_dirty = 1;
    if (written) *written = count;
    if (console.output_terminal && ++writes_since_check >= WRITES_PER_CLOCK_CHECK) {
        writes_since_check = 0;
        present_if_due();
    }
    return TRUE;
}

BOOL console_write_file(HANDLE handle, const void *data, DWORD count, DWORD *written) {
    return WriteConsoleA(handle, data, count, written, 0);
}

/* The cells a read-back takes: from first onward, row after row, to the
 * end of the buffer. FALSE for a bad handle or a position off the screen. */
static BOOL read_back_range(HANDLE output, DWORD length, COORD first, DWORD *start, DWORD *n) {
    if (bad_output(output)) return FALSE;
    console_ensure_init();
    if (first.X < 0 || first.X >= SCREEN_COLUMNS || first.Y < 0 || first.Y >= SCREEN_ROWS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *start = (DWORD)(first.Y * SCREEN_COLUMNS + first.X);
    DWORD total = SCREEN_ROWS * SCREEN_COLUMNS;
    *n = length < total - *start ? length : total - *start;
    return TRUE;
}

BOOL ReadConsoleOutputCharacterA(HANDLE output, LPSTR characters, DWORD length, COORD first, LPDWORD read_count) {
    *read_count = 0;
    DWORD start, n;
    if (!read_back_range(output, length, first, &start, &n)) return FALSE;
    memcpy(characters, &screen_chars[0][0] + start, n);
    *read_count = n;
    return TRUE;
}

BOOL ReadConsoleOutputAttribute(HANDLE output, LPWORD attributes, DWORD length, COORD first, LPDWORD read_count) {
    *read_count = 0;
    DWORD start, n;
    if (!read_back_range(output, length, first, &start, &n)) return FALSE;
    memcpy(attributes, &screen_attributes[0][0] + start, n * sizeof(WORD));
    *read_count = n;
    return TRUE;
}

/* ---- Presenting on the terminal ---- */

static char out[64 * 1024];
static size_t out_length;

/* Writes what was built, unless Ctrl-Z gave the terminal back meanwhile:
 * then it is dropped and the next frame redraws the whole screen. */
static void out_flush(void) {
    if (screen_on_terminal) write_terminal(out, out_length);
    else full_redraw = 1;
    out_length = 0;
}

static void out_bytes(const char *data, size_t size) {
    if (out_length + size > sizeof out) out_flush();
    memcpy(out + out_length, data, size);
    out_length += size;
}

static void out_text(const char *text) { out_bytes(text, strlen(text)); }

/* The title: the terminal's own is pushed first, once (it is popped on the
 * way out), then ours is set by OSC 0, control characters left out. */
static void out_title(void) {
    static int pushed;
    if (!pushed) {
        out_text("\x1b[22;0t");
        pushed = 1;
        console_note_title_pushed();
    }
    out_text("\x1b]0;");
    for (const char *p = console_title; *p; p++) {
        unsigned char byte = (unsigned char)*p;
        if (byte >= 0x20 && byte != 0x7F) out_bytes(p, 1);
    }
    out_text("\x07");
    title_changed = 0;
}

static void out_number(int value) {
    char digits[12];
    int n = snprintf(digits, sizeof digits, "%d", value);
    out_bytes(digits, (size_t)n);
}

static void out_move(int row, int column) {
    out_text("\x1b[");
    out_number(row + 1);
    out_text(";");
    out_number(column + 1);
    out_text("H");
}

/* The line-drawing glyphs: UTF-8, and the DEC special graphics letter. */
enum BoxGlyph { BOX_H, BOX_V, BOX_DR, BOX_DL, BOX_UR, BOX_UL, BOX_UDR, BOX_UDL, BOX_DLR, BOX_ULR, BOX_ALL };
static const char *const box_utf8[] = {"\xe2\x94\x80", "\xe2\x94\x82", "\xe2\x94\x8c", "\xe2\x94\x90",
                                       "\xe2\x94\x94", "\xe2\x94\x98", "\xe2\x94\x9c", "\xe2\x94\xa4",
                                       "\xe2\x94\xac", "\xe2\x94\xb4", "\xe2\x94\xbc"};
static const char box_dec[] = "qxlkmjtuwvn";

static int grid_at(int row, int column) {
    if (row < 0 || row >= SCREEN_ROWS || column < 0 || column >= SCREEN_COLUMNS) return 0;
    return screen_attributes[row][column] & GRID_BITS;
}

/* A cell with grid-line bits is drawn as the line-drawing character that
 * joins it to its neighbours' lines, so the frame's top line, its sides
 * and its bottom line (on the top border of the row below the last) make
 * one closed outline. */
static int box_glyph(int row, int column) {
    const int H = COMMON_LVB_GRID_HORIZONTAL;
    const int V = COMMON_LVB_GRID_LVERTICAL | COMMON_LVB_GRID_RVERTICAL;
    int grid = grid_at(row, column);
    int above = grid_at(row - 1, column);
    int below = grid_at(row + 1, column);
    int up = 0, down = 0, left = 0, right = 0;
    if (grid & H) {
        left = (grid_at(row, column - 1) & H) != 0;
        right = (grid_at(row, column + 1) & H) != 0;
        if (!(grid & V) && (above & V)) up = 1; /* a bottom corner */
    }
    if (grid & V) {
        up = up || (above & (grid & V));
        down = (below & (grid & V)) || ((below & H) && !(below & V));
    }
    int mask = up << 3 | down << 2 | left << 1 | right;
    switch (mask) {
    case 0x5: return BOX_DR;
    case 0x6: return BOX_DL;
    case 0x9: return BOX_UR;
    case 0xA: return BOX_UL;
    case 0xD: return BOX_UDR;
    case 0xE: return BOX_UDL;
    case 0x7: return BOX_DLR;
    case 0xB: return BOX_ULR;
    case 0xF: return BOX_ALL;
    case 0xC: case 0x8: case 0x4: return BOX_V;
    case 0x1: case 0x2: case 0x3: return BOX_H;
    default: return (grid & H) ? BOX_H : BOX_V;
    }
}

/* What a cell shows: the glyph (a byte, or 0x100 + a box glyph) and the
 * colours; a blank shows only its background. */
static uint32_t cell_look(int row, int column) {
    WORD attribute = screen_attributes[row][column];
    uint32_t glyph;
    if (attribute & GRID_BITS) glyph = 0x100u + (uint32_t)box_glyph(row, column);
    else glyph = (unsigned char)screen_chars[row][column];
    if (glyph == 0) glyph = ' ';
    uint32_t colours = attribute & 0x00FF;
    if (glyph == ' ') colours &= 0x00F0;
    return glyph << 16 | colours;
}

static const uint32_t BLANK_LOOK = (uint32_t)' ' << 16;

static int ansi_colour(int windows_colour) {
    return ((windows_colour & FOREGROUND_RED) ? 1 : 0) | ((windows_colour & FOREGROUND_GREEN) ? 2 : 0) |
           ((windows_colour & FOREGROUND_BLUE) ? 4 : 0);
}

/* Foreground as the attribute says (6 dark yellow, 7 grey); a black
 * background is the terminal's own. */
static void out_colours(uint32_t colours) {
    int foreground = colours & 0x0F;
    int background = (colours >> 4) & 0x0F;
    out_text("\x1b[0;");
    out_number(((foreground & FOREGROUND_INTENSITY) ? 90 : 30) + ansi_colour(foreground));
    out_text(";");
    if (background == 0) out_number(49);
    else out_number(((background & FOREGROUND_INTENSITY) ? 100 : 40) + ansi_colour(background));
    out_text("m");
}

static void out_glyph(uint32_t glyph, int *line_drawing) {
    if (glyph >= 0x100) {
        int box = (int)(glyph - 0x100);
        if (console.utf8) {
            out_text(box_utf8[box]);
        } else {
            if (!*line_drawing) out_text("\x1b(0");
            *line_drawing = 1;
            out_bytes(&box_dec[box], 1);
        }
        return;
    }
    if (*line_drawing) {
        out_text("\x1b(B");
        *line_drawing = 0;
    }
    char byte = (char)glyph;
    if (glyph < 0x20 || glyph == 0x7F || (glyph >= 0x80 && (!console.utf8 || glyph < 0xA0))) {
        byte = '?';
    } else if (glyph >= 0x80) {
        char two[2] = {(char)(0xC0 | (glyph >> 6)), (char)(0x80 | (glyph & 0x3F))}; /* ISO 8859-1 */
        out_bytes(two, 2);
        return;
    }
    out_bytes(&byte, 1);
}

int terminal_too_small(void) {
    return console.terminal_columns < MIN_TERMINAL_COLUMNS || console.terminal_rows < MIN_TERMINAL_ROWS;
}

static void present_notice(void) {
    char text[400];
    int n = snprintf(text, sizeof text,
                     "\x1b(B\x1b[0m\x1b[?25l\x1b[H\x1b[2J"
                     "quombax needs a terminal of at least %d columns by %d rows; this one has %d by %d.\r\n"
                     "Enlarge it and the screen appears (Ctrl-C ends the program).\r\n",
                     MIN_TERMINAL_COLUMNS, MIN_TERMINAL_ROWS, console.terminal_columns, console.terminal_rows);
    out_bytes(text, (size_t)n);
    terminal_cursor_visible = 0;
    int columns = console.terminal_columns > 0 ? console.terminal_columns : 80;
    park_line = (sig_atomic_t)((86 + columns - 1) / columns + (61 + columns - 1) / columns);
}

void present_screen(void) {
    if (!console.output_terminal || console.frozen || !on_main_thread()) return;
    /* Another process group has the terminal (a run stopped, then put in
     * the background): nothing is drawn until the terminal is ours again. */
    if (!terminal_in_foreground(terminal_fd)) return;
    if (!screen_on_terminal) {
        /* The first frame, or the first since the terminal was given back:
         * raw keys again and the whole screen. */
        take_terminal_modes();
        full_redraw = 1;
        terminal_cursor_visible = -1;
        screen_on_terminal = 1;
    }
    clock_gettime(FRAME_CLOCK, &last_present);
    if (resize_pending) {
        resize_pending = 0;
        drain_wake_pipe();
        query_terminal_size();
        full_redraw = 1;
    }
    if (redraw_pending) {
        redraw_pending = 0;
        full_redraw = 1;
        terminal_cursor_visible = -1;
    }
    out_length = 0;
    if (title_changed) out_title();
    if (terminal_too_small()) {
        if (!notice_shown || full_redraw) present_notice();
        notice_shown = 1;
        full_redraw = 0;
        out_flush();
        return;
    }
    if (notice_shown) {
        notice_shown = 0;
        full_redraw = 1;
    }
    if (!screen_dirty && !full_redraw && terminal_cursor_visible == cursor_visible) {
        if (out_length > 0) out_flush();
        return;
    }
    if (terminal_cursor_visible != 0) out_text("\x1b[?25l");
    terminal_cursor_visible = 0;
    if (full_redraw) {
        out_text("\x1b(B\x1b[0m\x1b[H\x1b[2J");
        for (int r = 0; r < SCREEN_ROWS; r++)
            for (int c = 0; c < SCREEN_COLUMNS; c++) shown[r][c] = BLANK_LOOK;
        full_redraw = 0;
    }
    int rows = console.terminal_rows < SCREEN_ROWS ? console.terminal_rows : SCREEN_ROWS;
    int columns = console.terminal_columns < SCREEN_COLUMNS ? console.terminal_columns : SCREEN_COLUMNS;
    int at_row = -1, at_column = -1; /* where the terminal's cursor stands, if known */
    uint32_t colours = 0xFFFFFFFFu;  /* colours in force, not known */
    int line_drawing = 0;
    int last_line = 0;
    for (int r = 0; r < rows; r++) {
        for (int c = 0; c < columns; c++) {
            uint32_t look = cell_look(r, c);
            if (look != shown[r][c]) {
                if (at_row != r || at_column != c) out_move(r, c);
                if ((look & 0xFFFF) != colours) {
                    colours = look & 0xFFFF;
                    out_colours(colours);
                }
                out_glyph(look >> 16, &line_drawing);
                shown[r][c] = look;
                at_row = r;
                at_column = c + 1;
                if (at_column >= console.terminal_columns) at_row = -1; /* wrap pending: move anew */
            }
            if (shown[r][c] != BLANK_LOOK) last_line = r + 1;
        }
    }
    if (line_drawing) out_text("\x1b(B");
    if (colours != 0xFFFFFFFFu) out_text("\x1b[0m");
    if (cursor_visible && cursor_y < rows && cursor_x < columns) {
        out_move(cursor_y, cursor_x);
        out_text("\x1b[?25h");
        terminal_cursor_visible = 1;
    }
    park_line = (sig_atomic_t)last_line;
    screen_dirty = 0;
    out_flush();
}
