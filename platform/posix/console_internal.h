/* console_internal.h -- what the three files of the POSIX console share:
 * the screen buffer (console_screen.cpp), the terminal's modes, signals and
 * the way out (console_terminal.cpp), and the input records
 * (console_input.cpp). Everything here belongs to the main thread, except
 * the flags that signal handlers set, which are sig_atomic_t. */
#ifndef QUOMBAX_CONSOLE_INTERNAL_H
#define QUOMBAX_CONSOLE_INTERNAL_H

#include "posix_internal.h"

#include <atomic>
#include <signal.h>

#define SCREEN_COLUMNS 120
#define SCREEN_ROWS 30
#define DEFAULT_ATTRIBUTE 7
#define GRID_BITS (COMMON_LVB_GRID_HORIZONTAL | COMMON_LVB_GRID_LVERTICAL | COMMON_LVB_GRID_RVERTICAL)
/* The smallest terminal the screen fits in. */
#define MIN_TERMINAL_COLUMNS 119
#define MIN_TERMINAL_ROWS 22

struct ConsoleState {
    int test_mode;        /* console_test_mode(): no terminal at all */
    int input_terminal;   /* standard input is a terminal, in raw mode */
    int output_terminal;  /* standard output is a terminal: the screen is drawn */
    int utf8;             /* the terminal takes UTF-8 (else DEC line drawing) */
    int frozen;           /* a message was printed below the screen: no more drawing */
    int terminal_columns;
    int terminal_rows;
    pthread_t main_thread;
};
extern ConsoleState console;
/* Set once the state above is complete (by the main thread, on its first
 * console call); other threads read it before they look at the state. */
extern std::atomic<int> console_ready;

/* Set by signal handlers, read and cleared by the main thread. */
extern volatile sig_atomic_t resize_pending;
extern volatile sig_atomic_t redraw_pending;
/* The terminal line (1-based) of the screen's last drawn line: where the
 * way out puts the prompt below. 0 while nothing stands there. */
extern volatile sig_atomic_t park_line;
/* The program's screen stands on the terminal: drawn since the terminal
 * was last given back to the shell (set by the main thread, cleared by the
 * way out and by Ctrl-Z). */
extern volatile sig_atomic_t screen_on_terminal;
/* Read end of the pipe the handlers write to, to wake a waiting poll. */
extern int wake_fd;

/* console_terminal.cpp */
void console_initialize(void);
static inline void console_ensure_init(void) {
    if (!console_ready.load(std::memory_order_acquire)) console_initialize();
}
int on_main_thread(void);
int terminal_in_foreground(int fd);
void take_terminal_modes(void);
void query_terminal_size(void);
void write_terminal(const char *data, size_t size);
void drain_wake_pipe(void);
void console_note_title_pushed(void);

/* console_screen.cpp */
int is_console_input(HANDLE handle);
void screen_reset(void);
void screen_clear(void);
void present_screen(void);
int terminal_too_small(void);

/* console_input.cpp */
void input_reset(void);
void input_discard_terminal_bytes(void);

#endif
