/* link.cpp -- both ends of the pipe link: the sender, which waits for a
 * one-byte reply after every line, and the receive loop, which stores each
 * line in dagoma0.g, replies, and shows it. */
#include "link.h"

#include <string.h>

ReceiveStatus receive_status;

/* Consecutive failed reads after which a link counts as broken for good. */
#define READ_RETRIES 1000

HANDLE create_link_server(void) {
    return CreateNamedPipeA(LINK_PIPE_NAME, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                            LINK_INSTANCES, LINK_BUFFER_BYTES, LINK_BUFFER_BYTES, 0, NULL);
}

void wait_for_client(HANDLE pipe) {
    /* A client that came first makes this fail with ERROR_PIPE_CONNECTED:
     * connected all the same. */
#ifdef _WIN32
    /* Every run on the machine serves the same pipe name: a client of
     * another process is sent away, and so is one that came and went
     * already, and the wait goes on for this process's own generator. */
    for (;;) {
        DWORD error = ConnectNamedPipe(pipe, NULL) ? ERROR_SUCCESS : GetLastError();
        if (error != ERROR_SUCCESS && error != ERROR_PIPE_CONNECTED && error != ERROR_NO_DATA) return;
        ULONG client = 0;
        if (error != ERROR_NO_DATA &&
            (!GetNamedPipeClientProcessId(pipe, &client) || client == GetCurrentProcessId()))
            return;
        DisconnectNamedPipe(pipe);
    }
#else
    ConnectNamedPipe(pipe, NULL);
#endif
}

#ifdef _WIN32
/* Attempts, and the pause between them, before the client gives up. */
#define LINK_OPEN_ATTEMPTS 250
#define LINK_OPEN_PAUSE_MS 20

/* The end of this process's own server: an end that another run serves is
 * closed again (that run sends it away too) and the open is tried anew,
 * also while every instance is busy, for about five seconds at most. */
static HANDLE open_own_link_end(void) {
    for (int attempt = 0; attempt < LINK_OPEN_ATTEMPTS; attempt++) {
        HANDLE pipe = CreateFileA(LINK_PIPE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        if (pipe != INVALID_HANDLE_VALUE) {
            ULONG server = 0;
            if (!GetNamedPipeServerProcessId(pipe, &server) || server == GetCurrentProcessId()) return pipe;
            CloseHandle(pipe);
        } else if (GetLastError() != ERROR_PIPE_BUSY && GetLastError() != ERROR_FILE_NOT_FOUND) {
            return INVALID_HANDLE_VALUE;
        }
        Sleep(LINK_OPEN_PAUSE_MS);
    }
    return INVALID_HANDLE_VALUE;
}
#endif

HANDLE open_link_client(void) {
#ifdef _WIN32
    HANDLE pipe = open_own_link_end();
#else
    HANDLE pipe = CreateFileA(LINK_PIPE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
#endif
    if (pipe == INVALID_HANDLE_VALUE) report_error("Cannot open pipe.\n");
    return pipe;
}

/* An error after which the pipe will never give another byte. */
static int link_gone(DWORD error) {
    return error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED || error == ERROR_NO_DATA ||
           error == ERROR_INVALID_HANDLE;
}

/* One write of every byte, or the link counts as broken: a message that
 * went out short would leave both ends waiting for each other. */
static BOOL write_whole(HANDLE pipe, const char *bytes, DWORD count) {
    DWORD written = 0;
    if (!WriteFile(pipe, bytes, count, &written, NULL)) return FALSE;
    if (written != count) {
        SetLastError(ERROR_WRITE_FAULT);
        return FALSE;
    }
    return TRUE;
}

BOOL send_command(HANDLE pipe, const char *text) {
    if (!write_whole(pipe, text, (DWORD)strlen(text))) return FALSE;
    char reply;
    for (int failures = 0;;) {
        DWORD got = 0;
        BOOL read_ok = ReadFile(pipe, &reply, 1, &got, NULL);
        if (read_ok && got == 1) return TRUE;
        /* a read that gave no byte is retried; only a failed one has an error */
        if ((read_ok || !link_gone(GetLastError())) && ++failures < READ_RETRIES) {
            Sleep(1);
            continue;
        }
        return FALSE;
    }
}

ReceiveResult receive_loop(HANDLE pipe, HANDLE file, ProgressBar *bar) {
    char receive_buffer[RECEIVE_BUFFER_BYTES];
    memset(receive_buffer, 0, sizeof receive_buffer);
    receive_status.message_count = 0;
    receive_status.error = ERROR_SUCCESS;
    for (;;) {
        memset(receive_buffer, ' ', MAX_MESSAGE_BYTES);
        DWORD n = 0;
        int failures = 0;
        while (!ReadFile(pipe, receive_buffer, MAX_MESSAGE_BYTES, &n, NULL)) {
            DWORD error = GetLastError();
            if (link_gone(error) || ++failures >= READ_RETRIES) {
                receive_status.error = error;
                return RECEIVE_LINK_BROKEN;
            }
            Sleep(1); /* a failing read is retried, never spun on */
        }
        if (receive_buffer[0] == '-' && strncmp(receive_buffer, END_MARKER, 5) == 0) break;
        if (n == 0) return RECEIVE_BAD_MESSAGE;
        if (n == MAX_MESSAGE_BYTES) {
            /* a message that fills the read may have more bytes behind it */
            DWORD left = 0;
            if (PeekNamedPipe(pipe, NULL, 0, NULL, &left, NULL) && left > 0) return RECEIVE_BAD_MESSAGE;
        }
        if (!write_whole(file, receive_buffer, n)) {
            receive_status.error = GetLastError();
            return RECEIVE_FILE_FAILED;
        }
        /* counted and shown only once it is stored */
        receive_status.message_count++;
        advance_progress(bar, receive_status.message_count);
        if (!write_whole(pipe, ACK, 1)) {
            receive_status.error = GetLastError();
            return RECEIVE_LINK_BROKEN;
        }
        show_live_line(bar, receive_buffer, n);
    }
    close_progress_bar(bar);
    if (!write_whole(pipe, ACK, 1)) {
        receive_status.error = GetLastError();
        return RECEIVE_LINK_BROKEN;
    }
    return RECEIVE_DONE;
}

BOOL close_link_and_file(HANDLE pipe, HANDLE file) {
    DisconnectNamedPipe(pipe);
    CloseHandle(pipe);
    return CloseHandle(file);
}
