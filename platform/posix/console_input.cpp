/* console_input.cpp -- the console input buffer for the POSIX layer: key
 * records decoded from the terminal's bytes (or injected by the tests with
 * WriteConsoleInputA), the blocking wait on the input handle, and the
 * command interpreter's two commands, "cls" and "pause > NUL". */
#include "console_internal.h"

#include "../key_decoder.h"

#include <errno.h>
#include <poll.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#define QUEUE_CAPACITY 256
/* How often a run in the background looks whether it is in the foreground again. */
#define BACKGROUND_CHECK_MS 100
/* Bytes taken from the terminal per read. */
#define TERMINAL_READ_BYTES 64

void (*console_input_hook)(void);

/* The queue of records. Records of one batch (one WriteConsoleInputA call,
 * or one press or one release from the terminal) can be read together; a
 * read never takes records of two batches, so a key's press and its
 * release are always two reads. */
struct QueuedRecord {
    INPUT_RECORD record;
    uint32_t batch;
};
static QueuedRecord queue[QUEUE_CAPACITY];
static int queue_head;
static int queue_count;
static uint32_t next_batch;
static int injected; /* records were injected: the input counts as a console */

/* Bytes from the terminal that do not make a whole key yet (fewer than
 * KEY_HOLD_MAX between reads), and the decoder's sequence under way. */
static unsigned char terminal_bytes[TERMINAL_READ_BYTES];
static size_t terminal_byte_count;
static KeyDecoder decoder;
static struct timespec last_byte_time;
static int terminal_ended;

void input_reset(void) {
    queue_head = 0;
    queue_count = 0;
    next_batch = 0;
    injected = 0;
    terminal_byte_count = 0;
    memset(&decoder, 0, sizeof decoder);
    terminal_ended = 0;
}

void input_discard_terminal_bytes(void) {
    terminal_byte_count = 0;
    memset(&decoder, 0, sizeof decoder);
}

static int input_available(void) { return console.input_terminal || injected; }

static int push_record(const INPUT_RECORD *record, uint32_t batch) {
    if (queue_count == QUEUE_CAPACITY) return 0;
    QueuedRecord *slot = &queue[(queue_head + queue_count) % QUEUE_CAPACITY];
    slot->record = *record;
    slot->batch = batch;
    queue_count++;
    return 1;
}

static INPUT_RECORD pop_record(void) {
    INPUT_RECORD record = queue[queue_head].record;
    queue_head = (queue_head + 1) % QUEUE_CAPACITY;
    queue_count--;
    return record;
}

static void push_key(const DecodedKey *key) {
    if (!key->present) return;
    INPUT_RECORD records[2];
    key_event_records(key, records);
    push_record(&records[0], next_batch++);
    push_record(&records[1], next_batch++);
}

static long long ms_since(const struct timespec *then) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return nanoseconds_between(then, &now) / 1000000;
}

/* Decodes what the terminal sent; at_end after the decoder's time-out,
 * which also drops a sequence left unfinished. */
static void decode_terminal_bytes(int at_end) {
    size_t done = 0;
    for (;;) {
        DecodedKey key;
        size_t taken = decode_terminal_key(&decoder, terminal_bytes + done, terminal_byte_count - done, at_end, &key);
        if (taken == 0) break;
        push_key(&key);
        done += taken;
    }
    memmove(terminal_bytes, terminal_bytes + done, terminal_byte_count - done);
    terminal_byte_count -= done;
}

/* Keys are taken from the terminal only while it shows the screen: not
 * while the terminal is too small (keys wait there until it is large
 * enough), nor while another process group has it (a read would stop the
 * program). */
static int terminal_keys_wanted(void) {
    if (!console.input_terminal || terminal_ended) return 0;
    if (console.output_terminal && terminal_too_small()) return 0;
    return terminal_in_foreground(0);
}

/* Milliseconds until the decoder's time-out, or -1 when it waits for nothing. */
static long long decoder_wait_left(void) {
    int wait = key_decoder_wait_ms(&decoder, terminal_byte_count);
    if (wait == 0) return -1;
    long long left = wait - ms_since(&last_byte_time);
    return left > 0 ? left : 0;
}

/* Takes the bytes the terminal has now, without waiting, as far as the
 * queue has room for their keys; after the decoder's time-out, a lone
 * Escape is a key and an unfinished sequence is dropped. */
static void read_terminal(void) {
    if (!terminal_keys_wanted()) return;
    for (;;) {
        size_t room = sizeof terminal_bytes - terminal_byte_count;
        if (queue_count + 2 * (int)room > QUEUE_CAPACITY) break;
        struct pollfd readable = {0, POLLIN, 0};
        if (poll(&readable, 1, 0) <= 0) break;
        ssize_t n = read(0, terminal_bytes + terminal_byte_count, room);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) break;
        if (n <= 0) {
            terminal_ended = 1; /* hung up */
            break;
        }
        terminal_byte_count += (size_t)n;
        clock_gettime(CLOCK_MONOTONIC, &last_byte_time);
        decode_terminal_bytes(0);
    }
    if (decoder_wait_left() == 0) decode_terminal_bytes(1);
}

/* WaitForSingleObject on the console input handle: blocks, with poll(),
 * until a record is there; the screen is presented first and again after
 * every resize and every continue. Fails when no record can come (no
 * terminal, or it hung up). The poll wakes only for a byte, a signal, the
 * caller's time-out or the decoder's (at least ESCAPE_WAIT_MS); in the
 * background also every BACKGROUND_CHECK_MS, to see whether the run was
 * put in the foreground (fg sends no signal to a running job). */
DWORD console_wait_input(HANDLE handle, DWORD milliseconds) {
    console_ensure_init();
    if (!is_console_input(handle)) return WAIT_OBJECT_0;
    console_before_wait();
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        if (queue_count > 0) return WAIT_OBJECT_0;
        if (!console.input_terminal) {
            if (console_input_hook) {
                console_input_hook();
                if (queue_count > 0) return WAIT_OBJECT_0;
            }
            SetLastError(ERROR_HANDLE_EOF);
            return WAIT_FAILED;
        }
        take_terminal_modes();
        read_terminal();
        if (queue_count > 0) return WAIT_OBJECT_0;
        if (terminal_ended) {
            SetLastError(ERROR_HANDLE_EOF);
            return WAIT_FAILED;
        }
        long long left = -1;
        if (milliseconds != INFINITE) {
            left = (long long)milliseconds - ms_since(&start);
            if (left <= 0) return WAIT_TIMEOUT;
        }
        int keys_wanted = terminal_keys_wanted();
        int background = !terminal_in_foreground(0);
        long long wake_in = background ? BACKGROUND_CHECK_MS : keys_wanted ? decoder_wait_left() : -1;
        if (wake_in >= 0) {
            if (wake_in < 1) wake_in = 1;
            if (left < 0 || wake_in < left) left = wake_in;
        }
        struct pollfd fds[2];
        fds[0].fd = keys_wanted ? 0 : -1;
        fds[0].events = POLLIN;
        fds[0].revents = 0;
        fds[1].fd = wake_fd;
        fds[1].events = POLLIN;
        fds[1].revents = 0;
        int result = poll(fds, 2, (int)left);
        if (result < 0 && errno != EINTR) {
            SetLastError(ERROR_READ_FAULT);
            return WAIT_FAILED;
        }
        if (resize_pending || redraw_pending || background || (result > 0 && fds[1].revents)) {
            drain_wake_pipe();
            present_screen();
        }
    }
}

BOOL GetConsoleMode(HANDLE handle, LPDWORD mode) {
    console_ensure_init();
    int console_there = is_console_input(handle) ? input_available() : is_console_handle(handle) && console.output_terminal;
    if (!console_there) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (mode) *mode = is_console_input(handle) ? 0x0007 : 0x0003;
    return TRUE;
}

static BOOL no_input(HANDLE handle) {
    if (is_console_input(handle) && input_available()) return FALSE;
    SetLastError(ERROR_INVALID_HANDLE);
    return TRUE;
}

BOOL GetNumberOfConsoleInputEvents(HANDLE input, LPDWORD count) {
    console_ensure_init();
    *count = 0;
    if (no_input(input)) return FALSE;
    read_terminal();
    *count = (DWORD)queue_count;
    return TRUE;
}

BOOL ReadConsoleInputA(HANDLE input, INPUT_RECORD *records, DWORD length, LPDWORD read_count) {
    console_ensure_init();
    *read_count = 0;
    if (no_input(input)) return FALSE;
    if (length == 0) return TRUE;
    if (queue_count == 0) console_wait_input(input, INFINITE);
    if (queue_count == 0) {
        SetLastError(ERROR_HANDLE_EOF);
        return FALSE;
    }
    uint32_t batch = queue[queue_head].batch;
    DWORD n = 0;
    while (n < length && queue_count > 0 && queue[queue_head].batch == batch) records[n++] = pop_record();
    *read_count = n;
    return TRUE;
}

BOOL WriteConsoleInputA(HANDLE input, const INPUT_RECORD *records, DWORD length, LPDWORD written) {
    console_ensure_init();
    *written = 0;
    if (!is_console_input(input)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    injected = 1;
    uint32_t batch = next_batch++;
    DWORD n = 0;
    while (n < length && push_record(&records[n], batch)) n++;
    *written = n;
    return TRUE;
}

BOOL FlushConsoleInputBuffer(HANDLE input) {
    console_ensure_init();
    if (no_input(input)) return FALSE;
    if (console.input_terminal) {
        if (terminal_in_foreground(0)) tcflush(0, TCIFLUSH);
        input_discard_terminal_bytes();
    }
    queue_count = 0;
    return TRUE;
}

BOOL console_read_file(HANDLE handle, void *data, DWORD count, DWORD *read_count) {
    console_ensure_init();
    if (!is_console_input(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    console_before_wait();
    return read_fd(0, data, count, read_count);
}

/* "pause > NUL": one key press, with no prompt. From a console, the first
 * press record (keys typed during the run count); otherwise one byte of
 * standard input, or its end. */
static void wait_for_one_key(void) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input_available()) {
        for (;;) {
            if (queue_count == 0 && console_wait_input(input, INFINITE) != WAIT_OBJECT_0) return;
            INPUT_RECORD record = pop_record();
            if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return;
        }
    }
    char byte;
    DWORD got = 0;
    console_read_file(input, &byte, 1, &got);
}

int run_console_command(const char *command) {
    console_ensure_init();
    if (strcmp(command, "cls") == 0) {
        screen_clear();
        return 0;
    }
    if (strcmp(command, "pause > NUL") == 0) {
        wait_for_one_key();
        return 0;
    }
    SetLastError(ERROR_NOT_SUPPORTED); /* nothing is handed to a shell */
    return -1;
}
