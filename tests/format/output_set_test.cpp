// A set of output files replacing an earlier set: killed at each step, failing at a rename, or
// mixed by hand, the folder ends with one whole set, and the check of the folder says which.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "format/atomic_file.h"
#include "format/output_set.h"

namespace mz::format {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> fileBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The earlier set has four files; the later one changes them all and adds Lut/e.bin.
const std::vector<std::string> kNames = {"Lut/a.bin", "Lut/b.bin", "Osd/c.bin", "Param/d.bin", "Lut/e.bin"};

std::vector<uint8_t> tableOf(size_t file, int version) {
    return std::vector<uint8_t>(3000 + 100 * file, static_cast<uint8_t>(16 * version + file));
}

struct SetFolder {
    fs::path dir = fs::temp_directory_path() / ("mz_output_set_" + std::to_string(::getpid()));
    SetFolder() { fs::remove_all(dir); }
    ~SetFolder() {
        setSetFaultHook({});
        setWriteFaultHook({});
        fs::remove_all(dir);
    }

    void save(int version) const {
        OutputSet set(dir, "calibration", "test");
        for (size_t i = 0; i < (version == 1 ? 4 : 5); ++i) set.stage(kNames[i], tableOf(i, version));
        set.commit();
    }

    // 1 or 2 when every final name holds that set whole (and no file of the other), else 0.
    int wholeSet() const {
        for (const int version : {1, 2}) {
            bool whole = true;
            for (size_t i = 0; i < kNames.size(); ++i) {
                const bool member = version == 2 || i < 4;
                whole &= member ? fileBytes(dir / kNames[i]) == tableOf(i, version) : !fs::exists(dir / kNames[i]);
            }
            if (whole) return version;
        }
        return 0;
    }

    std::vector<std::string> leftovers() const {
        std::vector<std::string> found;
        for (const auto& e : fs::recursive_directory_iterator(dir)) {
            const std::string name = e.path().filename().string();
            if (name.find(".mz-") != std::string::npos || name.find(".journal") != std::string::npos)
                found.push_back(name);
        }
        return found;
    }

    // What the check says of the folder: the problems of its one set.
    std::vector<std::string> problems() const {
        const std::vector<SetCheck> checks = checkOutputSets(dir);
        EXPECT_EQ(checks.size(), 1u);
        EXPECT_EQ(checks[0].set, "calibration");
        return checks[0].problems;
    }
};

TEST(OutputSet, AWriterKilledAtAnyStepLeavesOneWholeSetOnceTheNextWriterOrARepairRan) {
    SetFolder f;
    f.save(1);
    int steps = 0;
    setSetFaultHook([&](SetStep, const fs::path&) { return ++steps < 0; });
    f.save(2);
    setSetFaultHook({});
    // Six files (the manifest too): staged, then backed up (the new e.bin has nothing to back up)
    // and placed, with the journal and the three steps of the end.
    ASSERT_EQ(steps, 6 + 1 + 5 + 6 + 3);
    const int journalStep = 6;

    for (int killAt = 0; killAt <= steps; ++killAt) {
        SCOPED_TRACE(killAt);
        f.save(1);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            int step = 0;
            setSetFaultHook([&](SetStep, const fs::path&) {
                if (step++ == killAt) ::_exit(9);
                return false;
            });
            f.save(2);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), killAt == steps ? 0 : 9);

        const bool journal = fs::exists(f.dir / journalName("calibration"));
        if (!journal) {
            // Before the journal nothing moved; after its removal everything had.
            EXPECT_EQ(f.wholeSet(), killAt <= journalStep ? 1 : 2);
        } else {
            const std::vector<SetCheck> checks = checkOutputSets(f.dir);
            ASSERT_FALSE(checks.empty());
            EXPECT_TRUE(checks[0].interrupted);
        }
        // The next writer, or a repair, finishes a save whose journal is there and clears the rest.
        if (killAt % 2) {
            OutputSet next(f.dir, "calibration", "test");
        } else {
            repairOutputSets(f.dir);
        }
        EXPECT_EQ(f.wholeSet(), killAt <= journalStep ? 1 : 2);
        EXPECT_EQ(f.leftovers(), std::vector<std::string>{});
        EXPECT_EQ(f.problems(), std::vector<std::string>{});
    }
}

TEST(OutputSet, AFailureAtAnyRenameOrStagingLeavesTheEarlierSetAndNamesTheFile) {
    SetFolder f;
    f.save(1);
    // Injected failures at each backup and each placing, then a real one: a folder where the new
    // file should go.
    std::vector<std::pair<SetStep, std::string>> faults;
    for (size_t i = 0; i < kNames.size(); ++i) {
        if (i < 4) faults.push_back({SetStep::kBackup, kNames[i]});
        faults.push_back({SetStep::kPlace, kNames[i]});
    }
    faults.push_back({SetStep::kPlace, "calibration.set.json"});
    faults.push_back({SetStep::kStage, kNames[2]});
    faults.push_back({SetStep::kSyncFolders, ""});
    faults.push_back({SetStep::kRemoveBackups, ""});
    for (const auto& [failing, name] : faults) {
        SCOPED_TRACE(name + " at step " + std::to_string(static_cast<int>(failing)));
        setSetFaultHook([&, failing = failing, name = name](SetStep s, const fs::path& target) {
            return s == failing && (name.empty() || target == f.dir / name);
        });
        bool thrown = false;
        try {
            f.save(2);
        } catch (const std::runtime_error& e) {
            thrown = true;
            if (!name.empty()) {
                EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
            }
        }
        setSetFaultHook({});
        // The backups go only once every file is in place: failing to remove them loses nothing.
        const bool placed = failing == SetStep::kRemoveBackups;
        EXPECT_EQ(thrown, !placed);
        EXPECT_EQ(f.wholeSet(), placed ? 2 : 1);
        if (placed) f.save(1);
        EXPECT_EQ(f.problems(), std::vector<std::string>{});
        EXPECT_EQ(f.leftovers(), std::vector<std::string>{});
        EXPECT_EQ(checkOutputSets(f.dir)[0].files, 4u);
    }
    const std::string before = checkOutputSets(f.dir)[0].id;
    fs::create_directories(f.dir / kNames[4]);
    EXPECT_THROW(f.save(2), std::runtime_error);
    fs::remove(f.dir / kNames[4]);
    EXPECT_EQ(f.wholeSet(), 1);
    EXPECT_EQ(f.leftovers(), std::vector<std::string>{});
    EXPECT_EQ(checkOutputSets(f.dir)[0].id, before);
}

TEST(OutputSet, AFileWhoseDelayedSyncFailsIsNamedAndLeftOutOfTheSet) {
    // Files reach the disk in batches: the failure shows at a later file's staging, or at the commit.
    SetFolder f;
    for (const size_t count : {size_t{3}, size_t{70}}) {
        SCOPED_TRACE(count);
        fs::remove_all(f.dir);
        const fs::path failing = f.dir / "Lut/t1.bin";
        setWriteFaultHook(
            [&](WriteStep s, const fs::path& target) { return s == WriteStep::kSync && target == failing; });
        std::vector<std::string> errors;
        {
            OutputSet set(f.dir, "calibration", "test");
            for (size_t i = 0; i < count; ++i) {
                try {
                    set.stage("Lut/t" + std::to_string(i) + ".bin", tableOf(i, 1));
                } catch (const std::runtime_error& e) {
                    errors.push_back(e.what());
                }
            }
            try {
                set.commit();
            } catch (const std::runtime_error& e) {
                errors.push_back(e.what());
            }
        }
        setWriteFaultHook({});
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_NE(errors[0].find(failing.string()), std::string::npos) << errors[0];
        if (count == 3) {
            EXPECT_FALSE(fs::exists(f.dir / manifestName("calibration")));  // the commit stopped
        } else {
            EXPECT_EQ(checkOutputSets(f.dir)[0].files, count - 1);
            EXPECT_EQ(f.problems(), std::vector<std::string>{});
        }
        EXPECT_FALSE(fs::exists(failing));
        EXPECT_EQ(f.leftovers(), std::vector<std::string>{});
    }
}

TEST(OutputSet, TheCheckNamesEveryFileThatIsNotOfTheSet) {
    SetFolder f;
    fs::create_directories(f.dir);
    const std::vector<SetCheck> none = checkOutputSets(f.dir);
    ASSERT_EQ(none.size(), 1u);
    EXPECT_EQ(none[0].set, "");  // a folder an older tool wrote: no manifest, no problem
    EXPECT_TRUE(none[0].problems.empty());

    f.save(2);
    const std::vector<uint8_t> otherB = fileBytes(f.dir / kNames[1]);
    f.save(1);
    EXPECT_EQ(f.problems(), std::vector<std::string>{});
    writeFileAtomically(f.dir / kNames[1], otherB);  // a table of another calibration
    fs::remove(f.dir / kNames[3]);
    writeFileAtomically(f.dir / kNames[4], tableOf(4, 3));  // a table no save of this set wrote
    EXPECT_EQ(f.problems(), (std::vector<std::string>{"Lut/b.bin: not of this set (its size or checksum differs)",
                                                      "Param/d.bin: missing", "Lut/e.bin: not of this set"}));
    EXPECT_EQ(crc32(std::vector<uint8_t>{'1', '2', '3', '4', '5', '6', '7', '8', '9'}), 0xCBF43926u);
}

}  // namespace
}  // namespace mz::format
