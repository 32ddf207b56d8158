// win_support.cpp -- helpers shared by the Windows tests.
#include "win_support.h"

#include "toolpath/toolpath.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <stdio.h>
#include <string.h>

std::string unique_name(const char *what) {
    static int counter;
    char name[128];
    snprintf(name, sizeof name, "quombax-test-%s-%lu-%d", what, (unsigned long)GetCurrentProcessId(), ++counter);
    return name;
}

std::string make_temp_dir() {
    char base[MAX_PATH];
    DWORD length = GetTempPathA(sizeof base, base);
    EXPECT_GT(length, 0u);
    std::string dir = std::string(base, length) + unique_name("dir");
    EXPECT_TRUE(CreateDirectoryA(dir.c_str(), NULL)) << dir;
    return dir;
}

struct LinkJob {
    LinkRoutine routine;
    void *context;
    int send_end_marker;
};

static DWORD WINAPI link_job_thread(LPVOID argument) {
    LinkJob *job = (LinkJob *)argument;
    HANDLE link = open_link_client();
    if (link == INVALID_HANDLE_VALUE) return 2;
    job->routine(link, job->context);
    DWORD result = 0;
    if (job->send_end_marker && !send_command(link, END_MARKER)) result = 1;
    CloseHandle(link);
    return result;
}

// Long enough for any machine; only a hang reaches it.
#define GUARD_MS 60000

LinkRun run_link(LinkRoutine routine, void *context, int send_end_marker) {
    LinkRun run = {RECEIVE_DONE, std::string(), 0, 0};
    std::string dir = make_temp_dir();
    std::string path = dir + "\\" OUTPUT_FILE_NAME;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    HANDLE pipe = create_link_server();
    EXPECT_NE(pipe, INVALID_HANDLE_VALUE);
    LinkJob job = {routine, context, send_end_marker};
    HANDLE thread = CreateThread(NULL, 0, link_job_thread, &job, 0, NULL);
    EXPECT_NE(thread, (HANDLE)NULL);
    wait_for_client(pipe);
    ProgressBar bar;
    reset_progress(&bar, NULL); // no console here: the screen calls fail and change nothing
    run.result = receive_loop(pipe, file, &bar);
    if (run.result != RECEIVE_DONE) {
        // the server end goes away, which ends any wait of the sender
        DisconnectNamedPipe(pipe);
        CloseHandle(pipe);
        CloseHandle(file);
    }
    run.thread_ended = WaitForSingleObject(thread, GUARD_MS) == WAIT_OBJECT_0;
    GetExitCodeThread(thread, &run.thread_result);
    CloseHandle(thread);
    if (run.result == RECEIVE_DONE) {
        EXPECT_TRUE(close_link_and_file(pipe, file));
    }
    run.content = read_file(path);
    DeleteFileA(path.c_str());
    RemoveDirectoryA(dir.c_str());
    return run;
}

HANDLE start_helper_process(const std::string &arguments) {
    char program[MAX_PATH];
    GetModuleFileNameA(NULL, program, sizeof program);
    std::string command = std::string("\"") + program + "\" " + arguments;
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    memset(&process, 0, sizeof process);
    BOOL started = CreateProcessA(program, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process);
    EXPECT_TRUE(started) << command << " error " << GetLastError();
    if (!started) return NULL;
    CloseHandle(process.hThread);
    return process.hProcess;
}

DWORD wait_for_process(HANDLE process) {
    DWORD status = 0xDEAD;
    if (WaitForSingleObject(process, GUARD_MS) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "helper process did not end";
        TerminateProcess(process, 0xDEAD);
        WaitForSingleObject(process, GUARD_MS);
    }
    GetExitCodeProcess(process, &status);
    CloseHandle(process);
    return status;
}
