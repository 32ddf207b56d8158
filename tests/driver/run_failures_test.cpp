// run_failures_test.cpp -- the real binary when dagoma0.g cannot be created
// or written, when the link is taken and when the generator thread cannot
// start: one line that names the cause, no completion line, status 1.
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <fstream>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char REFERENCE_INPUT[] = "10\n210\n200\n";

std::string reason(int error_number) { return strerror(error_number); }

// The run ended with status 1 and told its failure in exactly this one line.
void expect_failed_run(const ProgramRun &run, const std::string &message) {
    EXPECT_EQ(run.status, 1) << run.output;
    size_t at = run.output.find(message + "\n");
    EXPECT_NE(at, std::string::npos) << "expected \"" << message << "\" in:\n" << run.output;
    EXPECT_EQ(run.output.find("Cannot", at + 1), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("Created file"), std::string::npos) << run.output;
}

// A shell prefix that runs the program in its folder with a new tmpfs
// mounted over that folder, in a private mount namespace that goes with the
// process; "" where this machine cannot make one.
std::string private_mount_prefix(const std::string &dir, const std::string &options) {
    std::string mount = "mount -t tmpfs -o " + options + " tmpfs \"$PWD\"";
    std::string probe = "cd '" + dir + "' && unshare -m sh -c '" + mount + "' >/dev/null 2>&1";
    if (system(probe.c_str()) != 0) return "";
    return "unshare -m sh -c '" + mount + " && cd \"$PWD\" && exec \"$0\"'";
}

off_t size_of(const std::string &path) {
    struct stat about;
    return stat(path.c_str(), &about) == 0 ? about.st_size : -1;
}

TEST(OutputFile, DirectoryThatCannotBeWritten) {
    std::string dir = make_temp_dir();
    std::string prefix;
    std::string expected;
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(dir.c_str(), 0555), 0);
        expected = "Cannot create dagoma0.g: " + reason(EACCES);
    } else {
        // Permissions do not stop root: a read-only file system does.
        prefix = private_mount_prefix(dir, "ro");
        if (prefix.empty())
            GTEST_SKIP() << "as root only a read-only mount makes a folder unwritable, and no private mount "
                            "namespace can be made here (unshare -m)";
        expected = "Cannot create dagoma0.g: " + reason(EROFS);
    }
    ProgramRun run = run_program(dir, REFERENCE_INPUT, prefix);
    expect_failed_run(run, expected);
    chmod(dir.c_str(), 0700);
    EXPECT_EQ(size_of(dir + "/dagoma0.g"), -1);
    rmdir(dir.c_str());
}

TEST(OutputFile, NameTakenByADirectory) {
    std::string dir = make_temp_dir();
    ASSERT_EQ(mkdir((dir + "/dagoma0.g").c_str(), 0700), 0);
    ProgramRun run = run_program(dir, REFERENCE_INPUT);
    expect_failed_run(run, "Cannot create dagoma0.g: " + reason(EISDIR));
    rmdir((dir + "/dagoma0.g").c_str());
    rmdir(dir.c_str());
}

TEST(OutputFile, DiskFullFromTheStart) {
    // A link to a device is written through, in place.
    std::string dir = make_temp_dir();
    ASSERT_EQ(symlink("/dev/full", (dir + "/dagoma0.g").c_str()), 0);
    ProgramRun run = run_program(dir, REFERENCE_INPUT);
    expect_failed_run(run, "Cannot write dagoma0.g: " + reason(ENOSPC));
    char target[64] = {0};
    EXPECT_GT(readlink((dir + "/dagoma0.g").c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "/dev/full");
    EXPECT_EQ(size_of(dir + "/dagoma0.g.part"), -1);
    unlink((dir + "/dagoma0.g").c_str());
    rmdir(dir.c_str());
}

TEST(OutputFile, FileSizeLimitInTheMiddle) {
    std::string dir = make_temp_dir();
    std::ofstream(dir + "/dagoma0.g") << "an older dagoma0.g\n";
    ProgramRun run = run_program(dir, REFERENCE_INPUT, "ulimit -f 16384;");
    expect_failed_run(run, "Cannot write dagoma0.g: " + reason(EFBIG));
    // No part of this run is left: the previous file stays as it was.
    EXPECT_EQ(read_file(dir + "/dagoma0.g"), "an older dagoma0.g\n");
    EXPECT_EQ(size_of(dir + "/dagoma0.g.part"), -1);
    unlink((dir + "/dagoma0.g").c_str());
    rmdir(dir.c_str());
}

TEST(OutputFile, DiskFillsUpInTheMiddle) {
    std::string dir = make_temp_dir();
    std::string prefix = private_mount_prefix(dir, "size=8m");
    if (prefix.empty()) GTEST_SKIP() << "no private mount namespace for a small file system here (unshare -m)";
    ProgramRun run = run_program(dir, REFERENCE_INPUT, prefix);
    expect_failed_run(run, "Cannot write dagoma0.g: " + reason(ENOSPC));
    rmdir(dir.c_str()); // the tmpfs went with the run, and with it any partial file
}

TEST(ExitStatus, ThreadCannotStart) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers need more address space than this test leaves the program";
#else
    // A stack size limit far above the address space limit: the thread's
    // stack cannot be reserved, while the main thread's grows as it needs.
    std::string dir = make_temp_dir();
    std::string path = dir + "/dagoma0.g";
    std::ofstream(path) << "an older dagoma0.g\n";
    ProgramRun run = run_program(dir, REFERENCE_INPUT, "ulimit -s 1000000; ulimit -v 400000;");
    expect_failed_run(run, "Cannot create thread.");
    EXPECT_EQ(read_file(path), "an older dagoma0.g\n");
    EXPECT_EQ(size_of(path + ".part"), -1);
    unlink(path.c_str());
    rmdir(dir.c_str());
#endif
}

} // namespace
