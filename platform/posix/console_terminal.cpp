/* console_terminal.cpp -- the real terminal behind the POSIX console: raw
 * keys, its size, the signals, the program's messages below the screen,
 * and the terminal put back as it was on every way out (normal end,
 * ExitProcess after a failure, a return from main, Ctrl-C, SIGTERM,
 * SIGHUP, SIGQUIT; Ctrl-Z stops with the terminal restored and redraws on
 * continuing). */
#include "console_internal.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

ConsoleState console;
std::atomic<int> console_ready;
volatile sig_atomic_t resize_pending;
volatile sig_atomic_t redraw_pending;
volatile sig_atomic_t park_line;
int wake_fd = -1;

static int wake_write_fd = -1;
static struct termios saved_termios;
static struct termios raw_termios;
static volatile sig_atomic_t raw_active;
static volatile sig_atomic_t restored;
static volatile sig_atomic_t title_pushed;
static int shutdown_done;
static int message_at_line_start = 1;

/* Messages that a thread other than the main thread printed: shown on the
 * way out, below the screen. */
static pthread_mutex_t message_lock = PTHREAD_MUTEX_INITIALIZER;
static char other_thread_messages[4096];
static size_t other_thread_message_length;

int on_main_thread(void) {
    return console_ready.load(std::memory_order_acquire) && pthread_equal(pthread_self(), console.main_thread) &&
           on_first_user_thread();
}

void write_terminal(const char *data, size_t size) {
    int stalls = 0;
    while (size > 0) {
        ssize_t n = write(1, data, size);
        if (n > 0) {
            data += n;
            size -= (size_t)n;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN && ++stalls < 50) {
            struct pollfd writable = {1, POLLOUT, 0};
            poll(&writable, 1, 100);
            continue;
        }
        return; /* the terminal is gone: nothing more to show */
    }
}

void drain_wake_pipe(void) {
    if (wake_fd < 0) return;
    char bytes[64];
    while (read(wake_fd, bytes, sizeof bytes) > 0) {
    }
}

static void wake(char reason) {
    if (wake_write_fd >= 0) {
        ssize_t ignored = write(wake_write_fd, &reason, 1);
        (void)ignored;
    }
}

void query_terminal_size(void) {
    struct winsize size;
    if (ioctl(1, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
        console.terminal_columns = size.ws_col;
        console.terminal_rows = size.ws_row;
    } else {
        console.terminal_columns = 120;
        console.terminal_rows = 30;
    }
}

static int locale_is_utf8(void) {
    const char *names[] = {"LC_ALL", "LC_CTYPE", "LANG"};
    for (const char *name : names) {
        const char *value = getenv(name);
        if (!value || !*value) continue;
        return strstr(value, "UTF-8") || strstr(value, "utf-8") || strstr(value, "UTF8") || strstr(value, "utf8");
    }
    return 0;
}

/* ---- Restoring, safe inside a signal handler ---- */

static size_t append(char *buffer, size_t length, const char *text) {
    while (*text) buffer[length++] = *text++;
    return length;
}

static size_t append_number(char *buffer, size_t length, int value) {
    char digits[12];
    int n = 0;
    do digits[n++] = (char)('0' + value % 10);
    while ((value /= 10) > 0 && n < 11);
    while (n > 0) buffer[length++] = digits[--n];
    return length;
}

/* Plain characters, default colours, the cursor shown; with park, the
 * cursor on a fresh line below the screen. CAN first ends any sequence a
 * signal may have cut. */
static size_t restore_sequence(char *buffer, int park) {
    size_t length = append(buffer, 0, "\x18\x1b(B\x1b[0m\x1b[?25h");
    if (park && park_line > 0) {
        length = append(buffer, length, "\x1b[");
        length = append_number(buffer, length, park_line);
        length = append(buffer, length, ";1H\r\n");
    }
    return length;
}

static void restore_for_signal(void) {
    if (console.output_terminal) {
        char buffer[96];
        size_t length = restore_sequence(buffer, !console.frozen);
        if (title_pushed) length = append(buffer, length, "\x1b[23;0t");
        write_terminal(buffer, length);
    }
    if (raw_active) tcsetattr(0, TCSANOW, &saved_termios);
}

static void die_of(int signal_number) {
    signal(signal_number, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal_number);
    pthread_sigmask(SIG_UNBLOCK, &set, NULL);
    raise(signal_number);
    _exit(128 + signal_number);
}

static void on_fatal_signal(int signal_number) {
    if (!restored) {
        restore_for_signal();
        restored = 1;
    }
    call_ctrl_handlers(signal_number);
    die_of(signal_number);
}

static void install(int signal_number, void (*handler)(int), int flags);

static void on_stop_signal(int signal_number) {
    int saved_errno = errno;
    if (!restored) restore_for_signal();
    signal(signal_number, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal_number);
    pthread_sigmask(SIG_UNBLOCK, &set, NULL);
    raise(signal_number); /* stops here until SIGCONT */
    install(signal_number, on_stop_signal, SA_RESTART);
    errno = saved_errno;
}

static void on_continue_signal(int signal_number) {
    (void)signal_number;
    int saved_errno = errno;
    if (!restored && raw_active) tcsetattr(0, TCSANOW, &raw_termios);
    redraw_pending = 1;
    wake('c');
    errno = saved_errno;
}

static void on_resize_signal(int signal_number) {
    (void)signal_number;
    int saved_errno = errno;
    resize_pending = 1;
    wake('w');
    errno = saved_errno;
}

static void install(int signal_number, void (*handler)(int), int flags) {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = handler;
    sigfillset(&action.sa_mask);
    action.sa_flags = flags;
    sigaction(signal_number, &action, NULL);
}

/* ---- Messages on standard output ---- */

/* Standard output, while it is the terminal, goes through here: the first
 * message puts the screen's last frame up, moves below the screen and
 * stops the drawing, so the message stands whole above the prompt. */
static ssize_t stdout_to_terminal(void *cookie, const char *data, size_t size) {
    (void)cookie;
    if (size == 0) return 0;
    if (!on_main_thread()) {
        pthread_mutex_lock(&message_lock);
        size_t room = sizeof other_thread_messages - other_thread_message_length;
        size_t n = size < room ? size : room;
        memcpy(other_thread_messages + other_thread_message_length, data, n);
        other_thread_message_length += n;
        pthread_mutex_unlock(&message_lock);
        return (ssize_t)size;
    }
    if (!console.frozen) {
        present_screen();
        char buffer[96];
        size_t length = restore_sequence(buffer, 1);
        write_terminal(buffer + 1, length - 1); /* without the CAN */
        console.frozen = 1;
    }
    write_terminal(data, size);
    message_at_line_start = data[size - 1] == '\n';
    return (ssize_t)size;
}

static void send_stdout_to_terminal(void) {
    cookie_io_functions_t functions;
    memset(&functions, 0, sizeof functions);
    functions.write = stdout_to_terminal;
    FILE *stream = fopencookie(NULL, "w", functions);
    if (!stream) return;
    fflush(stdout);
    stdout = stream;
}

/* ---- Start and end ---- */

static void open_terminal(void);

void console_initialize(void) {
    console.main_thread = pthread_self();
    console.terminal_columns = SCREEN_COLUMNS;
    console.terminal_rows = SCREEN_ROWS;
    screen_reset();
    if (!console.test_mode) open_terminal();
    console_ready.store(1, std::memory_order_release);
}

/* Standard input and output as terminals: raw keys, signals, size. */
static void open_terminal(void) {
    /* The signals that end the program run its control routines (and put
     * the terminal back) whether or not a terminal is there. */
    install(SIGINT, on_fatal_signal, 0);
    install(SIGTERM, on_fatal_signal, 0);
    install(SIGHUP, on_fatal_signal, 0);
    install(SIGQUIT, on_fatal_signal, 0);
    console.input_terminal = isatty(0) && tcgetattr(0, &saved_termios) == 0;
    console.output_terminal = isatty(1);
    if (!console.input_terminal && !console.output_terminal) return;

    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        wake_fd = fds[0];
        wake_write_fd = fds[1];
    }
    if (console.input_terminal) {
        /* Raw keys: no echo, no line editing, Enter as CR, no flow
         * control; Ctrl-C, Ctrl-\ and Ctrl-Z keep their signals. */
        raw_termios = saved_termios;
        raw_termios.c_iflag &= ~(tcflag_t)(IXON | ICRNL | INLCR | IGNCR | ISTRIP);
        raw_termios.c_lflag &= ~(tcflag_t)(ICANON | ECHO | ECHONL | IEXTEN);
        raw_termios.c_cc[VMIN] = 1;
        raw_termios.c_cc[VTIME] = 0;
        if (tcsetattr(0, TCSANOW, &raw_termios) == 0) raw_active = 1;
    }
    if (console.output_terminal) {
        query_terminal_size();
        console.utf8 = locale_is_utf8();
        send_stdout_to_terminal();
        install(SIGWINCH, on_resize_signal, SA_RESTART);
    }
    install(SIGTSTP, on_stop_signal, SA_RESTART);
    install(SIGCONT, on_continue_signal, SA_RESTART);
    atexit(console_shutdown);
}

void console_before_wait(void) {
    if (on_main_thread()) present_screen();
}

void console_note_title_pushed(void) { title_pushed = 1; }

void console_shutdown(void) {
    if (!console_ready.load(std::memory_order_acquire) || console.test_mode || shutdown_done) return;
    shutdown_done = 1;
    int main_thread = on_main_thread();
    if (main_thread) fflush(stdout);
    if (console.output_terminal) {
        if (main_thread) present_screen();
        char buffer[96];
        size_t length;
        if (console.frozen) {
            length = append(buffer, 0, "\x1b(B\x1b[0m\x1b[?25h");
            if (!message_at_line_start) length = append(buffer, length, "\r\n");
        } else {
            length = restore_sequence(buffer, 1);
            memmove(buffer, buffer + 1, --length); /* without the CAN */
        }
        write_terminal(buffer, length);
        console.frozen = 1;
        pthread_mutex_lock(&message_lock);
        write_terminal(other_thread_messages, other_thread_message_length);
        other_thread_message_length = 0;
        pthread_mutex_unlock(&message_lock);
        if (title_pushed) write_terminal("\x1b[23;0t", 7);
    }
    if (raw_active) tcsetattr(0, TCSADRAIN, &saved_termios);
    raw_active = 0;
    restored = 1;
}

void console_test_mode(void) {
    console.test_mode = 1;
    console.main_thread = pthread_self();
    console.input_terminal = 0;
    console.output_terminal = 0;
    console.frozen = 0;
    console.terminal_columns = SCREEN_COLUMNS;
    console.terminal_rows = SCREEN_ROWS;
    console_input_hook = 0;
    screen_reset();
    input_reset();
    console_ready.store(1, std::memory_order_release);
}
