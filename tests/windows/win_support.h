// win_support.h -- what the Windows tests share: temporary folders, files,
// the typed texts, running a routine on a generator thread over the real
// named pipe into a real dagoma0.g, and starting this test program again
// as another process that takes the pipe's name.
#ifndef QUOMBAX_WIN_SUPPORT_H
#define QUOMBAX_WIN_SUPPORT_H

#include "link/link.h"

#include "support/test_text.h"

#include <string>
#include <vector>

std::string make_temp_dir();

typedef void (*LinkRoutine)(HANDLE link, void *context);

// What one transfer over the real link gave.
struct LinkRun {
    ReceiveResult result;
    std::string content;   // dagoma0.g afterwards
    DWORD thread_result;   // the generator side's result: 0, or 1 when a send failed
    int thread_ended;      // the generator side ended (it is waited for)
};

// The main thread serves the link with the real receive loop into a fresh
// dagoma0.g while a generator thread opens its end with open_link_client,
// runs routine, and (if send_end_marker) sends the end marker. A loop
// that fails closes the server end, which ends the generator's wait.
LinkRun run_link(LinkRoutine routine, void *context, int send_end_marker);

// Starts this program again with the given arguments (see test_main.cpp).
HANDLE start_helper_process(const std::string &arguments);
DWORD wait_for_process(HANDLE process);
std::string unique_name(const char *what);

#endif
