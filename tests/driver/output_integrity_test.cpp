// output_integrity_test.cpp -- the real binary under what real use throws
// at it: a second run in the same folder, signals and a kill -9 in the
// middle of a run, dagoma0.g as a link, closed standard descriptors and
// another user's runs (a kill -9 is in simultaneous_runs_test.cpp).
// dagoma0.g is always the previous file or this run's whole file, and no
// dagoma0.g.part is left but after a kill -9.
#include "support/link_holder.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char REFERENCE_INPUT[] = "10\n210\n200\n";
const char REFERENCE_SHA256[] = "7dbde1216c652c13a1e3606570c7c1138d485ec113f5ac5948fbe61f2a74a5e0";
const char OLDER_FILE[] = "an older dagoma0.g\n";

off_t size_of(const std::string &path) {
    struct stat about;
    return stat(path.c_str(), &about) == 0 ? about.st_size : -1;
}

std::string sha256_of(const std::string &path) {
    std::string command = "sha256sum '" + path + "' 2>/dev/null";
    FILE *pipe = popen(command.c_str(), "r");
    char digest[65] = {0};
    if (!pipe || fscanf(pipe, "%64s", digest) != 1) digest[0] = 0;
    if (pipe) pclose(pipe);
    return digest;
}

// A run in the background: its numbers from a file, its output into one.
struct BackgroundRun {
    pid_t pid = -1;
    std::string output_path;
};

// With closed_output, standard output and error are closed for it.
BackgroundRun start_program(const std::string &dir, const std::string &input, bool closed_output = false) {
    BackgroundRun run;
    std::string input_path = dir + "/.input-background";
    run.output_path = dir + "/.output-background";
    std::ofstream(input_path) << input;
    run.pid = fork();
    if (run.pid == 0) {
        int in = open(input_path.c_str(), O_RDONLY);
        int out = open(run.output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || chdir(dir.c_str()) != 0) _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        if (closed_output) {
            close(1);
            close(2);
        }
        execl(QUOMBAX_BINARY, QUOMBAX_BINARY, (char *)0);
        _exit(127);
    }
    return run;
}

// Waits until path holds at least bytes; false when the run ended first.
bool wait_for_growth(const BackgroundRun &run, const std::string &path, off_t bytes) {
    for (int wait = 0; wait < 12000; wait++) {
        if (size_of(path) >= bytes) return true;
        if (waitpid(run.pid, NULL, WNOHANG) == run.pid) return false;
        usleep(5000);
    }
    return false;
}

int wait_status(const BackgroundRun &run) {
    int status = 0;
    waitpid(run.pid, &status, 0);
    return status;
}

struct RunDir {
    std::string dir, file, part;
    explicit RunDir(const char *older = OLDER_FILE) : dir(make_temp_dir()) {
        file = dir + "/dagoma0.g";
        part = file + ".part";
        if (older) std::ofstream(file) << older;
    }
    ~RunDir() {
        std::string command = "rm -rf '" + dir + "'";
        if (system(command.c_str()) != 0) ADD_FAILURE() << "cannot remove " << dir;
    }
};

void expect_reference_file(const std::string &path) {
    EXPECT_EQ(size_of(path), 110767244);
    EXPECT_EQ(sha256_of(path), REFERENCE_SHA256) << path;
}

TEST(OneRunPerFolder, SecondRunIsRefusedAndTheFirstFinishesAlone) {
    RunDir run_dir;
    BackgroundRun first = start_program(run_dir.dir, REFERENCE_INPUT);
    ASSERT_TRUE(wait_for_growth(first, run_dir.part, 1 << 20)) << "the first run never wrote dagoma0.g.part";
    // The second run writes another speed: a line of it would show.
    ProgramRun second = run_program(run_dir.dir, "10\n210\n90\n");
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.output, "Cannot create dagoma0.g: another run is writing it in this folder.\n");
    EXPECT_EQ(read_file(run_dir.file), OLDER_FILE); // untouched while the first run writes
    int status = wait_status(first);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(read_file(first.output_path), "");
    expect_reference_file(run_dir.file);
    EXPECT_EQ(size_of(run_dir.part), -1);
}

// Each signal that ends a run in the middle: the run ends by that signal,
// the previous dagoma0.g stays as it was and the partial file is gone.
TEST(InterruptedRun, SignalsLeaveThePreviousFileAndNoPartialFile) {
    const int signals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};
    for (int signal_number : signals) {
        SCOPED_TRACE(strsignal(signal_number));
        RunDir run_dir;
        BackgroundRun run = start_program(run_dir.dir, REFERENCE_INPUT);
        ASSERT_TRUE(wait_for_growth(run, run_dir.part, 2 << 20));
        ASSERT_EQ(kill(run.pid, signal_number), 0);
        int status = wait_status(run);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << status;
        EXPECT_EQ(read_file(run_dir.file), OLDER_FILE);
        EXPECT_EQ(size_of(run_dir.part), -1);
    }
}

// dagoma0.g as a link to a file in another folder, absolute or relative:
// the target is replaced, next to it, and the link stays a link.
TEST(LinkedOutput, TheTargetIsReplacedAndTheLinkStays) {
    struct Case {
        const char *name;
        bool relative;
    } cases[] = {{"absolute link", false}, {"relative link", true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        RunDir run_dir(nullptr);
        RunDir elsewhere(nullptr);
        std::string target = elsewhere.dir + "/printer.g";
        std::ofstream(target) << OLDER_FILE;
        std::string link_text = c.relative ? "../" + elsewhere.dir.substr(elsewhere.dir.rfind('/') + 1) + "/printer.g"
                                           : target;
        ASSERT_EQ(symlink(link_text.c_str(), run_dir.file.c_str()), 0);
        ProgramRun run = run_program(run_dir.dir, REFERENCE_INPUT);
        EXPECT_EQ(run.status, 0) << run.output;
        struct stat about;
        ASSERT_EQ(lstat(run_dir.file.c_str(), &about), 0);
        EXPECT_TRUE(S_ISLNK(about.st_mode));
        expect_reference_file(target);
        EXPECT_EQ(size_of(target + ".part"), -1);
        EXPECT_EQ(size_of(run_dir.part), -1);
    }
}

// Closed standard descriptors are opened on the null device at start: the
// file never takes their numbers, so no message can land in it.
TEST(StandardDescriptors, ClosedOutputAndErrorAreTheNullDevice) {
    RunDir run_dir;
    BackgroundRun run = start_program(run_dir.dir, REFERENCE_INPUT, true);
    ASSERT_TRUE(wait_for_growth(run, run_dir.part, 1 << 20));
    for (int fd = 1; fd <= 2; fd++) {
        char target[PATH_MAX] = {0};
        std::string fd_path = "/proc/" + std::to_string(run.pid) + "/fd/" + std::to_string(fd);
        EXPECT_GT(readlink(fd_path.c_str(), target, sizeof target - 1), 0) << fd_path;
        EXPECT_STREQ(target, "/dev/null") << "descriptor " << fd;
    }
    int status = wait_status(run);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    expect_reference_file(run_dir.file);
}

// Runs of another user, even two held in transfer, never make this user's
// run fail: the pipe's two instances are counted per user.
TEST(OtherUsers, TwoHeldRunsOfAnotherUserDoNotBlockThisOne) {
    if (geteuid() != 0 || system("command -v setpriv >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "needs root and setpriv to run the holder as another user";
    // The holder, where the other user can run it.
    RunDir tools(nullptr);
    ASSERT_EQ(chmod(tools.dir.c_str(), 0755), 0);
    std::string holder_copy = tools.dir + "/hold_link";
    std::string copy = "cp '" QUOMBAX_HOLD_LINK "' '" + holder_copy + "' && chmod 755 '" + holder_copy + "'";
    ASSERT_EQ(system(copy.c_str()), 0);
    std::string command = "exec setpriv --reuid=65534 --regid=65534 --clear-groups env -u XDG_RUNTIME_DIR '" +
                          holder_copy + "'";
    LinkHolder holder;
    ASSERT_EQ(hold_link_ends(&holder, command), "held") << "another user's holder could not hold both ends";
    RunDir run_dir;
    ProgramRun run = run_program(run_dir.dir, REFERENCE_INPUT);
    release_link_ends(&holder);
    EXPECT_EQ(run.status, 0) << run.output;
    expect_reference_file(run_dir.file);
}

} // namespace
