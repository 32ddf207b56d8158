/* posix_internal.h -- what the POSIX files of the portability layer share:
 * the handle table, error mapping and the futex wait. Not for the program. */
#ifndef QUOMBAX_POSIX_INTERNAL_H
#define QUOMBAX_POSIX_INTERNAL_H

#include "../platform.h"

#include <atomic>
#include <pthread.h>

enum ObjectKind {
    OBJECT_FREE = 0,
    OBJECT_FILE,
    OBJECT_PIPE_SERVER,
    OBJECT_PIPE_CLIENT,
    OBJECT_THREAD,
};

#define MAX_OBJECTS 64

struct PosixObject {
    int kind;
    int fd;                   /* OBJECT_FILE */
    int write_buffer;         /* OBJECT_FILE: index of its gather buffer, or -1 */
    int pipe;                 /* OBJECT_PIPE_*: index of the pipe instance */
    int thread;               /* OBJECT_THREAD: index of the thread record */
};

/* The handle table; a HANDLE is the address of one of its entries. */
PosixObject *object_from_handle(HANDLE handle, int kind);
HANDLE allocate_object(int kind);
void release_object(HANDLE handle);

/* Errors: sets the thread's last error from errno (keeping errno for its text). */
void set_error_from_errno(int error_number);

/* One read(2), repeated when a signal cut it short; errors as GetLastError. */
BOOL read_fd(int fd, void *data, DWORD count, DWORD *read_count);

/* Futex wait and wake on a 32-bit word. */
void futex_wait(std::atomic<uint32_t> *word, uint32_t expected);
int futex_wait_ms(std::atomic<uint32_t> *word, uint32_t expected, DWORD milliseconds);
void futex_wake_all(std::atomic<uint32_t> *word);

/* Pipe and file operations behind the generic handle calls. */
HANDLE pipe_open_client(const char *name);
BOOL pipe_read(PosixObject *object, void *data, DWORD count, DWORD *read);
BOOL pipe_write(PosixObject *object, const void *data, DWORD count, DWORD *written);
BOOL pipe_close(PosixObject *object);
int is_pipe_name(const char *name);
BOOL file_flush(PosixObject *object);
void flush_all_files(void);
BOOL thread_close(PosixObject *object);

/* Console handles and the terminal's restore on the way out. */
int is_console_handle(HANDLE handle);
BOOL console_read_file(HANDLE handle, void *data, DWORD count, DWORD *read);
BOOL console_write_file(HANDLE handle, const void *data, DWORD count, DWORD *written);
void console_shutdown(void);
void console_before_wait(void); /* presents the screen before the program waits */
DWORD console_wait_input(HANDLE handle, DWORD milliseconds); /* WaitForSingleObject on the console input */

/* Calls the routines registered with SetConsoleCtrlHandler for the event
 * that a signal stands for; safe in a signal handler. */
void call_ctrl_handlers(int signal_number);

#endif
