// Whole-file writes and staged sets under failing disks and killed writers: a final name holds
// either what it had or the complete new bytes, never part of them, and nothing is left behind.
#include <gtest/gtest.h>

#include <sys/wait.h>
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

constexpr int kFiles = 5;
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

// A writer killed at every step of staging and committing a set over an earlier set.
TEST(StagedFiles, AWriterKilledAtAnyStepLeavesEveryFileWhole) {
    Folder f;
    for (int i = 0; i < kFiles; ++i) writeFileAtomically(f.file(i), content(i, 1));
    const int stagingSteps = kFiles * (kStepsPerFile - 1);
    for (int killAt = 0; killAt <= stagingSteps + kFiles; ++killAt) {
        SCOPED_TRACE(killAt);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            int step = 0;
            setWriteFaultHook([&](WriteStep, const fs::path&) {
                if (step++ == killAt) ::_exit(9);
                return false;
            });
            StagedFiles set;
            for (int i = 0; i < kFiles; ++i) set.stage(f.file(i), content(i, 2));
            set.commit();
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), killAt > stagingSteps + kFiles - 1 ? 0 : 9);
        int placed = 0;
        for (int i = 0; i < kFiles; ++i) {
            const std::vector<uint8_t> now = bytesOf(f.file(i));
            const bool fresh = now == content(i, 2);
            EXPECT_TRUE(fresh || now == content(i, 1)) << "file " << i << " is neither the old nor the new one";
            placed += fresh;
        }
        // Until the first rename every final name keeps the earlier set; renames go in order.
        const int renamed = killAt < stagingSteps ? 0 : std::min(killAt - stagingSteps, kFiles);
        EXPECT_EQ(placed, renamed);
        for (int i = 0; i < kFiles; ++i) writeFileAtomically(f.file(i), content(i, 1));
        for (const auto& e : fs::recursive_directory_iterator(f.dir)) {
            if (e.path().string().find(".tmp") != std::string::npos) fs::remove(e.path());  // the killed writer's
        }
    }
}

TEST(StagedFiles, AFailureWhileStagingOrCommittingPlacesNothingOrSaysWhatWasPlaced) {
    Folder f;
    for (int i = 0; i < kFiles; ++i) writeFileAtomically(f.file(i), content(i, 1));
    {
        StagedFiles set;
        set.stage(f.file(0), content(0, 2));
        setWriteFaultHook([](WriteStep step, const fs::path&) { return step == WriteStep::kSync; });
        EXPECT_THROW(set.stage(f.file(1), content(1, 2)), std::runtime_error);
        setWriteFaultHook({});
        // The caller gives up: the destructor takes the staged file away.
    }
    for (int i = 0; i < kFiles; ++i) EXPECT_EQ(bytesOf(f.file(i)), content(i, 1));
    EXPECT_EQ(f.entries(), 1u + kFiles);

    StagedFiles set;
    for (int i = 0; i < kFiles; ++i) set.stage(f.file(i), content(i, 2));
    setWriteFaultHook(
        [&](WriteStep step, const fs::path& target) { return step == WriteStep::kRename && target == f.file(3); });
    EXPECT_THROW(set.commit(), std::runtime_error);
    EXPECT_EQ(set.placed(), 3u);
    for (int i = 0; i < kFiles; ++i) EXPECT_EQ(bytesOf(f.file(i)), content(i, i < 3 ? 2 : 1)) << i;
    EXPECT_EQ(f.entries(), 1u + kFiles);
}

}  // namespace
}  // namespace mz::format
