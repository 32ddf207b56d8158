// user_threads_test.cpp -- the POSIX layer's threads, user-mode threads of
// one kernel thread: the lock step through a pipe with each stack switch
// (the native one and the portable one), each thread's own GetLastError,
// waits that end by their time limit, waits that can never end and are
// told instead of hanging, and the guard page below a thread's stack.
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/wait.h>

// The layer's test hooks.
extern int portable_switch;
int native_switch_available(void);

namespace {

#define TEST_PIPE_NAME "\\\\.\\pipe\\quombax_user_threads_test"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define UNDER_SANITIZER 1
#endif
#endif

HANDLE make_server() {
    return CreateNamedPipeA(TEST_PIPE_NAME, PIPE_ACCESS_DUPLEX, 0, 2, 255, 255, 0, NULL);
}

HANDLE open_client() {
    return CreateFileA(TEST_PIPE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
}

TEST(UserThreads, LockStepWithEachSwitch) {
    const struct {
        const char *name;
        int portable;
    } cases[] = {{"native switch", 0}, {"portable switch", 1}};
    const int messages = 200000;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.portable && !native_switch_available()) continue;
#ifdef UNDER_SANITIZER
        if (c.portable) continue; // the sanitizers follow the native switch only
#endif
        portable_switch = c.portable;
        HANDLE server = make_server();
        ASSERT_NE(server, INVALID_HANDLE_VALUE);
        long replies = 0;
        TestThread client;
        start_thread(&client, [&] {
            HANDLE link = open_client();
            char line[32], reply;
            DWORD n = 0;
            for (int i = 0; i < messages; i++) {
                int length = snprintf(line, sizeof line, "G1 X%d\n", i);
                WriteFile(link, line, (DWORD)length, &n, NULL);
                if (ReadFile(link, &reply, 1, &n, NULL) && n == 1) replies++;
            }
            WriteFile(link, "-EOT-", 5, &n, NULL);
            CloseHandle(link);
        });
        ConnectNamedPipe(server, NULL);
        char buffer[48], expected[32];
        long received = 0, wrong = 0;
        for (;;) {
            DWORD n = 0;
            ASSERT_TRUE(ReadFile(server, buffer, 47, &n, NULL));
            if (n == 5 && std::string(buffer, 5) == "-EOT-") break;
            int length = snprintf(expected, sizeof expected, "G1 X%ld\n", received);
            if (std::string(buffer, n) != std::string(expected, (size_t)length)) wrong++;
            received++;
            WriteFile(server, "-", 1, &n, NULL);
        }
        join_thread(&client);
        CloseHandle(server);
        portable_switch = 0;
        EXPECT_EQ(received, messages);
        EXPECT_EQ(wrong, 0);
        EXPECT_EQ(replies, messages);
    }
}

TEST(UserThreads, EachThreadHasItsOwnLastError) {
    DWORD seen_by_thread = 0;
    TestThread thread;
    SetLastError(ERROR_ACCESS_DENIED);
    start_thread(&thread, [&] {
        SetLastError(ERROR_FILE_NOT_FOUND);
        Sleep(0); // the main thread runs meanwhile
        seen_by_thread = GetLastError();
    });
    Sleep(0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    join_thread(&thread);
    EXPECT_EQ(seen_by_thread, (DWORD)ERROR_FILE_NOT_FOUND);
}

TEST(UserThreads, WaitsThatCannotEndAreTold) {
    // A client that waits for a reply that only this thread could send.
    HANDLE server = make_server();
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    DWORD client_error = 0;
    TestThread client;
    start_thread(&client, [&] {
        HANDLE link = open_client();
        char byte;
        DWORD n = 0;
        if (!ReadFile(link, &byte, 1, &n, NULL)) client_error = GetLastError();
        CloseHandle(link);
    });
    // Every thread waits: the wait with a time limit ends by it.
    EXPECT_EQ(WaitForSingleObject(client.handle, 50), WAIT_TIMEOUT);
    // Without a limit, each wait that can never end fails at once.
    EXPECT_EQ(WaitForSingleObject(client.handle, INFINITE), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_POSSIBLE_DEADLOCK);
    char buffer[8];
    DWORD n = 0;
    EXPECT_FALSE(ReadFile(server, buffer, sizeof buffer, &n, NULL));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_BROKEN_PIPE);
    HANDLE lonely = make_server(); // no thread will ever open it
    ASSERT_NE(lonely, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(ConnectNamedPipe(lonely, NULL));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_DATA);
    CloseHandle(lonely);
    // Closing the server end ends the client's wait.
    CloseHandle(server);
    join_thread(&client);
    EXPECT_EQ(client_error, (DWORD)ERROR_PIPE_NOT_CONNECTED);
}

int overflow(int depth) {
    volatile char frame[1024];
    frame[0] = (char)depth;
    if (depth < (1 << 30)) return overflow(depth + 1) + frame[0]; // deeper than any stack
    return frame[0];
}

DWORD WINAPI overflowing_thread(LPVOID) { return (DWORD)overflow(0); }

TEST(UserThreadsDeathTest, GuardPageStopsAStackOverflow) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            HANDLE thread = CreateThread(NULL, 64 * 1024, overflowing_thread, NULL, 0, NULL);
            WaitForSingleObject(thread, INFINITE);
            _exit(0);
        },
        [](int status) { return !(WIFEXITED(status) && WEXITSTATUS(status) == 0); }, "");
}

} // namespace
