#include "format/file_read.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <stdexcept>

#include "testing/files.h"

namespace mz::format {
namespace {

// Every kind of path a user can hand in where a file is read: refused at once with what it is,
// never waited on (a pipe nobody writes) nor read without end (a device that never ends).
TEST(FileReadTest, RefusesWhatIsNoRegularFileAndStopsAtTheCeiling) {
    const mztest::TempDir dir;
    const std::filesystem::path fifo = dir.path() / "fifo", small = dir.path() / "small", big = dir.path() / "big";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::ofstream(small) << "{}";
    std::ofstream(big) << std::string(101, 'x');
    const std::pair<std::filesystem::path, std::string> cases[] = {
        {fifo, "is not a regular file (a device or a pipe)"},
        {"/dev/zero", "is not a regular file (a device or a pipe)"},
        {dir.path(), "is a folder"},
        {dir.path() / "missing", "does not exist"},
        {big, "is 101 bytes, more than such a file can be (100)"},
        {small, ""},
    };
    for (const auto& [path, expected] : cases) {
        SCOPED_TRACE(path.string());
        std::vector<uint8_t> bytes{1, 2, 3};
        EXPECT_EQ(readWholeFile(path, 100, bytes), expected);
        EXPECT_EQ(bytes.size(), expected.empty() ? 2u : 0u);
    }
    EXPECT_EQ(readTextFile(small), "{}");
    try {
        readTextFile(fifo);
        ADD_FAILURE() << "a pipe was read";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), fifo.string() + ": is not a regular file (a device or a pipe)");
    }
}

}  // namespace
}  // namespace mz::format
