/* pipe.cpp -- named pipes for the POSIX layer.
 *
 * A pipe here only ever joins user-mode threads of one kernel thread
 * (thread.cpp), so its data path is a plain in-process slot for each
 * direction: a write fills the slot with up to 56 bytes, a read takes them;
 * a read that finds the slot empty, or a write that finds it full, waits,
 * and the wait lets the other end run. One write of up to 56 bytes is
 * therefore taken whole by one read that asks for at least as many bytes.
 *
 * The name and the instance limit hold across the processes of one user:
 * each server end holds a lock on a file "<pipe name>#<instance>.lock" in
 * the user's private folder, which the kernel releases when the process
 * dies, so a killed run never blocks the next one, and other users' runs
 * never count. A client that opens the name joins a waiting server end of
 * its own kernel thread, never another run's. */
#include "posix_internal.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#define SLOT_BYTES 56u
#define SLOT_EMPTY_WRITE 0x80000000u /* the count of a slot that holds a write of 0 bytes */
#define MAX_PIPES 8
#define PIPE_NAME_BYTES 96

/* One direction of a pipe: the bytes of one write (a longer write goes
 * through it in pieces). The reader takes bytes from `start` and empties
 * the slot when all are taken. */
struct PipeSlot {
    uint32_t count;      /* bytes in the slot, 0 when empty */
    uint32_t start;      /* reader's: first byte not yet taken */
    int broken;          /* an end of its pipe closed or disconnected */
    char data[SLOT_BYTES];
};

struct PipeInstance {
    int in_use;             /* guarded by pipes_lock */
    char name[PIPE_NAME_BYTES];
    int registry_fd;
    void *owner;            /* the kernel thread whose user-mode threads it joins */
    int server_open;        /* guarded by pipes_lock */
    int client_open;        /* guarded by pipes_lock */
    int client_attached;    /* guarded by pipes_lock: a client has joined */
    PipeSlot to_server;
    PipeSlot to_client;
};

static PipeInstance pipes[MAX_PIPES];
static pthread_mutex_t pipes_lock = PTHREAD_MUTEX_INITIALIZER;

int is_pipe_name(const char *name) {
    return strncmp(name, "\\\\.\\pipe\\", 9) == 0;
}

/* What ends the waits of the two ends. */
static int slot_filled(void *slot) {
    PipeSlot *s = (PipeSlot *)slot;
    return s->count != 0 || s->broken;
}

static int slot_emptied(void *slot) {
    PipeSlot *s = (PipeSlot *)slot;
    return s->count == 0 || s->broken;
}

/* Both directions break together, so either one tells. */
static int pipe_broken(const PipeInstance *pipe) { return pipe->to_server.broken; }

static int client_came(void *pipe) {
    PipeInstance *p = (PipeInstance *)pipe;
    return p->client_attached || pipe_broken(p);
}

/* The folder of this user's pipe names: $XDG_RUNTIME_DIR where it is this
 * user's private folder, else quombax-<uid> in the temporary folder, made
 * private. A folder that another user owns or can write is never used, so
 * no other user can take or block this user's names. */
static int private_folder(const char *path) {
    struct stat about;
    return lstat(path, &about) == 0 && S_ISDIR(about.st_mode) && about.st_uid == geteuid() &&
           (about.st_mode & 077) == 0;
}

static int registry_folder(char *folder, size_t size) {
    const char *runtime = getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && strlen(runtime) < size && private_folder(runtime)) {
        snprintf(folder, size, "%s", runtime);
        return 1;
    }
    const char *temporary = getenv("TMPDIR");
    if (!temporary || temporary[0] != '/') temporary = "/tmp";
    if (snprintf(folder, size, "%s/quombax-%u", temporary, (unsigned)geteuid()) >= (int)size) return 0;
    if (mkdir(folder, 0700) != 0 && errno != EEXIST) return 0;
    return private_folder(folder);
}

/* Claims one of the name's instances: an exclusive lock on the file
 * "<folder>/<name>#<instance>.lock", which the kernel drops when the
 * process dies, so a killed run never blocks the next one. */
static int registry_claim(const char *name, DWORD max_instances) {
    char folder[PATH_MAX - 2 * PIPE_NAME_BYTES];
    if (!registry_folder(folder, sizeof folder)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return -1;
    }
    const char *short_name = name + strlen("\\\\.\\pipe\\");
    for (DWORD instance = 0; instance < max_instances; instance++) {
        char path[PATH_MAX];
        int length = snprintf(path, sizeof path, "%s/", folder);
        for (const char *c = short_name; *c && length < PATH_MAX - 32; c++)
            path[length++] = *c == '/' || *c == '\\' ? '_' : *c;
        snprintf(path + length, sizeof path - (size_t)length, "#%u.lock", (unsigned)instance);
        int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            set_error_from_errno(errno);
            return -1;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
        int saved = errno;
        close(fd);
        if (saved != EWOULDBLOCK && saved != EINTR) {
            set_error_from_errno(saved);
            return -1;
        }
    }
    SetLastError(ERROR_PIPE_BUSY);
    return -1;
}

HANDLE CreateNamedPipeA(LPCSTR name, DWORD open_mode, DWORD pipe_mode, DWORD max_instances,
                        DWORD out_buffer_size, DWORD in_buffer_size, DWORD default_timeout,
                        LPSECURITY_ATTRIBUTES security) {
    (void)open_mode; (void)pipe_mode; (void)out_buffer_size; (void)in_buffer_size;
    (void)default_timeout; (void)security;
    if (name == 0 || !is_pipe_name(name) || strlen(name) >= PIPE_NAME_BYTES || max_instances == 0 ||
        max_instances > PIPE_UNLIMITED_INSTANCES) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = allocate_object(OBJECT_PIPE_SERVER);
    if (handle == INVALID_HANDLE_VALUE) return handle;
    pthread_mutex_lock(&pipes_lock);
    int index = -1;
    for (int i = 0; i < MAX_PIPES; i++) {
        if (!pipes[i].in_use) {
            index = i;
            break;
        }
    }
    int fd = index < 0 ? -1 : registry_claim(name, max_instances);
    if (index < 0 || fd < 0) {
        if (index < 0) SetLastError(ERROR_PIPE_BUSY);
        pthread_mutex_unlock(&pipes_lock);
        DWORD saved = GetLastError();
        release_object(handle);
        SetLastError(saved);
        return INVALID_HANDLE_VALUE;
    }
    PipeInstance *pipe = &pipes[index];
    pipe->in_use = 1;
    snprintf(pipe->name, sizeof pipe->name, "%s", name);
    pipe->registry_fd = fd;
    pipe->server_open = 1;
    pipe->client_open = 0;
    pipe->client_attached = 0;
    pipe->owner = kernel_thread_tag();
    pipe->to_server.count = 0;
    pipe->to_server.start = 0;
    pipe->to_server.broken = 0;
    pipe->to_client.count = 0;
    pipe->to_client.start = 0;
    pipe->to_client.broken = 0;
    pthread_mutex_unlock(&pipes_lock);
    PosixObject *object = (PosixObject *)handle;
    object->pipe = index;
    object->reads = &pipe->to_server;
    object->writes = &pipe->to_client;
    SetLastError(ERROR_SUCCESS);
    return handle;
}

HANDLE pipe_open_client(const char *name) {
    HANDLE handle = allocate_object(OBJECT_PIPE_CLIENT);
    if (handle == INVALID_HANDLE_VALUE) return handle;
    pthread_mutex_lock(&pipes_lock);
    int found = -1, busy = 0;
    void *owner = kernel_thread_tag();
    for (int i = 0; i < MAX_PIPES; i++) {
        PipeInstance *pipe = &pipes[i];
        if (!pipe->in_use || !pipe->server_open || pipe_broken(pipe) || pipe->owner != owner ||
            strcmp(pipe->name, name) != 0)
            continue;
        if (pipe->client_attached) {
            busy = 1;
            continue;
        }
        found = i;
        break;
    }
    if (found < 0) {
        pthread_mutex_unlock(&pipes_lock);
        release_object(handle);
        SetLastError(busy ? ERROR_PIPE_BUSY : ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    PipeInstance *pipe = &pipes[found];
    pipe->client_attached = 1;
    pipe->client_open = 1;
    pthread_mutex_unlock(&pipes_lock);
    PosixObject *object = (PosixObject *)handle;
    object->pipe = found;
    object->reads = &pipe->to_client;
    object->writes = &pipe->to_server;
    SetLastError(ERROR_SUCCESS);
    return handle;
}

BOOL ConnectNamedPipe(HANDLE handle, LPOVERLAPPED overlapped) {
    (void)overlapped;
    PosixObject *object = object_from_handle(handle, OBJECT_PIPE_SERVER);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    PipeInstance *pipe = &pipes[object->pipe];
    if (pipe->client_attached) {
        SetLastError(pipe_broken(pipe) ? ERROR_NO_DATA : ERROR_PIPE_CONNECTED);
        return FALSE;
    }
    /* Ends when the client comes, or fails when the pipe is disconnected or
     * closed first, or when no user-mode thread that could come is left. */
    if (wait_until(client_came, pipe, INFINITE) != WAIT_ENDED || !pipe->client_attached) {
        SetLastError(ERROR_NO_DATA);
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

static PipeInstance *pipe_of(PosixObject *object) { return &pipes[object->pipe]; }

/* Puts one write of up to SLOT_BYTES bytes into an empty slot. A write of
 * 0 bytes still reaches the reader, as one read of 0 bytes. */
static inline void fill_slot(PipeSlot *slot, const char *bytes, uint32_t chunk) {
    copy_small(slot->data, bytes, chunk);
    slot->count = chunk ? chunk : SLOT_EMPTY_WRITE;
}

/* A write that is longer than the slot or finds it full: in pieces, each
 * after the wait for the slot to be emptied. */
__attribute__((noinline)) static BOOL pipe_write_waiting(PosixObject *object, const char *bytes, DWORD count,
                                                         DWORD *written) {
    PipeSlot *slot = object->writes;
    DWORD done = 0;
    do {
        /* a wait that cannot end leaves the slot full, as a broken pipe does */
        if ((slot->count != 0 && wait_until(slot_emptied, slot, INFINITE) != WAIT_ENDED) || slot->broken) {
            SetLastError(object->kind == OBJECT_PIPE_SERVER ? ERROR_NO_DATA : ERROR_PIPE_NOT_CONNECTED);
            if (written) *written = done;
            return FALSE;
        }
        uint32_t chunk = count - done < SLOT_BYTES ? count - done : SLOT_BYTES;
        fill_slot(slot, bytes + done, chunk);
        done += chunk;
    } while (done < count);
    if (written) *written = done;
    return TRUE;
}

/* The lock step's write, which finds the slot empty, needs no wait and no
 * frame; every other one is pipe_write_waiting's. */
BOOL pipe_write(PosixObject *object, const void *data, DWORD count, DWORD *written) {
    PipeSlot *slot = object->writes;
    if (count > SLOT_BYTES || slot->count != 0 || slot->broken)
        return pipe_write_waiting(object, (const char *)data, count, written);
    fill_slot(slot, (const char *)data, count);
    if (written) *written = count;
    return TRUE;
}

/* The wait of a read that found the slot empty, kept out of line so that
 * the lock step's reads that need no wait take no frame: 1 once the slot
 * holds bytes, 0 when the pipe broke or no wait could end any more. */
__attribute__((noinline)) static int wait_for_bytes(PipeSlot *slot) {
    wait_until(slot_filled, slot, INFINITE);
    return slot->count != 0;
}

BOOL pipe_read(PosixObject *object, void *data, DWORD count, DWORD *read_count) {
    PipeSlot *slot = object->reads;
    uint32_t filled = slot->count;
    if (__builtin_expect(filled == 0, 0)) {
        if (!wait_for_bytes(slot)) {
            SetLastError(object->kind == OBJECT_PIPE_SERVER ? ERROR_BROKEN_PIPE : ERROR_PIPE_NOT_CONNECTED);
            return FALSE;
        }
        filled = slot->count;
    }
    if (filled == SLOT_EMPTY_WRITE) filled = 0; /* taken as a read of 0 bytes */
    uint32_t available = filled - slot->start;
    uint32_t chunk = available < count ? available : count;
    copy_small((char *)data, slot->data + slot->start, chunk);
    if (chunk == available) {
        slot->start = 0;
        slot->count = 0;
    } else {
        slot->start += chunk;
    }
    if (read_count) *read_count = chunk;
    return TRUE;
}

BOOL PeekNamedPipe(HANDLE handle, LPVOID buffer, DWORD buffer_size, LPDWORD read_count,
                   LPDWORD total_available, LPDWORD left_this_message) {
    PosixObject *object = object_from_handle(handle, OBJECT_PIPE_SERVER);
    if (!object) object = object_from_handle(handle, OBJECT_PIPE_CLIENT);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    PipeSlot *slot = object->reads;
    uint32_t filled = slot->count;
    uint32_t available = filled && filled != SLOT_EMPTY_WRITE ? filled - slot->start : 0;
    if (available == 0 && slot->broken) {
        SetLastError(ERROR_BROKEN_PIPE);
        return FALSE;
    }
    uint32_t chunk = available < buffer_size ? available : buffer_size;
    if (buffer) memcpy(buffer, slot->data + slot->start, chunk);
    if (read_count) *read_count = buffer ? chunk : 0;
    if (total_available) *total_available = available;
    if (left_this_message) *left_this_message = 0;
    return TRUE;
}

/* Every wait on the pipe ends: its condition looks at `broken`. */
static void break_pipe(PipeInstance *pipe) {
    pipe->to_server.broken = 1;
    pipe->to_client.broken = 1;
}

BOOL DisconnectNamedPipe(HANDLE handle) {
    PosixObject *object = object_from_handle(handle, OBJECT_PIPE_SERVER);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    /* The client's end is cut off; this layer does not reconnect an instance. */
    break_pipe(pipe_of(object));
    return TRUE;
}

BOOL pipe_close(PosixObject *object) {
    PipeInstance *pipe = pipe_of(object);
    break_pipe(pipe);
    pthread_mutex_lock(&pipes_lock);
    if (object->kind == OBJECT_PIPE_SERVER) {
        pipe->server_open = 0;
        close(pipe->registry_fd);
        pipe->registry_fd = -1;
    } else {
        pipe->client_open = 0;
    }
    if (!pipe->server_open && !pipe->client_open) pipe->in_use = 0;
    pthread_mutex_unlock(&pipes_lock);
    release_object((HANDLE)object);
    return TRUE;
}
