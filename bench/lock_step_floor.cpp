// lock_step_floor.cpp -- what the lock step costs before any line is made:
// (a) a bare round trip between two stacks through the POSIX layer's own
// switch, (b) a round trip over the layer's named pipe as the program
// makes it (a 16-byte line one way, the one-byte reply back, between the
// main thread and a thread of CreateThread). Prints nanoseconds a round
// trip and what that comes to for the 6,296,731 messages of a run.
#include "platform/platform.h"
#include "platform/posix/posix_internal.h"

#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>

#define MESSAGES 6296731L
#define ROUNDS 2000000L
#define FLOOR_PIPE "\\\\.\\pipe\\quombax_floor"

static SwitchContext main_context, other_context;

static void bounce(void) {
    for (;;) context_switch(&other_context, &main_context);
}

static double seconds_since(const struct timespec *start) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return nanoseconds_between(start, &now) / 1e9;
}

static DWORD WINAPI sender(LPVOID unused) {
    (void)unused;
    HANDLE end = CreateFileA(FLOOR_PIPE, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (end == INVALID_HANDLE_VALUE) return 1;
    const char line[] = "G1 F200 X71.300\n";
    for (long i = 0; i < ROUNDS; i++) {
        DWORD count = 0;
        char reply;
        if (!WriteFile(end, line, sizeof line - 1, &count, NULL) || !ReadFile(end, &reply, 1, &count, NULL)) return 1;
    }
    DWORD count = 0;
    WriteFile(end, "-EOT-", 5, &count, NULL);
    CloseHandle(end);
    return 0;
}

int main() {
    const size_t stack_bytes = 1 << 16;
    char *stack = (char *)mmap(NULL, stack_bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (stack == MAP_FAILED) return 1;
    context_prepare(&other_context, stack, stack_bytes, bounce);
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (long i = 0; i < ROUNDS; i++) context_switch(&main_context, &other_context);
    double bare = seconds_since(&start) / ROUNDS * 1e9;

    HANDLE pipe = CreateNamedPipeA(FLOOR_PIPE, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1,
                                   255, 255, 0, NULL);
    if (pipe == INVALID_HANDLE_VALUE) return 1;
    clock_gettime(CLOCK_MONOTONIC, &start);
    HANDLE thread = CreateThread(NULL, 0, sender, NULL, 0, NULL);
    ConnectNamedPipe(pipe, NULL);
    char buffer[48];
    long received = 0;
    for (;;) {
        DWORD count = 0;
        if (!ReadFile(pipe, buffer, 47, &count, NULL) || (count == 5 && memcmp(buffer, "-EOT-", 5) == 0)) break;
        received++;
        if (!WriteFile(pipe, "-", 1, &count, NULL)) break;
    }
    double piped = seconds_since(&start) / ROUNDS * 1e9;
    WaitForSingleObject(thread, INFINITE);
    if (received != ROUNDS) {
        printf("lock_step_floor: %ld of %ld messages came\n", received, ROUNDS);
        return 1;
    }
    printf("switch_round_trip_ns %.1f (a run: %.3f s)\npipe_round_trip_ns %.1f (a run: %.3f s)\n", bare,
           bare * MESSAGES / 1e9, piped, piped * MESSAGES / 1e9);
    return 0;
}
