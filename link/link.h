/* link.h -- the named pipe between the generator thread and the main
 * thread, the file sink that stores every line in dagoma0.g, and the
 * progress display that shows the run. */
#ifndef QUOMBAX_LINK_H
#define QUOMBAX_LINK_H

#include "../driver/quombax.h"

#include <stdint.h>

#define LINK_PIPE_NAME "\\\\.\\pipe\\pipe_quombax"
#define OUTPUT_FILE_NAME "dagoma0.g"
#define END_MARKER "-EOT-"
#define ACK "-"
#define MAX_MESSAGE_BYTES 47
#define RECEIVE_BUFFER_BYTES 48
#define LINK_INSTANCES 2
#define LINK_BUFFER_BYTES 255

#define EXPECTED_MESSAGES 6296731ull
#define PERCENT_STEP 1.26

/* The bar of "=" marks on row 14 and its percentage. */
struct ProgressBar {
    int32_t next_column;
    double percent;
    HANDLE output; /* the console output handle it draws on */
};

/* How a receive loop ended. */
enum ReceiveResult {
    RECEIVE_DONE = 0,       /* the end marker came and was answered */
    RECEIVE_FILE_FAILED,    /* a write to dagoma0.g failed */
    RECEIVE_LINK_BROKEN,    /* the pipe broke for good */
    RECEIVE_BAD_MESSAGE,    /* an empty message, or one longer than 47 bytes */
};

/* What the receive loop saw; read by the driver and by the tests. */
struct ReceiveStatus {
    uint64_t message_count;
    DWORD error; /* the system's error code of a failure */
};

extern ReceiveStatus receive_status;

/* How the finished file was put in place. */
enum OutputResult {
    OUTPUT_IN_PLACE = 0,   /* dagoma0.g is this run's whole file, on the disk */
    OUTPUT_NOT_WRITTEN,    /* the last bytes could not be written (GetLastError) */
    OUTPUT_NOT_REPLACED,   /* the finished file could not be renamed into place (GetLastError) */
};

/* Creates the file the run writes: dagoma0.g.part next to where dagoma0.g
 * ends up (the final target of a symbolic link), or a device or FIFO that
 * dagoma0.g names, in place. INVALID_HANDLE_VALUE with the last error when
 * it cannot; ERROR_SHARING_VIOLATION when another run is writing it. */
HANDLE create_output_file(void);
/* Flushes the file to the disk and renames it over dagoma0.g. */
OutputResult finish_output_file(HANDLE file);
/* Removes the partial file unless it is already in place: on every way
 * out but the finished run. Safe inside a signal handler. */
void discard_output_file(void);
HANDLE create_link_server(void);
void wait_for_client(HANDLE pipe);
HANDLE open_link_client(void);
BOOL send_command(HANDLE pipe, const char *text);
ReceiveResult receive_loop(HANDLE pipe, HANDLE file, ProgressBar *bar);
/* Disconnects and closes the pipe, then closes the file: FALSE when that close failed. */
BOOL close_link_and_file(HANDLE pipe, HANDLE file);

void reset_progress(ProgressBar *bar, HANDLE output);
void advance_progress(ProgressBar *bar, uint64_t message_count);
void show_live_line(ProgressBar *bar, char *buffer, DWORD n);
void close_progress_bar(ProgressBar *bar);

#endif
