/* objects.cpp -- the POSIX layer's handle table, last-error value, error
 * texts and futex wait; also CloseHandle, ReadFile and WriteFile, which
 * dispatch on what a handle stands for. */
#include "posix_internal.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <limits.h>
#include <linux/futex.h>
#include <stdio.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

static PosixObject objects[MAX_OBJECTS];
static pthread_mutex_t objects_lock = PTHREAD_MUTEX_INITIALIZER;

thread_local DWORD last_error;
thread_local int last_errno;

DWORD GetLastError(void) { return last_error; }

void SetLastError(DWORD code) {
    last_error = code;
    last_errno = 0;
}

static DWORD code_from_errno(int error_number) {
    switch (error_number) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EMFILE: case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES: case EPERM: case EROFS: case EISDIR: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ENOSPC: case EDQUOT: return ERROR_DISK_FULL;
    case EFBIG: return ERROR_FILE_TOO_LARGE;
    case EEXIST: return ERROR_FILE_EXISTS;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENAMETOOLONG: return ERROR_INVALID_NAME;
    case EPIPE: return ERROR_NO_DATA;
    case EIO: return ERROR_WRITE_FAULT;
    default: return ERROR_GEN_FAILURE;
    }
}

void set_error_from_errno(int error_number) {
    last_error = code_from_errno(error_number);
    last_errno = error_number;
}

void describe_system_error(DWORD code, char *text, size_t size) {
    if (size == 0) return;
    const char *reason = 0;
    if (last_errno != 0 && code == last_error) {
        reason = strerror(last_errno);
    } else {
        switch (code) {
        case ERROR_FILE_NOT_FOUND: reason = "The system cannot find the file specified."; break;
        case ERROR_PATH_NOT_FOUND: reason = "The system cannot find the path specified."; break;
        case ERROR_ACCESS_DENIED: reason = "Access is denied."; break;
        case ERROR_INVALID_HANDLE: reason = "The handle is invalid."; break;
        case ERROR_DISK_FULL: reason = "There is not enough space on the disk."; break;
        case ERROR_BROKEN_PIPE: reason = "The pipe has been ended."; break;
        case ERROR_NO_DATA: reason = "The pipe is being closed."; break;
        case ERROR_PIPE_BUSY: reason = "All pipe instances are busy."; break;
        case ERROR_PIPE_NOT_CONNECTED: reason = "No process is on the other end of the pipe."; break;
        case ERROR_HANDLE_EOF: reason = "Reached the end of the file."; break;
        default: break;
        }
    }
    if (reason) snprintf(text, size, "%s", reason);
    else snprintf(text, size, "system error %u", (unsigned)code);
}

PosixObject *object_from_handle(HANDLE handle, int kind) {
    PosixObject *object = (PosixObject *)handle;
    if (object < objects || object >= objects + MAX_OBJECTS) return 0;
    if (object->kind != kind) return 0;
    return object;
}

HANDLE allocate_object(int kind) {
    pthread_mutex_lock(&objects_lock);
    for (int i = 0; i < MAX_OBJECTS; i++) {
        if (objects[i].kind == OBJECT_FREE) {
            memset(&objects[i], 0, sizeof objects[i]);
            objects[i].kind = kind;
            objects[i].fd = -1;
            objects[i].write_buffer = -1;
            pthread_mutex_unlock(&objects_lock);
            return (HANDLE)&objects[i];
        }
    }
    pthread_mutex_unlock(&objects_lock);
    SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    return INVALID_HANDLE_VALUE;
}

void release_object(HANDLE handle) {
    pthread_mutex_lock(&objects_lock);
    ((PosixObject *)handle)->kind = OBJECT_FREE;
    pthread_mutex_unlock(&objects_lock);
}

static PosixObject *any_object(HANDLE handle) {
    PosixObject *object = (PosixObject *)handle;
    if (object < objects || object >= objects + MAX_OBJECTS || object->kind == OBJECT_FREE) return 0;
    return object;
}

void futex_wait(std::atomic<uint32_t> *word, uint32_t expected) {
    syscall(SYS_futex, (uint32_t *)word, FUTEX_WAIT_PRIVATE, expected, NULL, NULL, 0);
}

int futex_wait_ms(std::atomic<uint32_t> *word, uint32_t expected, DWORD milliseconds) {
    struct timespec timeout;
    timeout.tv_sec = milliseconds / 1000;
    timeout.tv_nsec = (long)(milliseconds % 1000) * 1000000L;
    long result = syscall(SYS_futex, (uint32_t *)word, FUTEX_WAIT_PRIVATE, expected, &timeout, NULL, 0);
    return result == -1 && errno == ETIMEDOUT ? 0 : 1;
}

void futex_wake_all(std::atomic<uint32_t> *word) {
    syscall(SYS_futex, (uint32_t *)word, FUTEX_WAKE_PRIVATE, INT_MAX, NULL, NULL, 0);
}

static BOOL write_fd(int fd, const void *data, DWORD count) {
    const char *bytes = (const char *)data;
    DWORD done = 0;
    while (done < count) {
        ssize_t n = write(fd, bytes + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            set_error_from_errno(errno);
            return FALSE;
        }
        done += (DWORD)n;
    }
    return TRUE;
}

BOOL read_fd(int fd, void *data, DWORD count, DWORD *read_count) {
    ssize_t n;
    do n = read(fd, data, count);
    while (n < 0 && errno == EINTR);
    if (n < 0) {
        set_error_from_errno(errno);
        return FALSE;
    }
    if (read_count) *read_count = (DWORD)n;
    return TRUE;
}

/* Gathers file writes: one write(2) per buffer instead of one per call. */
#define FILE_BUFFER_BYTES (256 * 1024)
#define FILE_BUFFERS 4
static char file_buffers[FILE_BUFFERS][FILE_BUFFER_BYTES];
static DWORD file_buffer_used[FILE_BUFFERS];
static int file_buffer_taken[FILE_BUFFERS];

static void take_file_buffer(PosixObject *object) {
    pthread_mutex_lock(&objects_lock);
    for (int i = 0; i < FILE_BUFFERS; i++) {
        if (!file_buffer_taken[i]) {
            file_buffer_taken[i] = 1;
            file_buffer_used[i] = 0;
            object->write_buffer = i;
            break;
        }
    }
    pthread_mutex_unlock(&objects_lock);
}

BOOL file_flush(PosixObject *object) {
    int b = object->write_buffer;
    if (b < 0 || file_buffer_used[b] == 0) return TRUE;
    DWORD used = file_buffer_used[b];
    file_buffer_used[b] = 0; /* what failed is not written twice */
    return write_fd(object->fd, file_buffers[b], used);
}

void flush_all_files(void) {
    for (int i = 0; i < MAX_OBJECTS; i++)
        if (objects[i].kind == OBJECT_FILE) file_flush(&objects[i]);
}

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share_mode, LPSECURITY_ATTRIBUTES security,
                   DWORD creation, DWORD flags, HANDLE template_file) {
    (void)share_mode; (void)security; (void)flags; (void)template_file;
    if (name == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (is_pipe_name(name)) return pipe_open_client(name);

    /* A full disk or a file size limit is a failed write, not a signal. */
    signal(SIGXFSZ, SIG_IGN);

    int open_flags = O_CLOEXEC;
    if ((access & GENERIC_READ) && (access & GENERIC_WRITE)) open_flags |= O_RDWR;
    else if (access & GENERIC_WRITE) open_flags |= O_WRONLY;
    else open_flags |= O_RDONLY;
    switch (creation) {
    case CREATE_NEW: open_flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: open_flags |= O_CREAT | O_TRUNC; break;
    case OPEN_ALWAYS: open_flags |= O_CREAT; break;
    case TRUNCATE_EXISTING: open_flags |= O_TRUNC; break;
    default: break;
    }
    HANDLE handle = allocate_object(OBJECT_FILE);
    if (handle == INVALID_HANDLE_VALUE) return handle;
    int fd;
    do fd = open(name, open_flags, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        int saved = errno;
        release_object(handle);
        set_error_from_errno(saved);
        return INVALID_HANDLE_VALUE;
    }
    PosixObject *object = (PosixObject *)handle;
    object->fd = fd;
    if (access & GENERIC_WRITE) take_file_buffer(object);
    SetLastError(ERROR_SUCCESS);
    return handle;
}

BOOL WriteFile(HANDLE handle, LPCVOID data, DWORD count, LPDWORD written, LPOVERLAPPED overlapped) {
    (void)overlapped;
    if (written) *written = 0;
    if (is_console_handle(handle)) return console_write_file(handle, data, count, written);
    PosixObject *object = any_object(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (object->kind == OBJECT_PIPE_SERVER || object->kind == OBJECT_PIPE_CLIENT)
        return pipe_write(object, data, count, written);
    if (object->kind != OBJECT_FILE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    int b = object->write_buffer;
    if (b < 0) {
        if (!write_fd(object->fd, data, count)) return FALSE;
    } else if (file_buffer_used[b] + count <= FILE_BUFFER_BYTES) {
        memcpy(file_buffers[b] + file_buffer_used[b], data, count);
        file_buffer_used[b] += count;
        if (file_buffer_used[b] == FILE_BUFFER_BYTES && !file_flush(object)) return FALSE;
    } else {
        if (!file_flush(object)) return FALSE;
        if (count >= FILE_BUFFER_BYTES) {
            if (!write_fd(object->fd, data, count)) return FALSE;
        } else {
            memcpy(file_buffers[b], data, count);
            file_buffer_used[b] = count;
        }
    }
    if (written) *written = count;
    return TRUE;
}

BOOL ReadFile(HANDLE handle, LPVOID data, DWORD count, LPDWORD read_count, LPOVERLAPPED overlapped) {
    (void)overlapped;
    if (read_count) *read_count = 0;
    if (is_console_handle(handle)) return console_read_file(handle, data, count, read_count);
    PosixObject *object = any_object(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (object->kind == OBJECT_PIPE_SERVER || object->kind == OBJECT_PIPE_CLIENT)
        return pipe_read(object, data, count, read_count);
    if (object->kind != OBJECT_FILE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!file_flush(object)) return FALSE;
    return read_fd(object->fd, data, count, read_count);
}

BOOL FlushFileBuffers(HANDLE handle) {
    PosixObject *object = object_from_handle(handle, OBJECT_FILE);
    if (!object) {
        if (is_console_handle(handle)) return TRUE;
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!file_flush(object)) return FALSE;
    /* The bytes go on to the device, so that a failure the system only
     * finds when it writes them back is told here. A device that cannot
     * be synchronised (/dev/null, a terminal) has nothing to wait for. */
    if (fdatasync(object->fd) != 0 && errno != EINVAL && errno != EROFS) {
        set_error_from_errno(errno);
        return FALSE;
    }
    return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
    PosixObject *object = any_object(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    switch (object->kind) {
    case OBJECT_FILE: {
        BOOL ok = file_flush(object);
        int saved = errno;
        if (object->write_buffer >= 0) {
            pthread_mutex_lock(&objects_lock);
            file_buffer_taken[object->write_buffer] = 0;
            pthread_mutex_unlock(&objects_lock);
        }
        if (close(object->fd) != 0 && ok) {
            saved = errno;
            ok = FALSE;
        }
        release_object(handle);
        if (!ok) set_error_from_errno(saved);
        return ok;
    }
    case OBJECT_PIPE_SERVER:
    case OBJECT_PIPE_CLIENT:
        return pipe_close(object);
    case OBJECT_THREAD:
        return thread_close(object);
    default:
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
}
