// baseline.cpp -- the one-thread writer: the same lines, computed and
// formatted in one thread into one reused 1 MiB buffer, written to
// dagoma0.g whenever the next line would not fit, and at the end.
// It replaces the link's two generator-side procedures at link time.
#include "link/link.h"
#include "toolpath/toolpath.h"

#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#define WRITER_BUFFER_BYTES (1u << 20)

static char buffer[WRITER_BUFFER_BYTES];
static size_t used;
static size_t lines, bytes;
static int fd = -1;
static int failed;

static void write_out(void) {
    if (used && write(fd, buffer, used) != (ssize_t)used) failed = 1;
    used = 0;
}

HANDLE open_link_client(void) { return (HANDLE)&fd; }

BOOL send_command(HANDLE pipe, const char *text) {
    (void)pipe;
    if (strcmp(text, END_MARKER) == 0) return TRUE;
    size_t n = strlen(text);
    if (used + n > sizeof buffer) write_out();
    memcpy(buffer + used, text, n);
    used += n;
    bytes += n;
    lines++;
    return TRUE;
}

int main() {
    strcpy(print_params.calibration_text, "10");
    strcpy(print_params.temperature_text, "210");
    strcpy(print_params.speed_text, "200");
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    fd = open("dagoma0.g", O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) {
        printf("baseline: cannot create dagoma0.g\n");
        return 1;
    }
    generator_thread(NULL);
    write_out();
    if (close(fd) != 0 || failed) {
        printf("baseline: cannot write dagoma0.g\n");
        return 1;
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    printf("baseline_seconds %.3f\nbaseline_lines %zu\nbaseline_bytes %zu\npeak_rss_kib %ld\n",
           (end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) / 1e9, lines, bytes, usage.ru_maxrss);
    return 0;
}
