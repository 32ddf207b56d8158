/* output_file.cpp -- dagoma0.g is whole or untouched: the run writes
 * dagoma0.g.part next to the file's final place, and only once every byte
 * is on the disk does one rename put it there. Any other way out removes
 * the partial file. A dagoma0.g that is a device or a FIFO is written in
 * place. */
#include "link.h"

#include <atomic>
#include <stdio.h>

#define PART_SUFFIX ".part"
#define OUTPUT_PATH_BYTES 4096

enum OutputState {
    OUTPUT_NONE = 0,   /* nothing created */
    OUTPUT_PARTIAL,    /* dagoma0.g.part is being written */
    OUTPUT_RENAMING,   /* the rename is under way: nothing is removed any more */
    OUTPUT_FINISHED,   /* in place: renamed, or written where it stands */
    OUTPUT_DISCARDED,  /* the partial file was removed */
};

static char final_path[OUTPUT_PATH_BYTES];
static char part_path[OUTPUT_PATH_BYTES + sizeof PART_SUFFIX];
/* Changed by the main thread and by a console control routine, which may
 * run in a signal handler or on a thread of its own. */
static std::atomic<int> output_state;

HANDLE create_output_file(void) {
    FileTarget target = find_file_target(OUTPUT_FILE_NAME, final_path, sizeof final_path);
    if (target == TARGET_ERROR || target == TARGET_DIRECTORY) return INVALID_HANDLE_VALUE;
    if (target == TARGET_OTHER) {
        HANDLE file = CreateFileA(final_path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE) output_state.store(OUTPUT_FINISHED);
        return file;
    }
    snprintf(part_path, sizeof part_path, "%s" PART_SUFFIX, final_path); /* always fits */
    /* No other writer while this run holds it: a second run in the same
     * folder is refused here, before it changes anything. Sharing the
     * delete lets the finished file be renamed while it is still open. */
    HANDLE file = CreateFileA(part_path, GENERIC_WRITE, FILE_SHARE_DELETE, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) output_state.store(OUTPUT_PARTIAL);
    return file;
}

OutputResult finish_output_file(HANDLE file) {
    if (!FlushFileBuffers(file)) return OUTPUT_NOT_WRITTEN;
    int expected = OUTPUT_PARTIAL;
    if (!output_state.compare_exchange_strong(expected, OUTPUT_RENAMING))
        return expected == OUTPUT_FINISHED ? OUTPUT_IN_PLACE : OUTPUT_NOT_REPLACED;
    if (!MoveFileExA(part_path, final_path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DWORD error = GetLastError();
        output_state.store(OUTPUT_PARTIAL);
        SetLastError(error);
        return OUTPUT_NOT_REPLACED;
    }
    output_state.store(OUTPUT_FINISHED);
    return OUTPUT_IN_PLACE;
}

void discard_output_file(void) {
    int expected = OUTPUT_PARTIAL;
    if (output_state.compare_exchange_strong(expected, OUTPUT_DISCARDED)) DeleteFileA(part_path);
}
