/* process.cpp -- the process around the program: the standard descriptors
 * made safe at start, and the console control routines that the signals
 * which end the process call on their way out. */
#include "console_internal.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

/* A standard descriptor that was closed when the program started is opened
 * on the null device, before main: a file the program opens then never
 * takes number 0, 1 or 2, so no message can land in it. */
__attribute__((constructor)) static void open_closed_standard_descriptors(void) {
    for (int fd = 0; fd <= 2; fd++) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            dup2(opened, fd);
            close(opened);
        }
    }
}

#define MAX_CTRL_HANDLERS 8

static PHANDLER_ROUTINE ctrl_handlers[MAX_CTRL_HANDLERS];
static std::atomic<int> ctrl_handler_count;

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add) {
    console_ensure_init(); /* the signal handlers are in place from here on */
    int count = ctrl_handler_count.load();
    if (add) {
        if (!routine || count == MAX_CTRL_HANDLERS) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        ctrl_handlers[count] = routine;
        ctrl_handler_count.store(count + 1);
        return TRUE;
    }
    for (int i = count - 1; i >= 0; i--) {
        if (ctrl_handlers[i] != routine) continue;
        for (int j = i; j + 1 < count; j++) ctrl_handlers[j] = ctrl_handlers[j + 1];
        ctrl_handler_count.store(count - 1);
        return TRUE;
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

/* Called from a signal handler: the last registered routine first. */
void call_ctrl_handlers(int signal_number) {
    DWORD event = signal_number == SIGINT ? CTRL_C_EVENT : signal_number == SIGQUIT ? CTRL_BREAK_EVENT
                                                                                    : CTRL_CLOSE_EVENT;
    for (int i = ctrl_handler_count.load() - 1; i >= 0; i--) ctrl_handlers[i](event);
}
