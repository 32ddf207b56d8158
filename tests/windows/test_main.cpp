// test_main.cpp -- the Windows test program's entry point. Started with
// one of the helper arguments below, it plays another process on the
// machine that takes the link's pipe name; otherwise it runs the tests.
#include "link/link.h"

#include <gtest/gtest.h>

#include <string.h>

#define HELPER_GUARD_MS 60000

static HANDLE open_event(const char *name) {
    return OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name);
}

// Another program's client: it opens the pipe, says so, and waits for a
// byte. Ends 3 when the server sent it away, 4 when a byte came, 2 when
// it never got an end.
static int foreign_client(const char *connected_name) {
    HANDLE connected = open_event(connected_name);
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 3000 && pipe == INVALID_HANDLE_VALUE; attempt++) {
        pipe = CreateFileA(LINK_PIPE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        if (pipe == INVALID_HANDLE_VALUE) Sleep(20);
    }
    if (pipe == INVALID_HANDLE_VALUE) return 2;
    SetEvent(connected);
    char byte;
    DWORD got = 0;
    if (!ReadFile(pipe, &byte, 1, &got, NULL) || got == 0) return 3;
    return 4;
}

// Another program's server end of the same name: it waits for one client
// and keeps it, never sending it away, until told to finish. Ends with the
// client's process id.
static int foreign_server(const char *ready_name, const char *connected_name, const char *finish_name) {
    HANDLE ready = open_event(ready_name);
    HANDLE connected = open_event(connected_name);
    HANDLE finish = open_event(finish_name);
    HANDLE pipe = create_link_server();
    if (pipe == INVALID_HANDLE_VALUE) return 0;
    SetEvent(ready);
    ConnectNamedPipe(pipe, NULL);
    ULONG client = 0;
    GetNamedPipeClientProcessId(pipe, &client);
    SetEvent(connected);
    WaitForSingleObject(finish, HELPER_GUARD_MS);
    return (int)client;
}

int main(int argc, char **argv) {
    if (argc == 3 && strcmp(argv[1], "--foreign-client") == 0) return foreign_client(argv[2]);
    if (argc == 5 && strcmp(argv[1], "--foreign-server") == 0) return foreign_server(argv[2], argv[3], argv[4]);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
