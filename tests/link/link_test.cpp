// link_test.cpp -- the real link between two threads of this process (the
// layer's threads: on POSIX user-mode threads of one kernel thread): the
// lock step, the end marker, the instance limit, and every way the link can
// break: a client that goes away, a message of 0 bytes or of more than 47,
// reads that keep failing, a server end that goes away, and a generator
// thread that finds no server end.
#include "link/link.h"
#include "support/test_support.h"
#include "toolpath/toolpath.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <unistd.h>

// The layer's test hook: when set, Sleep calls it instead of sleeping.
extern void (*sleep_hook)(DWORD milliseconds);

namespace {

std::atomic<int> sleeps{0};      // Sleep calls since the hook was set
std::atomic<int> long_sleeps{0}; // of them, those of more than 1 ms

void count_sleep(DWORD milliseconds) {
    sleeps++;
    if (milliseconds != 1) long_sleeps++;
}

void hook_sleep() {
    sleeps = 0;
    long_sleeps = 0;
    sleep_hook = count_sleep;
}

// The main thread's side: dagoma0.g in a new folder and a server end.
struct Sink {
    std::string dir, path;
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE pipe = INVALID_HANDLE_VALUE;
    ProgressBar bar;
};

void open_sink(Sink *sink) {
    sink->dir = make_temp_dir();
    sink->path = sink->dir + "/" OUTPUT_FILE_NAME;
    sink->file = CreateFileA(sink->path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(sink->file, INVALID_HANDLE_VALUE);
    sink->pipe = create_link_server();
    ASSERT_NE(sink->pipe, INVALID_HANDLE_VALUE) << "two server ends of the link are in use on this machine";
    reset_progress(&sink->bar, GetStdHandle(STD_OUTPUT_HANDLE));
}

// Disconnects and closes the link and the file; gives the file's content.
std::string close_sink(Sink *sink) {
    EXPECT_TRUE(close_link_and_file(sink->pipe, sink->file));
    std::string content = read_file(sink->path);
    unlink(sink->path.c_str());
    rmdir(sink->dir.c_str());
    return content;
}

// Waits (bounded) until the pipe holds bytes for the server end; gives their count.
DWORD wait_for_bytes(HANDLE pipe) {
    DWORD available = 0;
    for (int wait = 0; wait < 10000 && available == 0; wait++) {
        if (!PeekNamedPipe(pipe, NULL, 0, NULL, &available, NULL)) return 0;
        if (available == 0) Sleep(1); // the sender runs meanwhile
    }
    return available;
}

TEST(LinkBreaks, ClientClosesInTheMiddle) {
    Sink sink;
    ASSERT_NO_FATAL_FAILURE(open_sink(&sink));
    hook_sleep();
    TestThread client;
    start_thread(&client, [] {
        HANDLE link = open_link_client();
        for (const char *line : {"G90\n", "M106 S210\n", "M109 S210\n"}) send_command(link, line);
        CloseHandle(link); // no end marker
    });
    wait_for_client(sink.pipe);
    EXPECT_EQ(receive_loop(sink.pipe, sink.file, &sink.bar), RECEIVE_LINK_BROKEN);
    EXPECT_EQ(receive_status.error, (DWORD)ERROR_BROKEN_PIPE);
    EXPECT_EQ(receive_status.message_count, 3u);
    join_thread(&client);
    sleep_hook = 0;
    EXPECT_EQ(sleeps, 0) << "a broken link is told at once, not retried";
    EXPECT_EQ(close_sink(&sink), "G90\nM106 S210\nM109 S210\n");
}

TEST(LinkBreaks, MessageLengths) {
    const struct {
        const char *name;
        std::string text;
        ReceiveResult result;
    } cases[] = {
        {"0 bytes", "", RECEIVE_BAD_MESSAGE},
        {"47 bytes", std::string(46, '7') + "\n", RECEIVE_DONE},
        {"48 bytes", std::string(47, '8') + "\n", RECEIVE_BAD_MESSAGE},
        {"50 bytes", std::string(49, '5') + "\n", RECEIVE_BAD_MESSAGE},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Sink sink;
        ASSERT_NO_FATAL_FAILURE(open_sink(&sink));
        std::atomic<int> sent{-1};
        std::string text = c.text;
        TestThread client;
        start_thread(&client, [&sent, text] {
            HANDLE link = open_link_client();
            BOOL ok = send_command(link, "G90\n") && send_command(link, text.c_str()) && send_command(link, END_MARKER);
            sent = ok;
            CloseHandle(link);
        });
        wait_for_client(sink.pipe);
        ReceiveResult result = receive_loop(sink.pipe, sink.file, &sink.bar);
        EXPECT_EQ(result, c.result);
        if (result == RECEIVE_DONE) {
            join_thread(&client);
            EXPECT_EQ(sent, TRUE);
            EXPECT_EQ(receive_status.message_count, 2u);
            EXPECT_EQ(close_sink(&sink), "G90\n" + c.text);
        } else {
            // The bad message was not answered: the sender's wait ends
            // when the server end goes.
            EXPECT_EQ(receive_status.message_count, 1u);
            EXPECT_EQ(close_sink(&sink), "G90\n");
            join_thread(&client);
            EXPECT_EQ(sent, FALSE);
        }
    }
}

TEST(LinkBreaks, ReceiverGivesUpOnReadsThatKeepFailing) {
    // A folder opened for reading: every read fails, and not as a broken pipe.
    Sink sink;
    ASSERT_NO_FATAL_FAILURE(open_sink(&sink));
    HANDLE folder = CreateFileA(sink.dir.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(folder, INVALID_HANDLE_VALUE);
    hook_sleep();
    EXPECT_EQ(receive_loop(folder, sink.file, &sink.bar), RECEIVE_LINK_BROKEN);
    sleep_hook = 0;
    EXPECT_EQ(receive_status.error, (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_EQ(receive_status.message_count, 0u);
    // 1000 failed reads in a row, a pause of 1 ms after each but the last.
    EXPECT_EQ(sleeps, 999);
    EXPECT_EQ(long_sleeps, 0);
    CloseHandle(folder);
    EXPECT_EQ(close_sink(&sink), "");
}

TEST(LinkBreaks, SenderGivesUpOnReadsThatKeepFailing) {
    // A file at its end: every read of the reply gives no byte.
    std::string dir = make_temp_dir();
    std::string path = dir + "/replies";
    HANDLE replies = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(replies, INVALID_HANDLE_VALUE);
    hook_sleep();
    EXPECT_FALSE(send_command(replies, "G90\n"));
    sleep_hook = 0;
    EXPECT_EQ(sleeps, 999);
    EXPECT_EQ(long_sleeps, 0);
    CloseHandle(replies);
    unlink(path.c_str());
    rmdir(dir.c_str());
}

TEST(LinkBreaks, SenderStopsWhenTheServerEndGoes) {
    Sink sink;
    ASSERT_NO_FATAL_FAILURE(open_sink(&sink));
    hook_sleep();
    std::atomic<int> first{-1}, second{-1};
    TestThread client;
    start_thread(&client, [&] {
        HANDLE link = open_link_client();
        first = send_command(link, "G90\n"); // waits for a reply that never comes
        second = send_command(link, "G28\n");
        CloseHandle(link);
    });
    wait_for_client(sink.pipe);
    char buffer[RECEIVE_BUFFER_BYTES];
    DWORD n = 0;
    ASSERT_TRUE(ReadFile(sink.pipe, buffer, MAX_MESSAGE_BYTES, &n, NULL));
    EXPECT_EQ(std::string(buffer, n), "G90\n");
    EXPECT_EQ(close_sink(&sink), ""); // the server end goes without a reply
    join_thread(&client);
    sleep_hook = 0;
    EXPECT_EQ(first, FALSE);
    EXPECT_EQ(second, FALSE);
    EXPECT_EQ(sleeps, 0) << "a link that is gone is told at once, not retried";
}

TEST(LinkBreaks, ConnectReturnsWhenTheServerEndIsCutBeforeAClientCame) {
    HANDLE pipe = create_link_server();
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    TestThread cutter;
    start_thread(&cutter, [&] {
        Sleep(20);
        DisconnectNamedPipe(pipe);
    });
    EXPECT_FALSE(ConnectNamedPipe(pipe, NULL));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_DATA);
    join_thread(&cutter);
    CloseHandle(pipe);
}

TEST(LinkBreaksDeathTest, GeneratorThreadFindsNoServerEnd) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            dup2(STDERR_FILENO, STDOUT_FILENO); // the message is on standard output
            set_params("10", "210", "200");
            HANDLE thread = CreateThread(NULL, 0, generator_thread, NULL, 0, NULL);
            WaitForSingleObject(thread, INFINITE); // as the main thread would wait for its client
        },
        ::testing::ExitedWithCode(1), "Cannot open pipe\\.");
}

TEST(LinkBasics, OneMessageInFlightAtMost) {
    Sink sink;
    ASSERT_NO_FATAL_FAILURE(open_sink(&sink));
    std::atomic<int> sent{0};
    TestThread client;
    start_thread(&client, [&sent] {
        HANDLE link = open_link_client();
        send_command(link, "G90\n");
        sent = 1;
        send_command(link, "G28\n");
        sent = 2;
        CloseHandle(link);
    });
    wait_for_client(sink.pipe);
    char buffer[RECEIVE_BUFFER_BYTES];
    DWORD n = 0;
    for (const char *line : {"G90\n", "G28\n"}) {
        SCOPED_TRACE(line);
        EXPECT_EQ(wait_for_bytes(sink.pipe), 4u);
        ASSERT_TRUE(ReadFile(sink.pipe, buffer, MAX_MESSAGE_BYTES, &n, NULL));
        EXPECT_EQ(std::string(buffer, n), line);
        // Time for a second message, had the sender not waited for the reply.
        Sleep(20);
        DWORD available = 1;
        EXPECT_TRUE(PeekNamedPipe(sink.pipe, NULL, 0, NULL, &available, NULL));
        EXPECT_EQ(available, 0u);
        EXPECT_EQ(sent, line[1] == '9' ? 0 : 1);
        DWORD written = 0;
        WriteFile(sink.pipe, ACK, 1, &written, NULL);
    }
    join_thread(&client);
    EXPECT_EQ(sent, 2);
    close_sink(&sink);
}

TEST(LinkBasics, EndMarkerAnsweredOnceAndNeverStored) {
    Sink sink;
    ASSERT_NO_FATAL_FAILURE(open_sink(&sink));
    std::string reply;
    BOOL more = TRUE;
    DWORD more_error = 0;
    TestThread client;
    start_thread(&client, [&] {
        HANDLE link = open_link_client();
        send_command(link, "G90\n");
        DWORD written = 0, got = 0;
        WriteFile(link, END_MARKER, 5, &written, NULL);
        char bytes[8];
        if (ReadFile(link, bytes, sizeof bytes, &got, NULL)) reply.assign(bytes, got);
        // Nothing follows the one reply: the next read fails once the server end is gone.
        more = ReadFile(link, bytes, sizeof bytes, &got, NULL);
        more_error = GetLastError();
        CloseHandle(link);
    });
    wait_for_client(sink.pipe);
    EXPECT_EQ(receive_loop(sink.pipe, sink.file, &sink.bar), RECEIVE_DONE);
    EXPECT_EQ(receive_status.message_count, 1u);
    EXPECT_EQ(close_sink(&sink), "G90\n");
    join_thread(&client);
    EXPECT_EQ(reply, ACK);
    EXPECT_FALSE(more);
    EXPECT_EQ(more_error, (DWORD)ERROR_PIPE_NOT_CONNECTED);
}

TEST(LinkBasics, ShortenedEndMarkerIsStoredLikeAnyLine) {
    std::string content = stream_through_link(
        [](HANDLE link, void *) {
            send_command(link, "G90\n");
            send_command(link, "-EO");
        },
        NULL);
    EXPECT_EQ(content, "G90\n-EO");
    EXPECT_EQ(receive_status.message_count, 2u);
}

TEST(LinkBasics, ThirdServerEndRefused) {
    HANDLE first = create_link_server();
    HANDLE second = create_link_server();
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    ASSERT_NE(second, INVALID_HANDLE_VALUE) << "a server end of the link is in use on this machine";
    EXPECT_EQ(create_link_server(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PIPE_BUSY);
    CloseHandle(second);
    HANDLE again = create_link_server(); // a closed end is free again
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
    CloseHandle(first);
}

} // namespace
