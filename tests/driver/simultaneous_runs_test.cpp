// simultaneous_runs_test.cpp -- runs of the real binary at the same time:
// two runs each write exactly their own file, a third one finds the link
// taken, and a run killed in the middle leaves nothing behind that blocks
// the next (a stale dagoma0.g.part, which the next run replaces).
#include "support/link_holder.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

const size_t REFERENCE_BYTES = 110767244;
const size_t SPEED_LINES = 6296723; // the lines that carry the speed text

off_t size_of(const std::string &path) {
    struct stat about;
    return stat(path.c_str(), &about) == 0 ? about.st_size : -1;
}

// The whole file of one run with this speed, and no line of another run.
void expect_own_whole_file(const std::string &path, const std::string &speed, size_t bytes) {
    SCOPED_TRACE(path);
    std::string text = read_file(path);
    EXPECT_EQ(text.size(), bytes);
    std::string own = "G1 F" + speed + " ";
    size_t with_speed = 0, foreign = 0;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        if (text.compare(at, 4, "G1 F") == 0) {
            with_speed++;
            if (text.compare(at, own.size(), own) != 0 && foreign++ == 0)
                ADD_FAILURE() << "a line of another run: " << text.substr(at, end - at);
        }
        at = end + 1;
    }
    EXPECT_EQ(with_speed, SPEED_LINES);
    EXPECT_EQ(foreign, 0u);
}

void remove_run_dir(const std::string &dir) {
    unlink((dir + "/dagoma0.g").c_str());
    rmdir(dir.c_str());
}

TEST(SimultaneousRuns, TwoRunsEachWriteTheirOwnFile) {
    // Speeds of different lengths: a line of the other run would show in
    // the size as well as in the text.
    std::string dir_a = make_temp_dir(), dir_b = make_temp_dir();
    ProgramRun run_a, run_b;
    std::thread a([&] { run_a = run_program(dir_a, "10\n210\n200\n"); });
    std::thread b([&] { run_b = run_program(dir_b, "10\n210\n90\n"); });
    a.join();
    b.join();
    EXPECT_EQ(run_a.status, 0) << run_a.output;
    EXPECT_EQ(run_b.status, 0) << run_b.output;
    expect_own_whole_file(dir_a + "/dagoma0.g", "200", REFERENCE_BYTES);
    expect_own_whole_file(dir_b + "/dagoma0.g", "90", REFERENCE_BYTES - SPEED_LINES);
    remove_run_dir(dir_a);
    remove_run_dir(dir_b);
}

TEST(SimultaneousRuns, ThirdRunWhileTwoHoldTheirEnds) {
    std::string dir = make_temp_dir();
    std::string path = dir + "/dagoma0.g";
    std::ofstream(path) << "an older dagoma0.g\n";
    LinkHolder holder;
    ASSERT_EQ(hold_link_ends(&holder), "held") << "two server ends of the link are in use on this machine";
    ProgramRun run = run_program(dir, "10\n210\n200\n");
    release_link_ends(&holder);
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("Cannot create named pipe.\n"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("Created file"), std::string::npos) << run.output;
    // A run that did not finish leaves the previous file and nothing else.
    EXPECT_EQ(read_file(path), "an older dagoma0.g\n");
    EXPECT_EQ(size_of(path + ".part"), -1);
    remove_run_dir(dir);
}

TEST(SimultaneousRuns, KilledRunDoesNotBlockTheNext) {
    std::string dir = make_temp_dir();
    std::string path = dir + "/dagoma0.g";
    std::string part = path + ".part";
    std::string input = dir + "/.input";
    std::ofstream(input) << "10\n210\n200\n";
    std::ofstream(path) << "an older dagoma0.g\n";
    pid_t pid = fork();
    if (pid == 0) {
        int in = open(input.c_str(), O_RDONLY);
        int out = open("/dev/null", O_WRONLY);
        if (in < 0 || out < 0 || chdir(dir.c_str()) != 0) _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        execl(QUOMBAX_BINARY, QUOMBAX_BINARY, (char *)0);
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    // Killed while it streams: once its file has grown past its first megabyte.
    int status = 0;
    bool ended = false;
    for (int wait = 0; wait < 6000 && size_of(part) < (1 << 20); wait++) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            ended = true;
            break;
        }
        usleep(10000);
    }
    ASSERT_FALSE(ended) << "the run ended by itself before it could be killed, status " << status;
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status));
    // The previous file is untouched; the killed run's partial file stays
    // under its own name, where no printer takes it.
    EXPECT_EQ(read_file(path), "an older dagoma0.g\n");
    EXPECT_GT(size_of(part), 0);

    // Both server ends can be had again at once, and the next run goes through.
    LinkHolder holder;
    EXPECT_EQ(hold_link_ends(&holder), "held");
    release_link_ends(&holder);
    // The next run replaces the stale partial file and puts its own in place.
    ProgramRun next = run_program(dir, "10\n210\n200\n");
    EXPECT_EQ(next.status, 0) << next.output;
    EXPECT_EQ(size_of(path), (off_t)REFERENCE_BYTES);
    EXPECT_EQ(size_of(part), -1);
    unlink(input.c_str());
    remove_run_dir(dir);
}

} // namespace
