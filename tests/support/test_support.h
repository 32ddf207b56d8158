// test_support.h -- what the tests share: temporary folders, running the
// real binary with piped input, and streaming a generator routine through
// the real link and receive loop into a real file.
#ifndef QUOMBAX_TEST_SUPPORT_H
#define QUOMBAX_TEST_SUPPORT_H

#include "driver/quombax.h"

#include "test_text.h"

#include <functional>
#include <string>
#include <vector>

std::string make_temp_dir();

struct ProgramRun {
    int status;          // exit status, or -1000 - signal
    std::string output;  // standard output
};

// Runs the real binary in dir with input on its standard input.
// shell_prefix is put before the command in the shell (e.g. "ulimit -f 100;").
ProgramRun run_program(const std::string &dir, const std::string &input, const std::string &shell_prefix = "");

// Runs routine on a generator thread that has opened the real link; the
// main thread runs the real receive loop into dir/dagoma0.g. Returns the
// file's content.
typedef void (*LinkRoutine)(HANDLE link, void *context);
std::string stream_through_link(LinkRoutine routine, void *context);

// A thread of the layer's CreateThread that runs body: on POSIX a user-mode
// thread of this kernel thread, which runs while the caller waits (in a
// pipe call, WaitForSingleObject or Sleep). join_thread waits for its end.
struct TestThread {
    HANDLE handle = NULL;
    std::function<void()> body;
};
void start_thread(TestThread *thread, std::function<void()> body);
void join_thread(TestThread *thread);

#endif
