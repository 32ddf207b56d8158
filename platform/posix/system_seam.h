/* system_seam.h -- the one place where the POSIX layer chooses between a
 * Linux (glibc) call and its portable POSIX fallback. The build tells what
 * the system has (QUOMBAX_HAVE_* from CMake's checks); with
 * QUOMBAX_PORTABLE_POSIX=ON it tells nothing, and every fallback is used.
 * Not for the program. */
#ifndef QUOMBAX_SYSTEM_SEAM_H
#define QUOMBAX_SYSTEM_SEAM_H

#include <stddef.h>
#include <sys/mman.h>
#include <sys/types.h>
#include <time.h>

/* The clock of the screen's frame pacing: a cheap coarse clock where there
 * is one (Linux), else the monotonic clock. */
#ifdef QUOMBAX_HAVE_CLOCK_MONOTONIC_COARSE
#define FRAME_CLOCK CLOCK_MONOTONIC_COARSE
#else
#define FRAME_CLOCK CLOCK_MONOTONIC
#endif

/* Flags of a user-mode thread's stack mapping that not every system has. */
#ifdef MAP_STACK
#define STACK_MAP_FLAGS (MAP_STACK | STACK_MAP_NORESERVE)
#else
#define STACK_MAP_FLAGS STACK_MAP_NORESERVE
#endif
#ifdef MAP_NORESERVE
#define STACK_MAP_NORESERVE MAP_NORESERVE
#else
#define STACK_MAP_NORESERVE 0
#endif

/* A pipe whose two ends do not block and are closed on exec: 0, or -1
 * with errno. pipe2 where there is one, else pipe and fcntl. */
int open_wake_pipe(int fds[2]);

/* Puts a file's data on the device (fdatasync, else fsync): 0, or -1. */
int sync_file_data(int fd);

/* What the program prints on standard output goes to sink instead, while
 * standard output is the terminal, and the layer writes the screen to
 * terminal_fd from then on: fopencookie hands it over in every write;
 * the portable fallback turns descriptor 1 into a pipe, which
 * pass_on_captured_stdout empties into sink (the layer calls it before it
 * waits and on the way out). Gives 1 when standard output is captured. */
int capture_stdout(ssize_t (*sink)(const char *data, size_t size));
void pass_on_captured_stdout(void);
extern int terminal_fd;

#endif
