// file_errors_test.cpp -- the POSIX layer gathers file writes; a write the
// system refuses still fails in the call that hands it on: WriteFile when
// the buffer is full, FlushFileBuffers, or CloseHandle.
#include "platform/platform.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <string.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// dagoma0.g, in a new folder, as a link to a device that is always full.
struct FullFile {
    std::string dir, path;
    HANDLE file;
};

void open_full(FullFile *full) {
    full->dir = make_temp_dir();
    full->path = full->dir + "/dagoma0.g";
    ASSERT_EQ(symlink("/dev/full", full->path.c_str()), 0);
    full->file = CreateFileA(full->path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(full->file, INVALID_HANDLE_VALUE);
}

void remove_full(FullFile *full) {
    unlink(full->path.c_str());
    rmdir(full->dir.c_str());
}

std::string reason_of(DWORD code) {
    char text[256];
    describe_system_error(code, text, sizeof text);
    return text;
}

const char LINE[] = "G1 F200 X70.000\n";
const DWORD LINE_BYTES = sizeof LINE - 1;

TEST(FileErrors, WriteFailsOnceTheGatheredBytesGoOut) {
    FullFile full;
    ASSERT_NO_FATAL_FAILURE(open_full(&full));
    DWORD written = 0;
    int calls = 0;
    while (calls < 100000 && WriteFile(full.file, LINE, LINE_BYTES, &written, NULL)) calls++;
    EXPECT_LT(calls, 100000) << "a full disk was never told";
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_DISK_FULL);
    EXPECT_EQ(reason_of(GetLastError()), std::string(strerror(ENOSPC)));
    CloseHandle(full.file);
    remove_full(&full);
}

TEST(FileErrors, FlushTellsWhatTheBufferHeld) {
    FullFile full;
    ASSERT_NO_FATAL_FAILURE(open_full(&full));
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(full.file, LINE, LINE_BYTES, &written, NULL));
    EXPECT_FALSE(FlushFileBuffers(full.file));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_DISK_FULL);
    CloseHandle(full.file);
    remove_full(&full);
}

TEST(FileErrors, CloseTellsWhatTheBufferHeld) {
    FullFile full;
    ASSERT_NO_FATAL_FAILURE(open_full(&full));
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(full.file, LINE, LINE_BYTES, &written, NULL));
    EXPECT_FALSE(CloseHandle(full.file));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_DISK_FULL);
    remove_full(&full);
}

TEST(FileErrors, FlushOfAGoodFileSucceeds) {
    std::string dir = make_temp_dir();
    std::string path = dir + "/dagoma0.g";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, LINE, LINE_BYTES, &written, NULL));
    EXPECT_EQ(written, LINE_BYTES);
    EXPECT_TRUE(FlushFileBuffers(file));
    EXPECT_EQ(read_file(path), LINE); // out of the buffer, before the close
    EXPECT_TRUE(CloseHandle(file));
    unlink(path.c_str());
    rmdir(dir.c_str());
}

} // namespace

namespace {

// A count near the top of the 32-bit range, after a few gathered bytes:
// the gather buffer takes it as too large for it, never as a small sum
// that wrapped around. The bytes are 4 GiB of zero pages, written to the
// null device.
TEST(FileWrites, CountNearTheTopOfItsRangeIsNotGathered) {
    const DWORD huge = 0xFFFFFFFCu; // 4 + huge is 0 in 32 bits
    void *zeros = mmap(NULL, huge, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (zeros == MAP_FAILED) GTEST_SKIP() << "no 4 GiB of address space here";
    HANDLE file = CreateFileA("/dev/null", GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "G90\n", 4, &written, NULL));
    EXPECT_TRUE(WriteFile(file, zeros, huge, &written, NULL));
    EXPECT_EQ(written, huge);
    EXPECT_TRUE(CloseHandle(file));
    munmap(zeros, huge);
}

} // namespace
