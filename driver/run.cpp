/* run.cpp -- the transfer: dagoma0.g and the pipe are created, the
 * generator thread streams the toolpath and the receive loop stores it. */
#include "driver.h"

#include "../console/console.h"
#include "../link/link.h"
#include "../toolpath/toolpath.h"

#define COMPLETION_TEXT "Created file:     dagoma0.g (in current directory)"
#define GENERATOR_END_WAIT_MS 2000

static void report_receive_failure(ReceiveResult result) {
    switch (result) {
    case RECEIVE_FILE_FAILED:
        report_system_error("Cannot write " OUTPUT_FILE_NAME, receive_status.error);
        break;
    case RECEIVE_LINK_BROKEN:
        report_system_error("The link to the generator broke", receive_status.error);
        break;
    case RECEIVE_BAD_MESSAGE:
        report_error("The link to the generator broke: a message was empty or longer than 47 bytes.\n");
        break;
    case RECEIVE_DONE:
        break;
    }
}

int run_transfer(HANDLE input, HANDLE output) {
    HANDLE file = create_output_file();
    if (file == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_SHARING_VIOLATION)
            report_error("Cannot create " OUTPUT_FILE_NAME ": another run is writing it in this folder.\n");
        else
            report_system_error("Cannot create " OUTPUT_FILE_NAME, GetLastError());
        end_run(1);
    }
    HANDLE pipe = create_link_server();
    if (pipe == INVALID_HANDLE_VALUE) {
        report_error("Cannot create named pipe.\n");
        end_run(1);
    }
    HANDLE thread = CreateThread(NULL, 0, generator_thread, NULL, 0, NULL);
    if (thread == NULL) {
        report_error("Cannot create thread.\n");
        end_run(1);
    }
    wait_for_client(pipe);

    ProgressBar bar;
    reset_progress(&bar, output);
    FlushConsoleInputBuffer(input);
    ReceiveResult result = receive_loop(pipe, file, &bar);
    if (result != RECEIVE_DONE) {
        report_receive_failure(result);
        end_run(1);
    }
    /* Every byte is on the disk under the name dagoma0.g, or the failure
     * is told, before the completion line. */
    switch (finish_output_file(file)) {
    case OUTPUT_NOT_WRITTEN:
        report_system_error("Cannot write " OUTPUT_FILE_NAME, GetLastError());
        end_run(1);
    case OUTPUT_NOT_REPLACED:
        report_system_error("Cannot replace " OUTPUT_FILE_NAME, GetLastError());
        end_run(1);
    case OUTPUT_IN_PLACE:
        break;
    }

    write_at(output, 4, 15, COMPLETION_TEXT, (DWORD)(sizeof COMPLETION_TEXT - 1));

    /* The generator closes its end right after the last reply; waiting for
     * it means the server end is never cut while the thread still uses it. */
    WaitForSingleObject(thread, GENERATOR_END_WAIT_MS);
    if (!close_link_and_file(pipe, file)) {
        report_system_error("Cannot close " OUTPUT_FILE_NAME, GetLastError());
        end_run(1);
    }
    return 0;
}
