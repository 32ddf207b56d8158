// baseline.cpp -- the lower bound of the transfer: one thread computes and
// formats the same lines into memory, then writes them with one write.
// It replaces the link's two generator-side procedures at link time.
#include "link/link.h"
#include "toolpath/toolpath.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

static char *memory;
static size_t used;
static size_t lines;

HANDLE open_link_client(void) { return (HANDLE)&memory; }

BOOL send_command(HANDLE pipe, const char *text) {
    (void)pipe;
    if (strcmp(text, END_MARKER) == 0) return TRUE;
    size_t n = strlen(text);
    memcpy(memory + used, text, n);
    used += n;
    lines++;
    return TRUE;
}

int main() {
    memory = (char *)malloc(160u << 20);
    strcpy(print_params.calibration_text, "10");
    strcpy(print_params.temperature_text, "210");
    strcpy(print_params.speed_text, "200");
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    generator_thread(NULL);
    int fd = open("dagoma0.g", O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0 || write(fd, memory, used) != (ssize_t)used) {
        printf("baseline: cannot write dagoma0.g\n");
        return 1;
    }
    close(fd);
    clock_gettime(CLOCK_MONOTONIC, &end);
    printf("baseline_seconds %.3f\nbaseline_lines %zu\nbaseline_bytes %zu\n",
           (end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) / 1e9, lines, used);
    return 0;
}
