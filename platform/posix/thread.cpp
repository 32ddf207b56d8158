/* thread.cpp -- threads, sleeping and the end of the process for the POSIX
 * layer: the threads of CreateThread are user-mode threads.
 *
 * The model. A thread that CreateThread starts is a user-mode thread of
 * the calling kernel thread: a stack of its own (mmap, with a guard page
 * below it) that takes turns with the kernel thread's own stack and its
 * other user-mode threads. Only one of them runs at a time, and a thread
 * runs until it waits; the switch is a function call (switch.cpp).
 *  - Waits that switch: a pipe read that finds no bytes, a pipe write that
 *    finds the previous write not yet read, ConnectNamedPipe before a client
 *    came, WaitForSingleObject on a thread, and Sleep (Sleep(0) lets every
 *    other thread that can run take its turn first). The next thread to run
 *    is the next one round the ring whose wait has ended.
 *  - Waits that do not switch: file and terminal I/O, the console's input
 *    waits and the command interpreter's commands block the kernel thread
 *    with every user-mode thread on it.
 *  - When every user-mode thread waits: if some wait has a time limit, the
 *    kernel thread sleeps until the first limit, and that wait ends with
 *    WAIT_TIMEOUT (Sleep returns). If none has, no wait can ever end: the
 *    wait that finds this ends with a report instead of hanging, the
 *    others go on waiting. A pipe read or write fails as on a broken pipe
 *    (ERROR_BROKEN_PIPE or ERROR_PIPE_NOT_CONNECTED, ERROR_NO_DATA),
 *    ConnectNamedPipe fails with ERROR_NO_DATA, WaitForSingleObject gives
 *    WAIT_FAILED with ERROR_POSSIBLE_DEADLOCK, Sleep(INFINITE) returns.
 *  - A pipe joins user-mode threads of one kernel thread: a client can open
 *    only a server end that its own kernel thread made. A thread handle is
 *    waited on from the kernel thread that made it.
 *  - GetLastError belongs to each user-mode thread: the value is kept in
 *    the thread's record while another one runs.
 *  - ExitProcess from any user-mode thread ends the process at once, as it
 *    does from the main thread: the files' gathered bytes are written, the
 *    terminal is put back. Signals are taken on whichever stack runs; the
 *    console's handlers treat only the kernel thread's own stack as the
 *    main thread (messages of the others are shown on the way out).
 *  - A thread whose routine returned is gone at once; its stack is given
 *    back by the next thread that runs, its record once its handle is
 *    closed too.
 *  - AddressSanitizer and ThreadSanitizer are told of every switch and of
 *    every stack, through their fiber interfaces. */
#include "posix_internal.h"
#include "system_seam.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define USE_ASAN_FIBERS 1
#endif
#if __has_feature(thread_sanitizer)
#define USE_TSAN_FIBERS 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define USE_ASAN_FIBERS 1
#endif
#if defined(__SANITIZE_THREAD__)
#define USE_TSAN_FIBERS 1
#endif
#ifdef USE_ASAN_FIBERS
#include <sanitizer/asan_interface.h>
#include <sanitizer/common_interface_defs.h>
#endif
#ifdef USE_TSAN_FIBERS
#include <sanitizer/tsan_interface.h>
#endif

#define MAX_THREADS 16
#define UNLIMITED_STACK_BYTES (8 * 1024 * 1024) /* the default when the stack size limit is unlimited */
#define MIN_STACK_BYTES (64 * 1024)
#define NO_DEADLINE (-1LL)

struct KernelThread;

struct UserThread {
    int in_use;        /* guarded by threads_lock */
    int handle_open;   /* guarded by threads_lock */
    int finished;      /* its routine returned */
    LPTHREAD_START_ROUTINE routine;
    LPVOID argument;
    DWORD result;
    KernelThread *owner;
    UserThread *next;  /* the ring of the kernel thread's running threads */
    SwitchContext context;
    char *mapping;     /* its stack with the guard page; 0 for a kernel thread's own */
    size_t mapping_bytes;
    /* while it waits: what ends the wait, and when its time is up */
    int (*ready)(void *context);
    void *ready_context;
    long long deadline; /* CLOCK_MONOTONIC nanoseconds, or NO_DEADLINE */
    DWORD last_error;   /* its error state while another thread runs */
    int last_errno;
    /* what the sanitizers know of its stack */
    void *asan_fake_stack;
    const void *stack_bottom;
    size_t stack_size;
    void *tsan_fiber;
};

struct KernelThread {
    UserThread own;          /* the kernel thread's own stack */
    UserThread *current;     /* 0 until the first use */
    UserThread *switched_from;
};

static UserThread threads[MAX_THREADS];
static pthread_mutex_t threads_lock = PTHREAD_MUTEX_INITIALIZER;
static thread_local KernelThread kernel_thread;

static KernelThread *this_kernel_thread(void) {
    KernelThread *k = &kernel_thread;
    if (__builtin_expect(!k->current, 0)) {
        k->own.owner = k;
        k->own.next = &k->own;
        k->own.deadline = NO_DEADLINE;
#ifdef USE_TSAN_FIBERS
        k->own.tsan_fiber = __tsan_get_current_fiber();
#endif
        k->current = &k->own;
    }
    return k;
}

void *kernel_thread_tag(void) { return this_kernel_thread(); }

int on_first_user_thread(void) {
    return kernel_thread.current == 0 || kernel_thread.current == &kernel_thread.own;
}

static long long monotonic_ns(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

static void sleep_until(long long deadline) {
    long long left = deadline - monotonic_ns();
    if (left <= 0) return;
    struct timespec span;
    span.tv_sec = (time_t)(left / 1000000000LL);
    span.tv_nsec = (long)(left % 1000000000LL);
    nanosleep(&span, NULL); /* a signal cuts it short: the caller looks again */
}

/* Whether a thread can run: it is new, or its wait has ended. */
static inline int can_run(UserThread *thread, long long *now) {
    if (!thread->ready && thread->deadline == NO_DEADLINE) return 1;
    if (thread->ready && thread->ready(thread->ready_context)) return 1;
    if (thread->deadline == NO_DEADLINE) return 0;
    if (*now < 0) *now = monotonic_ns();
    return *now >= thread->deadline;
}

/* The thread to run after self, which waits or has ended (and then left
 * the ring): the next one round the ring that can run, else self if it
 * can, else the one whose time is up first, after sleeping until then;
 * 0 when no wait can end any more. */
static UserThread *pick_next(KernelThread *k, UserThread *self) {
    long long now = -1;
    UserThread *start = self->finished ? k->own.next : self->next;
    UserThread *thread = start;
    do {
        if (thread != self && can_run(thread, &now)) return thread;
        thread = thread->next;
    } while (thread != start);
    if (!self->finished && can_run(self, &now)) return self;
    UserThread *soonest = 0;
    thread = start;
    do {
        if (thread->deadline != NO_DEADLINE && (!soonest || thread->deadline < soonest->deadline))
            soonest = thread;
        thread = thread->next;
    } while (thread != start);
    if (!soonest) return 0;
    sleep_until(soonest->deadline);
    return soonest;
}

static void release_stack(UserThread *thread) {
#ifdef USE_TSAN_FIBERS
    __tsan_destroy_fiber(thread->tsan_fiber);
#endif
#ifdef USE_ASAN_FIBERS
    __asan_unpoison_memory_region(thread->mapping, thread->mapping_bytes);
#endif
    munmap(thread->mapping, thread->mapping_bytes);
    pthread_mutex_lock(&threads_lock);
    thread->mapping = 0;
    if (!thread->handle_open) thread->in_use = 0;
    pthread_mutex_unlock(&threads_lock);
}

/* What a thread does first whenever it runs again after a switch. */
static void after_switch(KernelThread *k, UserThread *self) {
    UserThread *from = k->switched_from;
#ifdef USE_ASAN_FIBERS
    __sanitizer_finish_switch_fiber(self->asan_fake_stack, &from->stack_bottom, &from->stack_size);
#endif
    last_error = self->last_error;
    last_errno = self->last_errno;
    if (__builtin_expect(from->finished, 0) && from->mapping) release_stack(from);
}

static inline void switch_to(KernelThread *k, UserThread *from, UserThread *to) {
    from->last_error = last_error;
    from->last_errno = last_errno;
    k->current = to;
    k->switched_from = from;
#ifdef USE_ASAN_FIBERS
    __sanitizer_start_switch_fiber(from->finished ? 0 : &from->asan_fake_stack, to->stack_bottom, to->stack_size);
#endif
#ifdef USE_TSAN_FIBERS
    __tsan_switch_to_fiber(to->tsan_fiber, 0);
#endif
    context_switch(&from->context, &to->context);
    after_switch(k, from);
}

int wait_until(int (*ready)(void *context), void *context, DWORD milliseconds) {
    if (ready && ready(context)) return WAIT_ENDED;
    KernelThread *k = this_kernel_thread();
    UserThread *self = k->current;
    self->ready = ready;
    self->ready_context = context;
    /* (a thread that does not wait has no deadline) */
    if (milliseconds != INFINITE) self->deadline = monotonic_ns() + milliseconds * 1000000LL;
    /* The lock step's case, the same choice as pick_next's made shorter: a
     * pair of threads that wait without time limits take turns, each
     * waiting for what the other one just did. */
    if (ready && milliseconds == INFINITE) {
        for (;;) {
            UserThread *other = self->next;
            if (other == self || other->next != self || other->deadline != NO_DEADLINE || !other->ready ||
                !other->ready(other->ready_context))
                break;
            switch_to(k, self, other);
            if (ready(context)) {
                self->ready = 0;
                return WAIT_ENDED;
            }
        }
    }
    int end;
    for (;;) {
        UserThread *next = pick_next(k, self);
        if (!next) {
            end = WAIT_CANNOT_END;
            break;
        }
        if (next != self) switch_to(k, self, next);
        if (ready && ready(context)) {
            end = WAIT_ENDED;
            break;
        }
        if (self->deadline != NO_DEADLINE && monotonic_ns() >= self->deadline) {
            end = WAIT_TIMED_OUT;
            break;
        }
    }
    self->ready = 0;
    self->deadline = NO_DEADLINE;
    return end;
}

/* The first procedure on a new stack. */
static void thread_entry(void) {
    KernelThread *k = &kernel_thread;
    UserThread *self = k->current;
    after_switch(k, self);
    self->result = self->routine(self->argument);
    self->finished = 1;
    UserThread *before = &k->own; /* leave the ring */
    while (before->next != self) before = before->next;
    before->next = self->next;
    UserThread *next = pick_next(k, self);
    /* none can run: the kernel thread's own stack finds that out in its wait */
    switch_to(k, self, next ? next : &k->own);
    abort();
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, size_t stack_size, LPTHREAD_START_ROUTINE routine,
                    LPVOID argument, DWORD flags, LPDWORD thread_id) {
    (void)security; (void)flags;
    KernelThread *k = this_kernel_thread();
    HANDLE handle = allocate_object(OBJECT_THREAD);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    pthread_mutex_lock(&threads_lock);
    int index = -1;
    for (int i = 0; i < MAX_THREADS; i++) {
        if (!threads[i].in_use) {
            index = i;
            threads[i].in_use = 1;
            threads[i].handle_open = 1;
            break;
        }
    }
    pthread_mutex_unlock(&threads_lock);
    if (index < 0) {
        release_object(handle);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    UserThread *thread = &threads[index];
    size_t page = (size_t)sysconf(_SC_PAGESIZE);
    /* The default size is the stack size limit, as for the system's own
     * threads; only the pages a thread touches take memory. */
    struct rlimit limit;
    size_t bytes = stack_size;
    if (bytes == 0)
        bytes = getrlimit(RLIMIT_STACK, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY ? (size_t)limit.rlim_cur
                                                                                      : UNLIMITED_STACK_BYTES;
    if (bytes < MIN_STACK_BYTES) bytes = MIN_STACK_BYTES;
    bytes = (bytes + page - 1) / page * page;
    char *mapping = (char *)mmap(NULL, bytes + page, PROT_READ | PROT_WRITE,
                                 MAP_PRIVATE | MAP_ANONYMOUS | STACK_MAP_FLAGS, -1, 0);
    if (mapping == MAP_FAILED || mprotect(mapping, page, PROT_NONE) != 0) { /* the guard page */
        int saved = errno;
        if (mapping != MAP_FAILED) munmap(mapping, bytes + page);
        pthread_mutex_lock(&threads_lock);
        thread->in_use = 0;
        pthread_mutex_unlock(&threads_lock);
        release_object(handle);
        set_error_from_errno(saved);
        return 0;
    }
    thread->finished = 0;
    thread->routine = routine;
    thread->argument = argument;
    thread->result = STILL_ACTIVE;
    thread->owner = k;
    thread->mapping = mapping;
    thread->mapping_bytes = bytes + page;
    thread->ready = 0;
    thread->ready_context = 0;
    thread->deadline = NO_DEADLINE;
    thread->last_error = ERROR_SUCCESS;
    thread->last_errno = 0;
    thread->asan_fake_stack = 0;
    thread->stack_bottom = mapping + page;
    thread->stack_size = bytes;
#ifdef USE_TSAN_FIBERS
    thread->tsan_fiber = __tsan_create_fiber(0);
#endif
    context_prepare(&thread->context, mapping + page, bytes, thread_entry);
    UserThread *last = &k->own; /* joins the ring at its end */
    while (last->next != &k->own) last = last->next;
    thread->next = &k->own;
    last->next = thread;
    ((PosixObject *)handle)->thread = index;
    if (thread_id) *thread_id = (DWORD)(index + 1);
    return handle;
}

BOOL thread_close(PosixObject *object) {
    pthread_mutex_lock(&threads_lock);
    UserThread *thread = &threads[object->thread];
    thread->handle_open = 0;
    if (thread->finished && !thread->mapping) thread->in_use = 0;
    pthread_mutex_unlock(&threads_lock);
    release_object((HANDLE)object);
    return TRUE;
}

static int thread_has_ended(void *thread) { return ((UserThread *)thread)->finished; }

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    if (is_console_handle(handle)) return console_wait_input(handle, milliseconds);
    PosixObject *object = object_from_handle(handle, OBJECT_THREAD);
    if (!object || threads[object->thread].owner != this_kernel_thread()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    switch (wait_until(thread_has_ended, &threads[object->thread], milliseconds)) {
    case WAIT_ENDED: return WAIT_OBJECT_0;
    case WAIT_TIMED_OUT: return WAIT_TIMEOUT;
    default:
        SetLastError(ERROR_POSSIBLE_DEADLOCK);
        return WAIT_FAILED;
    }
}

BOOL GetExitCodeThread(HANDLE handle, LPDWORD exit_code) {
    PosixObject *object = object_from_handle(handle, OBJECT_THREAD);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    UserThread *thread = &threads[object->thread];
    *exit_code = thread->finished ? thread->result : STILL_ACTIVE;
    return TRUE;
}

/* Test hook: when set, Sleep calls it instead of sleeping (and only lets
 * the other user-mode threads take their turn). */
void (*sleep_hook)(DWORD milliseconds);

void Sleep(DWORD milliseconds) {
    console_before_wait();
    if (sleep_hook) {
        sleep_hook(milliseconds);
        milliseconds = 0;
    }
    wait_until(0, 0, milliseconds);
}

void ExitProcess(UINT status) {
    flush_all_files();
    console_shutdown();
    fflush(stdout);
    _exit((int)status);
}
