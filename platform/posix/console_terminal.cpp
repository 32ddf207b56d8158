/* console_terminal.cpp -- the real terminal behind the POSIX console: raw
 * keys, its size, the signals, the program's messages below the screen,
 * and the terminal put back as it was on every way out (normal end,
 * ExitProcess after a failure, a return from main, and every signal whose
 * default action ends the process), with bounded writes. Only the
 * foreground process group touches the terminal: Ctrl-Z gives it back
 * before stopping, and a run continued in the foreground takes it again
 * and redraws. */
#include "console_internal.h"
#include "system_seam.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

ConsoleState console;
std::atomic<int> console_ready;
volatile sig_atomic_t resize_pending;
volatile sig_atomic_t redraw_pending;
volatile sig_atomic_t park_line;
volatile sig_atomic_t screen_on_terminal;
int wake_fd = -1;

/* How long the way out may wait for a terminal that takes no output. */
#define WAY_OUT_SECONDS 1

static int wake_write_fd = -1;
/* The terminal opened a second time, non-blocking: the way out writes
 * through it, so a terminal that takes nothing cannot hold the end. */
static int way_out_fd = -1;
static struct termios saved_termios;
static struct termios raw_termios;
static volatile sig_atomic_t raw_wanted; /* keys are read raw while in the foreground */
static volatile sig_atomic_t raw_active; /* the terminal is in raw mode, set by us */
static volatile sig_atomic_t title_pushed;
static volatile sig_atomic_t message_at_line_start = 1;
/* Set when the program ends: writes are bounded from then on. */
static volatile sig_atomic_t leaving;
static volatile sig_atomic_t deadline_set;
static struct timespec leave_deadline;
static std::atomic<int> fatal_signal_taken;
static int shutdown_done;

/* Messages that a thread other than the main thread printed: shown on the
 * way out, below the screen. */
static pthread_mutex_t message_lock = PTHREAD_MUTEX_INITIALIZER;
static char other_thread_messages[4096];
static size_t other_thread_message_length;

int on_main_thread(void) {
    return console_ready.load(std::memory_order_acquire) && pthread_equal(pthread_self(), console.main_thread) &&
           on_first_user_thread();
}

/* Our process group owns the terminal (or fd is no controlling terminal,
 * where no other group can own it). Safe in a signal handler. */
int terminal_in_foreground(int fd) {
    pid_t group = tcgetpgrp(fd);
    return group < 0 || group == getpgrp();
}

/* Writes within the way out's one second: non-blocking, waiting for room
 * only until then; what does not fit is dropped. Safe in a signal handler. */
static void write_bounded(const char *data, size_t size) {
    if (way_out_fd < 0) return;
    if (!deadline_set) {
        clock_gettime(CLOCK_MONOTONIC, &leave_deadline);
        leave_deadline.tv_sec += WAY_OUT_SECONDS;
        deadline_set = 1;
    }
    write_all(way_out_fd, data, size, &leave_deadline);
}

/* Waits for room as long as it takes; a terminal that is gone shows
 * nothing more. */
void write_terminal(const char *data, size_t size) {
    if (leaving) return write_bounded(data, size);
    write_all(terminal_fd, data, size, NULL);
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
    if (ioctl(terminal_fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
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

/* ---- Giving the terminal back and taking it again, safe in a signal handler ---- */

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

/* Leaves the screen to the shell, once for what was drawn: CAN ends any
 * sequence a signal may have cut, then plain characters, default colours,
 * the cursor shown, and the cursor on a fresh line below the screen (or
 * below the messages once they stand there). Only in the foreground. */
static void give_back_screen(void) {
    if (!screen_on_terminal) return;
    screen_on_terminal = 0;
    if (!console.output_terminal || !terminal_in_foreground(terminal_fd)) return;
    char buffer[64];
    size_t length = append(buffer, 0, "\x18\x1b(B\x1b[0m\x1b[?25h");
    if (!console.frozen && park_line > 0) {
        length = append(buffer, length, "\x1b[");
        length = append_number(buffer, length, park_line);
        length = append(buffer, length, ";1H\r\n");
    } else if (console.frozen && !message_at_line_start) {
        length = append(buffer, length, "\r\n");
    }
    message_at_line_start = 1;
    write_terminal(buffer, length);
}

static void give_back_modes(void) {
    if (raw_active && terminal_in_foreground(0)) tcsetattr(0, TCSANOW, &saved_termios);
    raw_active = 0;
}

/* Raw keys again, when they are wanted and the terminal is ours. */
static void take_modes(void) {
    if (raw_wanted && !raw_active && terminal_in_foreground(0) && tcsetattr(0, TCSANOW, &raw_termios) == 0)
        raw_active = 1;
}

/* The whole way back, at the end: the screen, the title we pushed, the
 * modes; each only if it is ours to give back, so never twice. */
static void restore_terminal(void) {
    leaving = 1;
    give_back_screen();
    if (title_pushed && console.output_terminal && terminal_in_foreground(terminal_fd)) {
        title_pushed = 0;
        write_terminal("\x1b[23;0t", 7);
    }
    give_back_modes();
}

static void set_default_action(int signal_number) {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = SIG_DFL;
    sigaction(signal_number, &action, NULL);
}

/* Raises the signal from inside its own handler, where it is blocked, so
 * that its action (by then the default one) is taken at once. */
static void raise_now(int signal_number) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal_number);
    pthread_sigmask(SIG_UNBLOCK, &set, NULL);
    raise(signal_number);
}

/* A signal ends the program with its own default action (core dump, the
 * shell's "Aborted"). A fault raised by an instruction is left to happen
 * again on return; any other signal is raised anew. */
static void end_by_default(int signal_number, const siginfo_t *info) {
    set_default_action(signal_number);
    int fault = signal_number == SIGSEGV || signal_number == SIGBUS || signal_number == SIGFPE || signal_number == SIGILL;
    if (fault && info && info->si_code > 0) return;
    raise_now(signal_number);
    _exit(128 + signal_number);
}

static void on_fatal_signal(int signal_number, siginfo_t *info, void *context) {
    (void)context;
    if (fatal_signal_taken.exchange(1) == 0) {
        restore_terminal();
        call_ctrl_handlers(signal_number);
    }
    end_by_default(signal_number, info);
}

static void install(int signal_number, void (*handler)(int), int flags);

/* Ctrl-Z: the terminal is given back (bounded, as on the way out) before
 * the process stops; continuing takes it again if it is in the foreground. */
static void on_stop_signal(int signal_number) {
    int saved_errno = errno;
    sig_atomic_t was_leaving = leaving;
    leaving = 1;
    deadline_set = 0;
    give_back_screen();
    give_back_modes();
    leaving = was_leaving;
    deadline_set = 0;
    set_default_action(signal_number);
    raise_now(signal_number); /* stops here until SIGCONT */
    install(signal_number, on_stop_signal, SA_RESTART);
    errno = saved_errno;
}

static void on_continue_signal(int signal_number) {
    (void)signal_number;
    int saved_errno = errno;
    take_modes();
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

/* A signal left as it was found: ignored (nohup, a background job of a
 * script) or handled by someone else (a sanitizer's runtime). */
static int signal_taken_elsewhere(int signal_number) {
    struct sigaction current;
    if (sigaction(signal_number, NULL, &current) != 0) return 1;
    return (current.sa_flags & SA_SIGINFO) || current.sa_handler != SIG_DFL;
}

/* Every signal whose default action ends the process, but SIGXFSZ, which
 * the file layer ignores so that a file size limit is a failed write.
 * SIGPIPE is among them: no write relies on EPIPE (the link is in memory,
 * the file is a regular file, the terminal's writes stop on any error),
 * so a reader of standard output that goes away ends the run, cleanly;
 * ignored at start, it stays ignored and writes see EPIPE. */
static const int FATAL_SIGNALS[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGILL,    SIGTRAP, SIGABRT, SIGBUS, SIGFPE,
                                    SIGUSR1, SIGSEGV, SIGUSR2, SIGPIPE,   SIGALRM, SIGTERM, SIGXCPU,
                                    SIGVTALRM, SIGPROF, SIGSYS,
#ifdef SIGSTKFLT
                                    SIGSTKFLT,
#endif
#ifdef SIGPWR
                                    SIGPWR,
#endif
#ifdef SIGIO
                                    SIGIO,
#endif
};

/* The main thread's handlers run on a stack of their own, so a stack
 * overflow still restores the terminal. */
static char signal_stack[64 * 1024];

static void install_fatal_handlers(void) {
    stack_t current;
    if (sigaltstack(NULL, &current) == 0 && (current.ss_flags & SS_DISABLE)) {
        stack_t stack;
        memset(&stack, 0, sizeof stack);
        stack.ss_sp = signal_stack;
        stack.ss_size = sizeof signal_stack;
        sigaltstack(&stack, NULL);
    }
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_sigaction = on_fatal_signal;
    sigfillset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    for (int signal_number : FATAL_SIGNALS)
        if (!signal_taken_elsewhere(signal_number)) sigaction(signal_number, &action, NULL);
#ifdef SIGRTMIN
    for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; signal_number++)
        if (!signal_taken_elsewhere(signal_number)) sigaction(signal_number, &action, NULL);
#endif
}

/* Raw keys from the main thread, with the signals held off meanwhile so
 * that no handler sees the mode half set. */
void take_terminal_modes(void) {
    if (!raw_wanted || raw_active) return;
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    take_modes();
    pthread_sigmask(SIG_SETMASK, &previous, NULL);
}

/* ---- Messages on standard output ---- */

/* A message on the terminal: the first one puts the screen's last frame
 * up, moves below the screen and stops the drawing, so the message stands
 * whole above the prompt. In the background it is only written. */
static void show_message(const char *data, size_t size) {
    if (!console.frozen) {
        if (terminal_in_foreground(terminal_fd)) {
            present_screen();
            give_back_screen();
        }
        console.frozen = 1;
    }
    write_terminal(data, size);
    message_at_line_start = data[size - 1] == '\n';
    screen_on_terminal = 1;
}

/* Standard output, while it is the terminal, goes through here. Messages
 * of other threads wait for the way out. */
static ssize_t stdout_to_terminal(const char *data, size_t size) {
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
    show_message(data, size);
    return (ssize_t)size;
}

/* ---- Start and end ---- */

static void open_terminal(void);

/* The handlers come first, for every run (a piped one too), so that no
 * signal finds the terminal raw without them. */
void console_initialize(void) {
    console.main_thread = pthread_self();
    console.terminal_columns = SCREEN_COLUMNS;
    console.terminal_rows = SCREEN_ROWS;
    screen_reset();
    if (!console.test_mode) {
        install_fatal_handlers();
        open_terminal();
    }
    console_ready.store(1, std::memory_order_release);
}

/* Standard input and output as terminals: raw keys, job control, size. */
static void open_terminal(void) {
    console.input_terminal = isatty(0) && tcgetattr(0, &saved_termios) == 0;
    console.output_terminal = isatty(1);
    if (!console.input_terminal && !console.output_terminal) return;

    int fds[2];
    if (open_wake_pipe(fds) == 0) {
        wake_fd = fds[0];
        wake_write_fd = fds[1];
    }
    if (console.output_terminal) {
        /* The terminal opened anew, non-blocking for the way out only. */
        const char *name = ttyname(1);
        if (name) way_out_fd = open(name, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (way_out_fd < 0) way_out_fd = open("/dev/tty", O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        query_terminal_size();
        console.utf8 = locale_is_utf8();
        capture_stdout(stdout_to_terminal);
        install(SIGWINCH, on_resize_signal, SA_RESTART);
    }
    if (!signal_taken_elsewhere(SIGTSTP)) install(SIGTSTP, on_stop_signal, SA_RESTART);
    install(SIGCONT, on_continue_signal, SA_RESTART);
    atexit(console_shutdown);
    if (console.input_terminal) {
        /* Raw keys: no echo, no line editing, Enter as CR, no flow
         * control; Ctrl-C, Ctrl-\ and Ctrl-Z keep their signals. Set only
         * while the process is in the foreground. */
        raw_termios = saved_termios;
        raw_termios.c_iflag &= ~(tcflag_t)(IXON | ICRNL | INLCR | IGNCR | ISTRIP);
        raw_termios.c_lflag &= ~(tcflag_t)(ICANON | ECHO | ECHONL | IEXTEN);
        raw_termios.c_cc[VMIN] = 1;
        raw_termios.c_cc[VTIME] = 0;
        raw_wanted = 1;
        take_terminal_modes();
    }
}

void console_before_wait(void) {
    if (!on_main_thread()) return;
    pass_on_captured_stdout();
    present_screen();
}

void console_note_title_pushed(void) { title_pushed = 1; }

/* The way out of a normal end: the last frame, the messages of other
 * threads below it, the terminal given back; bounded like every way out. */
void console_shutdown(void) {
    if (!console_ready.load(std::memory_order_acquire) || console.test_mode || shutdown_done) return;
    shutdown_done = 1;
    int main_thread = on_main_thread();
    if (main_thread) {
        fflush(stdout);
        pass_on_captured_stdout();
    }
    leaving = 1;
    if (console.output_terminal) {
        if (main_thread) present_screen();
        pthread_mutex_lock(&message_lock);
        if (other_thread_message_length > 0) show_message(other_thread_messages, other_thread_message_length);
        other_thread_message_length = 0;
        pthread_mutex_unlock(&message_lock);
    }
    restore_terminal();
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
