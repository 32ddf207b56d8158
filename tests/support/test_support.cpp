// test_support.cpp -- helpers shared by the test programs.
#include "test_support.h"

#include "link/link.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

std::string make_temp_dir() {
    char pattern[] = "/tmp/quombax-test-XXXXXX";
    char *dir = mkdtemp(pattern);
    if (!dir) abort();
    return dir;
}

ProgramRun run_program(const std::string &dir, const std::string &input, const std::string &shell_prefix) {
    std::string input_path = dir + "/.input";
    std::ofstream(input_path, std::ios::binary) << input;
    std::string command = "cd '" + dir + "' && " + shell_prefix + " '" QUOMBAX_BINARY "' < '" + input_path + "'";
    FILE *pipe = popen(command.c_str(), "r");
    ProgramRun run;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) run.output.append(chunk, n);
    int status = pclose(pipe);
    if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
    else run.status = -1000 - WTERMSIG(status);
    unlink(input_path.c_str());
    return run;
}

static DWORD WINAPI run_body(LPVOID argument) {
    ((TestThread *)argument)->body();
    return 0;
}

void start_thread(TestThread *thread, std::function<void()> body) {
    thread->body = std::move(body);
    thread->handle = CreateThread(NULL, 0, run_body, thread, 0, NULL);
    ASSERT_NE(thread->handle, (HANDLE)NULL);
}

void join_thread(TestThread *thread) {
    ASSERT_EQ(WaitForSingleObject(thread->handle, INFINITE), WAIT_OBJECT_0);
    CloseHandle(thread->handle);
    thread->handle = NULL;
}

struct StreamJob {
    LinkRoutine routine;
    void *context;
};

static DWORD WINAPI stream_thread(LPVOID argument) {
    StreamJob *job = (StreamJob *)argument;
    HANDLE link = open_link_client();
    if (link == INVALID_HANDLE_VALUE) return (DWORD)-1;
    job->routine(link, job->context);
    send_command(link, END_MARKER);
    CloseHandle(link);
    return 0;
}

std::string stream_through_link(LinkRoutine routine, void *context) {
    std::string dir = make_temp_dir();
    std::string path = dir + "/" OUTPUT_FILE_NAME;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    HANDLE pipe = create_link_server();
    EXPECT_NE(pipe, INVALID_HANDLE_VALUE);
    StreamJob job = {routine, context};
    HANDLE thread = CreateThread(NULL, 0, stream_thread, &job, 0, NULL);
    EXPECT_NE(thread, (HANDLE)NULL);
    wait_for_client(pipe);
    ProgressBar bar;
    reset_progress(&bar, GetStdHandle(STD_OUTPUT_HANDLE));
    EXPECT_EQ(receive_loop(pipe, file, &bar), RECEIVE_DONE);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_TRUE(close_link_and_file(pipe, file));
    std::string content = read_file(path);
    unlink(path.c_str());
    rmdir(dir.c_str());
    return content;
}
