/* objects.cpp -- the POSIX layer's handle table, last-error value, error
 * texts, files (created, renamed, removed); also CloseHandle, ReadFile and WriteFile, which
 * dispatch on what a handle stands for. */
#include "posix_internal.h"
#include "system_seam.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <limits.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static PosixObject objects[MAX_OBJECTS];
static pthread_mutex_t objects_lock = PTHREAD_MUTEX_INITIALIZER;

__thread DWORD last_error;
__thread int last_errno;

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
        case ERROR_SHARING_VIOLATION:
            reason = "The process cannot access the file because it is being used by another process.";
            break;
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

int write_all(int fd, const void *data, size_t size, const struct timespec *deadline) {
    const char *bytes = (const char *)data;
    while (size > 0) {
        ssize_t n = write(fd, bytes, size);
        if (n > 0) {
            bytes += n;
            size -= (size_t)n;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) { /* no room and no error: nothing will ever go */
            errno = EIO;
            return 0;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) return 0;
        int wait_ms = -1;
        if (deadline) {
            struct timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            long long left = nanoseconds_between(&now, deadline) / 1000000;
            if (left <= 0) return 0;
            wait_ms = (int)left;
        }
        struct pollfd writable = {fd, POLLOUT, 0};
        poll(&writable, 1, wait_ms);
    }
    return 1;
}

static BOOL write_fd(int fd, const void *data, DWORD count) {
    if (write_all(fd, data, count, NULL)) return TRUE;
    set_error_from_errno(errno);
    return FALSE;
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

/* Opens name; with exclusive, a regular file also gets an exclusive flock,
 * without waiting, and only then, with truncate, is it emptied: an open
 * that is refused changes nothing. The lock is taken on what the name stood
 * for when it was opened: if another process renamed or removed that file
 * meanwhile (a run that finished and moved its file into place), the open
 * is made anew. Gives the descriptor, or -1 with the last error set. */
static int open_locked(const char *name, int open_flags, int exclusive, int truncate) {
    if (!exclusive && truncate) open_flags |= O_TRUNC;
    for (int attempt = 0; attempt < 100; attempt++) {
        int fd;
        do fd = open(name, open_flags, 0666);
        while (fd < 0 && errno == EINTR);
        if (fd < 0) {
            set_error_from_errno(errno);
            return -1;
        }
        if (!exclusive) return fd;
        struct stat opened;
        if (fstat(fd, &opened) != 0) {
            set_error_from_errno(errno);
            close(fd);
            return -1;
        }
        if (!S_ISREG(opened.st_mode)) return fd; /* a device or a FIFO: nothing to lock or empty */
        int locked;
        do locked = flock(fd, LOCK_EX | LOCK_NB);
        while (locked != 0 && errno == EINTR);
        if (locked != 0) {
            int saved = errno;
            close(fd);
            if (saved == EWOULDBLOCK) SetLastError(ERROR_SHARING_VIOLATION);
            else set_error_from_errno(saved);
            return -1;
        }
        struct stat named;
        if (stat(name, &named) != 0 || named.st_dev != opened.st_dev || named.st_ino != opened.st_ino) {
            close(fd);
            continue;
        }
        if (truncate && ftruncate(fd, 0) != 0) {
            set_error_from_errno(errno);
            close(fd);
            return -1;
        }
        return fd;
    }
    SetLastError(ERROR_SHARING_VIOLATION);
    return -1;
}

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share_mode, LPSECURITY_ATTRIBUTES security,
                   DWORD creation, DWORD flags, HANDLE template_file) {
    (void)security; (void)flags; (void)template_file;
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
    case CREATE_ALWAYS: open_flags |= O_CREAT; break;
    case OPEN_ALWAYS: open_flags |= O_CREAT; break;
    default: break;
    }
    int truncate = creation == CREATE_ALWAYS || creation == TRUNCATE_EXISTING;
    /* A share mode that does not share writing keeps other writers out. */
    int exclusive = (access & GENERIC_WRITE) && !(share_mode & FILE_SHARE_WRITE);
    HANDLE handle = allocate_object(OBJECT_FILE);
    if (handle == INVALID_HANDLE_VALUE) return handle;
    int fd = open_locked(name, open_flags, exclusive, truncate);
    if (fd < 0) {
        release_object(handle); /* keeps the last error */
        return INVALID_HANDLE_VALUE;
    }
    PosixObject *object = (PosixObject *)handle;
    object->fd = fd;
    if (access & GENERIC_WRITE) take_file_buffer(object);
    SetLastError(ERROR_SUCCESS);
    return handle;
}

/* A write to a file: gathered in its buffer. */
__attribute__((noinline)) static BOOL file_write(PosixObject *object, const void *data, DWORD count, DWORD *written) {
    int b = object->write_buffer;
    if (b < 0) {
        if (!write_fd(object->fd, data, count)) return FALSE;
    } else if (count <= FILE_BUFFER_BYTES - file_buffer_used[b]) { /* never wraps: used <= the size */
        if (count <= 64) copy_small(file_buffers[b] + file_buffer_used[b], (const char *)data, count);
        else memcpy(file_buffers[b] + file_buffer_used[b], data, count);
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

/* A handle outside the table: the console's, or none. */
__attribute__((noinline)) static BOOL console_write_or_fail(HANDLE handle, const void *data, DWORD count,
                                                            DWORD *written) {
    if (is_console_handle(handle)) return console_write_file(handle, data, count, written);
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

__attribute__((noinline)) static BOOL console_read_or_fail(HANDLE handle, void *data, DWORD count,
                                                           DWORD *read_count) {
    if (is_console_handle(handle)) return console_read_file(handle, data, count, read_count);
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

/* A read from a file: what was gathered for it is written first. */
__attribute__((noinline)) static BOOL file_read(PosixObject *object, void *data, DWORD count, DWORD *read_count) {
    if (!file_flush(object)) return FALSE;
    return read_fd(object->fd, data, count, read_count);
}

/* ReadFile and WriteFile look in the handle table first: the pipe and the
 * file take nearly every call. Every other path is out of line, so that
 * the dispatch itself takes no frame. */
BOOL WriteFile(HANDLE handle, LPCVOID data, DWORD count, LPDWORD written, LPOVERLAPPED overlapped) {
    (void)overlapped;
    if (written) *written = 0;
    PosixObject *object = any_object(handle);
    if (!object) return console_write_or_fail(handle, data, count, written);
    if (object->kind == OBJECT_PIPE_SERVER || object->kind == OBJECT_PIPE_CLIENT)
        return pipe_write(object, data, count, written);
    if (object->kind == OBJECT_FILE) return file_write(object, data, count, written);
    return console_write_or_fail(handle, data, count, written);
}

BOOL ReadFile(HANDLE handle, LPVOID data, DWORD count, LPDWORD read_count, LPOVERLAPPED overlapped) {
    (void)overlapped;
    if (read_count) *read_count = 0;
    PosixObject *object = any_object(handle);
    if (!object) return console_read_or_fail(handle, data, count, read_count);
    if (object->kind == OBJECT_PIPE_SERVER || object->kind == OBJECT_PIPE_CLIENT)
        return pipe_read(object, data, count, read_count);
    if (object->kind == OBJECT_FILE) return file_read(object, data, count, read_count);
    return console_read_or_fail(handle, data, count, read_count);
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
    if (sync_file_data(object->fd) != 0 && errno != EINVAL && errno != EROFS) {
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

/* The folder part of path ("." for a bare name) into folder. */
static void folder_of(const char *path, char *folder, size_t size) {
    const char *slash = strrchr(path, '/');
    if (!slash) {
        snprintf(folder, size, ".");
        return;
    }
    size_t length = slash == path ? 1 : (size_t)(slash - path);
    snprintf(folder, size, "%.*s", (int)length, path);
}

BOOL MoveFileExA(LPCSTR existing_name, LPCSTR new_name, DWORD flags) {
    if (!(flags & MOVEFILE_REPLACE_EXISTING) && access(new_name, F_OK) == 0) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    if (rename(existing_name, new_name) != 0) {
        set_error_from_errno(errno);
        return FALSE;
    }
    if (flags & MOVEFILE_WRITE_THROUGH) {
        /* The new name itself goes to the disk: the folder is synchronised. */
        char folder[PATH_MAX];
        folder_of(new_name, folder, sizeof folder);
        int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0 || (fsync(fd) != 0 && errno != EINVAL && errno != EROFS)) {
            int saved = errno;
            if (fd >= 0) close(fd);
            set_error_from_errno(saved);
            return FALSE;
        }
        close(fd);
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

/* Safe inside a signal handler. */
BOOL DeleteFileA(LPCSTR name) {
    if (unlink(name) != 0) {
        set_error_from_errno(errno);
        return FALSE;
    }
    return TRUE;
}

#define MAX_LINK_HOPS 40

FileTarget find_file_target(const char *name, char *path, size_t size) {
    if (snprintf(path, size, "%s", name) >= (int)size) {
        set_error_from_errno(ENAMETOOLONG);
        return TARGET_ERROR;
    }
    for (int hop = 0; hop <= MAX_LINK_HOPS; hop++) {
        struct stat about;
        if (lstat(path, &about) != 0) {
            if (errno == ENOENT) return TARGET_NONE;
            set_error_from_errno(errno);
            return TARGET_ERROR;
        }
        if (S_ISREG(about.st_mode)) return TARGET_FILE;
        if (S_ISDIR(about.st_mode)) {
            set_error_from_errno(EISDIR);
            return TARGET_DIRECTORY;
        }
        if (!S_ISLNK(about.st_mode)) return TARGET_OTHER;
        char target[PATH_MAX];
        ssize_t length = readlink(path, target, sizeof target - 1);
        if (length < 0) {
            set_error_from_errno(errno);
            return TARGET_ERROR;
        }
        target[length] = 0;
        /* A relative target is taken from the link's own folder. */
        char folder[PATH_MAX];
        folder_of(path, folder, sizeof folder);
        int written = target[0] == '/' || strcmp(folder, ".") == 0
                          ? snprintf(path, size, "%s", target)
                          : snprintf(path, size, "%s/%s", folder, target);
        if (written < 0 || written >= (int)size) {
            set_error_from_errno(ENAMETOOLONG);
            return TARGET_ERROR;
        }
    }
    set_error_from_errno(ELOOP);
    return TARGET_ERROR;
}
