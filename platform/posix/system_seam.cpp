/* system_seam.cpp -- the Linux (glibc) calls of the POSIX layer and their
 * portable POSIX fallbacks, chosen at build time (system_seam.h). */
#include "system_seam.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int terminal_fd = 1;

int open_wake_pipe(int fds[2]) {
#ifdef QUOMBAX_HAVE_PIPE2
    return pipe2(fds, O_CLOEXEC | O_NONBLOCK);
#else
    if (pipe(fds) != 0) return -1;
    for (int i = 0; i < 2; i++) {
        fcntl(fds[i], F_SETFD, FD_CLOEXEC);
        fcntl(fds[i], F_SETFL, fcntl(fds[i], F_GETFL) | O_NONBLOCK);
    }
    return 0;
#endif
}

int sync_file_data(int fd) {
#ifdef QUOMBAX_HAVE_FDATASYNC
    return fdatasync(fd);
#else
    return fsync(fd);
#endif
}

static ssize_t (*stdout_sink)(const char *data, size_t size);

#ifdef QUOMBAX_HAVE_FOPENCOOKIE

static ssize_t cookie_write(void *cookie, const char *data, size_t size) {
    (void)cookie;
    return stdout_sink(data, size);
}

int capture_stdout(ssize_t (*sink)(const char *data, size_t size)) {
    stdout_sink = sink;
    cookie_io_functions_t functions;
    memset(&functions, 0, sizeof functions);
    functions.write = cookie_write;
    FILE *stream = fopencookie(NULL, "w", functions);
    if (!stream) return 0;
    fflush(stdout);
    stdout = stream;
    return 1;
}

void pass_on_captured_stdout(void) {}

#else

static int captured_fd = -1; /* read end of the pipe that descriptor 1 became */

int capture_stdout(ssize_t (*sink)(const char *data, size_t size)) {
    int fds[2];
    fflush(stdout);
    int terminal = fcntl(1, F_DUPFD_CLOEXEC, 3);
    if (terminal < 0 || open_wake_pipe(fds) != 0) {
        if (terminal >= 0) close(terminal);
        return 0;
    }
    /* Descriptor 1 takes the pipe's write end, without close-on-exec. */
    if (dup2(fds[1], 1) < 0) {
        close(fds[0]);
        close(fds[1]);
        close(terminal);
        return 0;
    }
    close(fds[1]);
    fcntl(1, F_SETFL, fcntl(1, F_GETFL) | O_NONBLOCK);
    stdout_sink = sink;
    captured_fd = fds[0];
    terminal_fd = terminal;
    return 1;
}

void pass_on_captured_stdout(void) {
    if (captured_fd < 0) return;
    fflush(stdout);
    char data[512];
    ssize_t n;
    while ((n = read(captured_fd, data, sizeof data)) > 0) stdout_sink(data, (size_t)n);
}

#endif
