/* thread.cpp -- threads, sleeping and the end of the process for the POSIX
 * layer. A thread handle can be waited on and read for its result. */
#include "posix_internal.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <time.h>
#include <unistd.h>

#define MAX_THREADS 16

struct ThreadRecord {
    int in_use;        /* guarded by threads_lock */
    int handle_open;   /* guarded by threads_lock */
    LPTHREAD_START_ROUTINE routine;
    LPVOID argument;
    std::atomic<uint32_t> finished; /* futex word: 1 once the routine returned */
    DWORD result;
};

static ThreadRecord threads[MAX_THREADS];
static pthread_mutex_t threads_lock = PTHREAD_MUTEX_INITIALIZER;

static void free_if_done(ThreadRecord *record) {
    if (!record->handle_open && record->finished.load()) record->in_use = 0;
}

static void *thread_start(void *argument) {
    ThreadRecord *record = (ThreadRecord *)argument;
    DWORD result = record->routine(record->argument);
    pthread_mutex_lock(&threads_lock);
    record->result = result;
    record->finished.store(1);
    free_if_done(record);
    pthread_mutex_unlock(&threads_lock);
    futex_wake_all(&record->finished);
    return 0;
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, size_t stack_size, LPTHREAD_START_ROUTINE routine,
                    LPVOID argument, DWORD flags, LPDWORD thread_id) {
    (void)security; (void)flags;
    HANDLE handle = allocate_object(OBJECT_THREAD);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    pthread_mutex_lock(&threads_lock);
    int index = -1;
    for (int i = 0; i < MAX_THREADS; i++) {
        if (!threads[i].in_use) {
            index = i;
            break;
        }
    }
    if (index < 0) {
        pthread_mutex_unlock(&threads_lock);
        release_object(handle);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    ThreadRecord *record = &threads[index];
    record->in_use = 1;
    record->handle_open = 1;
    record->routine = routine;
    record->argument = argument;
    record->finished.store(0);
    record->result = STILL_ACTIVE;
    pthread_mutex_unlock(&threads_lock);

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (stack_size) pthread_attr_setstacksize(&attributes, stack_size);
    /* The new thread takes only the signals its own instructions raise;
     * every other signal goes to the main thread, whose handlers own the
     * terminal, so that they never race with its drawing. */
    sigset_t others, previous;
    sigfillset(&others);
    const int own_signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT, SIGPIPE, SIGXFSZ};
    for (int signal_number : own_signals) sigdelset(&others, signal_number);
    pthread_sigmask(SIG_BLOCK, &others, &previous);
    pthread_t thread;
    int error = pthread_create(&thread, &attributes, thread_start, record);
    pthread_sigmask(SIG_SETMASK, &previous, NULL);
    pthread_attr_destroy(&attributes);
    if (error != 0) {
        pthread_mutex_lock(&threads_lock);
        record->in_use = 0;
        pthread_mutex_unlock(&threads_lock);
        release_object(handle);
        set_error_from_errno(error);
        return 0;
    }
    ((PosixObject *)handle)->thread = index;
    if (thread_id) *thread_id = (DWORD)(index + 1);
    return handle;
}

BOOL thread_close(PosixObject *object) {
    pthread_mutex_lock(&threads_lock);
    ThreadRecord *record = &threads[object->thread];
    record->handle_open = 0;
    free_if_done(record);
    pthread_mutex_unlock(&threads_lock);
    release_object((HANDLE)object);
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    if (is_console_handle(handle)) return console_wait_input(handle, milliseconds);
    PosixObject *object = object_from_handle(handle, OBJECT_THREAD);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    ThreadRecord *record = &threads[object->thread];
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    while (!record->finished.load()) {
        if (milliseconds == INFINITE) {
            futex_wait(&record->finished, 0);
            continue;
        }
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        long long elapsed = (now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1000000;
        if (elapsed >= milliseconds) return WAIT_TIMEOUT;
        futex_wait_ms(&record->finished, 0, (DWORD)(milliseconds - elapsed));
    }
    return WAIT_OBJECT_0;
}

BOOL GetExitCodeThread(HANDLE handle, LPDWORD exit_code) {
    PosixObject *object = object_from_handle(handle, OBJECT_THREAD);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ThreadRecord *record = &threads[object->thread];
    pthread_mutex_lock(&threads_lock);
    *exit_code = record->finished.load() ? record->result : STILL_ACTIVE;
    pthread_mutex_unlock(&threads_lock);
    return TRUE;
}

/* Test hook: when set, Sleep calls it instead of sleeping. */
void (*sleep_hook)(DWORD milliseconds);

void Sleep(DWORD milliseconds) {
    console_before_wait();
    if (sleep_hook) {
        sleep_hook(milliseconds);
        return;
    }
    struct timespec left;
    left.tv_sec = milliseconds / 1000;
    left.tv_nsec = (long)(milliseconds % 1000) * 1000000L;
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

void ExitProcess(UINT status) {
    flush_all_files();
    console_shutdown();
    fflush(stdout);
    _exit((int)status);
}
