/* posix_internal.h -- what the POSIX files of the portability layer share:
 * the handle table, error mapping, the user-mode threads' waits and stack
 * switch. Not for the program. */
#ifndef QUOMBAX_POSIX_INTERNAL_H
#define QUOMBAX_POSIX_INTERNAL_H

#include "../platform.h"

#include <pthread.h>
#include <time.h>
#include <setjmp.h>
#include <string.h>

enum ObjectKind {
    OBJECT_FREE = 0,
    OBJECT_FILE,
    OBJECT_PIPE_SERVER,
    OBJECT_PIPE_CLIENT,
    OBJECT_THREAD,
};

#define MAX_OBJECTS 64

struct PipeSlot;

struct PosixObject {
    int kind;
    int fd;                   /* OBJECT_FILE */
    int write_buffer;         /* OBJECT_FILE: index of its gather buffer, or -1 */
    int pipe;                 /* OBJECT_PIPE_*: index of the pipe instance */
    int thread;               /* OBJECT_THREAD: index of the thread record */
    PipeSlot *reads;          /* OBJECT_PIPE_*: the direction this end reads */
    PipeSlot *writes;         /* OBJECT_PIPE_*: the direction this end writes */
};

/* The handle table; a HANDLE is the address of one of its entries. */
PosixObject *object_from_handle(HANDLE handle, int kind);
HANDLE allocate_object(int kind);
void release_object(HANDLE handle);

/* Errors: sets the thread's last error from errno (keeping errno for its text). */
void set_error_from_errno(int error_number);
/* The running thread's error state. A kernel thread's own; a user-mode
 * thread keeps its copy in its record while another one runs. */
extern __thread DWORD last_error;
extern __thread int last_errno;

/* Nanoseconds from one reading of a clock to a later one. */
static inline long long nanoseconds_between(const struct timespec *from, const struct timespec *to) {
    return (to->tv_sec - from->tv_sec) * 1000000000LL + (to->tv_nsec - from->tv_nsec);
}

/* Writes every byte to fd, again after a signal cut a write short and, on
 * a descriptor that does not block, after waiting for room, until deadline
 * (CLOCK_MONOTONIC; NULL: no limit). 1 when all went, else 0 with errno (a
 * write that takes no byte counts as EIO). Safe in a signal handler. */
int write_all(int fd, const void *data, size_t size, const struct timespec *deadline);

/* Sixteen bytes in two word loads and stores. */
static inline void copy_16(char *to, const char *from) {
    uint64_t words[2];
    memcpy(words, from, 16);
    memcpy(to, words, 16);
}

/* Copies n bytes, at most 64, in a few loads and stores that may overlap
 * (the last ones end at the last byte) instead of a loop or a call. */
static inline void copy_small(char *to, const char *from, uint32_t n) {
    uint64_t word;
    uint32_t half;
    if (n >= 16) {
        copy_16(to, from);
        if (n > 32) copy_16(to + 16, from + 16);
        if (n > 48) copy_16(to + 32, from + 32);
        copy_16(to + n - 16, from + n - 16);
    } else if (n >= 8) {
        memcpy(&word, from, 8);
        memcpy(to, &word, 8);
        memcpy(&word, from + n - 8, 8);
        memcpy(to + n - 8, &word, 8);
    } else if (n >= 4) {
        memcpy(&half, from, 4);
        memcpy(to, &half, 4);
        memcpy(&half, from + n - 4, 4);
        memcpy(to + n - 4, &half, 4);
    } else if (n > 0) {
        to[0] = from[0];
        to[n / 2] = from[n / 2];
        to[n - 1] = from[n - 1];
    }
}

/* One read(2), repeated when a signal cut it short; errors as GetLastError. */
BOOL read_fd(int fd, void *data, DWORD count, DWORD *read_count);

/* User-mode threads (thread.cpp). wait_until runs the kernel thread's
 * other user-mode threads until ready(context) holds (ready 0: never),
 * the time is up, or no wait can end any more. */
enum WaitEnd { WAIT_ENDED, WAIT_TIMED_OUT, WAIT_CANNOT_END };
int wait_until(int (*ready)(void *context), void *context, DWORD milliseconds);
void *kernel_thread_tag(void);     /* the same for all user-mode threads of one kernel thread */
int on_first_user_thread(void);    /* the kernel thread's own stack runs, no thread of CreateThread */

/* The switch between two stacks (switch.cpp). */
struct SwitchContext {
    void *sp;     /* the native switch's stack pointer */
    jmp_buf env;  /* the portable switch's place */
};
/* Lays out a new stack [stack, stack + size) so that the first switch to
 * it calls entry, which must never return. */
void context_prepare(SwitchContext *context, char *stack, size_t size, void (*entry)(void));
int native_switch_available(void);
/* Test hook: the portable switch also where a native one exists. Changed
 * only while no user-mode thread but the caller exists. */
extern int portable_switch;
void portable_context_switch(SwitchContext *from, SwitchContext *to);
#if (defined(__x86_64__) || defined(__aarch64__)) && defined(__ELF__) /* ELF assemblers: Linux, the BSDs */
#define HAVE_NATIVE_SWITCH 1
extern "C" void quombax_switch_stacks(void **save_sp, void *load_sp);
#else
#define HAVE_NATIVE_SWITCH 0
#endif
/* Keeps the running stack's place in from and goes on where to left off. */
static inline void context_switch(SwitchContext *from, SwitchContext *to) {
#if HAVE_NATIVE_SWITCH
    if (__builtin_expect(!portable_switch, 1)) {
        quombax_switch_stacks(&from->sp, to->sp);
        return;
    }
#endif
    portable_context_switch(from, to);
}

/* Pipe and file operations behind the generic handle calls. */
HANDLE pipe_open_client(const char *name);
BOOL pipe_read(PosixObject *object, void *data, DWORD count, DWORD *read);
BOOL pipe_write(PosixObject *object, const void *data, DWORD count, DWORD *written);
BOOL pipe_close(PosixObject *object);
int is_pipe_name(const char *name);
BOOL file_flush(PosixObject *object);
void flush_all_files(void);
BOOL thread_close(PosixObject *object);

/* The program's console control routines, for a signal that ends the
 * process; safe inside a signal handler. */
void call_ctrl_handlers(int signal_number);

/* Console handles and the terminal's restore on the way out. */
int is_console_handle(HANDLE handle);
BOOL console_read_file(HANDLE handle, void *data, DWORD count, DWORD *read);
BOOL console_write_file(HANDLE handle, const void *data, DWORD count, DWORD *written);
void console_shutdown(void);
void console_before_wait(void); /* presents the screen before the program waits */
DWORD console_wait_input(HANDLE handle, DWORD milliseconds); /* WaitForSingleObject on the console input */

#endif
