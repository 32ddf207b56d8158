// output_file_test.cpp -- dagoma0.g written as dagoma0.g.part and renamed
// into place, on the real file system, in both builds: a second writer is
// refused, a finished file replaces the previous one, a discarded one
// leaves it as it was, and a stale partial file is replaced.
#include "link/link.h"
#include "support/test_text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string.h>
#include <string>

namespace {

namespace fs = std::filesystem;

const char OLDER[] = "an older dagoma0.g\n";

// Runs the test in a fresh folder of its own, as the current directory.
struct InFreshFolder {
    fs::path previous, dir;
    InFreshFolder() {
        previous = fs::current_path();
        dir = fs::temp_directory_path() /
              ("quombax-output-" + std::to_string((unsigned long long)std::hash<std::string>()(
                                       std::string(testing::UnitTest::GetInstance()->current_test_info()->name()))));
        fs::remove_all(dir);
        fs::create_directories(dir);
        fs::current_path(dir);
    }
    ~InFreshFolder() {
        fs::current_path(previous);
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
};

void write_text(const char *name, const std::string &text) { std::ofstream(name, std::ios::binary) << text; }

void write_line(HANDLE file, const char *line) {
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, line, (DWORD)strlen(line), &written, NULL));
}

TEST(OutputFile, SecondWriterIsRefusedAndTheFinishedFileReplacesThePreviousOne) {
    InFreshFolder folder;
    write_text("dagoma0.g", OLDER);
    HANDLE file = create_output_file();
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    write_line(file, "G90\n");
    EXPECT_TRUE(fs::exists("dagoma0.g.part"));
    EXPECT_EQ(read_file("dagoma0.g"), OLDER);

    // A second run in this folder: refused, and nothing changes.
    HANDLE second = create_output_file();
    EXPECT_EQ(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
    if (second != INVALID_HANDLE_VALUE) CloseHandle(second);

    write_line(file, "G28\n");
    EXPECT_EQ(finish_output_file(file), OUTPUT_IN_PLACE);
    discard_output_file(); // a way out after the rename removes nothing
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(read_file("dagoma0.g"), "G90\nG28\n");
    EXPECT_FALSE(fs::exists("dagoma0.g.part"));
}

TEST(OutputFile, DiscardedFileLeavesThePreviousOne) {
    InFreshFolder folder;
    write_text("dagoma0.g", OLDER);
    HANDLE file = create_output_file();
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    write_line(file, "G90\n");
    discard_output_file();
    CloseHandle(file);
    EXPECT_EQ(read_file("dagoma0.g"), OLDER);
    EXPECT_FALSE(fs::exists("dagoma0.g.part"));
}

TEST(OutputFile, StalePartialFileIsReplaced) {
    InFreshFolder folder;
    write_text("dagoma0.g.part", "what a killed run left, longer than the new file\n");
    HANDLE file = create_output_file();
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    write_line(file, "G90\n");
    EXPECT_EQ(finish_output_file(file), OUTPUT_IN_PLACE);
    CloseHandle(file);
    EXPECT_EQ(read_file("dagoma0.g"), "G90\n");
    EXPECT_FALSE(fs::exists("dagoma0.g.part"));
}

TEST(OutputFile, DirectoryInTheWayFailsAtOnce) {
    InFreshFolder folder;
    fs::create_directory("dagoma0.g");
    EXPECT_EQ(create_output_file(), INVALID_HANDLE_VALUE);
    EXPECT_NE(GetLastError(), (DWORD)ERROR_SUCCESS);
    EXPECT_TRUE(fs::is_directory("dagoma0.g"));
    EXPECT_FALSE(fs::exists("dagoma0.g.part"));
}

} // namespace
