// Whole-file writes under failing disks: a final name holds either what it had or the complete new
// bytes, never part of them, and nothing is left behind.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "format/atomic_file.h"

namespace mz::format {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> bytesOf(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<uint8_t> content(int file, int version) {
    return std::vector<uint8_t>(static_cast<size_t>(3000 + 100 * file), static_cast<uint8_t>(16 * version + file));
}

struct Folder {
    fs::path dir = fs::temp_directory_path() / ("mz_atomic_" + std::to_string(::getpid()));
    Folder() {
        fs::remove_all(dir);
        fs::create_directories(dir / "sub");
    }
    ~Folder() {
        setWriteFaultHook({});
        fs::remove_all(dir);
    }
    fs::path file(int i) const { return dir / (i % 2 ? "sub" : "") / ("f" + std::to_string(i) + ".bin"); }
    size_t entries() const { return static_cast<size_t>(std::distance(fs::recursive_directory_iterator(dir), {})); }
};

constexpr int kStepsPerFile = 6;  // create, write, flush, sync, close, rename

TEST(AtomicFile, EveryFailingStepNamesTheFileAndLeavesTheTargetAsItWas) {
    Folder f;
    writeFileAtomically(f.file(0), content(0, 1));
    for (int failAt = 0; failAt < kStepsPerFile; ++failAt) {
        SCOPED_TRACE(failAt);
        int step = 0;
        setWriteFaultHook([&](WriteStep, const fs::path&) { return step++ == failAt; });
        try {
            writeFileAtomically(f.file(0), content(0, 2));
            ADD_FAILURE() << "a failing step was not reported";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(f.file(0).string()), std::string::npos) << e.what();
        }
        EXPECT_EQ(bytesOf(f.file(0)), content(0, 1));
        EXPECT_EQ(f.entries(), 2u) << "the temporary must be gone";  // sub/ and f0.bin
    }
    setWriteFaultHook({});
    writeFileAtomically(f.file(0), content(0, 2));
    EXPECT_EQ(bytesOf(f.file(0)), content(0, 2));
}

}  // namespace
}  // namespace mz::format
