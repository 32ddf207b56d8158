// link_test.cpp -- the link over the real Windows named pipe: the lines
// the generator's emitters send arrive in dagoma0.g byte for byte, the end
// marker ends the stream, a broken link ends it with a result, and another
// process that takes the pipe's name never joins this run.
#include "win_support.h"

#include "toolpath/toolpath.h"

#include <gtest/gtest.h>

#include <string.h>

static void send_texts(HANDLE link, void *context) {
    const char *const *texts = (const char *const *)context;
    for (int i = 0; texts[i]; i++) send_command(link, texts[i]);
}

TEST(WindowsLink, PipeHasTheLinksParameters) {
    HANDLE pipe = create_link_server();
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    DWORD flags = 0, out_size = 0, in_size = 0, instances = 0;
    ASSERT_TRUE(GetNamedPipeInfo(pipe, &flags, &out_size, &in_size, &instances));
    EXPECT_EQ(flags, (DWORD)(PIPE_SERVER_END | PIPE_TYPE_BYTE));
    EXPECT_EQ(out_size, 255u);
    EXPECT_EQ(in_size, 255u);
    EXPECT_EQ(instances, 2u);
    CloseHandle(pipe);
}

TEST(WindowsLink, AThirdServerEndIsRefused) {
    HANDLE first = create_link_server();
    HANDLE second = create_link_server();
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(create_link_server(), INVALID_HANDLE_VALUE);
    CloseHandle(second);
    HANDLE again = create_link_server();
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
    CloseHandle(first);
}

TEST(WindowsLink, LinesArriveByteForByteWithoutTheEndMarker) {
    static const char longest[] = "G1 F123456789 X70.000 Y-64.000 Z-12345678\n"; // 42 bytes
    static const char fills_a_read[] = "0123456789012345678901234567890123456789012345\n"; // 47 bytes
    const char *texts[] = {"G90\n", longest, "x\n", fills_a_read, "-EO\n", "M109 S210\n", NULL};
    LinkRun run = run_link(send_texts, texts, 1);
    ASSERT_EQ(run.result, RECEIVE_DONE);
    EXPECT_EQ(run.content, std::string("G90\n") + longest + "x\n" + fills_a_read + "-EO\nM109 S210\n");
    EXPECT_EQ(receive_status.message_count, 6u);
    EXPECT_TRUE(run.thread_ended);
    EXPECT_EQ(run.thread_result, 0u); // the end marker was answered
}

TEST(WindowsLink, AMessageThatBeginsWithTheEndMarkerEndsTheStream) {
    const char *texts[] = {"G90\n", "-EOT-G28\n", NULL};
    LinkRun run = run_link(send_texts, texts, 0);
    ASSERT_EQ(run.result, RECEIVE_DONE);
    EXPECT_EQ(run.content, "G90\n");
    EXPECT_EQ(receive_status.message_count, 1u);
}

static void send_too_long(HANDLE link, void *) {
    send_command(link, "G90\n");
    send_command(link, "G1 F200 X70.000 Y-64.000 Z10 and far more than forty-seven bytes\n");
}

TEST(WindowsLink, AMessageLongerThanARead) {
    LinkRun run = run_link(send_too_long, NULL, 1);
    EXPECT_EQ(run.result, RECEIVE_BAD_MESSAGE);
    EXPECT_EQ(run.content, "G90\n");
    EXPECT_TRUE(run.thread_ended); // the sender's wait ended with the link
    EXPECT_EQ(run.thread_result, 1u);
}

static void send_and_leave(HANDLE link, void *) {
    send_command(link, "G90\n");
}

TEST(WindowsLink, AClientThatLeavesBreaksTheLink) {
    LinkRun run = run_link(send_and_leave, NULL, 0);
    EXPECT_EQ(run.result, RECEIVE_LINK_BROKEN);
    EXPECT_EQ(receive_status.error, (DWORD)ERROR_BROKEN_PIPE);
    EXPECT_EQ(run.content, "G90\n");
}

struct ServerThatLeaves {
    HANDLE pipe;
    BOOL sent;
};

static DWORD WINAPI send_one(LPVOID argument) {
    ServerThatLeaves *job = (ServerThatLeaves *)argument;
    HANDLE link = open_link_client();
    if (link == INVALID_HANDLE_VALUE) return 2;
    job->sent = send_command(link, "G90\n");
    CloseHandle(link);
    return 0;
}

TEST(WindowsLink, TheSendersWaitEndsWhenTheServerLeaves) {
    ServerThatLeaves job = {create_link_server(), TRUE};
    ASSERT_NE(job.pipe, INVALID_HANDLE_VALUE);
    HANDLE thread = CreateThread(NULL, 0, send_one, &job, 0, NULL);
    wait_for_client(job.pipe);
    char buffer[48];
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(job.pipe, buffer, 47, &got, NULL));
    EXPECT_EQ(got, 4u);
    DisconnectNamedPipe(job.pipe); // no reply: the server goes away
    CloseHandle(job.pipe);
    ASSERT_EQ(WaitForSingleObject(thread, 60000), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_FALSE(job.sent);
}

// The emitters of the generator, as the run calls them.
static void opening_and_raises(HANDLE link, void *context) {
    int raises = *(int *)context;
    emit_start_sequence(link);
    ToolpathState state;
    set_up_toolpath_state(&state);
    emit_extrusion(&state, link);
    emit_extrusion(&state, link);
    emit_move(AXIS_X, state.x, link);
    emit_move(AXIS_Y, state.y, link);
    for (int i = 0; i < raises; i++) raise_z(&state, link);
    emit_end_sequence(link);
}

TEST(WindowsLink, EmittersOfTheReferenceInput) {
    set_params("10", "210", "200");
    int raises = 1;
    LinkRun run = run_link(opening_and_raises, &raises, 1);
    ASSERT_EQ(run.result, RECEIVE_DONE);
    EXPECT_EQ(run.content,
              "G90\nG1 F200 X70.000 Y-64.000 Z10\nM106 S210\nM109 S210\n"
              "G1 F200 E0.000\nG1 F200 E0.020\nG1 F200 X70.000\nG1 F200 Y-64.000\nG1 F200 Z10.100\n"
              "M106 S0\nM109 S0\nG92 E0.0\nG28\n");
}

static std::vector<std::string> z_moves(const std::string &content, const char *prefix) {
    std::vector<std::string> found;
    for (const std::string &line : split_lines(content))
        if (line.compare(0, strlen(prefix), prefix) == 0) found.push_back(line);
    return found;
}

TEST(WindowsLink, ExactHalvesOfZGoToTheEvenDigit) {
    set_params("0.0625", "210", "200");
    int raises = 10;
    LinkRun run = run_link(opening_and_raises, &raises, 1);
    ASSERT_EQ(run.result, RECEIVE_DONE);
    EXPECT_EQ(split_lines(run.content)[1], "G1 F200 X70.000 Y-64.000 Z0.0625");
    const std::vector<std::string> expected = {
        "G1 F200 Z0.163", "G1 F200 Z0.263", "G1 F200 Z0.363", "G1 F200 Z0.463", "G1 F200 Z0.562",
        "G1 F200 Z0.662", "G1 F200 Z0.762", "G1 F200 Z0.862", "G1 F200 Z0.962", "G1 F200 Z1.062",
    };
    EXPECT_EQ(z_moves(run.content, "G1 F200 Z"), expected);
}

TEST(WindowsLink, ANegativeZThatRoundsToZeroKeepsItsSign) {
    set_params("-12.5", "170", "080");
    int raises = 126;
    LinkRun run = run_link(opening_and_raises, &raises, 1);
    ASSERT_EQ(run.result, RECEIVE_DONE);
    std::vector<std::string> lines = split_lines(run.content);
    EXPECT_EQ(lines[1], "G1 F080 X70.000 Y-64.000 Z-12.5");
    std::vector<std::string> moves = z_moves(run.content, "G1 F080 Z");
    ASSERT_EQ(moves.size(), 126u);
    EXPECT_EQ(moves[0], "G1 F080 Z-12.400");
    EXPECT_EQ(moves[123], "G1 F080 Z-0.100");
    EXPECT_EQ(moves[124], "G1 F080 Z-0.000");
    EXPECT_EQ(moves[125], "G1 F080 Z0.100");
}

TEST(WindowsLink, NoCarriageReturnReachesTheFile) {
    set_params("10", "210", "200");
    int raises = 3;
    LinkRun run = run_link(opening_and_raises, &raises, 1);
    ASSERT_EQ(run.result, RECEIVE_DONE);
    EXPECT_EQ(run.content.find('\r'), std::string::npos);
}

// A generator thread as the run's: opens its end, sends the opening, two
// raises, the closing and the end marker.
static DWORD WINAPI short_generator(LPVOID) {
    HANDLE link = open_link_client();
    if (link == INVALID_HANDLE_VALUE) return 2;
    int raises = 2;
    opening_and_raises(link, &raises);
    DWORD result = send_command(link, END_MARKER) ? 0 : 1;
    CloseHandle(link);
    return result;
}

// Serves the short generator on pipe into a fresh dagoma0.g, as the run does.
static void serve_short_generator(HANDLE pipe, HANDLE thread) {
    wait_for_client(pipe);
    ULONG client = 0;
    ASSERT_TRUE(GetNamedPipeClientProcessId(pipe, &client));
    ASSERT_EQ(client, GetCurrentProcessId());
    std::string dir = make_temp_dir();
    std::string path = dir + "\\" OUTPUT_FILE_NAME;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    ProgressBar bar;
    reset_progress(&bar, NULL);
    EXPECT_EQ(receive_loop(pipe, file, &bar), RECEIVE_DONE);
    EXPECT_EQ(WaitForSingleObject(thread, 60000), WAIT_OBJECT_0);
    DWORD thread_result = 99;
    GetExitCodeThread(thread, &thread_result);
    EXPECT_EQ(thread_result, 0u);
    CloseHandle(thread);
    close_link_and_file(pipe, file);
    EXPECT_EQ(split_lines(read_file(path)).size(), 14u);
    DeleteFileA(path.c_str());
    RemoveDirectoryA(dir.c_str());
}

// Another process that opened the pipe's name first is sent away; this
// run's own generator is served.
TEST(WindowsLink, AClientOfAnotherProcessIsSentAway) {
    set_params("10", "210", "200");
    HANDLE pipe = create_link_server();
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    std::string connected_name = unique_name("connected");
    HANDLE connected = CreateEventA(NULL, TRUE, FALSE, connected_name.c_str());
    HANDLE helper = start_helper_process("--foreign-client " + connected_name);
    ASSERT_NE(helper, (HANDLE)NULL);
    ASSERT_EQ(WaitForSingleObject(connected, 60000), WAIT_OBJECT_0);

    HANDLE thread = CreateThread(NULL, 0, short_generator, NULL, 0, NULL);
    serve_short_generator(pipe, thread);
    EXPECT_EQ(wait_for_process(helper), 3u); // sent away, no byte came
    CloseHandle(connected);
}

// A server end of another process that is waiting when this run's
// generator opens the name is passed over; the generator joins its own.
TEST(WindowsLink, AServerOfAnotherProcessIsPassedOver) {
    set_params("10", "210", "200");
    std::string ready_name = unique_name("ready");
    std::string connected_name = unique_name("connected");
    std::string finish_name = unique_name("finish");
    HANDLE ready = CreateEventA(NULL, TRUE, FALSE, ready_name.c_str());
    HANDLE connected = CreateEventA(NULL, TRUE, FALSE, connected_name.c_str());
    HANDLE finish = CreateEventA(NULL, TRUE, FALSE, finish_name.c_str());
    HANDLE helper = start_helper_process("--foreign-server " + ready_name + " " + connected_name + " " + finish_name);
    ASSERT_NE(helper, (HANDLE)NULL);
    ASSERT_EQ(WaitForSingleObject(ready, 60000), WAIT_OBJECT_0);

    // The other process's end is the only one when the generator opens.
    HANDLE thread = CreateThread(NULL, 0, short_generator, NULL, 0, NULL);
    ASSERT_EQ(WaitForSingleObject(connected, 60000), WAIT_OBJECT_0);
    HANDLE pipe = create_link_server();
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    serve_short_generator(pipe, thread);
    SetEvent(finish);
    EXPECT_EQ(wait_for_process(helper), (DWORD)GetCurrentProcessId()); // the generator went there first
    CloseHandle(ready);
    CloseHandle(connected);
    CloseHandle(finish);
}
