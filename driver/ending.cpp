/* ending.cpp -- the ways out of a run: the end with a status, and the
 * console control routine; both remove a partial dagoma0.g.part. */
#include "driver.h"

#include "../link/link.h"

void end_run(int status) {
    discard_output_file(); /* nothing to do once the file is in place */
    ExitProcess((UINT)status);
}

BOOL WINAPI on_console_control(DWORD event) {
    (void)event;
    discard_output_file();
    return FALSE; /* the process ends as it would without this routine */
}
